#include "extract/record_label.hpp"

#include <array>

#include "container/text.hpp"

namespace kestrel {

Result<std::string> read_label(const ByteSource& source, std::int64_t pos, std::int64_t length) {
  const auto size = static_cast<std::int64_t>(source.size());
  const std::int64_t available = pos < size ? size - pos : 0;
  const std::int64_t span = (length < 0 || length > available) ? available : length;
  std::string raw;
  std::array<std::byte, 4096> chunk;
  for (std::int64_t done = 0; done < span;) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(span - done, chunk.size()));
    KESTREL_TRY(const std::size_t got, source.read_at(static_cast<std::uint64_t>(pos + done), {chunk.data(), want}));
    if (got == 0) break;
    const std::string_view piece(reinterpret_cast<const char*>(chunk.data()), got);
    const std::size_t nul = piece.find('\0');
    raw.append(piece.substr(0, nul));
    if (nul != std::string_view::npos) break;
    done += static_cast<std::int64_t>(got);
  }
  return decode_text(raw);
}

}  // namespace kestrel
