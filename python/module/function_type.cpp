#include "module/function_type.hpp"

#include <cstdarg>
#include <cstddef>

#include "py/entry.hpp"

namespace kestrel::py {

namespace {

struct FunctionObject {
  PyObject_HEAD
  vectorcallfunc vectorcall;
  const FunctionSpec* spec;
  PyObject* name;
  PyObject* qualname;
  PyObject* doc;
  PyObject* module;
  PyObject* defaults;  // a tuple, or None
#if PY_VERSION_HEX < 0x030D0000
  PyObject* dict;  // the __dict__; 3.13 keeps it managed by the interpreter instead
#endif
};

#if PY_VERSION_HEX >= 0x030D0000
constexpr unsigned long kDictFlag = Py_TPFLAGS_MANAGED_DICT;
#else
constexpr unsigned long kDictFlag = 0;
#endif

PyTypeObject* g_function_type = nullptr;

Py_ssize_t param_count(const FunctionSpec& spec) {
  Py_ssize_t n = 0;
  while (n < 4 && spec.params[static_cast<std::size_t>(n)] != nullptr) ++n;
  return n;
}

[[noreturn]] void fail(PyObject* type, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  PyErr_FormatV(type, format, ap);
  va_end(ap);
  throw PyErrAlreadySet{};
}

// Binds positional and keyword arguments to the parameter slots, filling the
// tail from __defaults__, with the messages a Python function would give.
void bind_arguments(FunctionObject* f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    std::array<PyObject*, 4>& slots) {
  const FunctionSpec& spec = *f->spec;
  const Py_ssize_t n = param_count(spec);
  const Py_ssize_t ndefaults = PyTuple_Check(f->defaults) ? std::min(PyTuple_GET_SIZE(f->defaults), n) : 0;
  if (nargs > n) {
    if (ndefaults == 0) {
      fail(PyExc_TypeError, "%U() takes %zd positional argument%s but %zd %s given", f->qualname, n,
           n == 1 ? "" : "s", nargs, nargs == 1 ? "was" : "were");
    }
    fail(PyExc_TypeError, "%U() takes from %zd to %zd positional arguments but %zd %s given", f->qualname,
         n - ndefaults, n, nargs, nargs == 1 ? "was" : "were");
  }
  slots.fill(nullptr);
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    Py_ssize_t index = -1;
    for (Py_ssize_t i = 0; i < n; ++i) {
      if (PyUnicode_CompareWithASCIIString(key, spec.params[static_cast<std::size_t>(i)]) == 0) {
        index = i;
        break;
      }
    }
    if (index < 0) fail(PyExc_TypeError, "%U() got an unexpected keyword argument '%U'", f->qualname, key);
    if (slots[static_cast<std::size_t>(index)] != nullptr) {
      fail(PyExc_TypeError, "%U() got multiple values for argument '%U'", f->qualname, key);
    }
    slots[static_cast<std::size_t>(index)] = args[nargs + k];
  }
  for (Py_ssize_t i = n - ndefaults; i < n; ++i) {
    if (slots[static_cast<std::size_t>(i)] == nullptr) {
      slots[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(f->defaults, i - (n - ndefaults));
    }
  }
  Py_ssize_t missing = 0;
  for (Py_ssize_t i = 0; i < n; ++i) missing += slots[static_cast<std::size_t>(i)] == nullptr;
  if (missing == 0) return;
  // "missing 1 required positional argument: 'a'", "... arguments: 'a' and 'b'"
  Ref names = Ref::check(PyUnicode_FromString(""));
  Py_ssize_t seen = 0;
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (slots[static_cast<std::size_t>(i)] != nullptr) continue;
    const char* sep = seen == 0 ? "" : (seen == missing - 1 ? (missing > 2 ? ", and " : " and ") : ", ");
    names = Ref::check(PyUnicode_FromFormat("%U%s'%s'", names.get(), sep, spec.params[static_cast<std::size_t>(i)]));
    ++seen;
  }
  fail(PyExc_TypeError, "%U() missing %zd required positional argument%s: %U", f->qualname, missing,
       missing == 1 ? "" : "s", names.get());
}

PyObject* function_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  auto* f = reinterpret_cast<FunctionObject*>(self);
  return call_guarded([&] {
    std::array<PyObject*, 4> slots{};
    bind_arguments(f, args, PyVectorcall_NARGS(nargsf), kwnames, slots);
    // Hold the defaults while the call runs: the caller may replace them meanwhile.
    Ref hold = Ref::borrow(f->defaults);
    return f->spec->impl(std::span<PyObject* const>(slots.data(), static_cast<std::size_t>(param_count(*f->spec))));
  });
}

