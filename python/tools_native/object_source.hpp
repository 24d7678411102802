// Sources that are Python objects rather than paths.
//
// Anything with the buffer protocol (bytes, bytearray, memoryview, a numpy
// array, an mmap) is read in place: the buffer is held for the source's
// lifetime, and no byte is copied but into the result.
//
// A binary file object (seek, and readinto or read) is read range by range:
// each range the reader asks for becomes one seek and as many readinto (or,
// for a range that fills several places, read) calls as the object needs to
// deliver it, so a window of a remote file fetches about the window's bytes. Reads made without the GIL take it only around
// those calls. Field-sized reads (the directory, parameter blocks, tables) go
// through a few cached blocks, so planning makes a handful of calls, not one
// per field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "io/byte_source.hpp"
#include "py/ref.hpp"

namespace kestrel::py {

class BufferSource final : public ByteSource {
 public:
  // Holds object's buffer (C-contiguous); raises BufferError/TypeError as
  // memoryview(object) would. Must be destroyed with the GIL held.
  explicit BufferSource(PyObject* object);
  ~BufferSource() override;
  BufferSource(const BufferSource&) = delete;
  BufferSource& operator=(const BufferSource&) = delete;

  std::uint64_t size() const override { return static_cast<std::uint64_t>(view_.len); }
  Result<std::size_t> read_at(std::uint64_t offset, std::span<std::byte> dst) const override;

 private:
  Py_buffer view_{};
};

class FileObjectSource final : public ByteSource {
 public:
  // Takes the object's size from seek(0, 2). Raises TypeError for an object
  // without seek and read, and what seek raises. Destroy with the GIL held.
  explicit FileObjectSource(PyObject* file);

  std::uint64_t size() const override { return size_; }
  Result<std::size_t> read_at(std::uint64_t offset, std::span<std::byte> dst) const override;
  // Records a few info areas apart are one request; farther apart, two.
  std::int64_t bridged_gap() const override { return 4096; }
  // Scattered reads gather many records: fewer requests.
  std::size_t scatter_pieces() const override { return 1 << 16; }
  // Consecutive pieces are one range: one seek and one read() for all of them.
  Result<std::size_t> read_scatter(std::uint64_t offset, std::span<const Piece> pieces) const override;

  // A read that failed without the GIL keeps the Python exception here
  // (Error::aborted went to the reader); sets it again and returns true, with
  // the GIL held. False when no read failed so.
  bool restore_error() const;

 private:
  struct Block {
    std::uint64_t offset = 0;
    std::vector<std::byte> bytes;
  };
  // With the GIL held: fills dst from offset completely, or to the end of the
  // file; a file that ends before its size, or a call that raises, fails.
  Result<std::size_t> read_locked(std::uint64_t offset, std::span<const Piece> pieces) const;
  Result<std::size_t> read_cached(std::uint64_t offset, std::span<std::byte> dst) const;
  template <class F>
  Result<std::size_t> with_gil(F&& read) const;

  Ref file_;
  Ref readinto_;  // bound method, or null: read() is used
  Ref read_;
  Ref seek_;
  std::uint64_t size_ = 0;
  // Touched with the GIL held only (every read takes it).
  mutable std::vector<Block> blocks_;  // most recently used first
  mutable Ref pending_;
};

// The source for an object that is no path: a buffer or a file object.
// Raises TypeError naming what is missing for anything else.
std::unique_ptr<ByteSource> object_source(PyObject* object);

// restore_error() of source when it is a FileObjectSource; false otherwise.
bool restore_source_error(const ByteSource& source);

}  // namespace kestrel::py
