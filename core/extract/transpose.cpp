#include "extract/transpose.hpp"

#include <algorithm>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace kestrel {

// Four by four with SSE where it exists.
void transpose_block(const float* src, std::int64_t pitch, std::int64_t records, std::int64_t pixels, float* dst,
                     std::int64_t depth) {
  constexpr std::int64_t kPixelTile = 64;
  constexpr std::int64_t kRecordTile = 32;
  for (std::int64_t p0 = 0; p0 < pixels; p0 += kPixelTile) {
    const std::int64_t p1 = std::min(pixels, p0 + kPixelTile);
    for (std::int64_t r0 = 0; r0 < records; r0 += kRecordTile) {
      const std::int64_t r1 = std::min(records, r0 + kRecordTile);
      std::int64_t p = p0;
#if defined(__SSE2__)
      for (; p + 4 <= p1; p += 4) {
        std::int64_t r = r0;
        for (; r + 4 <= r1; r += 4) {
          __m128 a = _mm_loadu_ps(src + r * pitch + p);
          __m128 b = _mm_loadu_ps(src + (r + 1) * pitch + p);
          __m128 c = _mm_loadu_ps(src + (r + 2) * pitch + p);
          __m128 d = _mm_loadu_ps(src + (r + 3) * pitch + p);
          _MM_TRANSPOSE4_PS(a, b, c, d);
          _mm_storeu_ps(dst + p * depth + r, a);
          _mm_storeu_ps(dst + (p + 1) * depth + r, b);
          _mm_storeu_ps(dst + (p + 2) * depth + r, c);
          _mm_storeu_ps(dst + (p + 3) * depth + r, d);
        }
        for (; r < r1; ++r) {
          for (std::int64_t q = p; q < p + 4; ++q) dst[q * depth + r] = src[r * pitch + q];
        }
      }
#endif
      for (; p < p1; ++p) {
        for (std::int64_t r = r0; r < r1; ++r) dst[p * depth + r] = src[r * pitch + p];
      }
    }
  }
}

}  // namespace kestrel