int function_traverse(PyObject* self, visitproc visit, void* arg) {
  auto* f = reinterpret_cast<FunctionObject*>(self);
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(f->name);
  Py_VISIT(f->qualname);
  Py_VISIT(f->doc);
  Py_VISIT(f->module);
  Py_VISIT(f->defaults);
#if PY_VERSION_HEX >= 0x030D0000
  return PyObject_VisitManagedDict(self, visit, arg);
#else
  Py_VISIT(f->dict);
  return 0;
#endif
}

int function_clear(PyObject* self) {
  auto* f = reinterpret_cast<FunctionObject*>(self);
  Py_CLEAR(f->name);
  Py_CLEAR(f->qualname);
  Py_CLEAR(f->doc);
  Py_CLEAR(f->module);
  Py_CLEAR(f->defaults);
#if PY_VERSION_HEX >= 0x030D0000
  PyObject_ClearManagedDict(self);
#else
  Py_CLEAR(f->dict);
#endif
  return 0;
}

void function_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  function_clear(self);
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* function_repr(PyObject* self) {
  auto* f = reinterpret_cast<FunctionObject*>(self);
  return PyUnicode_FromFormat("<function %U at %p>", f->qualname, self);
}

// Pickles by reference, as module-level functions do.
PyObject* function_reduce(PyObject* self, PyObject*) {
  auto* f = reinterpret_cast<FunctionObject*>(self);
  return Py_NewRef(f->qualname);
}

int set_str(PyObject** field, PyObject* value, const char* what) {
  if (value == nullptr || !PyUnicode_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s must be set to a string object", what);
    return -1;
  }
  Py_XSETREF(*field, Py_NewRef(value));
  return 0;
}

PyObject* get_name(PyObject* self, void*) { return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->name); }
int set_name(PyObject* self, PyObject* v, void*) {
  return set_str(&reinterpret_cast<FunctionObject*>(self)->name, v, "__name__");
}
PyObject* get_qualname(PyObject* self, void*) {
  return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->qualname);
}
int set_qualname(PyObject* self, PyObject* v, void*) {
  return set_str(&reinterpret_cast<FunctionObject*>(self)->qualname, v, "__qualname__");
}
PyObject* get_defaults(PyObject* self, void*) {
  return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->defaults);
}
int set_defaults(PyObject* self, PyObject* v, void*) {
  if (v == nullptr) v = Py_None;
  if (v != Py_None && !PyTuple_Check(v)) {
    PyErr_SetString(PyExc_TypeError, "__defaults__ must be set to a tuple object");
    return -1;
  }
  Py_XSETREF(reinterpret_cast<FunctionObject*>(self)->defaults, Py_NewRef(v));
  return 0;
}

PyGetSetDef function_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"__defaults__", get_defaults, set_defaults, nullptr, nullptr},
#if PY_VERSION_HEX < 0x030D0000
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
#endif
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__doc__", Py_T_OBJECT_EX, offsetof(FunctionObject, doc), 0, nullptr},
    {"__module__", Py_T_OBJECT_EX, offsetof(FunctionObject, module), 0, nullptr},
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(FunctionObject, vectorcall), Py_READONLY, nullptr},
#if PY_VERSION_HEX < 0x030D0000
    {"__dictoffset__", Py_T_PYSSIZET, offsetof(FunctionObject, dict), Py_READONLY, nullptr},
#endif
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_getset, function_getset},
    {Py_tp_members, function_members},
    {Py_tp_methods, function_methods},
    {0, nullptr},
};

PyType_Spec function_spec = {
    "kestrel.function",
    sizeof(FunctionObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | kDictFlag |
        Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    function_slots,
};

}  // namespace

void ready_function_type(PyObject* module) {
  if (g_function_type != nullptr) return;
  g_function_type = reinterpret_cast<PyTypeObject*>(Ref::check(PyType_FromModuleAndSpec(module, &function_spec, nullptr)).release());
}

Ref make_function(const FunctionSpec& spec, PyObject* module_name) {
  Ref defaults = spec.make_defaults ? spec.make_defaults() : Ref::borrow(Py_None);
  Ref name = Ref::check(PyUnicode_FromString(spec.name));
  Ref doc = spec.doc ? Ref::check(PyUnicode_FromString(spec.doc)) : Ref::borrow(Py_None);
  // tp_alloc zeroes the object, lays out the managed __dict__ and tracks it for the GC.
  auto* f = reinterpret_cast<FunctionObject*>(g_function_type->tp_alloc(g_function_type, 0));
  if (f == nullptr) throw PyErrAlreadySet{};
  f->vectorcall = function_vectorcall;
  f->spec = &spec;
  f->name = Py_NewRef(name.get());
  f->qualname = name.release();
  f->doc = doc.release();
  f->module = Py_NewRef(module_name);
  f->defaults = defaults.release();
  return Ref::steal(reinterpret_cast<PyObject*>(f));
}

}  // namespace kestrel::py
