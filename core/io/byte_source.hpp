// A random-access source of bytes with no position of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/result.hpp"

namespace kestrel {

// One destination run of a scattered read.
struct Piece {
  std::byte* data;
  std::size_t size;
};

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t size() const = 0;
  // min(size(), end): the end of the bytes that lie before `end`. A stream is
  // read only that far, where size() would read it to its end.
  virtual std::uint64_t size_upto(std::uint64_t end) const;
  // Whether reading more than was asked only costs time. A pipe may wait for
  // bytes no one asked for, so reads from it ask for what is needed alone.
  virtual bool reads_ahead_freely() const { return true; }
  // The longest stretch of unwanted bytes between two wanted ranges that a
  // scattered read should fetch rather than skip: for a local file a read is
  // cheaper than a second one; a remote file counts every byte it sends.
  virtual std::int64_t bridged_gap() const { return 64 * 1024; }
  // How many pieces one scattered read should take at most.
  virtual std::size_t scatter_pieces() const { return 1024; }
  // Copies up to dst.size() bytes from offset; returns how many (0 at or past the end).
  virtual Result<std::size_t> read_at(std::uint64_t offset, std::span<std::byte> dst) const = 0;
  // Fills the pieces one after another from consecutive bytes at offset; returns how
  // many bytes arrived in all (fewer at the end of the source).
  virtual Result<std::size_t> read_scatter(std::uint64_t offset, std::span<const Piece> pieces) const;
  // The errno that moving a file position to pos (>= 0) gives, or 0 when it is allowed.
  virtual int seek_errno(std::int64_t pos) const;
};

}  // namespace kestrel
