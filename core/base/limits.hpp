// Caps on what a hostile file can make the reader allocate. They sit far above
// anything a real instrument writes; the fuzzers lower them.
#pragma once

#include <cstdint>

namespace kestrel {

struct Limits {
  // A result array may be larger than the file (an aborted map leaves cells
  // empty), but not without bound: beyond this many bytes past what the file
  // itself could back, the request is refused with MemoryError.
  std::int64_t max_result_slack_bytes = std::int64_t{1} << 30;
  // A stream that is not a regular file is read whole into memory, up to this.
  std::int64_t max_stream_bytes = std::int64_t{4} << 30;
  // Records a 3D reader walks in one call. Past this a block is refused: no file
  // holds that many spectra, but a store table can claim them for nothing.
  std::int64_t max_records = std::int64_t{1} << 24;
  // Bytes of trace labels one call reads.
  std::int64_t max_label_bytes = std::int64_t{1} << 30;
  // Passes over the picture directory of an image block before it counts as a cycle.
  std::int64_t max_image_directory_passes = 1 << 20;
  // Annotation blocks, counted over all tables of one block. Rows that read no
  // bytes, or reread the same bytes (a row length of 0), repeat without bound,
  // so the cells they would yield are capped; a table past a cap is refused
  // before its first row.
  std::int64_t max_annotation_cells = std::int64_t{1} << 24;
  // Warnings for cells of an unknown type (one per cell).
  std::int64_t max_annotation_warnings = std::int64_t{1} << 20;
  // Bytes held by text cells.
  std::int64_t max_annotation_text_bytes = std::int64_t{1} << 30;
  // Bytes of table descriptions parsed: a directory may point many tables at one large description.
  std::int64_t max_annotation_description_bytes = std::int64_t{1} << 30;
};

inline const Limits& default_limits() {
  static const Limits limits{};
  return limits;
}

}  // namespace kestrel
