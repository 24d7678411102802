// Reads one parameter block: entries of a four-byte name, a type code, a size
// in 16-bit words and a value, up to the entry named END.
#pragma once

#include <cstdint>

#include "base/result.hpp"
#include "io/cursor.hpp"
#include "params/value.hpp"

namespace kestrel {

// Leaves the cursor just after the four name bytes of the END entry.
Result<ParamList> read_param_block(Cursor& cursor, std::int64_t offset);
// The same, each entry set into params as it is read (a key already there
// keeps its place and takes the new value, as dict.update does). On failure
// params holds the entries read before it.
Status read_param_block_into(Cursor& cursor, std::int64_t offset, ParamList& params);

// The value under key, or Error::missing_key.
Result<const ParamValue*> require_param(const ParamList& params, std::string_view key);

// The value under key if it is an int.
inline const std::int64_t* param_int(const ParamList& params, std::string_view key) {
  const ParamValue* v = params.find(key);
  return v ? std::get_if<std::int64_t>(v) : nullptr;
}

}  // namespace kestrel
