// The 2D reader: one spectrum, its values read straight into the returned array.
#include "extract/extract_context.hpp"
#include "py/arrays.hpp"
#include "py/errors.hpp"
#include "py/gil.hpp"
#include "py/numpy_api.hpp"
#include "results/result_classes.hpp"

namespace kestrel::py {

Ref read_single_spectrum(ExtractContext& context) {
  // linspace accepted NPT, so it is an int.
  const long long npt = PyLong_AsLongLong(context.npt.get());
  if (npt == -1 && PyErr_Occurred()) throw PyErrAlreadySet{};
  Cursor& cursor = context.cursor;
  unwrap(cursor.seek(context.block.offsets.data));
  // A block cut short by the end of the file yields fewer values, without an error.
  const std::int64_t count = cursor.floats_available(npt);
  Ref ordinate = empty_float32({count});
  auto* values = static_cast<float*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(ordinate.get())));
  Result<std::int64_t> read = std::int64_t{0};
  {
    // The array is private to this call until it is returned: nothing observable
    // changes while other threads run.
    GilRelease unlocked;
    read = cursor.read_floats(values, npt);
  }
  unwrap(std::move(read));

  Ref kwargs = context.common_keywords();
  check_status(PyDict_SetItemString(kwargs.get(), "y", ordinate.get()));
  return construct_result(ResultClass::SingleDataReturn, kwargs.get());
}

}  // namespace kestrel::py
