#include "extract/region_plan.hpp"

#include <cmath>
#include <optional>
#include <unordered_map>

#include "base/checked.hpp"
#include "extract/result_size.hpp"
#include "extract/set_order.hpp"
#include "extract/trace_records.hpp"
#include "params/value_arith.hpp"

namespace kestrel {

namespace {

// Warnings and printed lines become steps of the plan, in order.
class StepDiagnostics final : public Diagnostics {
 public:
  explicit StepDiagnostics(BlockPlan& plan) : plan_(plan) {}
  bool runtime_warning(std::string_view message) override {
    plan_.steps.push_back({PythonStep::Kind::warning, std::string(message)});
    return true;
  }
  bool print_line(std::string_view line) override {
    plan_.steps.push_back({PythonStep::Kind::print_line, std::string(line)});
    return true;
  }

 private:
  BlockPlan& plan_;
};

// A number cell as an exact integer: an int, or a float that holds one.
std::optional<std::int64_t> integral_value(const AnnotationCell& cell) {
  if (const auto* i = std::get_if<std::int64_t>(&cell)) return *i;
  if (const auto* d = std::get_if<double>(&cell)) {
    // Integral floats inside the int64 range (2**63 itself is outside).
    if (*d >= -9223372036854775808.0 && *d < 9223372036854775808.0 && std::floor(*d) == *d) {
      return static_cast<std::int64_t>(*d);
    }
  }
  return std::nullopt;
}

// cell == n as Python compares them: numbers by value, a str or None never equals a number.
bool cell_equals(const AnnotationCell& cell, std::int64_t n) {
  const auto v = integral_value(cell);
  return v && *v == n;
}

std::optional<double> number_of(const AnnotationCell& cell) {
  if (const auto* i = std::get_if<std::int64_t>(&cell)) return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(&cell)) return *d;
  return std::nullopt;
}

// annotations[name] and annotations[name][row], with KeyError and the list's IndexError.
class Columns {
 public:
  explicit Columns(const AnnotationTable& table) : table_(table) {}

  Result<const std::vector<AnnotationCell>*> column(const char* name) const {
    for (const auto& [key, cells] : found_) {
      if (key == name) return cells;
    }
    const AnnotationColumn* column = table_.find(name);
    if (column == nullptr) return Error::missing_key(name);
    found_.emplace_back(name, &column->cells);
    return &column->cells;
  }

  Result<const AnnotationCell*> at(const char* name, std::int64_t row) const {
    KESTREL_TRY(const std::vector<AnnotationCell>* cells, column(name));
    if (row < 0 || static_cast<std::size_t>(row) >= cells->size()) return Error::index("list index out of range");
    return &(*cells)[static_cast<std::size_t>(row)];
  }

 private:
  const AnnotationTable& table_;
  mutable std::vector<std::pair<const char*, const std::vector<AnnotationCell>*>> found_;
};

struct Header {
  std::int64_t first = 0;   // annotation row
  std::int64_t points = 0;  // NSPEC
  std::string title;
};

// The first annotation row of each region, in the order the set of region
// numbers iterates; nothing when a region number is no int (operator.index
// then fails on it, whatever the order).
std::optional<std::vector<std::int64_t>> region_starts(const std::vector<AnnotationCell>& groups) {
  std::vector<std::int64_t> distinct;
  std::vector<std::int64_t> first_row;
  std::unordered_map<std::int64_t, std::size_t> seen;
  for (std::size_t row = 0; row < groups.size(); ++row) {
    const AnnotationCell& cell = groups[row];
    const auto v = integral_value(cell);
    if (!v) return std::nullopt;  // a str, None, NaN or fractional float
    if (!seen.try_emplace(*v, distinct.size()).second) continue;  // equal to one in the set already
    if (!std::holds_alternative<std::int64_t>(cell)) return std::nullopt;  // a float kept in the set
    distinct.push_back(*v);
    first_row.push_back(static_cast<std::int64_t>(row));
  }
  std::vector<std::int64_t> starts;
  for (const std::size_t k : set_iteration_order(distinct)) starts.push_back(first_row[k]);
  return starts;
}

struct HeaderOutcome {
  std::optional<Header> header;        // nothing: the region is left out
  std::optional<PlanFailure> failure;  // the header fails
};

HeaderOutcome fail_header(Error error) {
  PlanFailure f;
  f.error = std::move(error);
  return {std::nullopt, std::move(f)};
}

HeaderOutcome python_header(std::int64_t row) {
  PlanFailure f;
  f.kind = PlanFailure::Kind::region_header;
  f.row = row;
  return {std::nullopt, std::move(f)};
}

// How many rows carry each region number (Group.count(g)), counted once: a
// table of many free point lists must not recount the column per region.
class GroupCounts {
 public:
  explicit GroupCounts(const std::vector<AnnotationCell>& groups) : groups_(groups) {}
  std::int64_t count(std::int64_t number) {
    if (counts_.empty() && !groups_.empty()) {
      for (const AnnotationCell& cell : groups_) {
        if (const auto v = integral_value(cell)) ++counts_[*v];
      }
    }
    const auto it = counts_.find(number);
    return it == counts_.end() ? 0 : it->second;
  }

