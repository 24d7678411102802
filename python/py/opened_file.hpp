// One open of a path per public call: open(path, "rb", buffering=0) gives every
// error and every accepted path type exactly as open(path, "rb") would (a path
// object is reported as the str it stands for); the bytes are then read natively
// through the descriptor. The file is closed on every way out.
#pragma once

#include <memory>
#include <optional>

#include "io/byte_source.hpp"
#include "io/input_file.hpp"
#include "py/ref.hpp"

namespace kestrel::py {

class OpenedFile {
 public:
  explicit OpenedFile(PyObject* path);  // throws PyErrAlreadySet when open fails
  ~OpenedFile();                        // closes quietly if close() was not reached
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;

  const ByteSource& source() const { return *source_; }
  // The opened file's identity now, when it is a regular file (nothing for a
  // pipe or a device, or once closed).
  std::optional<FileIdentity> identity() const { return regular_file_identity(fd_); }
  // Closes the file; an error of close() propagates.
  void close();

 private:
  void close_quietly() noexcept;

  Ref file_;
  int fd_ = -1;
  std::unique_ptr<ByteSource> source_;
};

// io.open (the builtin open), looked up once at module exec.
void set_open_function(PyObject* open);

}  // namespace kestrel::py
