#include "common/literal_reader.hpp"

#include <cerrno>
#include <cstring>

#include "container/text.hpp"

namespace kestrel::fuzz {

Status LiteralFile::seek(std::int64_t pos) {
  if (pos < 0) return Error::bad_seek(EINVAL);
  pos_ = pos;
  return ok_status();
}

std::string LiteralFile::read(std::int64_t n) {
  const auto size = static_cast<std::int64_t>(bytes_.size());
  const std::int64_t avail = pos_ < size ? size - pos_ : 0;
  const std::int64_t take = (n < 0 || n > avail) ? avail : n;
  std::string out(static_cast<std::size_t>(take), '\0');
  if (take > 0) std::memcpy(out.data(), bytes_.data() + pos_, static_cast<std::size_t>(take));
  pos_ += take;
  return out;
}

Result<Directory> literal_directory(std::span<const std::byte> file) {
  LiteralFile f(file);
  KESTREL_CHECK(f.seek(4));
  KESTREL_CHECK(f.field<double>());
  KESTREL_TRY(const auto offset_to_directory, f.field<std::int32_t>());
  KESTREL_CHECK(f.field<std::int32_t>());
  KESTREL_TRY(const auto dir_size, f.field<std::int32_t>());
  KESTREL_CHECK(f.seek(offset_to_directory));
  Directory out;
  std::int64_t six_four_offset = 0;
  for (std::int32_t i = 0; i < dir_size; ++i) {
    KESTREL_TRY(const auto word, f.field<std::int32_t>());
    KESTREL_TRY(const auto size, f.field<std::int32_t>());
    KESTREL_TRY(const auto offset, f.field<std::int32_t>());
    out.push_back({decode_block_type(word), size, offset});
    if (out.back().type[EXTEND_TYPE] == 64) six_four_offset = offset;
  }
  if (six_four_offset != 0) {
    KESTREL_CHECK(f.seek(six_four_offset));
    KESTREL_TRY(const auto count, f.field<std::int64_t>());
    KESTREL_CHECK(f.field<std::int64_t>());
    for (std::int64_t i = 0; i < count; ++i) {
      KESTREL_TRY(const auto word, f.field<std::int64_t>());
      KESTREL_TRY(const auto size, f.field<std::int64_t>());
      KESTREL_TRY(const auto offset, f.field<std::int64_t>());
      KESTREL_CHECK(f.field<std::int64_t>());
      out.push_back({decode_block_type(word), size, offset});
    }
  }
  return out;
}

Result<ParamList> literal_param_block(LiteralFile& f, std::int64_t offset) {
  ParamList params;
  KESTREL_CHECK(f.seek(offset));
  for (;;) {
    std::string name = f.read(4);
    if (!is_strict_utf8(name)) return Error::bad_utf8(std::move(name));
    std::size_t first = name.find_first_not_of('\0');
    std::string key = first == std::string::npos ? std::string() : name.substr(first);
    while (!key.empty() && key.back() == '\0') key.pop_back();
    if (key == "END") break;
    KESTREL_TRY(const auto type_code, f.field<std::int16_t>());
    KESTREL_TRY(const auto size, f.field<std::int16_t>());
    if (type_code == 0) {
      KESTREL_TRY(const auto v, f.field<std::int32_t>());
      params.set(key, std::int64_t{v});
    } else if (type_code == 1) {
      KESTREL_TRY(const auto v, f.field<double>());
      params.set(key, v);
    } else if (type_code >= 2 && type_code <= 4) {
      const std::string text = f.read(std::int64_t{size} * 2);
      params.set(key, decode_text(text.substr(0, text.find('\0'))));
    } else {
      return Error::bad_param_type(type_code);
    }
  }
  return params;
}

bool same_directory(const Directory& a, const Directory& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].type != b[i].type || a[i].size_in_words != b[i].size_in_words || a[i].byte_offset != b[i].byte_offset)
      return false;
  }
  return true;
}

bool same_params(const ParamList& a, const ParamList& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto& [ka, va] = a.items()[i];
    const auto& [kb, vb] = b.items()[i];
    if (ka != kb || va.index() != vb.index()) return false;
    // doubles compare by bits: a NaN read twice is the same value
    if (const double* da = std::get_if<double>(&va)) {
      if (std::memcmp(da, &std::get<double>(vb), sizeof(double)) != 0) return false;
    } else if (va != vb) {
      return false;
    }
  }
  return true;
}

}  // namespace kestrel::fuzz
