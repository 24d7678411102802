#include "py/plan_steps.hpp"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "py/arrays.hpp"
#include "py/errors.hpp"
#include "py/gil.hpp"
#include "py/numpy_api.hpp"
#include "py/numpy_redo.hpp"
#include "py/python_diagnostics.hpp"
#include "py/values.hpp"

namespace kestrel::py {

namespace {

PyObject* item(PyObject* dict, const char* key) {
  PyObject* value = PyDict_GetItemString(dict, key);
  if (value == nullptr) throw CoreFailure{Error::missing_key(key)};
  return value;
}

// numpy.linspace(origin, origin + step * (count - 1), count), with Python's arithmetic.
Ref map_axis(PyObject* origin, PyObject* step, PyObject* count) {
  Ref one = Ref::check(PyLong_FromLong(1));
  Ref span = Ref::check(PyNumber_Subtract(count, one.get()));
  span = Ref::check(PyNumber_Multiply(step, span.get()));
  Ref stop = Ref::check(PyNumber_Add(origin, span.get()));
  return linspace(origin, stop.get(), count);
}

Ref cell_to_python(const AnnotationCell& cell) {
  if (std::holds_alternative<std::monostate>(cell)) return Ref::borrow(Py_None);
  if (const auto* i = std::get_if<std::int64_t>(&cell)) return Ref::check(PyLong_FromLongLong(*i));
  if (const auto* d = std::get_if<double>(&cell)) return Ref::check(PyFloat_FromDouble(*d));
  return text_to_str(std::get<AnnotationText>(cell).str());
}

const AnnotationColumn& column(const BlockPlan& plan, const char* name) {
  const AnnotationColumn* c = plan.annotations.find(name);
  if (c == nullptr) throw CoreFailure{Error::missing_key(name)};
  return *c;
}

const AnnotationCell& cell(const BlockPlan& plan, const char* name, std::int64_t row) {
  return column(plan, name).cells.at(static_cast<std::size_t>(row));
}

template <typename T>
T* data_of(const Ref& array) {
  return static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

// Each region's coordinate arrays, numbers already in place; cells numpy
// converts come as steps.
void region_coordinates(const BlockPlan& plan, PlanObjects& out) {
  for (const RegionPlan& region : plan.regions) {
    const std::int64_t n = region.stop - region.start;
    Ref xs = empty_float64({n});
    Ref ys = empty_float64({n});
    double* x = data_of<double>(xs);
    double* y = data_of<double>(ys);
    for (std::int64_t i = 0; i < n; ++i) {
      const auto row = static_cast<std::size_t>(region.start + i);
      const bool planned = row < plan.points.size();
      x[i] = planned ? plan.points[row].x : 0.0;
      y[i] = planned ? plan.points[row].y : 0.0;
    }
    out.region_x.push_back(std::move(xs));
    out.region_y.push_back(std::move(ys));
  }
}

void set_coordinate(const BlockPlan& plan, PlanObjects& out, const PythonStep& step) {
  const auto it = std::upper_bound(plan.regions.begin(), plan.regions.end(), step.row,
                                   [](std::int64_t row, const RegionPlan& r) { return row < r.start; });
  const auto r = static_cast<std::size_t>(it - plan.regions.begin()) - 1;
  PyObject* array = (step.axis == 0 ? out.region_x : out.region_y)[r].get();
  Ref key = Ref::check(PyLong_FromLongLong(step.row - plan.regions[r].start));
  check_status(PyObject_SetItem(array, key.get(), cell_to_python(*step.cell).get()));
}

// set(Group), iterated with each number turned into a signed 32-bit int: a
// value that is no int raises, in the set's own order.
[[noreturn]] void redo_group_set(const BlockPlan& plan) {
  const auto& groups = column(plan, "Group").cells;
  Ref list = Ref::check(PyList_New(0));
  for (const AnnotationCell& c : groups) check_status(PyList_Append(list.get(), cell_to_python(c).get()));
  Ref set = Ref::check(PySet_New(list.get()));
  Ref iterator = Ref::check(PyObject_GetIter(set.get()));
  while (Ref g = Ref::steal(PyIter_Next(iterator.get()))) {
    Ref number = Ref::check(PyNumber_Index(g.get()));
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
    if (overflow != 0 || v > INT32_MAX || v < INT32_MIN) {
      PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
      throw PyErrAlreadySet{};
    }
  }
  raise_step_succeeded();
}

}  // namespace

PlanObjects run_plan_steps(const BlockPlan& plan, bool emit, bool coordinates) {
  PlanObjects out;
  out.parameters = params_to_dict(plan.parameters);
  PyObject* p = out.parameters.get();
  if (coordinates) region_coordinates(plan, out);
  PythonDiagnostics diagnostics;
  for (const PythonStep& step : plan.steps) {
    switch (step.kind) {
      case PythonStep::Kind::x_axis:
        out.x = linspace(item(p, "FXV"), item(p, "LXV"), item(p, "NPT"));
        break;
      case PythonStep::Kind::print_line:
        if (emit && !diagnostics.print_line(step.text)) throw PyErrAlreadySet{};
        break;
      case PythonStep::Kind::warning:
        if (emit && !diagnostics.runtime_warning(step.text)) throw PyErrAlreadySet{};
        break;
      case PythonStep::Kind::map_axes:
        out.map_x = map_axis(item(p, "AOX"), item(p, "DDX"), item(p, "NPX"));
        out.map_y = map_axis(item(p, "AOY"), item(p, "DDY"), item(p, "NPY"));
        break;
      case PythonStep::Kind::coordinate:
        if (out.region_x.size() != plan.regions.size()) region_coordinates(plan, out);
        set_coordinate(plan, out, step);
        break;
    }
  }
  return out;
}

void raise_plan_failure(const BlockPlan& plan, const PlanFailure& failure, PyObject* parameters) {
  switch (failure.kind) {
    case PlanFailure::Kind::core:
      throw CoreFailure{failure.error};
    case PlanFailure::Kind::numpy: {
      RedoShape shape;
      shape.cube = plan.shape;
      shape.ndim = plan.ndim;
      shape.row_length = plan.npt;
      if (plan.kind == BlockKind::trace_map || plan.kind == BlockKind::image_map) {
        shape.rows = item(parameters, "NPY");
        shape.columns = item(parameters, "NPX");
      }
      if (plan.kind == BlockKind::trace_map) shape.stack = "dstack";
      raise_numpy_failure(failure.numpy, shape);
    }
    case PlanFailure::Kind::last_step:
      raise_step_succeeded();
    case PlanFailure::Kind::numpy_zeros: {
      Ref float32 = Ref::check(PyObject_GetAttrString(numpy_module(), "float32"));
      Ref shape = Ref::check(Py_BuildValue("(LLL)", static_cast<long long>(failure.shape[0]),
                                           static_cast<long long>(failure.shape[1]),
                                           static_cast<long long>(failure.shape[2])));
      Ref::check(PyObject_CallMethod(numpy_module(), "zeros", "OO", shape.get(), float32.get()));
      raise_step_succeeded();
    }
    case PlanFailure::Kind::group_set:
      redo_group_set(plan);
    case PlanFailure::Kind::region_header: {
      // NSPEC = AryNX * AryNY, then numpy.zeros(NSPEC).
      Ref npx = cell_to_python(cell(plan, "AryNX", failure.row));
      Ref npy = cell_to_python(cell(plan, "AryNY", failure.row));
      Ref nspec = Ref::check(PyNumber_Multiply(npx.get(), npy.get()));
      Ref::check(PyObject_CallMethod(numpy_module(), "zeros", "O", nspec.get()));
      raise_step_succeeded();
    }
    case PlanFailure::Kind::trace_point: {
      Ref findex = cell_to_python(cell(plan, "Fileindex", failure.row));
      Ref one = Ref::check(PyLong_FromLong(1));
      Ref point = Ref::check(PyNumber_Subtract(findex.get(), one.get()));
      RedoShape shape;
      shape.cube = failure.shape;
      shape.ndim = 2;
      Ref zero = Ref::check(PyObject_CallMethod(numpy_module(), "float32", "i", 0));
      Ref dims = Ref::check(Py_BuildValue("(LL)", static_cast<long long>(failure.shape[0]),
                                          static_cast<long long>(failure.shape[1])));
      Ref traces = Ref::check(PyObject_CallMethod(numpy_module(), "broadcast_to", "OO", zero.get(), dims.get()));
      Ref all = Ref::check(PySlice_New(nullptr, nullptr, nullptr));
      Ref key = Ref::check(PyTuple_Pack(2, all.get(), point.get()));
      Ref::check(PyObject_GetItem(traces.get(), key.get()));
      raise_step_succeeded();
    }
  }
  raise_step_succeeded();
}

void fill_unlocked(const ByteSource& source, const BlockPlan& plan, const Window& window, const FillTargets& targets) {
  Status filled = ok_status();
  {
    // Nothing Python is touched while the GIL is released: the arrays belong
    // to the caller and the plan and source to this call.
    GilRelease unlocked;
    filled = fill_window(source, plan, window, targets);
  }
  unwrap(std::move(filled));
}

Ref allocate_main(const BlockPlan& plan, bool& zeroed) {
  zeroed = plan.mostly_zero();
  std::vector<npy_intp> dims(plan.shape.begin(), plan.shape.begin() + plan.ndim);
  if (zeroed) return Ref::check(PyArray_ZEROS(plan.ndim, dims.data(), NPY_FLOAT32, 0));
  return Ref::check(PyArray_SimpleNew(plan.ndim, dims.data(), NPY_FLOAT32));
}

}  // namespace kestrel::py
