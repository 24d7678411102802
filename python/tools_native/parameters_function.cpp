// parameters(path, block) -> dict: the block's parameters as getOpusData's
// result carries them, from the directory and the parameter blocks alone.
#include "py/entry.hpp"
#include "py/errors.hpp"
#include "tools_native/native_functions.hpp"
#include "tools_native/planned_read.hpp"

namespace kestrel::py {

namespace {

Ref parameters_impl(PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"source", "block", nullptr};
  PyObject* path = nullptr;
  PyObject* block = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:parameters", const_cast<char**>(names), &path, &block)) {
    throw PyErrAlreadySet{};
  }
  PlanOptions options;
  options.coordinates = false;
  options.depth = PlanDepth::parameters;
  PlannedRead read;
  plan_read(path, block, options, read);
  Ref parameters = std::move(read.objects.parameters);
  read.close();
  return parameters;
}

}  // namespace

PyObject* native_parameters(PyObject*, PyObject* args, PyObject* kwargs) {
  return call_guarded([&] { return parameters_impl(args, kwargs); });
}

}  // namespace kestrel::py
