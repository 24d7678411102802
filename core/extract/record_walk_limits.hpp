// The bound on how many records one 3D reader walks.
#pragma once

#include <cstdint>
#include <string>

#include "base/limits.hpp"
#include "base/result.hpp"

namespace kestrel {

inline Status check_record_count(std::int64_t walked, const Limits& limits, std::int64_t file_size = 0) {
  if (walked < limits.max_records + file_size / 4) return ok_status();
  return Error::too_large("the 3D block lists more than " + std::to_string(limits.max_records + file_size / 4) +
                          " records, more than any file holds");
}

// Whether a table may claim `records` records: as many as a walk may visit.
// A claim beyond it is one the file's own bytes could not describe.
inline bool record_count_describable(std::int64_t records, const Limits& limits, std::int64_t file_size) {
  return records <= limits.max_records + file_size / 4;
}

}  // namespace kestrel
