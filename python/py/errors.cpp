#include "py/errors.hpp"

#include <cstring>

#include <cerrno>
#include <string>

namespace kestrel::py {

namespace {
PyObject* g_struct_error = nullptr;  // strong, set once at module exec

void set_message(PyObject* type, const std::string& text) {
  PyObject* message = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass");
  if (message == nullptr) return;
  PyErr_SetObject(type, message);
  Py_DECREF(message);
}
}  // namespace

void set_struct_error(PyObject* type) {
  Py_XINCREF(type);
  Py_XSETREF(g_struct_error, type);
}

Ref text_to_str(std::string_view text) {
  // Keys and most values are ASCII: copied straight into a new str, without
  // the decoder's set-up (the same str the decoder would make).
  bool ascii = true;
  for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) {
    Ref str = Ref::check(PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127));
    if (!text.empty()) std::memcpy(PyUnicode_DATA(str.get()), text.data(), text.size());
    return str;
  }
  return Ref::check(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass"));
}

void raise_core_error(const Error& error) {
  switch (error.kind) {
    case ErrorKind::truncated:
      PyErr_Format(g_struct_error ? g_struct_error : PyExc_RuntimeError,
                   "unpack requires a buffer of %lld bytes", static_cast<long long>(error.number));
      return;
    case ErrorKind::missing_key: {
      PyObject* key = PyUnicode_DecodeUTF8(error.text.data(), static_cast<Py_ssize_t>(error.text.size()),
                                           "surrogatepass");
      if (key == nullptr) return;
      PyErr_SetObject(PyExc_KeyError, key);
      Py_DECREF(key);
      return;
    }
    case ErrorKind::bad_param_type:
      PyErr_Format(PyExc_ValueError, "Unexpected value for reading parameter type: %lld",
                   static_cast<long long>(error.number));
      return;
    case ErrorKind::value_error:
      set_message(PyExc_ValueError, error.text);
      return;
    case ErrorKind::index_error:
      set_message(PyExc_IndexError, error.text);
      return;
    case ErrorKind::type_error:
      set_message(PyExc_TypeError, error.text);
      return;
    case ErrorKind::zero_division:
      set_message(PyExc_ZeroDivisionError, error.text);
      return;
    case ErrorKind::attribute_error:
      set_message(PyExc_AttributeError, error.text);
      return;
    case ErrorKind::bad_utf8: {
      // Let Python's own decoder say what is wrong with the bytes.
      PyObject* s = PyUnicode_DecodeUTF8(error.text.data(), static_cast<Py_ssize_t>(error.text.size()), "strict");
      if (s == nullptr) return;
      Py_DECREF(s);
      PyErr_SetString(PyExc_SystemError, "kestrel: text reported as undecodable decoded cleanly");
      return;
    }
    case ErrorKind::bad_seek:
    case ErrorKind::io_error:
      errno = static_cast<int>(error.number);
      PyErr_SetFromErrno(PyExc_OSError);
      return;
    case ErrorKind::offset_overflow:
      PyErr_SetString(PyExc_ValueError, "cannot fit 'int' into an offset-sized integer");
      return;
    case ErrorKind::too_large:
      set_message(PyExc_MemoryError, error.text);
      return;
    case ErrorKind::numpy_redo:
      PyErr_SetString(PyExc_SystemError, "kestrel: a numpy step was not repeated");
      return;
    case ErrorKind::aborted:
      if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "kestrel: a callback failed without an error");
      return;
  }
}

}  // namespace kestrel::py