 private:
  const std::vector<AnnotationCell>& groups_;
  std::unordered_map<std::int64_t, std::int64_t> counts_;
};

HeaderOutcome region_header(const Columns& columns, GroupCounts& counts, std::int64_t i, std::int64_t file_size,
                            const Limits& limits) {
  auto type = columns.at("Type", i);
  if (!type) return fail_header(std::move(type).error());
  if (!cell_equals(*type.value(), 0)) return {};
  auto group = columns.at("Group", i);
  auto npx = group ? columns.at("AryNX", i) : group;
  auto npy = npx ? columns.at("AryNY", i) : npx;
  if (!npy) return fail_header(std::move(npy).error());
  const AnnotationCell& x = *npx.value();
  const AnnotationCell& y = *npy.value();
  // NSPEC = AryNX * AryNY: ints multiply exactly; a float product is usable
  // only when it is zero and the region is a free point list (anything else
  // reaches numpy.zeros as a float, or fails in the product itself).
  const auto* ix = std::get_if<std::int64_t>(&x);
  const auto* iy = std::get_if<std::int64_t>(&y);
  bool zero = false;
  if (ix && iy) {
    zero = *ix * *iy == 0;  // int32 cells: no overflow
  } else {
    const auto fx = number_of(x);
    const auto fy = number_of(y);
    if (!fx || !fy || *fx * *fy != 0) return python_header(i);
    zero = true;
  }
  bool points = false;
  if (zero) {
    auto array_type = columns.at("AryType", i);
    if (!array_type) return fail_header(std::move(array_type).error());
    points = cell_equals(*array_type.value(), 0);
  }
  const std::int64_t number = std::get<std::int64_t>(*group.value());  // region numbers are ints
  Header h;
  h.first = i;
  if (points) {
    h.points = counts.count(number);
    h.title = "Region " + std::to_string(number) + " (" + std::to_string(h.points) + " points)";
  } else {
    if (!(ix && iy)) return python_header(i);  // numpy.zeros(0.0)
    h.points = *ix * *iy;
    h.title = "Region " + std::to_string(number) + " (" + std::to_string(*ix) + " x " + std::to_string(*iy) + ")";
  }
  // The coordinates are two float64 arrays of that many points.
  if (auto fits = check_result_bytes(mul_i64(h.points, 8), file_size, limits, "a region's points"); !fits) {
    return fail_header(std::move(fits).error());
  }
  if (h.points < 0) return python_header(i);  // numpy.zeros of a negative count
  return {std::move(h), std::nullopt};
}

class RowPlanner {
 public:
  RowPlanner(BlockPlan& plan, const Columns& columns, const RecordLocator& locator)
      : plan_(plan), columns_(columns), locator_(locator) {}

  // Plans the rows of one region; false when a row fails (the plan then says where).
  bool add(const Header& h, std::int64_t start) {
    const bool trace = plan_.kind == BlockKind::multi_region_trace;
    for (std::int64_t row = 0; row < h.points; ++row) {
      const std::int64_t stacked = start + row;
      const std::int64_t j = h.first + row;
      auto findex = columns_.at("Fileindex", j);
      if (!findex) return fail(std::move(findex).error(), stacked);
      RegionPoint point;
      if (!trace) {
        const auto number = integral_value(*findex.value());
        const auto found = number ? plan_.offsets.find(*number) : std::nullopt;
        if (!found) {
          plan_.points.push_back(point);  // a point no stored spectrum has stays zero
          continue;
        }
        if (!coordinates(j, stacked, point)) return false;
        auto v = locator_.values(*found, plan_.npt);
        if (!v) return fail(std::move(v).error(), stacked);
        if (v.value().count != plan_.npt && v.value().count != 1) {
          PlanFailure f;
          f.kind = PlanFailure::Kind::numpy;
          f.numpy = NumpyFailure{NumpyFailure::Step::assign_point, 0, v.value().count, 0, row, 0};
          return stop(std::move(f), stacked);
        }
        auto time = locator_.time(v.value());
        if (!time) return fail(std::move(time).error(), stacked);
        point.source = v.value().offset;
        point.broadcast = v.value().count != plan_.npt;
        point.time_at = time.value();
        plan_.copied_bytes += plan_.npt * 4 + 8;
      } else {
        if (!coordinates(j, stacked, point)) return false;
        // traces[:, Fileindex - 1]: numpy's indexing, negative from the end.
        const auto* n = std::get_if<std::int64_t>(findex.value());
        const std::int64_t q = n ? *n - 1 : 0;
        if (n == nullptr || q < -plan_.width || q >= plan_.width) {
          PlanFailure f;
          f.kind = PlanFailure::Kind::trace_point;
          f.row = j;
          f.shape = {plan_.records, plan_.width, 0};
          return stop(std::move(f), stacked);
        }
        point.source = q < 0 ? q + plan_.width : q;
        plan_.copied_bytes += plan_.records * 4;
      }
      plan_.points.push_back(point);
    }
    return true;
  }

