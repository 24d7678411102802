// A file read through its descriptor with pread/preadv. The descriptor is
// borrowed: whoever opened it closes it.
#pragma once

#include <memory>

#include "io/byte_source.hpp"

namespace kestrel {

class FdSource final : public ByteSource {
 public:
  // size is the file's length when the call began (fstat).
  FdSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

  std::uint64_t size() const override { return size_; }
  Result<std::size_t> read_at(std::uint64_t offset, std::span<std::byte> dst) const override;
  Result<std::size_t> read_scatter(std::uint64_t offset, std::span<const Piece> pieces) const override;
  int seek_errno(std::int64_t pos) const override;

 private:
  int fd_;
  std::uint64_t size_;
};

// Opens the descriptor as a source: a regular file directly; anything else
// (a pipe, a character device) is read whole into memory first, up to max_bytes.
Result<std::unique_ptr<ByteSource>> source_from_fd(int fd, std::int64_t max_bytes);

}  // namespace kestrel
