// Multi-region maps: the annotation table groups the points into regions, each
// with its own coordinates, spectra (or trace values) and start times.
#include <vector>

#include "base/checked.hpp"
#include "base/limits.hpp"
#include "extract/numpy_redo.hpp"
#include "extract/readers_3d.hpp"
#include "io/gather.hpp"
#include "py/arrays.hpp"
#include "py/errors.hpp"
#include "py/gil.hpp"
#include "py/numpy_api.hpp"
#include "py/python_diagnostics.hpp"
#include "py/values.hpp"
#include "results/result_classes.hpp"
#include "tables3d/annotation_table.hpp"

namespace kestrel::py {

namespace {

Ref cell_to_python(const AnnotationCell& cell) {
  if (std::holds_alternative<std::monostate>(cell)) return Ref::borrow(Py_None);
  if (const auto* i = std::get_if<std::int64_t>(&cell)) return Ref::check(PyLong_FromLongLong(*i));
  if (const auto* d = std::get_if<double>(&cell)) return Ref::check(PyFloat_FromDouble(*d));
  return text_to_str(std::get<std::string>(cell));
}

// The annotation columns as Python lists, made when first asked for.
class Columns {
 public:
  explicit Columns(const AnnotationTable& table) : table_(table) {}

  PyObject* get(const char* name) {
    for (auto& [key, list] : made_) {
      if (key == name) return list.get();
    }
    const AnnotationColumn* column = table_.find(name);
    if (column == nullptr) throw CoreFailure{Error::missing_key(name)};
    Ref list = Ref::check(PyList_New(static_cast<Py_ssize_t>(column->cells.size())));
    for (std::size_t i = 0; i < column->cells.size(); ++i) {
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), cell_to_python(column->cells[i]).release());
    }
    made_.emplace_back(name, std::move(list));
    return made_.back().second.get();
  }

  // annotations[name][row], with the list's own IndexError.
  PyObject* at(const char* name, Py_ssize_t row) {
    PyObject* list = get(name);
    if (row < 0 || row >= PyList_GET_SIZE(list)) {
      PyErr_SetString(PyExc_IndexError, "list index out of range");
      throw PyErrAlreadySet{};
    }
    return PyList_GET_ITEM(list, row);
  }

 private:
  const AnnotationTable& table_;
  std::vector<std::pair<std::string, Ref>> made_;
};

bool python_equals(PyObject* a, long b) {
  Ref other = Ref::check(PyLong_FromLong(b));
  const int eq = PyObject_RichCompareBool(a, other.get(), Py_EQ);
  check_status(eq);
  return eq != 0;
}

// The region numbers, in the iteration order of a set built from the Group
// column, each turned into a signed 32-bit integer, and the first row of each.
std::vector<Py_ssize_t> region_starts(PyObject* groups) {
  Ref distinct = Ref::check(PySet_New(groups));
  Ref iterator = Ref::check(PyObject_GetIter(distinct.get()));
  std::vector<Py_ssize_t> starts;
  while (Ref g = Ref::steal(PyIter_Next(iterator.get()))) {
    Ref number = Ref::check(PyNumber_Index(g.get()));
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
    if (overflow != 0 || v > INT32_MAX || v < INT32_MIN) {
      PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
      throw PyErrAlreadySet{};
    }
    Ref key = Ref::check(PyLong_FromLongLong(v));
    const Py_ssize_t index = PySequence_Index(groups, key.get());
    if (index < 0) throw PyErrAlreadySet{};
    starts.push_back(index);
  }
  if (PyErr_Occurred()) throw PyErrAlreadySet{};
  return starts;
}

// A point's file index as a spectrum number of the offsets dict, when it is one.
std::optional<std::int64_t> spectrum_number(PyObject* findex) {
  if (PyLong_Check(findex) && !PyBool_Check(findex)) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(findex, &overflow);
    if (overflow == 0 && !(v == -1 && PyErr_Occurred())) return v;
    PyErr_Clear();
    return std::nullopt;
  }
  if (PyFloat_Check(findex)) {
    const double d = PyFloat_AS_DOUBLE(findex);
    // A float equal to an int key finds it, as dict lookups do.
    if (d >= -9.2e18 && d <= 9.2e18 && d == static_cast<double>(static_cast<std::int64_t>(d))) {
      return static_cast<std::int64_t>(d);
    }
  }
  return std::nullopt;
}

// array[index] = value: native for plain numbers, numpy's own conversion otherwise.
void set_coordinate(PyObject* array, double* data, Py_ssize_t index, PyObject* value) {
  if (PyFloat_CheckExact(value)) {
    data[index] = PyFloat_AS_DOUBLE(value);
    return;
  }
  Ref key = Ref::check(PyLong_FromSsize_t(index));
  check_status(PyObject_SetItem(array, key.get(), value));
}

