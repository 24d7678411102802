// Files read through their descriptor. The descriptor is borrowed: whoever
// opened it closes it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "io/byte_source.hpp"

namespace kestrel {

// A regular file, read with pread/preadv.
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

// How a read that may wait (a pipe whose writer has not written yet) behaves
// toward whoever embeds the core: the wait runs inside wait(), which an
// interpreter uses to let its other threads run meanwhile; after a read that a
// signal interrupted, interrupted() says whether to give up (the embedder then
// holds the reason, and the read fails with Error::aborted()).
class WaitHooks {
 public:
  virtual ~WaitHooks() = default;
  virtual void wait(const std::function<void()>& blocking_read) const = 0;
  virtual bool interrupted() const = 0;
};

// A pipe, a FIFO or a character device: read forward with read(2), on demand,
// only as far as a reader has asked, the way a buffered file reads it. What was
// read is kept, so a reader may go back over it; the end is known once read(2)
// reports it. A read error, or a stream longer than max_bytes, fails the read
// that needed the bytes and every later one.
class StreamSource final : public ByteSource {
 public:
  StreamSource(int fd, std::int64_t max_bytes, const WaitHooks* hooks)
      : fd_(fd), max_bytes_(max_bytes), hooks_(hooks) {}

  std::uint64_t size() const override;
  std::uint64_t size_upto(std::uint64_t end) const override;
  Result<std::size_t> read_at(std::uint64_t offset, std::span<std::byte> dst) const override;
  bool reads_ahead_freely() const override { return false; }

 private:
  // Reads until `end` bytes are held or the stream ends; false once it failed.
  bool fill_to(std::uint64_t end) const;
  bool read_chunk() const;

  int fd_;
  std::int64_t max_bytes_;
  const WaitHooks* hooks_;
  mutable std::mutex mutex_;
  mutable std::vector<std::byte> held_;
  mutable bool at_end_ = false;
  mutable std::optional<Error> failure_;
};

// The source for an open descriptor: a regular file is read in place, anything
// else as a stream. hooks may be null (nothing to release while waiting).
Result<std::unique_ptr<ByteSource>> source_from_fd(int fd, std::int64_t max_bytes, const WaitHooks* hooks = nullptr);

}  // namespace kestrel
