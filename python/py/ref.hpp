// Ref owns one strong reference, or none.
#pragma once

#include <utility>

#include "py/python_api.hpp"

namespace kestrel::py {

// Thrown inside the binding when a Python error is already set; the entry
// wrapper turns it into a NULL return.
struct PyErrAlreadySet {};

class Ref {
 public:
  Ref() = default;
  static Ref steal(PyObject* p) { return Ref(p); }
  static Ref borrow(PyObject* p) {
    Py_XINCREF(p);
    return Ref(p);
  }
  // A new reference from the C API; NULL means the call failed with an error set.
  static Ref check(PyObject* p) {
    if (p == nullptr) throw PyErrAlreadySet{};
    return Ref(p);
  }

  Ref(const Ref& other) : p_(other.p_) { Py_XINCREF(p_); }
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  PyObject* release() { return std::exchange(p_, nullptr); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  explicit Ref(PyObject* p) : p_(p) {}
  PyObject* p_ = nullptr;
};

// Throws PyErrAlreadySet when a C API call reported failure (-1).
inline void check_status(int status) {
  if (status < 0) throw PyErrAlreadySet{};
}

}  // namespace kestrel::py
