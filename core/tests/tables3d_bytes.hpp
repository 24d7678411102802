// Little-endian byte builders for the 3D table tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/diagnostics.hpp"
#include "params/value.hpp"

namespace kestrel::testing {

class Bytes {
 public:
  template <typename T>
  Bytes& le(T v) {
    std::byte raw[sizeof(T)];
    std::memcpy(raw, &v, sizeof(T));  // the tests run on little-endian hosts
    data_.insert(data_.end(), raw, raw + sizeof(T));
    return *this;
  }
  Bytes& i16(std::int16_t v) { return le(v); }
  Bytes& i32(std::int32_t v) { return le(v); }
  Bytes& f32(float v) { return le(v); }
  Bytes& f64(double v) { return le(v); }
  Bytes& text(std::string_view s) {
    for (const char c : s) data_.push_back(static_cast<std::byte>(c));
    return *this;
  }
  Bytes& zeros(std::size_t n) {
    data_.resize(data_.size() + n);
    return *this;
  }
  Bytes& pad_to(std::size_t n) {
    if (data_.size() < n) data_.resize(n);
    return *this;
  }
  Bytes& append(const Bytes& other) {
    data_.insert(data_.end(), other.data_.begin(), other.data_.end());
    return *this;
  }
  // A parameter block: each entry a name, a type code, a size and a value, then END.
  Bytes& params(const std::vector<std::pair<std::string, ParamValue>>& entries) {
    for (const auto& [key, value] : entries) {
      std::string name = key;
      name.resize(4, '\0');
      text(name);
      if (const auto* i = std::get_if<std::int64_t>(&value)) {
        i16(0).i16(2).i32(static_cast<std::int32_t>(*i));
      } else if (const auto* d = std::get_if<double>(&value)) {
        i16(1).i16(4).f64(*d);
      } else {
        std::string s = std::get<std::string>(value);
        s.push_back('\0');
        if (s.size() % 2) s.push_back('\0');
        i16(2).i16(static_cast<std::int16_t>(s.size() / 2)).text(s);
      }
    }
    return text(std::string_view("END\0", 4)).i16(0).i16(0);
  }

  std::size_t size() const { return data_.size(); }
  const std::vector<std::byte>& data() const { return data_; }

 private:
  std::vector<std::byte> data_;
};

using Params = std::vector<std::pair<std::string, ParamValue>>;

inline ParamValue I(std::int64_t v) { return ParamValue{v}; }
inline ParamValue D(double v) { return ParamValue{v}; }
inline ParamValue S(std::string v) { return ParamValue{std::move(v)}; }

// Keeps every warning; refuses once `accept` warnings have been taken.
class RecordingSink final : public Diagnostics {
 public:
  explicit RecordingSink(std::int64_t accept = -1) : accept_(accept) {}
  bool runtime_warning(std::string_view message) override {
    warnings.emplace_back(message);
    return accept_ < 0 || static_cast<std::int64_t>(warnings.size()) <= accept_;
  }
  bool print_line(std::string_view line) override {
    lines.emplace_back(line);
    return true;
  }
  std::vector<std::string> warnings;
  std::vector<std::string> lines;

 private:
  std::int64_t accept_;
};

}  // namespace kestrel::testing