template <typename T>
T* data_of(PyObject* array) {
  return static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array)));
}

Ref call_numpy(const char* function, PyObject* argument) {
  return Ref::check(PyObject_CallMethod(numpy_module(), function, "O", argument));
}

Ref zeros_float32(PyObject* shape) {
  Ref float32 = Ref::check(PyObject_GetAttrString(numpy_module(), "float32"));
  return Ref::check(PyObject_CallMethod(numpy_module(), "zeros", "OO", shape, float32.get()));
}

Ref region_title(PyObject* group, PyObject* nspec, PyObject* npx, PyObject* npy, bool points) {
  Ref format = Ref::check(PyUnicode_FromString(points ? "Region {0} ({1} points)" : "Region {0} ({1} x {2})"));
  return points ? Ref::check(PyObject_CallMethod(format.get(), "format", "OO", group, nspec))
                : Ref::check(PyObject_CallMethod(format.get(), "format", "OOO", group, npx, npy));
}

Ref make_region(PyObject* title, PyObject* spectra, PyObject* map_x, PyObject* map_y, PyObject* start_time) {
  Ref kwargs = Ref::check(Py_BuildValue("{sOsOsOsOsO}", "title", title, "spectra", spectra, "mapX", map_x, "mapY",
                                        map_y, "start_time", start_time));
  return construct_result(ResultClass::Region, kwargs.get());
}

// One region's spectra: rows of points whose file index names a stored record.
struct SpectrumRegion {
  Ref spectra;
  Ref start_time;
  std::vector<bool> filled;
  std::vector<std::int64_t> broadcast;  // rows that got a single value (the end of the file)
};

class SpectrumRegions {
 public:
  SpectrumRegions(ExtractContext& context, const Block3D& block) : context_(context), block_(block) {}

  void add_points(Columns& columns, Py_ssize_t first, std::int64_t nspec, PyObject* map_x, PyObject* map_y,
                  SpectrumRegion& region) {
    const std::int64_t npt = block_.npt;
    region.filled.assign(static_cast<std::size_t>(nspec), false);
    auto* xs = data_of<double>(map_x);
    auto* ys = data_of<double>(map_y);
    auto* rows = data_of<float>(region.spectra.get());
    auto* times = data_of<double>(region.start_time.get());
    for (std::int64_t row = 0; row < nspec; ++row) {
      const Py_ssize_t j = first + static_cast<Py_ssize_t>(row);
      const auto number = spectrum_number(columns.at("Fileindex", j));
      const auto found = number ? block_.offsets.find(*number) : std::nullopt;
      if (!found) continue;
      set_coordinate(map_x, xs, static_cast<Py_ssize_t>(row), columns.at("X", j));
      set_coordinate(map_y, ys, static_cast<Py_ssize_t>(row), columns.at("Y", j));
      const RecordValues v = unwrap(block_.locator.values(*found, npt));
      if (v.count != npt && v.count != 1) {
        raise_numpy_failure({NumpyFailure::Step::assign_point, 0, v.count, 0, row, 0},
                            {region.spectra.get(), nullptr, nullptr});
      }
      const std::int64_t time_at = unwrap(block_.locator.time(v));
      region.filled[static_cast<std::size_t>(row)] = true;
      if (v.count != npt) region.broadcast.push_back(row);
      if (v.count > 0) {
        jobs_.push_back({v.offset, reinterpret_cast<std::byte*>(rows + row * npt), static_cast<std::size_t>(v.count) * 4});
      }
      jobs_.push_back({time_at, reinterpret_cast<std::byte*>(times + row), 8});
    }
  }

  // Reads every point's record into place, with the GIL released.
  void fill(std::vector<SpectrumRegion>& regions) {
    const std::int64_t npt = block_.npt;
    for (SpectrumRegion& region : regions) {
      auto* rows = data_of<float>(region.spectra.get());
      for (std::size_t row = 0; row < region.filled.size(); ++row) {
        if (!region.filled[row]) std::fill(rows + row * npt, rows + (row + 1) * npt, 0.0f);
      }
    }
    Status filled = ok_status();
    {
      // The arrays are private to this call until it returns.
      GilRelease unlocked;
      std::size_t next = 0;
      filled = gather(block_.locator.source(), [&](CopyJob& job) {
        if (next == jobs_.size()) return false;
        job = jobs_[next++];
        return true;
      });
    }
    unwrap(std::move(filled));
    for (SpectrumRegion& region : regions) {
      auto* rows = data_of<float>(region.spectra.get());
      for (const std::int64_t row : region.broadcast) std::fill(rows + row * npt + 1, rows + (row + 1) * npt, rows[row * npt]);
    }
  }

