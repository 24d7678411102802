// read_times(path, block, identity=None): the per-record times that
// plan(path, block, times=False) leaves out.
#include "py/entry.hpp"
#include "py/errors.hpp"
#include "tools_native/native_functions.hpp"
#include "tools_native/planned_read.hpp"

namespace kestrel::py {

namespace {

Ref read_times_impl(PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"source", "block", "identity", nullptr};
  PyObject* path = nullptr;
  PyObject* block = nullptr;
  PyObject* identity = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|O:read_times", const_cast<char**>(names), &path, &block,
                                   &identity)) {
    throw PyErrAlreadySet{};
  }
  PlanOptions options;
  options.coordinates = false;
  options.expected = identity_from_object(identity);
  PlannedRead read;
  plan_read(path, block, options, read);
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

}  // namespace

PyObject* native_read_times(PyObject*, PyObject* args, PyObject* kwargs) {
  return call_guarded([&] { return read_times_impl(args, kwargs); });
}

}  // namespace kestrel::py
