#include "py/opened_file.hpp"

#include "base/limits.hpp"
#include "io/fd_source.hpp"
#include "py/errors.hpp"

namespace kestrel::py {

namespace {

PyObject* g_open = nullptr;  // strong, set once at module exec
PyObject* g_fileno_name = nullptr;  // interned, made on first use and kept
PyObject* g_close_name = nullptr;

PyObject* interned(PyObject*& slot, const char* name) {
  if (slot == nullptr) slot = PyUnicode_InternFromString(name);
  if (slot == nullptr) throw PyErrAlreadySet{};
  return slot;
}

// A pipe or a FIFO may keep a read waiting for as long as its writer likes:
// the wait lets the interpreter's other threads run, and a signal that comes
// meanwhile (Ctrl-C) is handled as a read of a Python file handles it. Reads
// made while the lock is already released (array fills) just read.
class InterpreterWaitHooks final : public WaitHooks {
 public:
  void wait(const std::function<void()>& blocking_read) const override {
    if (!PyGILState_Check()) {
      blocking_read();
      return;
    }
    Py_BEGIN_ALLOW_THREADS
    blocking_read();
    Py_END_ALLOW_THREADS
  }

  bool interrupted() const override {
    if (PyGILState_Check()) return PyErr_CheckSignals() != 0;
    const PyGILState_STATE state = PyGILState_Ensure();
    const bool stop = PyErr_CheckSignals() != 0;
    PyGILState_Release(state);
    return stop;
  }
};

const InterpreterWaitHooks g_wait_hooks;

}  // namespace

void set_open_function(PyObject* open) {
  Py_XINCREF(open);
  Py_XSETREF(g_open, open);
}

OpenedFile::OpenedFile(PyObject* path) {
  // open() itself, not io.FileIO: open turns a path object into its str before
  // FileIO sees it, and that str is what its errors carry.
  file_ = Ref::check(PyObject_CallFunction(g_open, "Osi", path, "rb", 0));
  try {
    Ref fileno = Ref::check(PyObject_CallMethodNoArgs(file_.get(), interned(g_fileno_name, "fileno")));
    const long fd = PyLong_AsLong(fileno.get());
    if (fd == -1 && PyErr_Occurred()) throw PyErrAlreadySet{};
    fd_ = static_cast<int>(fd);
    source_ = unwrap(source_from_fd(fd_, default_limits().max_stream_bytes, &g_wait_hooks));
  } catch (...) {
    close_quietly();
    throw;
  }
}

void OpenedFile::close_quietly() noexcept {
  if (!file_) return;
  // Leaving by an error: close without disturbing the error on its way out.
  PyObject* exc = PyErr_GetRaisedException();
  PyObject* r = PyObject_CallMethod(file_.get(), "close", nullptr);
  if (r == nullptr) PyErr_WriteUnraisable(file_.get());
  Py_XDECREF(r);
  PyErr_SetRaisedException(exc);
  file_ = Ref();
  fd_ = -1;
}

void OpenedFile::close() {
  if (!file_) return;
  Ref file = std::move(file_);
  source_.reset();
  fd_ = -1;
  Ref::check(PyObject_CallMethodNoArgs(file.get(), interned(g_close_name, "close")));
}

OpenedFile::~OpenedFile() { close_quietly(); }

}  // namespace kestrel::py
