// Small helpers for building byte images in core tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "io/memory_source.hpp"

namespace kestrel::testing {

class Bytes {
 public:
  Bytes& u8(std::initializer_list<int> values) {
    for (int v : values) data_.push_back(static_cast<std::byte>(v));
    return *this;
  }
  template <typename T>
  Bytes& le(T value) {
    std::byte raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    data_.insert(data_.end(), raw, raw + sizeof(T));
    return *this;
  }
  Bytes& text(const std::string& s) {
    for (char c : s) data_.push_back(static_cast<std::byte>(c));
    return *this;
  }
  Bytes& zeros(std::size_t n) {
    data_.resize(data_.size() + n);
    return *this;
  }
  std::size_t size() const { return data_.size(); }
  MemorySource source() const { return MemorySource(data_); }

 private:
  std::vector<std::byte> data_;
};

}  // namespace kestrel::testing
