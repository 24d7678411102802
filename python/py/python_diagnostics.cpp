#include "py/python_diagnostics.hpp"

#include <string>

#include "py/errors.hpp"

namespace kestrel::py {

bool PythonDiagnostics::runtime_warning(std::string_view message) {
  return PyErr_WarnEx(PyExc_RuntimeWarning, std::string(message).c_str(), 1) == 0;
}

bool PythonDiagnostics::print_line(std::string_view line) {
  PyObject* builtins = PyImport_ImportModule("builtins");
  if (builtins == nullptr) return false;
  PyObject* print = PyObject_GetAttrString(builtins, "print");
  Py_DECREF(builtins);
  if (print == nullptr) return false;
  PyObject* text = PyUnicode_DecodeUTF8(line.data(), static_cast<Py_ssize_t>(line.size()), "surrogatepass");
  PyObject* result = text ? PyObject_CallOneArg(print, text) : nullptr;
  Py_XDECREF(text);
  Py_DECREF(print);
  Py_XDECREF(result);
  return result != nullptr;
}

}  // namespace kestrel::py