 private:
  ExtractContext& context_;
  const Block3D& block_;
  std::vector<CopyJob> jobs_;
};

}  // namespace

Ref read_multi_region(ExtractContext& context, const Block3D& block) {
  PythonDiagnostics diagnostics;
  const AnnotationTable table =
      unwrap(read_annotation_table(context.cursor, context.block.offsets.annotation, diagnostics));
  Columns columns(table);
  PyObject* groups = columns.get("Group");
  const std::vector<Py_ssize_t> starts = region_starts(groups);

  TraceRecords traces;
  Ref trace_rows;
  if (block.trace) trace_rows = read_trace_rows(context, block, traces);

  Ref regions = Ref::check(PyList_New(0));
  std::vector<SpectrumRegion> spectrum_regions;
  spectrum_regions.reserve(starts.size());
  SpectrumRegions reader(context, block);
  Ref one = Ref::check(PyLong_FromLong(1));
  Ref all = Ref::check(PySlice_New(nullptr, nullptr, nullptr));
  Ref npt = Ref::borrow(context.npt.get());

  for (const Py_ssize_t i : starts) {
    if (!python_equals(columns.at("Type", i), 0)) continue;
    PyObject* group = columns.at("Group", i);
    PyObject* npx = columns.at("AryNX", i);
    PyObject* npy = columns.at("AryNY", i);
    Ref nspec = Ref::check(PyNumber_Multiply(npx, npy));
    const bool points = python_equals(nspec.get(), 0) && python_equals(columns.at("AryType", i), 0);
    if (points) {
      const Py_ssize_t count = PySequence_Count(groups, group);
      if (count < 0) throw PyErrAlreadySet{};
      nspec = Ref::check(PyLong_FromSsize_t(count));
    }
    Ref title = region_title(group, nspec.get(), npx, npy, points);
    if (PyLong_Check(nspec.get())) check_result_size(context, mul_i64(as_int64(nspec.get()), 8), "a region's points");
    Ref map_x = call_numpy("zeros", nspec.get());
    Ref map_y = call_numpy("zeros", nspec.get());
    const std::int64_t n = as_int64(nspec.get());  // numpy.zeros accepted it

    if (!block.trace) {
      SpectrumRegion& region = spectrum_regions.emplace_back();
      region.start_time = call_numpy("zeros", nspec.get());
      check_result_size(context, mul_i64(n, block.npt * 4), "the spectra of a region");
      region.spectra = empty_float32({n, block.npt});
      reader.add_points(columns, i, n, map_x.get(), map_y.get(), region);
      Ref r = make_region(title.get(), region.spectra.get(), map_x.get(), map_y.get(), region.start_time.get());
      check_status(PyList_Append(regions.get(), r.get()));
      continue;
    }

    Ref shape = Ref::check(Py_BuildValue("(OL)", nspec.get(), static_cast<long long>(traces.records)));
    check_result_size(context, mul_i64(n, traces.records * 4), "the traces of a region");
    Ref trace_array = zeros_float32(shape.get());
    auto* xs = data_of<double>(map_x.get());
    auto* ys = data_of<double>(map_y.get());
    for (std::int64_t row = 0; row < n; ++row) {
      const Py_ssize_t j = i + static_cast<Py_ssize_t>(row);
      PyObject* findex = columns.at("Fileindex", j);
      set_coordinate(map_x.get(), xs, static_cast<Py_ssize_t>(row), columns.at("X", j));
      set_coordinate(map_y.get(), ys, static_cast<Py_ssize_t>(row), columns.at("Y", j));
      // trace_array[row][:] = traces[:, findex - 1]: every trace's value at that point.
      Ref point = Ref::check(PyNumber_Subtract(findex, one.get()));
      Ref key = Ref::check(PyTuple_Pack(2, all.get(), point.get()));
      Ref column = Ref::check(PyObject_GetItem(trace_rows.get(), key.get()));
      Ref target = Ref::check(PySequence_GetItem(trace_array.get(), static_cast<Py_ssize_t>(row)));
      check_status(PyObject_SetItem(target.get(), all.get(), column.get()));
    }
    Ref r = make_region(title.get(), trace_array.get(), map_x.get(), map_y.get(), Py_None);
    check_status(PyList_Append(regions.get(), r.get()));
  }
  if (!block.trace) reader.fill(spectrum_regions);

  Ref kwargs = context.common_keywords();
  if (block.trace) {
    check_status(PyDict_SetItemString(kwargs.get(), "labels", labels_to_list(traces.labels).get()));
  }
  check_status(PyDict_SetItemString(kwargs.get(), "regions", regions.get()));
  return construct_result(block.trace ? ResultClass::MultiRegionTRCDataReturn : ResultClass::MultiRegionDataReturn,
                          kwargs.get());
}

}  // namespace kestrel::py
