#include "tools_native/object_source.hpp"

#include <algorithm>
#include <cstring>

#include "py/errors.hpp"

namespace kestrel::py {

namespace {

// Reads shorter than this go through the cached blocks: a field, a table.
constexpr std::size_t kSmallRead = 16 * 1024;
constexpr std::uint64_t kBlockSize = 64 * 1024;
constexpr std::size_t kBlocks = 8;
// The most one read() call is asked for: what it returns is held in memory at
// once. Each call is a request of a remote file, which costs a round trip and
// the client's own set-up: a whole map of tens of megabytes is one request.
constexpr std::size_t kReadBytes = 64 << 20;

Ref method_or_null(PyObject* object, const char* name) {
  PyObject* found = nullptr;
  if (PyObject_GetOptionalAttrString(object, name, &found) < 0) throw PyErrAlreadySet{};
  return Ref::steal(found);
}

std::uint64_t as_position(PyObject* value, const char* what) {
  const long long v = PyLong_AsLongLong(value);
  if (v == -1 && PyErr_Occurred()) throw PyErrAlreadySet{};
  if (v < 0) {
    PyErr_Format(PyExc_OSError, "%s returned a negative position (%lld)", what, v);
    throw PyErrAlreadySet{};
  }
  return static_cast<std::uint64_t>(v);
}

}  // namespace

BufferSource::BufferSource(PyObject* object) {
  check_status(PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS));
}

BufferSource::~BufferSource() { PyBuffer_Release(&view_); }

Result<std::size_t> BufferSource::read_at(std::uint64_t offset, std::span<std::byte> dst) const {
  const auto size = static_cast<std::uint64_t>(view_.len);
  if (offset >= size) return std::size_t{0};
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(dst.size(), size - offset));
  if (n != 0) std::memcpy(dst.data(), static_cast<const std::byte*>(view_.buf) + offset, n);
  return n;
}

FileObjectSource::FileObjectSource(PyObject* file) : file_(Ref::borrow(file)) {
  seek_ = method_or_null(file, "seek");
  readinto_ = method_or_null(file, "readinto");
  read_ = method_or_null(file, "read");
  if (!seek_ || (!readinto_ && !read_)) {
    PyErr_Format(PyExc_TypeError, "a file object needs seek() and readinto() or read(); %.200s has no %s",
                 Py_TYPE(file)->tp_name, seek_ ? "read()" : "seek()");
    throw PyErrAlreadySet{};
  }
  Ref end = Ref::check(PyObject_CallFunction(seek_.get(), "ii", 0, 2));
  size_ = as_position(end.get(), "seek(0, 2)");
}

template <class F>
Result<std::size_t> FileObjectSource::with_gil(F&& read) const {
  // The GIL is the lock of the cached blocks and of the file object itself.
  const bool held = PyGILState_Check() != 0;
  const PyGILState_STATE state = held ? PyGILState_UNLOCKED : PyGILState_Ensure();
  Result<std::size_t> got = pending_ ? Result<std::size_t>(Error::aborted()) : read();
  if (!got && PyErr_Occurred()) {
    // Kept until the caller holds the GIL again and asks for it: every later
    // read fails at once, so nothing runs with an error set.
    pending_ = Ref::steal(PyErr_GetRaisedException());
  }
  if (!held) PyGILState_Release(state);
  return got;
}

bool FileObjectSource::restore_error() const {
  if (!pending_) return false;
  PyErr_SetRaisedException(Ref(pending_).release());
  return true;
}

