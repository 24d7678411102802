// kestrel_tools._native: the companion package's private native module. It
// reads through the same core as `kestrel` and fills arrays its caller owns,
// with the GIL released; it holds no format knowledge of its own.
#include "py/arrays.hpp"
#include "py/entry.hpp"
#define KESTREL_NUMPY_IMPORT
#include "py/numpy_api.hpp"
#include "py/opened_file.hpp"
#include "tools_native/native_functions.hpp"

namespace kestrel::py {

namespace {

Ref import_attr(const char* module_name, const char* attr) {
  Ref module = Ref::check(PyImport_ImportModule(module_name));
  return attr ? Ref::check(PyObject_GetAttrString(module.get(), attr)) : module;
}

int native_exec(PyObject*) {
  PyObject* ok = call_guarded([] {
    set_struct_error(import_attr("struct", "error").get());
    set_numpy_module(import_attr("numpy", nullptr).get());
    if (PyArray_ImportNumPyAPI() < 0) throw PyErrAlreadySet{};
    set_open_function(import_attr("io", "open").get());
    return Ref::borrow(Py_None);
  });
  if (ok == nullptr) return -1;
  Py_DECREF(ok);
  return 0;
}

PyModuleDef_Slot native_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(native_exec)},
#ifdef Py_mod_multiple_interpreters
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_USED},
#endif
    {0, nullptr},
};

PyModuleDef native_def = {
    PyModuleDef_HEAD_INIT,
    "kestrel_tools._native",
    "Private: windowed and row reads for kestrel_tools. Not a public interface.",
    0,
    native_methods(),
    native_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace kestrel::py

PyMODINIT_FUNC PyInit__native(void) { return PyModuleDef_Init(&kestrel::py::native_def); }
