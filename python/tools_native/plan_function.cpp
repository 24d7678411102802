// plan(path, block) -> dict: what a read of the block gives, without its values.
#include <cmath>

#include "py/arrays.hpp"
#include "py/entry.hpp"
#include "py/errors.hpp"
#include "py/numpy_api.hpp"
#include "py/plan_steps.hpp"
#include "py/values.hpp"
#include "tools_native/native_functions.hpp"
#include "tools_native/planned_read.hpp"

namespace kestrel::py {

namespace {

class Dict {
 public:
  Dict() : dict_(Ref::check(PyDict_New())) {}
  Dict& set(const char* key, const Ref& value) {
    check_status(PyDict_SetItemString(dict_.get(), key, value.get()));
    return *this;
  }
  Ref release() { return std::move(dict_); }

 private:
  Ref dict_;
};

Ref int_object(std::int64_t v) { return Ref::check(PyLong_FromLongLong(v)); }

Ref shape_tuple(const BlockPlan& plan) {
  Ref shape = Ref::check(PyTuple_New(plan.ndim));
  for (int i = 0; i < plan.ndim; ++i) {
    PyTuple_SET_ITEM(shape.get(), i, int_object(plan.shape[static_cast<std::size_t>(i)]).release());
  }
  return shape;
}

// The times of the rows a read reaches (NaN from where it stops on).
Ref times_of(const PlannedRead& read) {
  const BlockPlan& plan = *read.plan;
  const std::int64_t rows = plan.shape[0];
  const std::int64_t reached = plan.failure ? std::min(rows, plan.failed_at) : rows;
  Ref times = empty_float64({rows});
  auto* t = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(times.get())));
  std::fill(t + reached, t + rows, std::nan(""));
  Window w = full_window(plan);
  w.ranges[0] = {0, reached};
  fill_unlocked(read.file->source(), plan, w, {nullptr, false, t});
  return times;
}

Ref regions_list(const PlannedRead& read, const Ref& times) {
  const BlockPlan& plan = *read.plan;
  Ref list = Ref::check(PyList_New(0));
  for (std::size_t r = 0; r < plan.regions.size(); ++r) {
    const RegionPlan& region = plan.regions[r];
    Dict d;
    d.set("title", text_to_str(region.title))
        .set("start", int_object(region.start))
        .set("stop", int_object(region.stop))
        .set("mapX", read.objects.region_x[r])
        .set("mapY", read.objects.region_y[r]);
    if (times) {
      d.set("start_time", Ref::check(PySequence_GetSlice(times.get(), static_cast<Py_ssize_t>(region.start),
                                                         static_cast<Py_ssize_t>(region.stop))));
    } else {
      d.set("start_time", Ref::borrow(Py_None));
    }
    Ref made = d.release();
    check_status(PyList_Append(list.get(), made.get()));
  }
  return list;
}

Ref plan_impl(PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2) {
    PyErr_SetString(PyExc_TypeError, "plan(path, block) takes exactly 2 arguments");
    throw PyErrAlreadySet{};
  }
  PlannedRead read;
  plan_read(args[0], args[1], true, read);
  const BlockPlan& plan = *read.plan;
  Dict d;
  d.set("kind", Ref::check(PyUnicode_FromString(kind_name(plan.kind))))
      .set("shape", shape_tuple(plan))
      .set("dtype", Ref::check(PyUnicode_FromString("float32")))
      .set("x", read.objects.x)
      .set("parameters", read.objects.parameters)
      .set("failed_at", plan.failure ? int_object(plan.failed_at) : Ref::borrow(Py_None))
      .set("copied_bytes", int_object(plan.copied_bytes));
  switch (plan.kind) {
    case BlockKind::image_map:
    case BlockKind::trace_map:
      d.set("mapX", read.objects.map_x).set("mapY", read.objects.map_y);
      d.set("layout", Ref::check(PyUnicode_FromString(plan.kind == BlockKind::trace_map          ? "traces"
                                                      : plan.layout == MapLayout::transposed     ? "transposed"
                                                      : plan.layout == MapLayout::per_position   ? "per_position"
                                                                                                 : "none")));
      break;
    case BlockKind::series:
      d.set("z", times_of(read));
      break;
    case BlockKind::multi_region:
      d.set("regions", regions_list(read, times_of(read)));
      break;
    case BlockKind::multi_region_trace:
      d.set("regions", regions_list(read, Ref()));
      break;
    default:
      break;
  }
  if (plan.kind == BlockKind::trace_map || plan.kind == BlockKind::trace_series ||
      plan.kind == BlockKind::multi_region_trace) {
    d.set("labels", labels_to_list(plan.labels));
  }
  Ref result = d.release();
  read.file->close();
  return result;
}

}  // namespace

PyObject* native_plan(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return call_guarded([&] { return plan_impl(args, nargs); });
}

}  // namespace kestrel::py
