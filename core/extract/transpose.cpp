#include "extract/transpose.hpp"

#include <cstdint>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace kestrel {

namespace {

#if defined(__SSE2__)
// Four pixels at a time, each pixel's run of values written front to back:
// the destination is written as long runs (a few cache lines each) rather
// than short pieces revisited later, which matters once it no longer fits in
// the cache. The source rows are few and stay in the first-level cache while
// the next pixels of the same lines are read. Stream stores need every
// destination run 16-byte aligned.
template <bool Stream>
std::int64_t transpose_fours(const float* src, std::int64_t pitch, std::int64_t records, std::int64_t pixels,
                             float* dst, std::int64_t depth) {
  std::int64_t p = 0;
  for (; p + 4 <= pixels; p += 4) {
    float* d0 = dst + p * depth;
    float* d1 = d0 + depth;
    float* d2 = d1 + depth;
    float* d3 = d2 + depth;
    const float* s = src + p;
    std::int64_t r = 0;
    for (; r + 4 <= records; r += 4) {
      __m128 a = _mm_loadu_ps(s + r * pitch);
      __m128 b = _mm_loadu_ps(s + (r + 1) * pitch);
      __m128 c = _mm_loadu_ps(s + (r + 2) * pitch);
      __m128 d = _mm_loadu_ps(s + (r + 3) * pitch);
      _MM_TRANSPOSE4_PS(a, b, c, d);
      if constexpr (Stream) {
        _mm_stream_ps(d0 + r, a);
        _mm_stream_ps(d1 + r, b);
        _mm_stream_ps(d2 + r, c);
        _mm_stream_ps(d3 + r, d);
      } else {
        _mm_storeu_ps(d0 + r, a);
        _mm_storeu_ps(d1 + r, b);
        _mm_storeu_ps(d2 + r, c);
        _mm_storeu_ps(d3 + r, d);
      }
    }
    for (; r < records; ++r) {
      const float* row = s + r * pitch;
      d0[r] = row[0];
      d1[r] = row[1];
      d2[r] = row[2];
      d3[r] = row[3];
    }
  }
  if constexpr (Stream) _mm_sfence();  // stream stores are ordered before whatever the caller does next
  return p;
}
#endif

}  // namespace

void transpose_block(const float* src, std::int64_t pitch, std::int64_t records, std::int64_t pixels, float* dst,
                     std::int64_t depth, bool stream) {
  std::int64_t p = 0;
#if defined(__SSE2__)
  const bool aligned = depth % 4 == 0 && reinterpret_cast<std::uintptr_t>(dst) % 16 == 0;
  p = stream && aligned ? transpose_fours<true>(src, pitch, records, pixels, dst, depth)
                        : transpose_fours<false>(src, pitch, records, pixels, dst, depth);
#else
  (void)stream;
#endif
  for (; p < pixels; ++p) {
    for (std::int64_t r = 0; r < records; ++r) dst[p * depth + r] = src[r * pitch + p];
  }
}

}  // namespace kestrel
