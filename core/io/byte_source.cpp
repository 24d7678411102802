#include "io/byte_source.hpp"

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

int ByteSource::seek_errno(std::int64_t) const { return 0; }

}  // namespace kestrel
