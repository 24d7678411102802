// The nine result classes are ordinary classes, made at exec by calling
// type(name, bases, namespace) the way a class statement does. Their methods
// are C functions wrapped as instance methods, so they bind to instances like
// functions defined in a class body; everything else (instance dict, pickling,
// copying, subclassing, multiple inheritance) is the interpreter's own.
#include "results/result_classes.hpp"

#include <array>
#include <cstddef>
#include <utility>

#include "py/entry.hpp"
#include "results/method_arguments.hpp"
#include "results/result_texts.hpp"

namespace kestrel::py {

namespace {

namespace texts = result_texts;

constexpr std::size_t kClassCount = 9;
constexpr std::size_t kMaxNames = 8;
constexpr std::size_t kBase = static_cast<std::size_t>(ResultClass::BaseDataReturn);
constexpr std::size_t kRegion = static_cast<std::size_t>(ResultClass::Region);

using Names = std::array<const char*, kMaxNames>;  // then nullptr

struct ClassInfo {
  const char* name;
  const char* doc;
  Names params;      // after self
  Names attributes;  // what the parameters fill, in order; empty: the parameters' own names
  // BaseDataReturn writes this text to `description`; its subclasses append it.
  const char* description;
};

// Listed in the order the module creates and binds them (the ResultClass order).
const ClassInfo kClassInfo[kClassCount] = {
    {"BaseDataReturn",
     texts::kBaseDoc,
     {"dimension", "dataType", "deriv", "parameters", "x", "minY", "maxY"},
     {"dimension", "dataType", "derivative", "parameters", "x", "minY", "maxY"},
     texts::kBaseDescription},
    {"SingleDataReturn", texts::kSingleDoc, {"y"}, {}, texts::kSingleDescription},
    {"ImageDataReturn", texts::kImageDoc, {"mapX", "mapY", "spectra"}, {}, texts::kImageDescription},
    {"ImageTRCDataReturn",
     texts::kImageTRCDoc,
     {"mapX", "mapY", "labels", "traces"},
     {},
     texts::kImageTRCDescription},
    {"TimeResolvedDataReturn", texts::kTimeResolvedDoc, {"z", "spectra"}, {}, texts::kTimeResolvedDescription},
    {"TimeResolvedTRCDataReturn",
     texts::kTimeResolvedTRCDoc,
     {"labels", "traces"},
     {},
     texts::kTimeResolvedTRCDescription},
    {"MultiRegionDataReturn", texts::kMultiRegionDoc, {"regions"}, {}, texts::kMultiRegionDescription},
    {"Region", texts::kRegionDoc, {"title", "mapX", "mapY", "start_time", "spectra"}, {}, nullptr},
    {"MultiRegionTRCDataReturn",
     texts::kMultiRegionTRCDoc,
     {"labels", "regions"},
     {},
     texts::kMultiRegionTRCDescription},
};

// Python objects made at exec. They live as long as the process: the module
// is loaded once per process, and releasing them from a static destructor
// would run after the interpreter is gone.
struct MethodState {
  PyObject* qualname = nullptr;            // "SingleDataReturn.__init__"
  std::array<PyObject*, kMaxNames + 1> params{};  // "self" first
  std::size_t param_count = 0;
  bool collects_keywords = false;

