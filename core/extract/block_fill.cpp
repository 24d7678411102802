// Filling a window of a planned read: every kind through one function, the
// full read being the window that covers everything.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "extract/block_plan.hpp"
#include "extract/record_locator.hpp"
#include "extract/transpose.hpp"
#include "io/gather.hpp"

namespace kestrel {

namespace {

// Random access to the records by map position: a binary search over the
// runs, then one step at a time.
class RecordCursor {
 public:
  explicit RecordCursor(const RecordOffsets& offsets) : runs_(offsets.runs()) {}

  void seek(std::int64_t index) {
    const auto it = std::upper_bound(runs_.begin(), runs_.end(), index,
                                     [](std::int64_t i, const NumberedRun& r) { return i < r.records.index; });
    run_ = static_cast<std::size_t>(it - runs_.begin()) - 1;
    k_ = index - runs_[run_].records.index;
  }
  void advance() {
    if (++k_ == runs_[run_].records.count && run_ + 1 < runs_.size()) {
      ++run_;
      k_ = 0;
    }
  }
  // Planned records lie inside the file, so their offsets fit 64 bits.
  std::int64_t offset() const { return static_cast<std::int64_t>(runs_[run_].records.offset(k_)); }

 private:
  std::span<const NumberedRun> runs_;
  std::size_t run_ = 0;
  std::int64_t k_ = 0;
};

std::byte* bytes_of(void* p) { return static_cast<std::byte*>(p); }

void zero_floats(float* dst, std::int64_t n) {
  if (n > 0) std::memset(dst, 0, static_cast<std::size_t>(n) * 4);
}

// One value read for a row of `width` (a record that ends inside its row): it fills the row.
struct Broadcast {
  float* row;
  std::int64_t width;
};

void spread(const std::vector<Broadcast>& rows) {
  for (const Broadcast& b : rows) std::fill(b.row + 1, b.row + b.width, b.row[0]);
}

Status fill_spectrum(const ByteSource& source, const BlockPlan& plan, const Window& w, float* out) {
  const AxisRange r = w.ranges[0];
  if (r.size() == 0 || out == nullptr) return ok_status();
  KESTREL_TRY(const std::size_t got,
              source.read_at(static_cast<std::uint64_t>(plan.data_offset + 4 * r.start),
                             {bytes_of(out), static_cast<std::size_t>(r.size()) * 4}));
  if (got != static_cast<std::size_t>(r.size()) * 4) return Error::io(EIO);
  return ok_status();
}

// Per-position maps: cell i = row * NPX + column holds record i's spectrum.
Status fill_per_position(const ByteSource& source, const BlockPlan& plan, const Window& w, const FillTargets& t) {
  const AxisRange rows = w.ranges[0], cols = w.ranges[1], pts = w.ranges[2];
  const std::int64_t npx = plan.shape[1];
  const std::int64_t npt = plan.npt;
  const std::int64_t wc = cols.size();
  const std::int64_t wp = pts.size();
  if (rows.size() == 0 || wc == 0 || wp == 0 || t.values == nullptr) return ok_status();
  const std::int64_t size = static_cast<std::int64_t>(source.size());
  if (!t.zeroed) {
    for (std::int64_t row = rows.start; row < rows.stop; ++row) {
      const std::int64_t first_empty = std::clamp(plan.records - row * npx, cols.start, cols.stop);
      zero_floats(t.values + ((row - rows.start) * wc + (first_empty - cols.start)) * wp, (cols.stop - first_empty) * wp);
    }
  }
  std::vector<Broadcast> broadcast;
  RecordCursor cursor(plan.offsets);
  std::int64_t row = rows.start;
  std::int64_t col = cols.start;
  bool seek = true;
  // Moves (row, col) to the next cell of the window that a record fills.
  auto next_cell = [&] {
    while (row < rows.stop) {
      if (col < cols.stop && row * npx + col < plan.records) return true;
      ++row;
      col = cols.start;
      seek = true;
    }
    return false;
  };
  KESTREL_CHECK(gather(source, [&](CopyJob& job) {
    if (!next_cell()) return false;
    if (seek) cursor.seek(row * npx + col);
    seek = false;
    const std::int64_t at = cursor.offset();
    float* dst = t.values + ((row - rows.start) * wc + (col - cols.start)) * wp;
    ++col;
    cursor.advance();
    if (size - at >= 4 * npt) {
      job = {at + 4 * pts.start, bytes_of(dst), static_cast<std::size_t>(wp) * 4};
    } else {
      // The file ends inside this record's row: its one value fills the row.
      broadcast.push_back({dst, wp});
      job = {at, bytes_of(dst), 4};
    }
    return true;
  }));
  spread(broadcast);
  return ok_status();
}

// A buffer kept by each thread from one read to the next, so that a read does
// not pay for fresh pages every time; one per element type (floats: the bounce
// buffer of the transposing reads; bytes: the info areas of multi-region
// records). Its contents are undefined.
template <class T>
T* kept_buffer(std::size_t count) {
  thread_local std::unique_ptr<T[]> buffer;
  thread_local std::size_t held = 0;
  if (held < count) {
    buffer.reset();
    held = 0;
    buffer.reset(new T[count]);
    held = count;
  }
  return buffer.get();
}

// Transposed maps and trace maps: record k holds the whole NPY x NPX image of
// point (or trace) k. Only the window's pixels of the window's records are
// read, a batch of records at a time into a bounce buffer, and transposed into
// out[row][column][k].
//
// The destination is the large side: each batch writes every pixel's run of
// batch-many values, so batches must be long (a few cache lines per pixel) or
// the result's lines are fetched and written back over and over once it no
// longer fits in the cache. The bounce buffer stays cache-sized, so records
// too large for a long batch are read a block of rows at a time: one read per
// record and block, each still long enough that the system call is cheap
// beside the copy.
Status fill_images(const ByteSource& source, const BlockPlan& plan, const Window& w, const FillTargets& t) {
  const AxisRange rows = w.ranges[0], cols = w.ranges[1], depth = w.ranges[2];
  const std::int64_t npx = plan.shape[1];
  const std::int64_t wc = cols.size();
  const std::int64_t pixels = rows.size() * wc;
  if (pixels == 0 || depth.size() == 0 || t.values == nullptr) return ok_status();
  const std::int64_t last = std::min(depth.stop, plan.records);  // points past the records stay zero
  if (!t.zeroed && last < depth.stop) zero_floats(t.values, pixels * depth.size());
  if (last <= depth.start) return ok_status();
  // A record's window rows are read as one byte range, full width, when the
  // columns left out are few enough to read past (one piece per record
  // rather than one per row); else row by row.
  const bool span = (npx - wc) * 4 <= (std::int64_t{64} << 10);
  const std::int64_t width = span ? npx : wc;  // values per row in the bounce buffer
  constexpr std::int64_t kBounceBytes = std::int64_t{2} << 20;
  constexpr std::int64_t kLongBatch = 64;    // records: 256 bytes per pixel and batch
  constexpr std::int64_t kMaxBatch = 256;
  constexpr std::int64_t kMinPiece = 32 << 10;  // bytes per read when records are split
  constexpr std::int64_t kImageMaxGap = 8 << 10;
  const std::int64_t records = last - depth.start;
  const std::int64_t row_bytes = width * 4;
  std::int64_t block_rows = rows.size();
  std::int64_t batch = 0;
  if (rows.size() * row_bytes * std::min(kLongBatch, records) <= kBounceBytes) {
    batch = std::clamp<std::int64_t>(kBounceBytes / (rows.size() * row_bytes + 64), 1, std::min(kMaxBatch, records));
  } else {
    batch = std::min(records, std::max<std::int64_t>(1, kBounceBytes / std::max(kMinPiece, row_bytes)));
    batch = std::min(batch, kLongBatch);
    block_rows = std::clamp<std::int64_t>(kBounceBytes / (batch * row_bytes), 1, rows.size());
  }
  // Batches of a multiple of four records keep every batch's runs as aligned as the first's.
  if (batch > 4) batch -= batch % 4;
  const bool split = block_rows < rows.size();
  // A destination far larger than the cache is written past it.
  constexpr std::int64_t kStreamBytes = std::int64_t{4} << 20;
  const bool stream = pixels * depth.size() * 4 >= kStreamBytes;
  // Records sit in the bounce buffer a little more than their size apart, so
  // that the same pixel of many records does not fall into one cache set.
  const std::int64_t pitch = block_rows * width + 16;
  float* const bounce = kept_buffer<float>(static_cast<std::size_t>(batch * pitch));
  std::vector<std::int64_t> at(static_cast<std::size_t>(batch));
  RecordCursor cursor(plan.offsets);
  cursor.seek(depth.start);
  for (std::int64_t first = depth.start; first < last; first += batch) {
    const std::int64_t n = std::min(batch, last - first);
    for (std::int64_t k = 0; k < n; ++k) {
      at[static_cast<std::size_t>(k)] = cursor.offset();
      cursor.advance();
    }
    for (std::int64_t top = rows.start; top < rows.stop; top += block_rows) {
      const std::int64_t bottom = std::min(rows.stop, top + block_rows);
      std::int64_t k = 0;
      std::int64_t row = top;
      // A split record's other rows lie between its pieces: never read them.
      // A window's rows leave gaps of the other columns and rows: read past
      // the short ones, skip the long ones (a system call costs about as
      // much as copying a few KiB).
      KESTREL_CHECK(gather(
          source,
          [&](CopyJob& job) {
            if (k == n) return false;
            const std::int64_t a = at[static_cast<std::size_t>(k)];
            float* dst = bounce + k * pitch;
            if (span) {
              job = {a + 4 * top * npx, bytes_of(dst), static_cast<std::size_t>((bottom - top) * npx) * 4};
              row = bottom;
            } else {
              job = {a + 4 * (row * npx + cols.start), bytes_of(dst + (row - top) * wc), static_cast<std::size_t>(wc) * 4};
              ++row;
            }
            if (row == bottom) {
              row = top;
              ++k;
            }
            return true;
          },
          split ? 0 : kImageMaxGap));
      float* out = t.values + (top - rows.start) * wc * depth.size() + (first - depth.start);
      if (!span || wc == npx) {
        transpose_block(bounce, pitch, n, (bottom - top) * wc, out, depth.size(), stream);
      } else {
        for (std::int64_t i = 0; i < bottom - top; ++i) {
          transpose_block(bounce + i * npx + cols.start, pitch, n, wc, out + i * wc * depth.size(), depth.size(),
                          stream);
        }
      }
    }
  }
  return ok_status();
}

// Series and trace series: record k is row k; its time (spectra) follows the values.
Status fill_rows(const ByteSource& source, const BlockPlan& plan, const Window& w, const FillTargets& t) {
  const AxisRange rows = w.ranges[0], pts = w.ranges[1];
  const std::int64_t wp = pts.size();
  const bool values = t.values != nullptr && wp > 0;
  const bool times = t.times != nullptr && plan.kind == BlockKind::series;
  if (rows.size() == 0 || (!values && !times)) return ok_status();
  const std::int64_t row_length = plan.kind == BlockKind::series ? plan.npt : plan.width;
  RecordCursor cursor(plan.offsets);
  cursor.seek(rows.start);
  std::int64_t row = rows.start;
  bool time_next = false;  // each record gives two jobs: its values, then its time
  std::int64_t at = 0;
  return gather(source, [&](CopyJob& job) {
    if (time_next) {
      job = {at + 4 * row_length + kTimeOffset, bytes_of(t.times + (row - rows.start)), 8};
      time_next = false;
      ++row;
      return true;
    }
    if (row == rows.stop) return false;
    at = cursor.offset();
    cursor.advance();
    if (values) job = {at + 4 * pts.start, bytes_of(t.values + (row - rows.start) * wp), static_cast<std::size_t>(wp) * 4};
    if (times) {
      if (!values) job = {at + 4 * row_length + kTimeOffset, bytes_of(t.times + (row - rows.start)), 8};
      time_next = values;
      if (!values) ++row;
    } else {
      ++row;
    }
    return true;
  });
}

// The stacked rows of a multi-region window, from a range or a list.
struct RowList {
  const Window& w;
  std::int64_t operator[](std::int64_t i) const {
    return w.rows ? (*w.rows)[static_cast<std::size_t>(i)] : w.ranges[0].start + i;
  }
  std::int64_t size() const { return w.row_count(); }
};

Status fill_region_spectra(const ByteSource& source, const BlockPlan& plan, const Window& w, const FillTargets& t) {
  const RowList rows{w};
  const AxisRange pts = w.ranges[1];
  const std::int64_t wp = pts.size();
  const bool values = t.values != nullptr && wp > 0;
  const bool times = t.times != nullptr;
  const std::int64_t n = rows.size();
  // Rows without a stored record stay zero, time included.
  for (std::int64_t i = 0; i < n; ++i) {
    if (plan.points[static_cast<std::size_t>(rows[i])].source >= 0) continue;
    if (values && !t.zeroed) zero_floats(t.values + i * wp, wp);
    if (times) t.times[i] = 0.0;
  }
  if (!values && !times) return ok_status();
  const std::int64_t size = static_cast<std::int64_t>(source.size());
  // A record's info area, when small, is read whole into scratch with its
  // time: two pieces per record rather than four keep a scattered read long.
  constexpr std::int64_t kMaxInfoArea = 4096;
  const std::int64_t info = plan.table.info_size;
  const bool whole_info = values && times && pts.stop == plan.npt && info >= kTimeOffset + 8 && info <= kMaxInfoArea;
  // Rows go in batches whose info areas fill at most this much scratch, kept
  // by the thread from one read to the next (fresh pages every read cost as
  // much as the times themselves). A batch still spans several scattered reads.
  constexpr std::int64_t kScratchBytes = 512 * 1024;
  const std::int64_t batch_rows = whole_info ? std::clamp<std::int64_t>(kScratchBytes / info, 1, 4096) : 4096;
  std::byte* const scratch = whole_info ? kept_buffer<std::byte>(static_cast<std::size_t>(batch_rows * info)) : nullptr;
  std::vector<Broadcast> broadcast;
  struct TimeSlot {
    double* time;
    std::size_t at;
  };
  std::vector<TimeSlot> slots;
  std::int64_t i = 0;
  bool time_next = false;
  const RegionPoint* point = nullptr;
  for (std::int64_t batch = 0; batch < n; batch += batch_rows) {
    const std::int64_t end = std::min(n, batch + batch_rows);
    slots.clear();
    i = batch;
    KESTREL_CHECK(gather(source, [&](CopyJob& job) {
      if (time_next) {
        time_next = false;
        double* time = t.times + i;
        ++i;
        const std::int64_t after = point->source + 4 * plan.npt;
        if (whole_info && !point->broadcast && size - after >= info) {
          const std::size_t at = static_cast<std::size_t>((i - 1 - batch) * info);
          slots.push_back({time, at});
          job = {after, scratch + at, static_cast<std::size_t>(info)};
        } else {
          job = {point->time_at, bytes_of(time), 8};
        }
        return true;
      }
      while (i < end && plan.points[static_cast<std::size_t>(rows[i])].source < 0) ++i;
      if (i == end) return false;
      point = &plan.points[static_cast<std::size_t>(rows[i])];
      if (values) {
        float* dst = t.values + i * wp;
        if (point->broadcast) {
          broadcast.push_back({dst, wp});
          job = {point->source, bytes_of(dst), 4};
        } else {
          job = {point->source + 4 * pts.start, bytes_of(dst), static_cast<std::size_t>(wp) * 4};
        }
        time_next = times;
        if (!times) ++i;
      } else {
        job = {point->time_at, bytes_of(t.times + i), 8};
        ++i;
      }
      return true;
    }));
    for (const TimeSlot& slot : slots) std::memcpy(slot.time, scratch + slot.at + kTimeOffset, 8);
  }
  spread(broadcast);
  return ok_status();
}

// Multi-region traces: out[i][k] = trace k's value at the row's point. The
// window's traces are read in batches, each over the span of points the
// window's rows use.
Status fill_region_traces(const ByteSource& source, const BlockPlan& plan, const Window& w, const FillTargets& t) {
  const RowList rows{w};
  const AxisRange traces = w.ranges[1];
  const std::int64_t n = rows.size();
  const std::int64_t wt = traces.size();
  if (n == 0 || wt == 0 || t.values == nullptr) return ok_status();
  std::int64_t lo = plan.width;
  std::int64_t hi = -1;
  for (std::int64_t i = 0; i < n; ++i) {
    const std::int64_t q = plan.points[static_cast<std::size_t>(rows[i])].source;
    lo = std::min(lo, q);
    hi = std::max(hi, q);
  }
  const std::int64_t span = hi - lo + 1;
  const std::int64_t batch = std::clamp<std::int64_t>((std::int64_t{8} << 20) / (span * 4), 1, wt);
  const std::unique_ptr<float[]> bounce(new float[static_cast<std::size_t>(batch * span)]);
  RecordCursor cursor(plan.offsets);
  cursor.seek(traces.start);
  for (std::int64_t first = traces.start; first < traces.stop; first += batch) {
    const std::int64_t count = std::min(batch, traces.stop - first);
    std::int64_t k = 0;
    KESTREL_CHECK(gather(source, [&](CopyJob& job) {
      if (k == count) return false;
      job = {cursor.offset() + 4 * lo, bytes_of(bounce.get() + k * span), static_cast<std::size_t>(span) * 4};
      cursor.advance();
      ++k;
      return true;
    }));
    for (std::int64_t i = 0; i < n; ++i) {
      const std::int64_t q = plan.points[static_cast<std::size_t>(rows[i])].source - lo;
      float* dst = t.values + i * wt + (first - traces.start);
      for (std::int64_t j = 0; j < count; ++j) dst[j] = bounce[static_cast<std::size_t>(j * span + q)];
    }
  }
  return ok_status();
}

}  // namespace

Status fill_window(const ByteSource& source, const BlockPlan& plan, const Window& w, const FillTargets& t) {
  switch (plan.kind) {
    case BlockKind::spectrum:
      return fill_spectrum(source, plan, w, t.values);
    case BlockKind::image_map:
      if (plan.layout == MapLayout::per_position) return fill_per_position(source, plan, w, t);
      if (plan.layout == MapLayout::transposed) return fill_images(source, plan, w, t);
      if (t.values != nullptr && !t.zeroed) {
        zero_floats(t.values, w.ranges[0].size() * w.ranges[1].size() * w.ranges[2].size());
      }
      return ok_status();
    case BlockKind::trace_map:
      return fill_images(source, plan, w, t);
    case BlockKind::series:
    case BlockKind::trace_series:
      return fill_rows(source, plan, w, t);
    case BlockKind::multi_region:
      return fill_region_spectra(source, plan, w, t);
    case BlockKind::multi_region_trace:
      return fill_region_traces(source, plan, w, t);
  }
  return ok_status();
}

}  // namespace kestrel
