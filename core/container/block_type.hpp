// The six bit fields of a block-type word.
#pragma once

#include <array>
#include <cstdint>

namespace kestrel {

enum BlockField : int {
  COMPLEX_TYPE = 0,
  SAMPLE_TYPE = 1,
  PARAM_TYPE = 2,
  DATA_TYPE = 3,
  DERIV_TYPE = 4,
  EXTEND_TYPE = 5,
};

// (complexType, sampleType, paramType, dataType, derivType, extendType)
using BlockType = std::array<int, 6>;

// Arithmetic shifts of the signed word, as the word is read signed; bits 26 and up are ignored.
constexpr BlockType decode_block_type(std::int64_t word) {
  return {static_cast<int>((word >> 0) & 3),  static_cast<int>((word >> 2) & 3),
          static_cast<int>((word >> 4) & 63), static_cast<int>((word >> 10) & 127),
          static_cast<int>((word >> 17) & 3), static_cast<int>((word >> 19) & 127)};
}

inline constexpr int kExtend3D = 10;
inline constexpr int kExtendAnnotation = 11;
inline constexpr int kExtendImage = 20;
inline constexpr int kExtendDirectory64 = 64;

}  // namespace kestrel