  MethodSignature signature() const {
    return {qualname, std::span<PyObject* const>(params.data(), param_count), collects_keywords};
  }
};

struct ClassState {
  PyObject* cls = nullptr;
  MethodState init;
  std::array<PyObject*, kMaxNames> attributes{};
  PyObject* description = nullptr;
};

std::array<ClassState, kClassCount> g_classes;
MethodState g_base_str;
MethodState g_base_repr;
MethodState g_region_repr;
PyObject* g_description_name = nullptr;
PyObject* g_title_name = nullptr;
PyObject* g_init_name = nullptr;

Ref intern(const char* text) { return Ref::check(PyUnicode_InternFromString(text)); }

void keep(PyObject*& slot, Ref value) { Py_XSETREF(slot, value.release()); }

std::size_t count(const Names& names) {
  std::size_t n = 0;
  while (n < kMaxNames && names[n] != nullptr) ++n;
  return n;
}

void make_method_state(MethodState& state, const char* class_name, const char* method, const Names& params,
                       bool collects_keywords) {
  keep(state.qualname, Ref::check(PyUnicode_FromFormat("%s.%s", class_name, method)));
  state.param_count = 1 + count(params);
  keep(state.params[0], intern("self"));
  for (std::size_t i = 1; i < state.param_count; ++i) keep(state.params[i], intern(params[i - 1]));
  state.collects_keywords = collects_keywords;
}

// ---- the methods ----------------------------------------------------------

void run_init(std::size_t which, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const ClassState& state = g_classes[which];
  BoundArguments bound;
  bind_method_arguments(state.init.signature(), args, nargs, kwnames, bound);
  PyObject* self = bound.values[0];
  for (std::size_t i = 1; i < state.init.param_count; ++i) {
    check_status(PyObject_SetAttr(self, state.attributes[i - 1], bound.values[i]));
  }
  if (which == kRegion) return;
  if (which == kBase) {
    check_status(PyObject_SetAttr(self, g_description_name, state.description));
    return;
  }
  // super(ThisClass, self).__init__(**kwds): the next initialiser in the
  // instance's method resolution order, which need not be BaseDataReturn's.
  Ref next = Ref::check(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PySuper_Type), state.cls, self,
                                                    nullptr));
  next = Ref::check(PyObject_GetAttr(next.get(), g_init_name));
  Ref ignored = Ref::check(PyObject_Vectorcall(next.get(), bound.rest_values, 0, bound.rest_names.get()));
  // Appended to whatever the initialisers before wrote.
  Ref current = Ref::check(PyObject_GetAttr(self, g_description_name));
  Ref extended = Ref::check(PyNumber_Add(current.get(), state.description));
  check_status(PyObject_SetAttr(self, g_description_name, extended.get()));
}

template <std::size_t Which>
PyObject* init_method(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_guarded([&] {
    run_init(Which, args, nargs, kwnames);
    return Ref::borrow(Py_None);
  });
}

// __str__ and __repr__ return an attribute as it is at the time of the call;
// the interpreter rejects a value that is not a str.
PyObject* show(const MethodState& state, PyObject* attribute, PyObject* const* args, Py_ssize_t nargs,
               PyObject* kwnames) {
  return call_guarded([&] {
    BoundArguments bound;
    bind_method_arguments(state.signature(), args, nargs, kwnames, bound);
    return Ref::check(PyObject_GetAttr(bound.values[0], attribute));
  });
}

PyObject* base_str(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return show(g_base_str, g_description_name, args, nargs, kwnames);
}
PyObject* base_repr(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return show(g_base_repr, g_description_name, args, nargs, kwnames);
}
PyObject* region_repr(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return show(g_region_repr, g_title_name, args, nargs, kwnames);
}

constexpr int kFastKeywords = METH_FASTCALL | METH_KEYWORDS;

#define KESTREL_INIT_DEF(which, signature)                                                        \
  PyMethodDef {                                                                                   \
    "__init__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(init_method<which>)), \
        kFastKeywords, "__init__" signature "\n--\n\n"                                            \
  }

// The signatures after "--" are what inspect shows for the classes.
PyMethodDef kInitDefs[kClassCount] = {
    KESTREL_INIT_DEF(0, "(self, dimension, dataType, deriv, parameters, x, minY, maxY)"),
    KESTREL_INIT_DEF(1, "(self, y, **kwds)"),
    KESTREL_INIT_DEF(2, "(self, mapX, mapY, spectra, **kwds)"),
    KESTREL_INIT_DEF(3, "(self, mapX, mapY, labels, traces, **kwds)"),
    KESTREL_INIT_DEF(4, "(self, z, spectra, **kwds)"),
    KESTREL_INIT_DEF(5, "(self, labels, traces, **kwds)"),
    KESTREL_INIT_DEF(6, "(self, regions, **kwds)"),
    KESTREL_INIT_DEF(7, "(self, title, mapX, mapY, start_time, spectra)"),
    KESTREL_INIT_DEF(8, "(self, labels, regions, **kwds)"),
};
#undef KESTREL_INIT_DEF

PyMethodDef kBaseStrDef = {"__str__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(base_str)),
                           kFastKeywords, "__str__(self)\n--\n\n"};
PyMethodDef kBaseReprDef = {"__repr__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(base_repr)),
                            kFastKeywords, "__repr__(self)\n--\n\n"};
PyMethodDef kRegionReprDef = {"__repr__",
                              reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(region_repr)),
                              kFastKeywords, "__repr__(self)\n--\n\n"};

