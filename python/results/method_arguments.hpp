// Argument binding for the methods of the result classes: they accept their
// arguments the way a Python "def __init__(self, a, b, **kwds)" does (by
// position or keyword, all required, no defaults) and fail with the
// interpreter's own TypeError messages.
#pragma once

#include <span>
#include <vector>

#include "py/ref.hpp"

namespace kestrel::py {

struct MethodSignature {
  PyObject* qualname;                 // "SingleDataReturn.__init__", as the messages name it
  std::span<PyObject* const> params;  // interned names, "self" first
  bool collects_keywords;             // takes **kwds
};

struct BoundArguments {
  std::vector<PyObject*> values;  // borrowed, one per parameter
  // The keywords that no parameter names (only with **kwds), in call order,
  // ready to hand on as a vectorcall: rest_values[i] goes with rest_names[i].
  PyObject* const* rest_values = nullptr;
  Ref rest_names;  // a tuple of str, or null when there are none
  std::vector<PyObject*> rest_storage;
};

// Binds a vectorcall's arguments; throws PyErrAlreadySet with TypeError set
// when they do not fit.
void bind_method_arguments(const MethodSignature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                         BoundArguments& bound);

}  // namespace kestrel::py
