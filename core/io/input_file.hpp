// Files opened by name for reading, and what tells one file (or one version of
// a file) from another. POSIX in input_file_posix.cpp, Windows in
// input_file_win.cpp; the build compiles one or the other.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/result.hpp"
#include "io/byte_source.hpp"

namespace kestrel {

// A regular file as it is on disk now: the device and file number name the
// file, its size and times (ns since 1970 UTC) tell a rewrite from the
// version seen before. The change time moves on every rewrite, also one that
// sets the modification time back.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t mtime_ns = 0;
  std::int64_t ctime_ns = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file open as descriptor fd (a C runtime descriptor on
// Windows) when it is a regular file; nothing for a pipe, a device, or a
// descriptor that cannot be examined.
std::optional<FileIdentity> regular_file_identity(int fd);

// A file opened for reading by its name, closed with the object. Opening never
// waits: a FIFO without a writer opens at once (and reads as empty). A
// directory is refused with the errno a reader of it gets (EISDIR on POSIX,
// EACCES on Windows).
class InputFile {
 public:
  // path: the file system's encoding (UTF-8 on Windows). Errors carry the errno
  // (Error::io), so the caller can report it with the file's name.
  static Result<InputFile> open(const std::string& path);

  InputFile(InputFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  InputFile& operator=(InputFile&&) = delete;
  InputFile(const InputFile&) = delete;
  ~InputFile();

  int fd() const { return fd_; }
  std::optional<FileIdentity> identity() const { return regular_file_identity(fd_); }
  // A source over the open file (borrowing it: the source must not outlive this object).
  Result<std::unique_ptr<ByteSource>> source(std::int64_t max_bytes) const;

 private:
  explicit InputFile(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace kestrel
