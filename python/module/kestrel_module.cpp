// The module's entry point: multi-phase initialisation with a create step that
// keeps the module to one interpreter and one object per process, and an exec
// step that binds the attributes in their fixed order.
#include <atomic>

#include "module/function_type.hpp"
#include "module/public_functions.hpp"
#include "py/arrays.hpp"
#include "py/entry.hpp"
#define KESTREL_NUMPY_IMPORT
#include "py/numpy_api.hpp"
#include "py/opened_file.hpp"
#include "results/result_classes.hpp"

namespace kestrel::py {

namespace {

std::atomic<std::int64_t> g_main_interpreter{-1};
PyObject* g_module = nullptr;  // strong once exec succeeded: the module of this process

PyObject* module_create(PyObject* spec, PyModuleDef*) {
  const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (current == -1) return nullptr;
  std::int64_t expected = -1;
  if (!g_main_interpreter.compare_exchange_strong(expected, current) && expected != current) {
    PyErr_SetString(PyExc_ImportError,
                    "Interpreter change detected - this module can only be loaded into one interpreter per process.");
    return nullptr;
  }
  if (g_module != nullptr) return Py_NewRef(g_module);
  PyObject* name = PyObject_GetAttrString(spec, "name");
  if (name == nullptr) return nullptr;
  PyObject* module = PyModule_NewObject(name);
  Py_DECREF(name);
  return module;
}

void bind(PyObject* module, const char* name, Ref value) {
  check_status(PyModule_AddObjectRef(module, name, value.get()));
}

Ref import_attr(const char* module_name, const char* attr) {
  Ref module = Ref::check(PyImport_ImportModule(module_name));
  return attr ? Ref::check(PyObject_GetAttrString(module.get(), attr)) : module;
}

void exec_steps(PyObject* module) {
  bind(module, "warnings", import_attr("warnings", nullptr));
  bind(module, "dataclass", import_attr("dataclasses", "dataclass"));
  bind(module, "unpack", import_attr("struct", "unpack"));
  Ref struct_error = import_attr("struct", "error");
  set_struct_error(struct_error.get());
  bind(module, "struct_error", std::move(struct_error));
  Ref numpy = import_attr("numpy", nullptr);
  set_numpy_module(numpy.get());
  bind(module, "np", std::move(numpy));
  if (PyArray_ImportNumPyAPI() < 0) throw PyErrAlreadySet{};
  bind(module, "array", import_attr("array", nullptr));
  set_open_function(import_attr("io", "open").get());

  create_result_classes(module);

  ready_function_type(module);
  Ref module_name = Ref::check(PyModule_GetNameObject(module));
  for (const FunctionSpec* spec : {&kHelpFunction, &kListContentsFunction, &kIsOpusFileFunction,
                                   &kDecodeStringFunction, &kGetOpusDataFunction, &kImghdrWhatFunction,
                                   &kGetVisImagesFunction}) {
    if (spec->impl != nullptr) bind(module, spec->name, make_function(*spec, module_name.get()));
  }
  bind(module, "paramDict", make_param_dict());
  bind(module, kOpusDictFunction.name, make_function(kOpusDictFunction, module_name.get()));
}

int module_exec(PyObject* module) {
  if (g_module == module) return 0;  // a repeated import of the one module: nothing to do
  if (g_module != nullptr) {
    PyErr_SetString(PyExc_RuntimeError,
                    "Module 'kestrel' has already been imported. Re-initialisation is not supported.");
    return -1;
  }
  PyObject* dict = PyModule_GetDict(module);
  PyObject* before = PyDict_Copy(dict);
  if (before == nullptr) return -1;
  PyObject* ok = call_guarded([&] {
    exec_steps(module);
    return Ref::borrow(Py_None);
  });
  if (ok == nullptr) {
    // Leave nothing half-bound: the next import starts again from the first step.
    PyObject* exc = PyErr_GetRaisedException();
    PyObject* keys = PyDict_Keys(dict);
    for (Py_ssize_t i = 0; keys != nullptr && i < PyList_GET_SIZE(keys); ++i) {
      PyObject* key = PyList_GET_ITEM(keys, i);
      if (PyDict_Contains(before, key) == 0 && PyDict_DelItem(dict, key) < 0) PyErr_Clear();
    }
    Py_XDECREF(keys);
    Py_DECREF(before);
    PyErr_Clear();
    PyErr_SetRaisedException(exc);
    return -1;
  }
  Py_DECREF(before);
  Py_DECREF(ok);
  g_module = Py_NewRef(module);
  return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
#ifdef Py_mod_multiple_interpreters
      // Declared supported so that create runs and refuses a second interpreter with its own message.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "kestrel",
    nullptr,  // no docstring: __doc__ is None
    0,        // no per-module state
    nullptr,  // no method table
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace kestrel::py

PyMODINIT_FUNC PyInit_kestrel(void) { return PyModuleDef_Init(&kestrel::py::module_def); }
