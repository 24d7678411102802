#include "extract/block_result.hpp"

#include <iterator>

#include "py/arrays.hpp"
#include "py/errors.hpp"
#include "py/numpy_api.hpp"
#include "py/plan_steps.hpp"
#include "py/values.hpp"
#include "results/result_classes.hpp"

namespace kestrel::py {

namespace {

template <typename T>
T* data_of(const Ref& array) {
  return static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

// The keyword names of the result classes as interned str, made on first use
// (PyDict_SetItemString would make and intern a new str on every call).
Ref keyword_name(const char* name) {
  struct Named {
    const char* name;
    PyObject* str;
  };
  static Named names[32];
  static std::size_t used = 0;
  for (std::size_t i = 0; i < used; ++i) {
    if (names[i].name == name) return Ref::borrow(names[i].str);
  }
  Ref str = Ref::check(PyUnicode_InternFromString(name));
  if (used < std::size(names)) names[used++] = {name, Ref(str).release()};  // kept for the life of the process
  return str;
}

class Keywords {
 public:
  Keywords() : dict_(Ref::check(PyDict_New())) {}
  Keywords& set(const char* name, PyObject* value) {
    check_status(PyDict_SetItem(dict_.get(), keyword_name(name).get(), value));
    return *this;
  }
  PyObject* get() const { return dict_.get(); }

 private:
  Ref dict_;
};

Ref rows_of(PyObject* array, std::int64_t start, std::int64_t stop) {
  return Ref::check(PySequence_GetSlice(array, static_cast<Py_ssize_t>(start), static_cast<Py_ssize_t>(stop)));
}

Ref regions_list(const BlockPlan& plan, const PlanObjects& objects, PyObject* values, PyObject* times) {
  Ref regions = Ref::check(PyList_New(0));
  for (std::size_t r = 0; r < plan.regions.size(); ++r) {
    const RegionPlan& region = plan.regions[r];
    Ref title = text_to_str(region.title);
    // All regions share one allocation, each a view of its rows: one large
    // buffer costs a fraction of the page faults of many.
    Ref spectra = rows_of(values, region.start, region.stop);
    Ref start_time = times ? rows_of(times, region.start, region.stop) : Ref::borrow(Py_None);
    Keywords k;
    k.set("title", title.get())
        .set("spectra", spectra.get())
        .set("mapX", objects.region_x[r].get())
        .set("mapY", objects.region_y[r].get())
        .set("start_time", start_time.get());
    Ref made = construct_result(ResultClass::Region, k.get());
    check_status(PyList_Append(regions.get(), made.get()));
  }
  return regions;
}

}  // namespace

Ref read_block_result(const ByteSource& source, const BlockPlan& plan, const RequestStrings& request) {
  PlanObjects objects = run_plan_steps(plan, true);
  PyObject* parameters = objects.parameters.get();
  if (plan.failure) raise_plan_failure(plan, *plan.failure, parameters);

  bool zeroed = false;
  Ref values = allocate_main(plan, zeroed);
  Ref times;
  if (plan.kind == BlockKind::series || plan.kind == BlockKind::multi_region) times = empty_float64({plan.shape[0]});
  FillTargets targets{data_of<float>(values), zeroed, times ? data_of<double>(times) : nullptr};
  fill_unlocked(source, plan, full_window(plan), targets);

  Keywords k;
  k.set("dimension", request.dimension.get())
      .set("dataType", request.data_type.get())
      .set("deriv", request.deriv.get())
      .set("x", objects.x.get())
      .set("minY", PyDict_GetItemString(parameters, "MNY"))
      .set("maxY", PyDict_GetItemString(parameters, "MXY"))
      .set("parameters", parameters);
  switch (plan.kind) {
    case BlockKind::spectrum:
      k.set("y", values.get());
      return construct_result(ResultClass::SingleDataReturn, k.get());
    case BlockKind::image_map:
      k.set("mapX", objects.map_x.get()).set("mapY", objects.map_y.get()).set("spectra", values.get());
      return construct_result(ResultClass::ImageDataReturn, k.get());
    case BlockKind::trace_map:
      k.set("mapX", objects.map_x.get()).set("mapY", objects.map_y.get());
      k.set("labels", labels_to_list(plan.labels).get()).set("traces", values.get());
      return construct_result(ResultClass::ImageTRCDataReturn, k.get());
    case BlockKind::series:
      k.set("z", times.get()).set("spectra", values.get());
      return construct_result(ResultClass::TimeResolvedDataReturn, k.get());
    case BlockKind::trace_series:
      k.set("labels", labels_to_list(plan.labels).get()).set("traces", values.get());
      return construct_result(ResultClass::TimeResolvedTRCDataReturn, k.get());
    case BlockKind::multi_region:
      k.set("regions", regions_list(plan, objects, values.get(), times.get()).get());
      return construct_result(ResultClass::MultiRegionDataReturn, k.get());
    case BlockKind::multi_region_trace:
      k.set("labels", labels_to_list(plan.labels).get());
      k.set("regions", regions_list(plan, objects, values.get(), nullptr).get());
      return construct_result(ResultClass::MultiRegionTRCDataReturn, k.get());
  }
  return Ref::borrow(Py_None);
}

}  // namespace kestrel::py
