// Text stored in files: bytes of unknown encoding turned into UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// True when the bytes are well-formed UTF-8 as a strict decoder sees it
// (no overlong forms, no surrogates, nothing past U+10FFFF).
bool is_strict_utf8(std::string_view bytes);

// ASCII, else strict UTF-8, else Latin-1: the result as UTF-8.
std::string decode_text(std::string_view bytes);

// The part before the first NUL byte (all of it when there is none).
inline std::string_view before_nul(std::string_view bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

}  // namespace kestrel
