// A source that counts the bytes read through it, so that tests and benchmarks
// can see how much of a file a call reads (_native._bytes_read()).
#pragma once

#include <atomic>
#include <cstdint>

#include "io/byte_source.hpp"

namespace kestrel::py {

// Bytes read by every counted source since the module was loaded.
inline std::atomic<std::uint64_t> g_bytes_read{0};

// Forwards every virtual of ByteSource, so that the wrapped source reads as it would alone.
class CountingSource final : public ByteSource {
 public:
  explicit CountingSource(const ByteSource& inner) : inner_(inner) {}

  std::uint64_t size() const override { return inner_.size(); }
  std::uint64_t size_upto(std::uint64_t end) const override { return inner_.size_upto(end); }
  bool reads_ahead_freely() const override { return inner_.reads_ahead_freely(); }
  int seek_errno(std::int64_t pos) const override { return inner_.seek_errno(pos); }
  std::int64_t bridged_gap() const override { return inner_.bridged_gap(); }
  std::size_t scatter_pieces() const override { return inner_.scatter_pieces(); }

  Result<std::size_t> read_at(std::uint64_t offset, std::span<std::byte> dst) const override {
    return counted(inner_.read_at(offset, dst));
  }
  Result<std::size_t> read_scatter(std::uint64_t offset, std::span<const Piece> pieces) const override {
    return counted(inner_.read_scatter(offset, pieces));
  }

 private:
  static Result<std::size_t> counted(Result<std::size_t> got) {
    if (got) g_bytes_read.fetch_add(got.value(), std::memory_order_relaxed);
    return got;
  }

  const ByteSource& inner_;
};

}  // namespace kestrel::py
