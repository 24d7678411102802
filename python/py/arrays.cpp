#include "py/arrays.hpp"

#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "py/numpy_api.hpp"

namespace kestrel::py {

namespace {

PyObject* g_numpy = nullptr;

// Below this magnitude no step, product or sum of the native path overflows.
constexpr double kNativeLimit = 0x1p1000;

bool as_plain_number(PyObject* o, double& out) {
  if (PyFloat_CheckExact(o)) {
    out = PyFloat_AS_DOUBLE(o);
    return true;
  }
  if (PyLong_CheckExact(o)) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (overflow != 0 || (v == -1 && PyErr_Occurred())) {
      PyErr_Clear();
      return false;
    }
    // Only integers that float64 holds exactly: numpy casts them the same way.
    if (v > (1LL << 53) || v < -(1LL << 53)) return false;
    out = static_cast<double>(v);
    return true;
  }
  return false;
}

Ref empty(std::initializer_list<std::int64_t> shape, int type) {
  std::vector<npy_intp> dims(shape.begin(), shape.end());
  return Ref::check(PyArray_SimpleNew(static_cast<int>(dims.size()), dims.data(), type));
}

// arange(n) * step + start: vectorised four at a time where the processor can
// (chosen at load time); each element is the same two roundings either way.
#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__) && !defined(__clang__)  // clones need ELF ifuncs
__attribute__((target_clones("avx2", "default")))
#endif
void fill_steps(double* y, std::int32_t n, double step, double start) {
  for (std::int32_t i = 0; i < n; ++i) y[i] = static_cast<double>(i) * step + start;
}

}  // namespace

void set_numpy_module(PyObject* numpy) {
  Py_XINCREF(numpy);
  Py_XSETREF(g_numpy, numpy);
}

PyObject* numpy_module() { return g_numpy; }

Ref empty_float32(std::initializer_list<std::int64_t> shape) { return empty(shape, NPY_FLOAT32); }
Ref empty_float64(std::initializer_list<std::int64_t> shape) { return empty(shape, NPY_FLOAT64); }

Ref linspace(PyObject* start, PyObject* stop, PyObject* num) {
  double a = 0;
  double b = 0;
  long long n = -1;
  if (PyLong_CheckExact(num)) {
    int overflow = 0;
    n = PyLong_AsLongLongAndOverflow(num, &overflow);
    if (overflow != 0) n = -1;
    if (n == -1 && PyErr_Occurred()) PyErr_Clear();
  }
  // Ends that are not finite, or so large that a step or a sum could overflow,
  // are numpy's: it warns (invalid value, overflow) as it computes, and the
  // caller must see those warnings in numpy's order. Real axes never come near.
  if (n < 0 || !as_plain_number(start, a) || !as_plain_number(stop, b) || !(std::fabs(a) < kNativeLimit) ||
      !(std::fabs(b) < kNativeLimit)) {
    return Ref::check(PyObject_CallMethod(g_numpy, "linspace", "OOO", start, stop, num));
  }
  // The steps of numpy.linspace, one element at a time: arange * step + start,
  // with the denormal-step branch, and the last value set to stop. The build
  // turns floating-point contraction off: a fused multiply-add would round once
  // where numpy rounds twice.
  Ref out = empty_float64({n});
  auto* y = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
  const double delta = b - a;
  const long long div = n - 1;
  if (div > 0) {
    const double d = static_cast<double>(div);
    const double step = delta / d;
    // Indices below 2**31 convert with the vectorisable 32-bit instruction.
    if (step == 0) {
      for (long long i = 0; i < n; ++i) y[i] = (static_cast<double>(i) / d) * delta + a;
    } else if (n <= INT32_MAX) {
      fill_steps(y, static_cast<std::int32_t>(n), step, a);
    } else {
      for (long long i = 0; i < n; ++i) y[i] = static_cast<double>(i) * step + a;
    }
    y[n - 1] = b;
  } else if (n == 1) {
    y[0] = 0.0 * delta + a;
  }
  return out;
}

}  // namespace kestrel::py
