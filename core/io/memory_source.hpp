// Bytes held in memory: for tests, fuzzers and streams that cannot be re-read.
#pragma once

#include <cstring>
#include <span>
#include <vector>

#include "io/byte_source.hpp"

namespace kestrel {

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::byte> bytes) : bytes_(bytes) {}
  explicit MemorySource(std::vector<std::byte> owned) : owned_(std::move(owned)), bytes_(owned_) {}

  std::uint64_t size() const override { return bytes_.size(); }

  Result<std::size_t> read_at(std::uint64_t offset, std::span<std::byte> dst) const override {
    if (offset >= bytes_.size()) return std::size_t{0};
    const std::size_t n = std::min<std::uint64_t>(dst.size(), bytes_.size() - offset);
    if (n != 0) std::memcpy(dst.data(), bytes_.data() + offset, n);
    return n;
  }

 private:
  std::vector<std::byte> owned_;
  std::span<const std::byte> bytes_;
};

}  // namespace kestrel
