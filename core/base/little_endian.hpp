// A value stored little-endian, as every number in the file format is, loaded
// from unaligned bytes on a processor of either byte order.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <utility>

namespace kestrel {

template <typename T>
T load_le(const std::byte* at) {
  std::byte raw[sizeof(T)];
  std::memcpy(raw, at, sizeof(T));
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(raw[i], raw[sizeof(T) - 1 - i]);
  }
  T value;
  std::memcpy(&value, raw, sizeof(T));
  return value;
}

}  // namespace kestrel