 private:
  bool fail(Error error, std::int64_t at) {
    PlanFailure f;
    f.error = std::move(error);
    return stop(std::move(f), at);
  }

  bool stop(PlanFailure failure, std::int64_t at) {
    plan_.failure = std::move(failure);
    plan_.failed_at = at;
    return false;
  }

  // mapX[row] = X[j], mapY[row] = Y[j]: numbers here, anything else by numpy's conversion.
  bool coordinates(std::int64_t j, std::int64_t stacked, RegionPoint& point) {
    int axis = 0;
    for (const char* name : {"X", "Y"}) {
      auto cell = columns_.at(name, j);
      if (!cell) return fail(std::move(cell).error(), stacked);
      if (const auto v = number_of(*cell.value())) {
        (axis == 0 ? point.x : point.y) = *v;
      } else {
        plan_.steps.push_back({PythonStep::Kind::coordinate, {}, stacked, axis, cell.value()});
      }
      ++axis;
    }
    return true;
  }

  BlockPlan& plan_;
  const Columns& columns_;
  const RecordLocator& locator_;
};

}  // namespace

void plan_regions(Cursor& cursor, BlockPlan& plan, const RecordLocator& locator, const Limits& limits) {
  const bool trace = plan.request.type == "TRC";
  plan.kind = trace ? BlockKind::multi_region_trace : BlockKind::multi_region;
  plan.ndim = 2;
  auto stop = [&](PlanFailure f) {
    plan.failure = std::move(f);
    plan.failed_at = -1;
  };
  auto stop_error = [&](Error e) {
    PlanFailure f;
    f.error = std::move(e);
    stop(std::move(f));
  };
  StepDiagnostics diagnostics(plan);
  auto table = read_annotation_table(cursor, plan.blocks.annotation, diagnostics, limits);
  if (!table) return stop_error(std::move(table).error());
  plan.annotations = std::move(table).value();
  const Columns columns(plan.annotations);
  auto groups = columns.column("Group");
  if (!groups) return stop_error(std::move(groups).error());
  const auto starts = region_starts(*groups.value());
  if (!starts) {
    PlanFailure f;
    f.kind = PlanFailure::Kind::group_set;
    return stop(std::move(f));
  }

  // Trace maps read every record before the first region.
  if (trace) {
    auto traces = plan_trace_records(locator, plan.offsets, plan.npt, plan.table.info_size, std::nullopt, limits);
    if (!traces) return stop_error(std::move(traces).error());
    TraceRecords& t = traces.value();
    if (t.failure) {
      PlanFailure f;
      f.kind = PlanFailure::Kind::numpy;
      f.numpy = *t.failure;
      return stop(std::move(f));
    }
    plan.records = t.records;
    plan.width = t.width;
    plan.labels = std::move(t.labels);
  }

  // Every header first; one that fails ends the list and is met once the
  // regions before it were read.
  std::vector<Header> headers;
  std::optional<PlanFailure> header_failure;
  GroupCounts counts(*groups.value());
  for (const std::int64_t i : *starts) {
    HeaderOutcome outcome = region_header(columns, counts, i, cursor.size(), limits);
    if (outcome.failure) {
      header_failure = std::move(outcome.failure);
      break;
    }
    if (outcome.header) headers.push_back(std::move(*outcome.header));
  }
  // Each annotation row is one point of one region in a real file; regions
  // whose rows overlap again and again are crafted, and each stacked row is
  // work to plan.
  const auto* file_indices = plan.annotations.find("Fileindex");
  const std::int64_t row_cap =
      limits.max_records + (file_indices ? static_cast<std::int64_t>(file_indices->cells.size()) : 0);
  std::int64_t total = 0;
  for (const Header& h : headers) {
    if (h.points > row_cap - total) {
      return stop_error(Error::too_large("the regions claim more points than the annotation table has rows"));
    }
    plan.regions.push_back({h.title, total, total + h.points});
    total += h.points;
  }
  plan.shape = {total, trace ? plan.records : plan.npt, 0};

  RowPlanner rows(plan, columns, locator);
  for (std::size_t r = 0; r < headers.size(); ++r) {
    if (!rows.add(headers[r], plan.regions[r].start)) return;
  }
  if (header_failure) {
    plan.failure = std::move(header_failure);
    plan.failed_at = total;
    return;
  }
  // Rows without a record stay zero and cost nothing; what is copied must be
  // what the file can back.
  if (auto fits = check_result_bytes(plan.copied_bytes, cursor.size(), limits, "the values of the regions"); !fits) {
    return stop_error(std::move(fits).error());
  }
}

}  // namespace kestrel
