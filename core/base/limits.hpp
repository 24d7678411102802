// Caps on what a hostile file can make the reader do. Each refuses only what
// no real instrument file can be: a count that the file's own bytes cannot
// describe, or a walk that would repeat the same bytes without end. A large
// honest result is never refused here; only the memory that is really not
// there refuses it (numpy's or the allocator's own MemoryError). The fuzzers
// lower the caps.
#pragma once

#include <cstdint>

namespace kestrel {

struct Limits {
  // Values a read copies from the file into its results, and the axes it
  // computes in full. A real file stores each value once (records do not
  // overlap), so it copies at most its own size; only a crafted table that
  // points many records at the same bytes copies more. The factor 4 and this
  // slack leave room for the axes and for a map's stored order; parts of a
  // result that no record fills (a stopped map measurement) are zero pages
  // and do not count.
  std::int64_t max_result_slack_bytes = std::int64_t{1} << 30;
  // A stream that is not a regular file is read whole into memory, up to this.
  std::int64_t max_stream_bytes = std::int64_t{4} << 30;
  // Records a 3D reader walks, besides one per 4 bytes of the file. A record
  // that holds values holds at least one float of its own, so a file holds at
  // most size / 4 of them; records that hold nothing (empty spectra) come on
  // top, and this many is beyond any measurement. Without the cap a store
  // table run claims 2**31 records for eight bytes: minutes of walking.
  std::int64_t max_records = std::int64_t{1} << 24;
  // Bytes of trace labels one read holds, besides the file's size: labels of
  // distinct records are distinct bytes of the file; more means records
  // reread the same label area.
  std::int64_t max_label_bytes = std::int64_t{1} << 30;
  // Passes over the picture directory of an image block before it counts as a
  // cycle: real files hold a few dozen pictures.
  std::int64_t max_image_directory_passes = 1 << 20;
  // Annotation cells of one block, besides cells_per_file_byte for each byte
  // of the file. A cell that reads bytes owns them in a real table (rows do
  // not overlap), so a table with more cells than the file has bytes rereads
  // the same bytes (a row length of 0, or rows past the end that read
  // nothing). A table past the cap is refused before its first row.
  std::int64_t max_annotation_cells = std::int64_t{1} << 24;
  std::int64_t cells_per_file_byte = 1;
  // Warnings for cells of an unknown type (one Python warning per cell): a
  // real table has no such columns at all.
  std::int64_t max_annotation_warnings = std::int64_t{1} << 20;
  // Bytes held by text cells, besides the file's size: more rereads the same text.
  std::int64_t max_annotation_text_bytes = std::int64_t{1} << 30;
  // Bytes of table descriptions parsed, besides the file's size: a directory
  // may point many tables at one large description.
  std::int64_t max_annotation_description_bytes = std::int64_t{1} << 30;
};

inline const Limits& default_limits() {
  static const Limits limits{};
  return limits;
}

}  // namespace kestrel
