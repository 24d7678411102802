// POSIX: open(2) and fstat(2).
#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "io/fd_source.hpp"
#include "io/input_file.hpp"

namespace kestrel {

namespace {

std::int64_t ns_of(const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

}  // namespace

std::optional<FileIdentity> regular_file_identity(int fd) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  FileIdentity id;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.inode = static_cast<std::uint64_t>(st.st_ino);
  id.size = static_cast<std::int64_t>(st.st_size);
#ifdef __APPLE__
  id.mtime_ns = ns_of(st.st_mtimespec);
  id.ctime_ns = ns_of(st.st_ctimespec);
#else
  id.mtime_ns = ns_of(st.st_mtim);
  id.ctime_ns = ns_of(st.st_ctim);
#endif
  return id;
}

Result<InputFile> InputFile::open(const std::string& path) {
  // O_NONBLOCK: opening a FIFO without a writer must not wait.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Error::io(errno);
  InputFile file(fd);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) return Error::io(EISDIR);
  return file;
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

Result<std::unique_ptr<ByteSource>> InputFile::source(std::int64_t max_bytes) const {
  return source_from_fd(fd_, max_bytes);
}

}  // namespace kestrel

#endif  // !_WIN32
