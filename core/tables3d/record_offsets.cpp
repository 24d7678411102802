#include "tables3d/record_offsets.hpp"

#include <algorithm>
#include <iterator>
#include <limits>
#include <map>

namespace kestrel {

namespace {

// A run of the table: numbers lo..hi, the first of them at start.
struct TableRun {
  std::int64_t lo;
  std::int64_t hi;
  WideOffset start;
};

// Adds lo..hi to a union of disjoint number ranges (first -> last) and reports,
// ascending, the parts of lo..hi that the union did not hold yet.
template <typename Report>
void cover(std::map<std::int64_t, std::int64_t>& covered, std::int64_t lo, std::int64_t hi, Report report) {
  std::int64_t merged_lo = lo;
  std::int64_t merged_hi = hi;
  std::int64_t next_new = lo;
  auto it = covered.upper_bound(lo);
  if (it != covered.begin()) {
    const auto prev = std::prev(it);
    if (prev->second >= lo) {
      merged_lo = prev->first;
      merged_hi = std::max(hi, prev->second);
      next_new = prev->second + 1;
      it = covered.erase(prev);
    }
  }
  while (it != covered.end() && it->first <= hi) {
    if (next_new < it->first) report(next_new, it->first - 1);
    next_new = std::max(next_new, it->second + 1);
    merged_hi = std::max(merged_hi, it->second);
    it = covered.erase(it);
  }
  if (next_new <= hi) report(next_new, hi);
  covered.emplace_hint(it, merged_lo, merged_hi);
}

}  // namespace

Result<std::int64_t> file_offset(WideOffset offset) {
  if (offset < std::numeric_limits<std::int64_t>::min() || offset > std::numeric_limits<std::int64_t>::max()) {
    return Error::offset_overflow();
  }
  return static_cast<std::int64_t>(offset);
}

RecordOffsets RecordOffsets::build(const StoreTable3D& table) {
  RecordOffsets out;
  const std::int64_t stride = std::int64_t{table.block_size} + table.info_size;
  out.stride_ = stride;

  std::vector<TableRun> table_runs;
  WideOffset running = table.block_offset;
  for (const auto& [first, second] : table.store_table) {
    if (first == -1) {
      running += second;
    } else if (second >= first) {
      table_runs.push_back({first, second, running});
      running += WideOffset{std::int64_t{second} - first + 1} * stride;
    }
  }

  // Appends numbers lo..hi in map order, extending the last run when they
  // continue its numbers and its offsets (a table that lists one number per entry).
  auto add_run = [&](std::int64_t lo, std::int64_t hi, WideOffset at_lo) {
    const std::int64_t count = hi - lo + 1;
    if (!out.runs_.empty()) {
      NumberedRun& last = out.runs_.back();
      if (last.first_number + last.records.count == lo && last.records.offset(last.records.count) == at_lo) {
        last.records.count += count;
        out.count_ += count;
        return;
      }
    }
    out.runs_.push_back({{out.count_, count, at_lo, stride}, lo});
    out.count_ += count;
  };

  auto by_lo = [](const OwnedRange& a, const OwnedRange& b) { return a.lo < b.lo; };
  std::vector<OwnedRange> sorted;
  sorted.reserve(table_runs.size());  // bounded by the entries already read
  for (const TableRun& r : table_runs) sorted.push_back({r.lo, r.hi, r.start});
  if (!std::is_sorted(sorted.begin(), sorted.end(), by_lo)) std::stable_sort(sorted.begin(), sorted.end(), by_lo);
  const bool disjoint = std::adjacent_find(sorted.begin(), sorted.end(), [](const OwnedRange& a, const OwnedRange& b) {
                          return b.lo <= a.hi;
                        }) == sorted.end();

  if (disjoint) {
    // The common case: every number once, the map is the table's runs.
    for (const TableRun& r : table_runs) add_run(r.lo, r.hi, r.start);
    out.by_number_ = std::move(sorted);
    return out;
  }

  // Numbers met again. Positions come from the first run that holds a number:
  // walking the runs forward, each contributes the parts not seen before.
  std::vector<std::pair<std::int64_t, std::int64_t>> first_met;
  std::map<std::int64_t, std::int64_t> covered;
  for (const TableRun& r : table_runs) {
    cover(covered, r.lo, r.hi, [&](std::int64_t lo, std::int64_t hi) { first_met.emplace_back(lo, hi); });
  }
  // Offsets come from the last run that holds a number: the same walk backwards.
  covered.clear();
  for (auto r = table_runs.rbegin(); r != table_runs.rend(); ++r) {
    cover(covered, r->lo, r->hi, [&](std::int64_t lo, std::int64_t hi) {
      out.by_number_.push_back({lo, hi, r->start + WideOffset{lo - r->lo} * stride});
    });
  }
  std::sort(out.by_number_.begin(), out.by_number_.end(),
            [](const OwnedRange& a, const OwnedRange& b) { return a.lo < b.lo; });

  // Both lists split the same set of numbers; cut each first-met stretch where
  // its offsets change owner.
  for (auto [lo, hi] : first_met) {
    auto owner = std::prev(std::upper_bound(out.by_number_.begin(), out.by_number_.end(), lo,
                                            [](std::int64_t n, const OwnedRange& o) { return n < o.lo; }));
    while (lo <= hi) {
      const std::int64_t end = std::min(hi, owner->hi);
      add_run(lo, end, owner->offset_at_lo + WideOffset{lo - owner->lo} * stride);
      lo = end + 1;
      ++owner;
    }
  }
  return out;
}

std::vector<RecordRun> RecordOffsets::contiguous_runs() const {
  std::vector<RecordRun> out;
  for (const NumberedRun& r : runs_) {
    if (!out.empty() && out.back().offset(out.back().count) == r.records.first_offset) {
      out.back().count += r.records.count;
    } else {
      out.push_back(r.records);
    }
  }
  return out;
}

std::optional<WideOffset> RecordOffsets::find(std::int64_t number) const {
  auto it = std::upper_bound(by_number_.begin(), by_number_.end(), number,
                             [](std::int64_t n, const OwnedRange& o) { return n < o.lo; });
  if (it == by_number_.begin()) return std::nullopt;
  --it;
  if (number > it->hi) return std::nullopt;
  return it->offset_at_lo + WideOffset{number - it->lo} * stride_;
}

std::optional<std::int64_t> RecordOffsets::first_outside(WideOffset lo, WideOffset hi) const {
  for (const NumberedRun& n : runs_) {
    const RecordRun& r = n.records;
    const WideOffset first = r.first_offset;
    if (first < lo || first > hi) return r.index;
    // Offsets move one way through a run, so the first one out is found by division.
    WideOffset k = r.count;
    if (r.stride > 0) k = (hi - first) / r.stride + 1;
    if (r.stride < 0) k = (first - lo) / -WideOffset{r.stride} + 1;
    if (k < r.count) return r.index + static_cast<std::int64_t>(k);
  }
  return std::nullopt;
}

bool RecordWalk::next() {
  if (run_ >= runs_.size()) return false;
  if (++k_ < runs_[run_].records.count) return true;
  ++run_;
  k_ = 0;
  return run_ < runs_.size();
}

}  // namespace kestrel
