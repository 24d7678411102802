// Second, deliberately naive readers of the directory and of parameter blocks:
// byte indexing on the whole input and a position that moves exactly like a
// Python file's. The harnesses compare the core against them, so a fault in the
// cursor's read-ahead window or in a bounds check shows up as a mismatch even
// when nothing crashes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/result.hpp"
#include "container/directory.hpp"
#include "params/value.hpp"

namespace kestrel::fuzz {

class LiteralFile {
 public:
  explicit LiteralFile(std::span<const std::byte> bytes) : bytes_(bytes) {}

  std::int64_t tell() const { return pos_; }
  Status seek(std::int64_t pos);
  // f.read(n): up to n bytes, all the rest for n < 0, nothing past the end.
  std::string read(std::int64_t n);
  // struct.unpack("<" + fmt, f.read(sizeof(T)))[0]
  template <typename T>
  Result<T> field() {
    const std::string raw = read(sizeof(T));
    if (raw.size() < sizeof(T)) return Error::truncated(sizeof(T));
    T value;
    std::memcpy(&value, raw.data(), sizeof(T));
    return value;
  }

 private:
  std::span<const std::byte> bytes_;
  std::int64_t pos_ = 0;
};

Result<Directory> literal_directory(std::span<const std::byte> file);
Result<ParamList> literal_param_block(LiteralFile& f, std::int64_t offset);

bool same_directory(const Directory& a, const Directory& b);
bool same_params(const ParamList& a, const ParamList& b);

}  // namespace kestrel::fuzz
