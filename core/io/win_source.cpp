// Windows file access. The rest of the core reads through ByteSource only, so
// core/io is the one place that knows the platform: this file and
// input_file_win.cpp on Windows, fd_source.cpp and input_file_posix.cpp
// elsewhere; the build compiles one pair or the other.
#ifdef _WIN32

#include "io/win_source.hpp"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "io/fd_source.hpp"
#include "io/memory_source.hpp"
#include "io/windows_headers.hpp"

namespace kestrel {

namespace {

// ReadFile counts in DWORD; larger requests go in slices.
constexpr std::uint64_t kMaxSlice = std::uint64_t{1} << 30;

}  // namespace

int errno_from_windows_error(unsigned long code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NEGATIVE_SEEK:
      return EINVAL;
    default:
      return EIO;
  }
}

Result<std::size_t> HandleSource::read_at(std::uint64_t offset, std::span<std::byte> dst) const {
  std::size_t total = 0;
  while (total < dst.size() && offset + total < size_) {
    const std::uint64_t at = offset + total;
    const auto want = static_cast<DWORD>(std::min<std::uint64_t>({dst.size() - total, size_ - at, kMaxSlice}));
    // The offset travels in the OVERLAPPED structure, so no shared file position is
    // consulted. On a handle opened for synchronous I/O the call still moves the
    // handle's position; every read of the core names its offset, so nothing relies on it.
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (!::ReadFile(static_cast<HANDLE>(handle_), dst.data() + total, want, &got, &where)) {
      const DWORD code = ::GetLastError();
      if (code == ERROR_HANDLE_EOF) break;  // the file shrank under us
      return Error::io(errno_from_windows_error(code));
    }
    if (got == 0) break;
    total += got;
  }
  return total;
}

Result<std::unique_ptr<ByteSource>> source_from_handle(void* handle, std::int64_t max_bytes) {
  const HANDLE h = static_cast<HANDLE>(handle);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return Error::io(EBADF);
  if (::GetFileType(h) == FILE_TYPE_DISK) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h, &size)) return Error::io(errno_from_windows_error(::GetLastError()));
    return std::unique_ptr<ByteSource>(std::make_unique<HandleSource>(handle, static_cast<std::uint64_t>(size.QuadPart)));
  }
  std::vector<std::byte> all;
  std::vector<std::byte> chunk(65536);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(h, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr)) {
      const DWORD code = ::GetLastError();
      if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) break;  // the writer is done
      return Error::io(errno_from_windows_error(code));
    }
    if (got == 0) break;
    if (static_cast<std::int64_t>(all.size()) + static_cast<std::int64_t>(got) > max_bytes) {
      return Error::too_large("the stream is longer than the reader holds in memory");
    }
    all.insert(all.end(), chunk.begin(), chunk.begin() + got);
  }
  return std::unique_ptr<ByteSource>(std::make_unique<MemorySource>(std::move(all)));
}

// The binding opens files through the C runtime and hands over the descriptor;
// on Windows the descriptor stands for a handle, which is what is read. A pipe
// is read whole here, so the whole read runs inside the embedder's wait (an
// interpreter lets its other threads run meanwhile).
Result<std::unique_ptr<ByteSource>> source_from_fd(int fd, std::int64_t max_bytes, const WaitHooks* hooks) {
  const intptr_t handle = ::_get_osfhandle(fd);
  if (handle == -1) return Error::io(EBADF);
  if (hooks == nullptr) return source_from_handle(reinterpret_cast<void*>(handle), max_bytes);
  std::optional<Result<std::unique_ptr<ByteSource>>> opened;
  hooks->wait([&] { opened.emplace(source_from_handle(reinterpret_cast<void*>(handle), max_bytes)); });
  if (hooks->interrupted()) return Error::aborted();
  return std::move(*opened);
}

}  // namespace kestrel

#endif  // _WIN32
