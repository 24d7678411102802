// parameters(path, block) -> dict: the block's parameters as getOpusData's
// result carries them, from the directory and the parameter blocks alone.
#include "py/errors.hpp"
#include "tools_native/arguments.hpp"
#include "tools_native/native_functions.hpp"
#include "tools_native/planned_read.hpp"

namespace kestrel::py {

Ref native_parameters(PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"source", "block", nullptr};
  BlockArguments call;
  call.parse(args, kwargs, "OO:parameters", names);
  PlannedRead read;
  call.plan(read, false, PlanDepth::parameters);
  Ref parameters = std::move(read.objects.parameters);
  read.close();
  return parameters;
}

}  // namespace kestrel::py
