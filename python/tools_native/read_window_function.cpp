// read_window(source, block, window, out, identity=None): one window of a block's main array
// into the caller's float32 array, without the GIL.
#include <vector>

#include "py/errors.hpp"
#include "py/numpy_api.hpp"
#include "py/plan_steps.hpp"
#include "tools_native/arguments.hpp"
#include "tools_native/native_functions.hpp"
#include "tools_native/planned_read.hpp"

namespace kestrel::py {

namespace {

[[noreturn]] void refuse(PyObject* type, const char* message) {
  PyErr_SetString(type, message);
  throw PyErrAlreadySet{};
}

std::int64_t as_index(PyObject* o) {
  Ref n = Ref::check(PyNumber_Index(o));
  const long long v = PyLong_AsLongLong(n.get());
  if (v == -1 && PyErr_Occurred()) throw PyErrAlreadySet{};
  return v;
}

// One axis of the window: a (start, stop) pair.
AxisRange axis_range(PyObject* item) {
  Ref pair = Ref::check(PySequence_Fast(item, "each window entry must be a (start, stop) pair"));
  if (PySequence_Fast_GET_SIZE(pair.get()) != 2) refuse(PyExc_ValueError, "each window entry must be a (start, stop) pair");
  return {as_index(PySequence_Fast_GET_ITEM(pair.get(), 0)), as_index(PySequence_Fast_GET_ITEM(pair.get(), 1))};
}

}  // namespace

Ref native_read_window(PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"source", "block", "window", "out", "identity", nullptr};
  BlockArguments call;
  PyObject* window_arg = nullptr;
  PyObject* out = nullptr;
  call.parse(args, kwargs, "OOOO|O:read_window", names, &window_arg, &out, &call.identity);
  if (!PyArray_Check(out)) refuse(PyExc_TypeError, "out must be a numpy array");
  auto* array = reinterpret_cast<PyArrayObject*>(out);
  if (PyArray_TYPE(array) != NPY_FLOAT32 || !PyArray_IS_C_CONTIGUOUS(array) || !PyArray_ISWRITEABLE(array) ||
      !PyArray_ISALIGNED(array) || PyArray_ISBYTESWAPPED(array)) {
    refuse(PyExc_ValueError, "out must be a writeable, aligned, C-contiguous float32 array");
  }

  PlannedRead read;
  call.plan(read);
  const BlockPlan& plan = *read.plan;

  Ref entries = Ref::check(PySequence_Fast(window_arg, "window must be a sequence with one entry per axis"));
  if (PySequence_Fast_GET_SIZE(entries.get()) != plan.ndim) {
    PyErr_Format(PyExc_ValueError, "window needs %d entries, one per axis of the block's shape", plan.ndim);
    throw PyErrAlreadySet{};
  }
  Window w;
  Ref rows_array;
  std::vector<std::int64_t> no_rows;
  for (int i = 0; i < plan.ndim; ++i) {
    PyObject* entry = PySequence_Fast_GET_ITEM(entries.get(), i);
    const bool regions = plan.kind == BlockKind::multi_region || plan.kind == BlockKind::multi_region_trace;
    if (i == 0 && regions && PyArray_Check(entry)) {
      // Stacked rows by index, in the given order.
      rows_array = Ref::check(PyArray_FROMANY(entry, NPY_INT64, 1, 1, NPY_ARRAY_IN_ARRAY));
      auto* rows = reinterpret_cast<PyArrayObject*>(rows_array.get());
      w.rows = std::span<const std::int64_t>(static_cast<const std::int64_t*>(PyArray_DATA(rows)),
                                             static_cast<std::size_t>(PyArray_DIM(rows, 0)));
      continue;
    }
    w.ranges[static_cast<std::size_t>(i)] = axis_range(entry);
  }
  unwrap(check_window(plan, w));

  std::int64_t count = w.row_count();
  bool shape_ok = PyArray_NDIM(array) == plan.ndim && PyArray_DIM(array, 0) == count;
  for (int i = 1; i < plan.ndim && shape_ok; ++i) {
    const std::int64_t extent = w.ranges[static_cast<std::size_t>(i)].size();
    shape_ok = PyArray_DIM(array, i) == extent;
    count *= extent;
  }
  if (!shape_ok) refuse(PyExc_ValueError, "out must have the window's shape");

  if (const PlanFailure* failure = window_failure(plan, w)) {
    raise_plan_failure(plan, *failure, read.objects.parameters.get());
  }
  // `out` stays referenced by the caller's arguments while the GIL is released.
  read.fill(w, {static_cast<float*>(PyArray_DATA(array)), false, nullptr});
  read.close();
  return Ref::borrow(Py_None);
}

}  // namespace kestrel::py
