// Where each stored spectrum's sub-block record lies: the map from spectrum
// number to absolute file offset that the store table of a 3D block describes.
//
// The table's entries, in order, either assign a run of consecutive numbers to
// records spaced by the stride (block_size + info_size), or move the next record
// by a gap of some bytes (first == -1, negative gaps too). The offset keeps
// running across entries; a run whose second number is below its first assigns
// nothing. The map has dict semantics: numbers in the order they are first met,
// and a number met again keeps its place but takes the later offset.
//
// Nothing is stored per record. The map is held as a list of runs in map order,
// each a stretch of consecutive numbers whose offsets step by the stride: at
// most one per table run when the runs are disjoint (entries that continue the
// previous run's numbers and offsets join it), and an exact split of the runs
// when numbers repeat (O(entries log entries), never O(records)). A run
// (0, 2**31-1) therefore costs a few bytes.
//
// Offsets are tracked in 128 bits, where the running sum of any table the
// format can express (at most 2**31 entries, each moving by at most 2**64
// bytes) cannot wrap. A record whose offset lies outside the 64-bit range is
// one that no file object can seek to: file_offset() turns it into
// Error::offset_overflow when (and only when) a reader reaches it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.hpp"
#include "tables3d/store_table.hpp"

namespace kestrel {

using WideOffset = __int128;

// The file offset of a wide offset, or Error::offset_overflow beyond 64 bits.
// Negative offsets pass through: seeking to them fails as the file object would.
Result<std::int64_t> file_offset(WideOffset offset);

// Records at map positions [index, index + count): record index + k lies at
// first_offset + k * stride.
struct RecordRun {
  std::int64_t index = 0;
  std::int64_t count = 0;  // >= 1
  WideOffset first_offset = 0;
  std::int64_t stride = 0;

  WideOffset offset(std::int64_t k) const { return first_offset + WideOffset{k} * stride; }
  WideOffset last_offset() const { return offset(count - 1); }
};

// A run whose spectrum numbers also ascend by one: record index + k carries
// the number first_number + k.
struct NumberedRun {
  RecordRun records;
  std::int64_t first_number = 0;
};

class RecordOffsets {
 public:
  // get3DOffsetsDict. Pure computation over the four fields it uses
  // (block_offset, block_size, info_size, store_table); cannot fail.
  static RecordOffsets build(const StoreTable3D& table);

  // Distinct spectrum numbers: the length of the map.
  std::int64_t count() const { return count_; }
  bool empty() const { return count_ == 0; }
  // block_size + info_size: the distance between records of one run. Records
  // of a run lie back to back only when it is positive.
  std::int64_t stride() const { return stride_; }

  // The map in order, as runs of consecutive numbers.
  std::span<const NumberedRun> runs() const { return runs_; }

  // The map in order, as maximal runs of records that follow each other in
  // the file at the stride (consecutive runs() merged where the next begins
  // one stride after the previous ends). With a positive stride each is one
  // byte range of count * stride bytes: one scattered read fills them all.
  std::vector<RecordRun> contiguous_runs() const;

  // The offset stored under a spectrum number (membership and lookup in one).
  std::optional<WideOffset> find(std::int64_t number) const;

  // The map position of the first record whose offset lies outside [lo, hi],
  // in map order, or nothing. With lo = 0 and hi = file size - bytes a reader
  // needs per record, this is where reading in order first fails; O(runs).
  std::optional<std::int64_t> first_outside(WideOffset lo, WideOffset hi) const;

 private:
  // A stretch of numbers lo..hi whose offsets step by the stride from offset_at_lo.
  struct OwnedRange {
    std::int64_t lo;
    std::int64_t hi;
    WideOffset offset_at_lo;
  };

  std::int64_t count_ = 0;
  std::int64_t stride_ = 0;
  std::vector<NumberedRun> runs_;    // map order
  std::vector<OwnedRange> by_number_;  // ascending numbers, disjoint: the offset each number ends with
};

// Visits the map in order, one record at a time, in O(1) memory:
//   for (RecordWalk w(offsets); w.next();) use(w.index(), w.number(), w.offset());
class RecordWalk {
 public:
  explicit RecordWalk(const RecordOffsets& offsets) : runs_(offsets.runs()) {}

  // Moves to the next record; false after the last.
  bool next();
  std::int64_t index() const { return runs_[run_].records.index + k_; }
  std::int64_t number() const { return runs_[run_].first_number + k_; }
  WideOffset offset() const { return runs_[run_].records.offset(k_); }

 private:
  std::span<const NumberedRun> runs_;
  std::size_t run_ = 0;
  std::int64_t k_ = -1;
};

}  // namespace kestrel
