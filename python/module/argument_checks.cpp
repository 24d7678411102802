#include "module/argument_checks.hpp"

namespace kestrel::py {

void require_str_or_none(PyObject* value, const char* name) {
  if (value == Py_None || PyUnicode_CheckExact(value)) return;
  PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", name, "str",
               Py_TYPE(value)->tp_name);
  throw PyErrAlreadySet{};
}

}  // namespace kestrel::py
