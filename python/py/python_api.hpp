// The one way the binding includes the CPython headers.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// The binding is written against CPython 3.13 and also builds on 3.11 and 3.12:
// the few newer names it uses are supplied here from older equivalents.
#if PY_VERSION_HEX < 0x030C0000
#include <structmember.h>  // PyMemberDef; 3.12 has it in Python.h

// Member types and flags under their 3.12 names (the values are part of the stable ABI).
#define Py_T_OBJECT_EX 16
#define Py_T_PYSSIZET 19
#define Py_READONLY 1

// The raised exception as one object: fetched normalized, with its traceback attached.
inline PyObject* PyErr_GetRaisedException() {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return nullptr;
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  return value;
}

// Steals exc; nullptr clears the error indicator.
inline void PyErr_SetRaisedException(PyObject* exc) {
  if (exc == nullptr) {
    PyErr_Clear();
    return;
  }
  PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc))), exc, PyException_GetTraceback(exc));
}
#endif

#if PY_VERSION_HEX < 0x030D0000
// An attribute that may be missing: 1 and a new reference when found, 0 and
// nullptr when missing (the AttributeError cleared), -1 on any other error.
inline int PyObject_GetOptionalAttrString(PyObject* obj, const char* name, PyObject** result) {
  *result = PyObject_GetAttrString(obj, name);
  if (*result != nullptr) return 1;
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
  PyErr_Clear();
  return 0;
}
#endif
