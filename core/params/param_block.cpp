#include "params/param_block.hpp"

#include "container/text.hpp"

namespace kestrel {

namespace {

std::string_view strip_nul(std::string_view s) {
  while (!s.empty() && s.front() == '\0') s.remove_prefix(1);
  while (!s.empty() && s.back() == '\0') s.remove_suffix(1);
  return s;
}

}  // namespace

Result<ParamList> read_param_block(Cursor& cursor, std::int64_t offset) {
  ParamList params;
  KESTREL_CHECK(read_param_block_into(cursor, offset, params));
  return params;
}

Status read_param_block_into(Cursor& cursor, std::int64_t offset, ParamList& params) {
  KESTREL_CHECK(cursor.seek(offset));
  std::string raw_name;
  std::string text;  // one buffer for every text entry of the block
  for (;;) {
    KESTREL_CHECK(cursor.read_into(4, raw_name));
    if (!is_strict_utf8(raw_name)) return Error::bad_utf8(raw_name);
    const std::string_view key = strip_nul(raw_name);
    if (key == "END") break;
    KESTREL_TRY(std::int16_t type_code, cursor.read_i16());
    KESTREL_TRY(std::int16_t size, cursor.read_i16());
    switch (type_code) {
      case 0: {
        KESTREL_TRY(std::int32_t v, cursor.read_i32());
        params.set(std::string(key), std::int64_t{v});
        break;
      }
      case 1: {
        KESTREL_TRY(double v, cursor.read_f64());
        params.set(std::string(key), v);
        break;
      }
      case 2:
      case 3:
      case 4: {
        // A negative size reads to the end of the file, as read() of a negative count does.
        KESTREL_CHECK(cursor.read_into(std::int64_t{size} * 2, text));
        params.set(std::string(key), decode_text(before_nul(text)));
        break;
      }
      default:
        return Error::bad_param_type(type_code);
    }
  }
  return ok_status();
}

Result<const ParamValue*> require_param(const ParamList& params, std::string_view key) {
  const ParamValue* v = params.find(key);
  if (v == nullptr) return Error::missing_key(std::string(key));
  return v;
}

}  // namespace kestrel
