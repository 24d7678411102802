// Overflow-checked arithmetic for counts and offsets that come from a file.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace kestrel {

#if defined(_MSC_VER) && !defined(__clang__)
// MSVC has no __builtin_*_overflow: the same answers from range checks made before the operation.
inline std::optional<std::int64_t> add_i64(std::int64_t a, std::int64_t b) {
  constexpr auto hi = std::numeric_limits<std::int64_t>::max();
  constexpr auto lo = std::numeric_limits<std::int64_t>::min();
  if ((b > 0 && a > hi - b) || (b < 0 && a < lo - b)) return std::nullopt;
  return a + b;
}

inline std::optional<std::int64_t> mul_i64(std::int64_t a, std::int64_t b) {
  std::int64_t high = 0;
  const std::int64_t low = _mul128(a, b, &high);
  // The product fits when the high half is only the sign extension of the low half.
  if (high != (low < 0 ? -1 : 0)) return std::nullopt;
  return low;
}
#else
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
#endif

}  // namespace kestrel
