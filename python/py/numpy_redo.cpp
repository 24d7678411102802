#include "py/numpy_redo.hpp"

#include "py/arrays.hpp"
#include "py/errors.hpp"

namespace kestrel::py {

namespace {

Ref index_object(std::int64_t i) { return Ref::check(PyLong_FromLongLong(i)); }

Ref empty_values(std::int64_t n) { return empty_float32({n}); }

// A read-only array of the shape without storage behind it: indexing it fails
// exactly as indexing the result would.
Ref shaped(const RedoShape& shape) {
  Ref dims = Ref::check(PyTuple_New(shape.ndim));
  for (int i = 0; i < shape.ndim; ++i) {
    PyTuple_SET_ITEM(dims.get(), i, index_object(shape.cube[static_cast<std::size_t>(i)]).release());
  }
  Ref zero = Ref::check(PyObject_CallMethod(numpy_module(), "float32", "i", 0));
  return Ref::check(PyObject_CallMethod(numpy_module(), "broadcast_to", "OO", zero.get(), dims.get()));
}

// row[:] = values, for a row of the result's length.
void assign_row(std::int64_t row_length, std::int64_t values) {
  Ref row = empty_values(row_length);
  Ref all = Ref::check(PySlice_New(nullptr, nullptr, nullptr));
  check_status(PyObject_SetItem(row.get(), all.get(), empty_values(values).get()));
}

}  // namespace

void raise_step_succeeded() {
  if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "kestrel: a failing step succeeded");
  throw PyErrAlreadySet{};
}

void raise_numpy_failure(const NumpyFailure& failure, const RedoShape& shape) {
  using Step = NumpyFailure::Step;
  switch (failure.step) {
    case Step::index_row:
      Ref::check(PyObject_GetItem(shaped(shape).get(), index_object(failure.row).get()));
      break;
    case Step::assign_row:
    case Step::assign_point:
      assign_row(shape.row_length, failure.values);
      break;
    case Step::reshape: {
      Ref target = Ref::check(PyTuple_Pack(2, shape.rows, shape.columns));
      Ref::check(PyObject_CallMethod(empty_values(failure.values).get(), "reshape", "O", target.get()));
      break;
    }
    case Step::index_point: {
      Ref key = Ref::check(Py_BuildValue("(OL)", Py_Ellipsis, static_cast<long long>(failure.record)));
      Ref::check(PyObject_GetItem(shaped(shape).get(), key.get()));
      break;
    }
    case Step::stack_mismatch: {
      // The rows before the mismatch all look like row 0.
      Ref first = empty_values(failure.first_values);
      Ref odd = empty_values(failure.values);
      Ref rows = Ref::check(PyList_New(static_cast<Py_ssize_t>(failure.record + 1)));
      for (Py_ssize_t i = 0; i <= failure.record; ++i) {
        PyObject* item = i == failure.record ? odd.get() : first.get();
        PyList_SET_ITEM(rows.get(), i, Py_NewRef(item));
      }
      Ref::check(PyObject_CallMethod(numpy_module(), shape.stack, "O", rows.get()));
      break;
    }
    case Step::stack_empty: {
      Ref rows = Ref::check(PyList_New(0));
      Ref::check(PyObject_CallMethod(numpy_module(), shape.stack, "O", rows.get()));
      break;
    }
  }
  raise_step_succeeded();
}

}  // namespace kestrel::py
