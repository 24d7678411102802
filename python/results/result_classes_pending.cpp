// The result classes are not built yet: nothing is bound.
#include "results/result_classes.hpp"

namespace kestrel::py {

void create_result_classes(PyObject*) {}
PyObject* result_class(ResultClass) { return nullptr; }
Ref construct_result(ResultClass, PyObject*) {
  PyErr_SetString(PyExc_NotImplementedError, "result classes are not built yet");
  throw PyErrAlreadySet{};
}

}  // namespace kestrel::py
