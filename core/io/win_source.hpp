// A file read through a Windows handle with positioned ReadFile calls (an
// OVERLAPPED structure carries the offset), the Windows twin of FdSource. The
// handle is borrowed: whoever opened it closes it.
#pragma once

#include <memory>

#include "io/byte_source.hpp"

namespace kestrel {

#ifdef _WIN32

class HandleSource final : public ByteSource {
 public:
  // handle is a HANDLE (kept as void* so callers need not see <windows.h>);
  // size is the file's length when the call began.
  HandleSource(void* handle, std::uint64_t size) : handle_(handle), size_(size) {}

  std::uint64_t size() const override { return size_; }
  Result<std::size_t> read_at(std::uint64_t offset, std::span<std::byte> dst) const override;

 private:
  void* handle_;
  std::uint64_t size_;
};

// Opens the handle as a source: a disk file directly; anything else (a pipe, a
// console) is read whole into memory first, up to max_bytes.
Result<std::unique_ptr<ByteSource>> source_from_handle(void* handle, std::int64_t max_bytes);

// The errno closest to a Windows error code, for the OSError the binding raises.
int errno_from_windows_error(unsigned long code);

#endif  // _WIN32

}  // namespace kestrel
