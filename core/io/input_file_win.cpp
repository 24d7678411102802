// Windows: _wopen and the file information of the descriptor's handle.
#ifdef _WIN32

#include <fcntl.h>

#include <cerrno>
#include <string>

#include "io/fd_source.hpp"
#include "io/input_file.hpp"
#include "io/windows_headers.hpp"

namespace kestrel {

namespace {

// FILETIME counts 100 ns steps from 1601; identities count ns from 1970.
constexpr std::int64_t kEpochDifference = 116'444'736'000'000'000;

std::int64_t ns_of(std::int64_t filetime) { return (filetime - kEpochDifference) * 100; }

std::int64_t ns_of(const FILETIME& t) {
  return ns_of(static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime));
}

// UTF-8 to the UTF-16 of the wide file calls; nothing when the text is not UTF-8.
std::optional<std::wstring> widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

}  // namespace

std::optional<FileIdentity> regular_file_identity(int fd) {
  if (fd < 0) return std::nullopt;
  const intptr_t raw = ::_get_osfhandle(fd);
  if (raw == -1) return std::nullopt;
  const HANDLE h = reinterpret_cast<HANDLE>(raw);
  if (::GetFileType(h) != FILE_TYPE_DISK) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  FileIdentity id;
  id.device = info.dwVolumeSerialNumber;
  id.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  id.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  id.mtime_ns = ns_of(info.ftLastWriteTime);
  // The change time (metadata or data), where the file system keeps one.
  FILE_BASIC_INFO basic{};
  id.ctime_ns = ::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)
                    ? ns_of(static_cast<std::int64_t>(basic.ChangeTime.QuadPart))
                    : id.mtime_ns;
  return id;
}

Result<InputFile> InputFile::open(const std::string& path) {
  const std::optional<std::wstring> wide = widen(path);
  if (!wide) return Error::io(EINVAL);
  const int fd = ::_wopen(wide->c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) return Error::io(errno);  // a directory gives EACCES, as it does to any reader
  return InputFile(fd);
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::_close(fd_);
}

Result<std::unique_ptr<ByteSource>> InputFile::source(std::int64_t max_bytes) const {
  return source_from_fd(fd_, max_bytes);
}

}  // namespace kestrel

#endif  // _WIN32
