// The block transpose behind transposed maps and trace maps.
#pragma once

#include <cstdint>

namespace kestrel {

// dst[p * depth + r] = src[r * pitch + p] for r < records, p < pixels, in tiles
// that stay in the first-level cache.
void transpose_block(const float* src, std::int64_t pitch, std::int64_t records, std::int64_t pixels, float* dst,
                     std::int64_t depth);

}  // namespace kestrel
