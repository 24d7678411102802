// Image maps: a cube of spectra over the X-Y grid, or maps of named traces.
#include "base/checked.hpp"
#include "base/limits.hpp"
#include "extract/image_map.hpp"
#include "extract/numpy_redo.hpp"
#include "extract/readers_3d.hpp"
#include "params/param_block.hpp"
#include "py/arrays.hpp"
#include "py/errors.hpp"
#include "py/gil.hpp"
#include "py/numpy_api.hpp"
#include "py/python_diagnostics.hpp"
#include "py/values.hpp"
#include "results/result_classes.hpp"

namespace kestrel::py {

namespace {

constexpr const char* kMapKeys[] = {"AOX", "AOY", "DDX", "DDY", "NPX", "NPY"};

struct MapCoordinates {
  Ref aox, aoy, ddx, ddy, npx, npy;
};

bool equals_zero(PyObject* value) {
  Ref zero = Ref::check(PyLong_FromLong(0));
  const int eq = PyObject_RichCompareBool(value, zero.get(), Py_EQ);
  check_status(eq);
  return eq != 0;
}

// A derived block whose own grid is empty takes the grid of the underived block,
// and the result's parameters say so.
MapCoordinates map_coordinates(ExtractContext& context) {
  PyObject* parameters = context.parameters.get();
  MapCoordinates c{require_key(parameters, "AOX"), require_key(parameters, "AOY"), require_key(parameters, "DDX"),
                   require_key(parameters, "DDY"), require_key(parameters, "NPX"), require_key(parameters, "NPY")};
  if (context.block.request.deriv == "NONE" || !(equals_zero(c.npx.get()) || equals_zero(c.npy.get()))) return c;
  PythonDiagnostics diagnostics;
  if (!diagnostics.print_line("Orignal mapping coordinates used")) throw PyErrAlreadySet{};
  const ParamList original = unwrap(read_param_block(context.cursor, context.block.offsets.original_params));
  Ref original_dict = params_to_dict(original);
  Ref* fields[] = {&c.aox, &c.aoy, &c.ddx, &c.ddy, &c.npx, &c.npy};
  for (std::size_t i = 0; i < 6; ++i) *fields[i] = require_key(original_dict.get(), kMapKeys[i]);
  for (std::size_t i = 0; i < 6; ++i) check_status(PyDict_SetItemString(parameters, kMapKeys[i], fields[i]->get()));
  return c;
}

// numpy.linspace(origin, origin + step * (count - 1), count), with Python's arithmetic.
Ref map_axis(PyObject* origin, PyObject* step, PyObject* count) {
  Ref one = Ref::check(PyLong_FromLong(1));
  Ref span = Ref::check(PyNumber_Subtract(count, one.get()));
  span = Ref::check(PyNumber_Multiply(step, span.get()));
  Ref stop = Ref::check(PyNumber_Add(origin, span.get()));
  return linspace(origin, stop.get(), count);
}

template <typename T>
T* data_of(const Ref& array) {
  return static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

Ref map_keywords(ExtractContext& context, const Ref& map_x, const Ref& map_y) {
  Ref kwargs = context.common_keywords();
  check_status(PyDict_SetItemString(kwargs.get(), "mapX", map_x.get()));
  check_status(PyDict_SetItemString(kwargs.get(), "mapY", map_y.get()));
  return kwargs;
}

Ref read_spectrum_map(ExtractContext& context, const Block3D& block, const MapCoordinates& c, const Ref& map_x,
                      const Ref& map_y) {
  // numpy.zeros((NPY, NPX, NPT)) comes first, with numpy's errors for odd sizes.
  Ref shape = Ref::check(PyTuple_Pack(3, c.npy.get(), c.npx.get(), context.npt.get()));
  for (Py_ssize_t i = 0; i < 3; ++i) {
    if (!PyLong_Check(PyTuple_GET_ITEM(shape.get(), i))) {
      Ref::check(PyObject_CallMethod(numpy_module(), "zeros", "O", shape.get()));
    }
  }
  const MapGrid grid{as_int64(c.npx.get()), as_int64(c.npy.get()), block.npt};
  if (grid.rows < 0 || grid.columns < 0) Ref::check(PyObject_CallMethod(numpy_module(), "zeros", "O", shape.get()));
  const auto cells = mul_i64(grid.rows, grid.columns);
  const auto values = cells ? mul_i64(*cells, grid.points) : std::nullopt;
  const auto bytes = values ? mul_i64(*values, 4) : std::nullopt;
  // A cube past 2**63 bytes is one numpy refuses itself ("array is too big"), without allocating.
  if (!bytes) {
    Ref float32 = Ref::check(PyObject_GetAttrString(numpy_module(), "float32"));
    Ref::check(PyObject_CallMethod(numpy_module(), "zeros", "OO", shape.get(), float32.get()));
  }
  check_result_size(context, bytes, "the map cube (NPY x NPX x NPT)");
  Ref cube = empty_float32({grid.rows, grid.columns, grid.points});

  const MapLayout layout = map_layout(block.table, block.npt);
  const MapPlan plan = unwrap(plan_image_map(block.locator, block.offsets, layout, grid, default_limits()));
  if (plan.failure) raise_numpy_failure(*plan.failure, {cube.get(), c.npy.get(), c.npx.get()});
  Status filled = ok_status();
  {
    // The cube is private to this call until it returns.
    GilRelease unlocked;
    filled = fill_image_map(block.locator, block.offsets, layout, grid, plan, data_of<float>(cube));
  }
  unwrap(std::move(filled));
  Ref kwargs = map_keywords(context, map_x, map_y);
  check_status(PyDict_SetItemString(kwargs.get(), "spectra", cube.get()));
  return construct_result(ResultClass::ImageDataReturn, kwargs.get());
}

Ref read_trace_map(ExtractContext& context, const Block3D& block, const MapCoordinates& c, const Ref& map_x,
                   const Ref& map_y) {
  const std::int64_t columns = as_int64(c.npx.get());
  const std::int64_t rows = as_int64(c.npy.get());
  const auto pixels = mul_i64(rows, columns);
  TraceRecords traces = unwrap(plan_trace_records(block.locator, block.offsets, block.npt, block.table.info_size,
                                                  pixels.value_or(-1), default_limits()));
  if (traces.failure) raise_numpy_failure(*traces.failure, {nullptr, c.npy.get(), c.npx.get(), "dstack"});
  const auto values = mul_i64(*pixels, traces.records);
  check_result_size(context, values ? mul_i64(*values, 4) : std::nullopt, "the trace maps");
  Ref maps = empty_float32({rows, columns, traces.records});
  Status filled = ok_status();
  {
    GilRelease unlocked;
    filled = fill_transposed(block.locator, block.offsets, *pixels, data_of<float>(maps), traces.records);
  }
  unwrap(std::move(filled));
  Ref kwargs = map_keywords(context, map_x, map_y);
  check_status(PyDict_SetItemString(kwargs.get(), "labels", labels_to_list(traces.labels).get()));
  check_status(PyDict_SetItemString(kwargs.get(), "traces", maps.get()));
  return construct_result(ResultClass::ImageTRCDataReturn, kwargs.get());
}

}  // namespace

Ref read_image_map(ExtractContext& context, const Block3D& block) {
  const MapCoordinates c = map_coordinates(context);
  for (PyObject* count : {c.npx.get(), c.npy.get()}) {
    if (PyLong_Check(count)) {
      check_result_size(context, mul_i64(as_int64(count), 8), "a map axis");
    }
  }
  Ref map_x = map_axis(c.aox.get(), c.ddx.get(), c.npx.get());
  Ref map_y = map_axis(c.aoy.get(), c.ddy.get(), c.npy.get());
  return block.trace ? read_trace_map(context, block, c, map_x, map_y)
                     : read_spectrum_map(context, block, c, map_x, map_y);
}

}  // namespace kestrel::py
