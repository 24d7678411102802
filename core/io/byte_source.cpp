#include "io/byte_source.hpp"

#include <algorithm>

namespace kestrel {

Result<std::size_t> ByteSource::read_scatter(std::uint64_t offset, std::span<const Piece> pieces) const {
  std::size_t total = 0;
  for (const Piece& piece : pieces) {
    KESTREL_TRY(std::size_t got, read_at(offset + total, {piece.data, piece.size}));
    total += got;
    if (got < piece.size) break;
  }
  return total;
}

std::uint64_t ByteSource::size_upto(std::uint64_t end) const { return std::min(size(), end); }

int ByteSource::seek_errno(std::int64_t) const { return 0; }

}  // namespace kestrel
