// The one rule for how large a result may be. A result can outgrow its file
// (an aborted map leaves cells empty, an axis is computed, not stored), but a
// crafted count must not turn a small file into gigabytes of memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/limits.hpp"
#include "base/result.hpp"

namespace kestrel {

inline Status check_result_bytes(std::optional<std::int64_t> bytes, std::int64_t file_size, const Limits& limits,
                                 const char* what) {
  const std::int64_t backed = file_size > (INT64_MAX / 8) ? INT64_MAX / 2 : 4 * file_size;
  if (bytes && *bytes <= backed + limits.max_result_slack_bytes) return ok_status();
  return Error::too_large(std::string(what) + " would need " +
                          (bytes ? std::to_string(*bytes) + " bytes" : std::string("more than 2**63 bytes")) +
                          ", far more than a file of " + std::to_string(file_size) + " bytes can describe");
}

}  // namespace kestrel
