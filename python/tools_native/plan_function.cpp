// plan(source, block, times=True) -> dict: what a read of the block gives, without its values.
#include <cmath>
#include <vector>

#include "py/arrays.hpp"
#include "py/errors.hpp"
#include "py/numpy_api.hpp"
#include "py/plan_steps.hpp"
#include "py/values.hpp"
#include "tools_native/arguments.hpp"
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

// An int64 numpy array of the given rows x columns, filled by row(i, out).
template <class F>
Ref int64_table(std::int64_t rows, std::int64_t columns, F&& row) {
  npy_intp dims[2] = {static_cast<npy_intp>(rows), static_cast<npy_intp>(columns)};
  Ref array = Ref::check(PyArray_SimpleNew(2, dims, NPY_INT64));
  auto* data = static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
  for (std::int64_t i = 0; i < rows; ++i) row(i, data + i * columns);
  return array;
}

// Where the values lie in the file: enough to point at every stored run of
// them without reading them. Record runs stop at the first record whose
// offset does not fit 64 bits (no reader reaches it).
Ref storage_of(const PlannedRead& read) {
  const BlockPlan& plan = *read.plan;
  std::vector<RecordRun> runs;
  for (const NumberedRun& run : plan.offsets.runs()) {
    const Result<std::int64_t> first = file_offset(run.records.first_offset);
    const Result<std::int64_t> last = file_offset(run.records.last_offset());
    if (!first || !last) break;
    runs.push_back(run.records);
  }
  Dict d;
  d.set("file_size", int_object(static_cast<std::int64_t>(read.source().size())))
      .set("data_offset", int_object(plan.data_offset))
      .set("npt", int_object(plan.npt))
      .set("records", int_object(plan.records))
      .set("width", int_object(plan.width))
      .set("stride", int_object(plan.offsets.stride()))
      .set("record_runs", int64_table(static_cast<std::int64_t>(runs.size()), 3, [&](std::int64_t i, std::int64_t* row) {
        const RecordRun& run = runs[static_cast<std::size_t>(i)];
        row[0] = run.index;
        row[1] = run.count;
        row[2] = static_cast<std::int64_t>(run.first_offset);
      }));
  if (plan.kind == BlockKind::multi_region || plan.kind == BlockKind::multi_region_trace) {
    // Per stacked row: the record's offset (spectra; -1 for a zero row) or the
    // point into every trace, and 1 where the row repeats one value.
    d.set("rows", int64_table(static_cast<std::int64_t>(plan.points.size()), 2, [&](std::int64_t i, std::int64_t* row) {
      const RegionPoint& point = plan.points[static_cast<std::size_t>(i)];
      row[0] = point.source;
      row[1] = point.broadcast ? 1 : 0;
    }));
  }
  return d.release();
}

}  // namespace

Ref native_plan(PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"source", "block", "times", nullptr};
  BlockArguments call;
  int times = 1;
  call.parse(args, kwargs, "OO|p:plan", names, &times);
  PlannedRead read;
  call.plan(read, /*coordinates=*/true);
  const BlockPlan& plan = *read.plan;
  Dict d;
  d.set("kind", Ref::check(PyUnicode_FromString(kind_name(plan.kind))))
      .set("shape", shape_tuple(plan))
      .set("dtype", Ref::check(PyUnicode_FromString("float32")))
      .set("x", read.objects.x)
      .set("parameters", read.objects.parameters)
      .set("failed_at", plan.failure ? int_object(plan.failed_at) : Ref::borrow(Py_None))
      .set("copied_bytes", int_object(plan.copied_bytes))
      .set("storage", storage_of(read))
      .set("identity", identity_to_tuple(read.identity));
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
      d.set("z", times ? times_of(read) : Ref::borrow(Py_None));
      break;
    case BlockKind::multi_region:
      d.set("regions", regions_list(read, times ? times_of(read) : Ref()));
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
  read.close();
  return result;
}

}  // namespace kestrel::py
