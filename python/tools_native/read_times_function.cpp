// read_times(path, block, identity=None): the per-record times that
// plan(path, block, times=False) leaves out.
#include "py/errors.hpp"
#include "tools_native/arguments.hpp"
#include "tools_native/native_functions.hpp"
#include "tools_native/planned_read.hpp"

namespace kestrel::py {

Ref native_read_times(PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"source", "block", "identity", nullptr};
  BlockArguments call;
  call.parse(args, kwargs, "OO|O:read_times", names, &call.identity);
  PlannedRead read;
  call.plan(read);
  const BlockPlan& plan = *read.plan;
  Ref result = Ref::borrow(Py_None);
  if (plan.kind == BlockKind::series) {
    result = times_of(read);
  } else if (plan.kind == BlockKind::multi_region || plan.kind == BlockKind::multi_region_trace) {
    const Ref times = plan.kind == BlockKind::multi_region ? times_of(read) : Ref();
    result = Ref::check(PyList_New(0));
    for (const RegionPlan& region : plan.regions) {
      Ref item = times ? Ref::check(PySequence_GetSlice(times.get(), static_cast<Py_ssize_t>(region.start),
                                                        static_cast<Py_ssize_t>(region.stop)))
                       : Ref::borrow(Py_None);
      check_status(PyList_Append(result.get(), item.get()));
    }
  }
  read.close();
  return result;
}

}  // namespace kestrel::py
