// The label of a trace record: the text after the values, up to the first NUL.
#pragma once

#include <cstdint>
#include <string>

#include "base/result.hpp"
#include "io/byte_source.hpp"

namespace kestrel {

// read(length) at pos (to the end of the file when length < 0), cut at the
// first NUL and decoded. Only the bytes before the NUL are fetched, so a label
// area that reaches to the end of a large file costs what its text costs.
Result<std::string> read_label(const ByteSource& source, std::int64_t pos, std::int64_t length);

}  // namespace kestrel