Result<std::size_t> FileObjectSource::read_locked(std::uint64_t offset, std::span<const Piece> pieces) const {
  try {
    Ref at = Ref::check(PyObject_CallFunction(seek_.get(), "K", static_cast<unsigned long long>(offset)));
    // One piece is read into place; several by read(), whose bytes are handed
    // out across them, so that a remote file sends the range in one request.
    const bool into = readinto_ && (pieces.size() == 1 || !read_);
    std::size_t total = 0;
    std::size_t index = 0;    // the piece being filled
    std::size_t done_in = 0;  // its bytes already there
    std::size_t left = 0;
    for (const Piece& piece : pieces) left += piece.size;
    while (left > 0) {
      const Piece& piece = pieces[index];
      std::size_t got = 0;
      std::size_t want = 0;
      if (into) {
        want = piece.size - done_in;
        Ref view = Ref::check(PyMemoryView_FromMemory(reinterpret_cast<char*>(piece.data + done_in),
                                                      static_cast<Py_ssize_t>(want), PyBUF_WRITE));
        Ref n = Ref::check(PyObject_CallOneArg(readinto_.get(), view.get()));
        // Nothing may keep the memory once the call returned.
        Ref released = Ref::check(PyObject_CallMethod(view.get(), "release", nullptr));
        if (n.get() == Py_None) {
          PyErr_SetString(PyExc_BlockingIOError, "readinto() returned None: the file has no data ready");
          throw PyErrAlreadySet{};
        }
        got = static_cast<std::size_t>(as_position(n.get(), "readinto()"));
        if (got > want) {
          PyErr_Format(PyExc_OSError, "readinto() reported %zu bytes where %zu were asked for", got, want);
          throw PyErrAlreadySet{};
        }
      } else {
        want = std::min(left, kReadBytes);
        Ref chunk = Ref::check(PyObject_CallFunction(read_.get(), "n", static_cast<Py_ssize_t>(want)));
        Py_buffer data{};
        check_status(PyObject_GetBuffer(chunk.get(), &data, PyBUF_SIMPLE));
        got = static_cast<std::size_t>(data.len);
        for (std::size_t copied = 0; copied < got && got <= want;) {
          const std::size_t n = std::min(got - copied, pieces[index].size - done_in);
          std::memcpy(pieces[index].data + done_in, static_cast<const std::byte*>(data.buf) + copied, n);
          copied += n;
          done_in += n;
          if (done_in == pieces[index].size && index + 1 < pieces.size()) {
            ++index;
            done_in = 0;
          }
        }
        PyBuffer_Release(&data);
        if (got > want) {
          PyErr_Format(PyExc_OSError, "read() returned %zu bytes where %zu were asked for", got, want);
          throw PyErrAlreadySet{};
        }
      }
      if (got == 0) {
        const std::uint64_t reached = offset + total;
        if (reached < size_) {
          PyErr_Format(PyExc_EOFError, "the file ended at byte %llu, before the %llu bytes it had when opened "
                       "(shortened meanwhile?)", static_cast<unsigned long long>(reached),
                       static_cast<unsigned long long>(size_));
          throw PyErrAlreadySet{};
        }
        break;
      }
      total += got;
      left -= got;
      if (into) {
        done_in += got;
        if (done_in == piece.size && index + 1 < pieces.size()) {
          ++index;
          done_in = 0;
        }
      }
    }
    return total;
  } catch (const PyErrAlreadySet&) {
    return Error::aborted();
  }
}

Result<std::size_t> FileObjectSource::read_cached(std::uint64_t offset, std::span<std::byte> dst) const {
  std::size_t done = 0;
  while (done < dst.size()) {
    const std::uint64_t at = offset + done;
    const std::uint64_t start = at / kBlockSize * kBlockSize;
    auto it = std::find_if(blocks_.begin(), blocks_.end(), [&](const Block& b) { return b.offset == start; });
    if (it == blocks_.end()) {
      Block block{start, std::vector<std::byte>(static_cast<std::size_t>(std::min(kBlockSize, size_ - start)))};
      const Piece piece{block.bytes.data(), block.bytes.size()};
      KESTREL_TRY(const std::size_t got, read_locked(start, {&piece, 1}));
      block.bytes.resize(got);
      if (blocks_.size() == kBlocks) blocks_.pop_back();
      blocks_.insert(blocks_.begin(), std::move(block));
    } else if (it != blocks_.begin()) {
      std::rotate(blocks_.begin(), it, it + 1);
    }
    const Block& block = blocks_.front();
    const std::uint64_t inside = at - block.offset;
    if (inside >= block.bytes.size()) break;
    const std::size_t n = std::min<std::size_t>(dst.size() - done, block.bytes.size() - static_cast<std::size_t>(inside));
    std::memcpy(dst.data() + done, block.bytes.data() + inside, n);
    done += n;
  }
  return done;
}

Result<std::size_t> FileObjectSource::read_at(std::uint64_t offset, std::span<std::byte> dst) const {
  if (offset >= size_) return std::size_t{0};
  dst = dst.first(static_cast<std::size_t>(std::min<std::uint64_t>(dst.size(), size_ - offset)));
  if (dst.size() < kSmallRead) return with_gil([&] { return read_cached(offset, dst); });
  const Piece piece{dst.data(), dst.size()};
  return with_gil([&] { return read_locked(offset, {&piece, 1}); });
}

Result<std::size_t> FileObjectSource::read_scatter(std::uint64_t offset, std::span<const Piece> pieces) const {
  if (offset >= size_) return std::size_t{0};
  // The pieces up to the end of the file, the last one cut there.
  std::vector<Piece> within;
  std::uint64_t left = size_ - offset;
  for (const Piece& piece : pieces) {
    if (left == 0) break;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size, left));
    within.push_back({piece.data, n});
    left -= n;
  }
  return with_gil([&] { return read_locked(offset, within); });
}

std::unique_ptr<ByteSource> object_source(PyObject* object) {
  if (PyObject_CheckBuffer(object)) return std::make_unique<BufferSource>(object);
  return std::make_unique<FileObjectSource>(object);
}

bool restore_source_error(const ByteSource& source) {
  const auto* file = dynamic_cast<const FileObjectSource*>(&source);
  return file != nullptr && file->restore_error();
}

}  // namespace kestrel::py