// ---- building the classes -------------------------------------------------

// A C function that binds to instances the way a function in a class body does.
Ref instance_method(PyMethodDef* def, PyObject* module_name) {
  Ref function = Ref::check(PyCFunction_NewEx(def, nullptr, module_name));
  return Ref::check(PyInstanceMethod_New(function.get()));
}

void set_item(PyObject* dict, const char* key, PyObject* value) {
  check_status(PyDict_SetItemString(dict, key, value));
}

// The names the initialiser assigns through self, sorted, as a class body records them.
Ref static_attributes(const ClassState& state, std::size_t attribute_count, bool sets_description) {
  Ref names = Ref::check(PyList_New(0));
  for (std::size_t i = 0; i < attribute_count; ++i) check_status(PyList_Append(names.get(), state.attributes[i]));
  if (sets_description) check_status(PyList_Append(names.get(), g_description_name));
  check_status(PyList_Sort(names.get()));
  return Ref::check(PyList_AsTuple(names.get()));
}

Ref make_class(std::size_t which, PyObject* module_name) {
  const ClassInfo& info = kClassInfo[which];
  ClassState& state = g_classes[which];
  const bool derived = which != kBase && which != kRegion;
  make_method_state(state.init, info.name, "__init__", info.params, derived);
  const std::size_t attribute_count = state.init.param_count - 1;
  const Names& attributes = count(info.attributes) != 0 ? info.attributes : info.params;
  for (std::size_t i = 0; i < attribute_count; ++i) keep(state.attributes[i], intern(attributes[i]));
  if (info.description != nullptr) keep(state.description, intern(info.description));

  Ref name = Ref::check(PyUnicode_FromString(info.name));
  Ref namespace_ = Ref::check(PyDict_New());
  set_item(namespace_.get(), "__module__", module_name);
  set_item(namespace_.get(), "__qualname__", name.get());
  set_item(namespace_.get(), "__doc__", Ref::check(PyUnicode_FromString(info.doc)).get());
  set_item(namespace_.get(), "__init__", instance_method(&kInitDefs[which], module_name).get());
  if (which == kBase) {
    make_method_state(g_base_str, info.name, "__str__", {}, false);
    make_method_state(g_base_repr, info.name, "__repr__", {}, false);
    set_item(namespace_.get(), "__str__", instance_method(&kBaseStrDef, module_name).get());
    set_item(namespace_.get(), "__repr__", instance_method(&kBaseReprDef, module_name).get());
  } else if (which == kRegion) {
    make_method_state(g_region_repr, info.name, "__repr__", {}, false);
    set_item(namespace_.get(), "__repr__", instance_method(&kRegionReprDef, module_name).get());
  }
  set_item(namespace_.get(), "__static_attributes__",
           static_attributes(state, attribute_count, which != kRegion).get());

  Ref bases = derived ? Ref::check(PyTuple_Pack(1, g_classes[kBase].cls)) : Ref::check(PyTuple_New(0));
  Ref cls = Ref::check(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PyType_Type), name.get(),
                                                    bases.get(), namespace_.get(), nullptr));
  keep(state.cls, cls);
  return cls;
}

}  // namespace

void create_result_classes(PyObject* module) {
  keep(g_description_name, intern("description"));
  keep(g_title_name, intern("title"));
  keep(g_init_name, intern("__init__"));
  Ref module_name = Ref::check(PyModule_GetNameObject(module));
  for (std::size_t which = 0; which < kClassCount; ++which) {
    Ref cls = make_class(which, module_name.get());
    check_status(PyModule_AddObjectRef(module, kClassInfo[which].name, cls.get()));
  }
}

PyObject* result_class(ResultClass which) { return g_classes[static_cast<std::size_t>(which)].cls; }

Ref construct_result(ResultClass which, PyObject* kwargs) {
  PyObject* cls = result_class(which);
  if (cls == nullptr) {
    PyErr_SetString(PyExc_SystemError, "kestrel: result classes used before the module was initialised");
    throw PyErrAlreadySet{};
  }
  Ref no_args = Ref::check(PyTuple_New(0));
  return Ref::check(PyObject_Call(cls, no_args.get(), kwargs));
}

}  // namespace kestrel::py
