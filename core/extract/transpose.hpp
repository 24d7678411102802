// The block transpose behind transposed maps and trace maps.
#pragma once

#include <cstdint>

namespace kestrel {

// dst[p * depth + r] = src[r * pitch + p] for r < records, p < pixels. With
// `stream`, whole runs are written past the cache where the processor can (a
// destination far larger than the cache is not read back for each line it
// writes); the values are the same either way.
void transpose_block(const float* src, std::int64_t pitch, std::int64_t records, std::int64_t pixels, float* dst,
                     std::int64_t depth, bool stream = false);

}  // namespace kestrel
