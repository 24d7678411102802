// Overflow-checked arithmetic for counts and offsets that come from a file.
#pragma once

#include <cstdint>
#include <optional>

namespace kestrel {

inline std::optional<std::int64_t> add_i64(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_add_overflow(a, b, &r)) return std::nullopt;
  return r;
}

inline std::optional<std::int64_t> mul_i64(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_mul_overflow(a, b, &r)) return std::nullopt;
  return r;
}

}  // namespace kestrel
