// How the functions of _native take their arguments: every function that reads
// a block is called (source, block, its own arguments...), and those that check
// the file against an earlier plan take `identity` too; contents and directory
// take the source alone.
#pragma once

#include <optional>

#include "py/errors.hpp"
#include "tools_native/planned_read.hpp"

namespace kestrel::py {

class BlockArguments {
 public:
  PyObject* source = nullptr;
  PyObject* block = nullptr;
  PyObject* identity = Py_None;  // plan()['identity'], where the function takes it

  // Parses the call as PyArg_ParseTupleAndKeywords does: `format` and `names`
  // cover the whole call, source and block first; `own` are the addresses of
  // the function's own arguments in order (&identity among them where it is
  // one). A malformed identity is a TypeError here, before anything is opened.
  template <class... Own>
  void parse(PyObject* args, PyObject* kwargs, const char* format, const char* const* names, Own*... own) {
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(names), &source, &block, own...)) {
      throw PyErrAlreadySet{};
    }
    expected_ = identity_from_object(identity);
  }

  // plan_read of the source and block, the file the one `identity` names:
  // the regions' coordinate arrays made only with `coordinates`.
  void plan(PlannedRead& read, bool coordinates = false, PlanDepth depth = PlanDepth::full) const {
    PlanOptions options;
    options.coordinates = coordinates;
    options.depth = depth;
    options.expected = expected_;
    plan_read(source, block, options, read);
  }

 private:
  std::optional<FileIdentity> expected_;
};

// The one argument of a function called as `call` ("contents(source)").
inline PyObject* only_argument(const char* call, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 1) {
    PyErr_Format(PyExc_TypeError, "%s takes exactly 1 argument", call);
    throw PyErrAlreadySet{};
  }
  return args[0];
}

}  // namespace kestrel::py
