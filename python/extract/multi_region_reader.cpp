// Multi-region maps: the annotation table groups the points into regions, each
// with its own coordinates, spectra (or trace values) and start times.
#include <cmath>
#include <cstring>
#include <optional>
#include <unordered_set>
#include <utility>
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

// A number cell as an exact integer: an int, or a float that holds one.
std::optional<std::int64_t> integral_value(const AnnotationCell& cell) {
  if (const auto* i = std::get_if<std::int64_t>(&cell)) return *i;
  if (const auto* d = std::get_if<double>(&cell)) {
    // Integral floats inside the int64 range (2**63 itself is outside).
    if (*d >= -9223372036854775808.0 && *d < 9223372036854775808.0 && std::floor(*d) == *d) {
      return static_cast<std::int64_t>(*d);
    }
  }
  return std::nullopt;
}

// cell == n as Python compares them: numbers by value, a str or None never equals a number.
bool cell_equals(const AnnotationCell& cell, std::int64_t n) {
  const auto v = integral_value(cell);
  return v && *v == n;
}

// The annotation columns, read in place; a cell becomes a Python object only
// where Python's own semantics are needed.
class Columns {
 public:
  explicit Columns(const AnnotationTable& table) : table_(table) {}

  // annotations[name], or KeyError. The few names asked for are looked up once.
  const std::vector<AnnotationCell>& column(const char* name) const {
    for (const auto& [key, cells] : found_) {
      if (key == name) return *cells;
    }
    const AnnotationColumn* column = table_.find(name);
    if (column == nullptr) throw CoreFailure{Error::missing_key(name)};
    found_.emplace_back(name, &column->cells);
    return column->cells;
  }

  // annotations[name][row], with a list's own IndexError.
  const AnnotationCell& at(const char* name, Py_ssize_t row) const {
    const auto& cells = column(name);
    if (row < 0 || static_cast<std::size_t>(row) >= cells.size()) {
      PyErr_SetString(PyExc_IndexError, "list index out of range");
      throw PyErrAlreadySet{};
    }
    return cells[static_cast<std::size_t>(row)];
  }

  Ref object(const char* name, Py_ssize_t row) const { return cell_to_python(at(name, row)); }

 private:
  const AnnotationTable& table_;
  mutable std::vector<std::pair<const char*, const std::vector<AnnotationCell>*>> found_;
};

// The region numbers in the iteration order of a set built from the Group
// column, each turned into a signed 32-bit integer, and the first row of each.
// The set is built from the distinct values in the order they first occur,
// which leaves it exactly as building it from the whole column would: a
// repeated value changes nothing in a set.
std::vector<Py_ssize_t> region_starts(const std::vector<AnnotationCell>& groups) {
  std::unordered_set<std::int64_t> seen_ints;
  std::unordered_set<double> seen_floats;
  std::unordered_set<std::string> seen_texts;
  bool seen_none = false;
  Ref distinct = Ref::check(PyList_New(0));
  for (const AnnotationCell& cell : groups) {
    bool is_new = false;
    if (const auto v = integral_value(cell)) {
      is_new = seen_ints.insert(*v).second;
    } else if (const auto* d = std::get_if<double>(&cell)) {
      is_new = std::isnan(*d) || seen_floats.insert(*d).second;  // NaN equals nothing
    } else if (const auto* text = std::get_if<std::string>(&cell)) {
      is_new = seen_texts.insert(*text).second;
    } else {
      is_new = !std::exchange(seen_none, true);
    }
    if (is_new) check_status(PyList_Append(distinct.get(), cell_to_python(cell).get()));
  }
  Ref set = Ref::check(PySet_New(distinct.get()));
  Ref iterator = Ref::check(PyObject_GetIter(set.get()));
  std::vector<Py_ssize_t> starts;
  while (Ref g = Ref::steal(PyIter_Next(iterator.get()))) {
    Ref number = Ref::check(PyNumber_Index(g.get()));
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
    if (overflow != 0 || v > INT32_MAX || v < INT32_MIN) {
      PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
      throw PyErrAlreadySet{};
    }
    for (std::size_t row = 0; row < groups.size(); ++row) {
      if (cell_equals(groups[row], v)) {
        starts.push_back(static_cast<Py_ssize_t>(row));
        break;
      }
    }
  }
  if (PyErr_Occurred()) throw PyErrAlreadySet{};
  return starts;
}

// A point's file index as a key of the offsets dict, when it can be one.
std::optional<std::int64_t> spectrum_number(const AnnotationCell& findex) { return integral_value(findex); }

// array[index] = value: native for numbers, numpy's own conversion otherwise.
void set_coordinate(PyObject* array, double* data, Py_ssize_t index, const AnnotationCell& value) {
  if (const auto* d = std::get_if<double>(&value)) {
    data[index] = *d;
  } else if (const auto* i = std::get_if<std::int64_t>(&value)) {
    data[index] = static_cast<double>(*i);
  } else {
    Ref key = Ref::check(PyLong_FromSsize_t(index));
    check_status(PyObject_SetItem(array, key.get(), cell_to_python(value).get()));
  }
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

  void add_points(const Columns& columns, Py_ssize_t first, std::int64_t nspec, PyObject* map_x, PyObject* map_y,
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
      // Reading the record's whole info area (up to the next record) rather than
      // the time alone keeps the scattered read at two pieces per record.
      const std::int64_t area = std::min<std::int64_t>(block_.table.info_size, block_.locator.size() - v.end);
      if (v.count == npt && area >= kTimeOffset + 8 && area <= kMaxInfoArea) {
        times_.push_back({jobs_.size(), times + row});
        jobs_.push_back({v.end, nullptr, static_cast<std::size_t>(area)});
      } else {
        jobs_.push_back({time_at, reinterpret_cast<std::byte*>(times + row), 8});
      }
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
    // Info areas land in scratch; their times are copied out after the read.
    std::size_t scratch_size = 0;
    for (const TimeSlot& slot : times_) scratch_size += jobs_[slot.job].size;
    std::vector<std::byte> scratch(scratch_size);
    std::size_t used = 0;
    for (TimeSlot& slot : times_) {
      jobs_[slot.job].destination = scratch.data() + used;
      used += jobs_[slot.job].size;
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
    for (const TimeSlot& slot : times_) std::memcpy(slot.time, jobs_[slot.job].destination + kTimeOffset, 8);
    for (SpectrumRegion& region : regions) {
      auto* rows = data_of<float>(region.spectra.get());
      for (const std::int64_t row : region.broadcast) std::fill(rows + row * npt + 1, rows + (row + 1) * npt, rows[row * npt]);
    }
  }

 private:
  // Info areas longer than this are not worth reading whole for their time.
  static constexpr std::int64_t kMaxInfoArea = 4096;

  struct TimeSlot {
    std::size_t job;  // the job that reads the record's info area
    double* time;     // where its time goes
  };

  ExtractContext& context_;
  const Block3D& block_;
  std::vector<CopyJob> jobs_;
  std::vector<TimeSlot> times_;
};

// The header of the region whose first row is i: its title, point count and
// zeroed coordinate arrays (and start times for spectra); nothing for a region
// whose first row has a Type other than 0.
struct RegionHeader {
  Py_ssize_t first = 0;
  std::int64_t points = 0;
  Ref title, map_x, map_y, start_time;
};

std::optional<RegionHeader> region_header(ExtractContext& context, const Columns& columns, Py_ssize_t i,
                                          bool with_times) {
  if (!cell_equals(columns.at("Type", i), 0)) return std::nullopt;
  const AnnotationCell& group = columns.at("Group", i);
  Ref npx = columns.object("AryNX", i);
  Ref npy = columns.object("AryNY", i);
  Ref nspec = Ref::check(PyNumber_Multiply(npx.get(), npy.get()));
  Ref zero = Ref::check(PyLong_FromLong(0));
  const int empty = PyObject_RichCompareBool(nspec.get(), zero.get(), Py_EQ);
  check_status(empty);
  const bool points = empty && cell_equals(columns.at("AryType", i), 0);
  if (points) {
    // The group of a region's first row is a number (the region numbers are).
    const auto number = integral_value(group);
    std::int64_t count = 0;
    for (const AnnotationCell& cell : columns.column("Group")) count += number && cell_equals(cell, *number);
    nspec = Ref::check(PyLong_FromLongLong(count));
  }
  RegionHeader header;
  header.first = i;
  header.title = region_title(cell_to_python(group).get(), nspec.get(), npx.get(), npy.get(), points);
  if (PyLong_Check(nspec.get())) check_result_size(context, mul_i64(as_int64(nspec.get()), 8), "a region's points");
  header.map_x = call_numpy("zeros", nspec.get());
  header.map_y = call_numpy("zeros", nspec.get());
  header.points = as_int64(nspec.get());  // numpy.zeros accepted it
  if (with_times) header.start_time = call_numpy("zeros", nspec.get());
  return header;
}

// Every region header in order. A header that fails ends the list; its error
// is kept and raised once the regions before it were read, where the reader
// meets it.
struct RegionHeaders {
  std::vector<RegionHeader> list;
  PyObject* error = nullptr;  // owned: the exception of the failing header

  RegionHeaders() = default;
  RegionHeaders(const RegionHeaders&) = delete;
  RegionHeaders& operator=(const RegionHeaders&) = delete;
  ~RegionHeaders() { Py_XDECREF(error); }

  void raise_if_failed() {
    if (error == nullptr) return;
    PyErr_SetRaisedException(std::exchange(error, nullptr));
    throw PyErrAlreadySet{};
  }
};

void collect_headers(ExtractContext& context, const Columns& columns, const std::vector<Py_ssize_t>& starts,
                     bool with_times, RegionHeaders& headers) {
  for (const Py_ssize_t i : starts) {
    try {
      if (auto header = region_header(context, columns, i, with_times)) {
        headers.list.push_back(std::move(*header));
      }
    } catch (const PyErrAlreadySet&) {
      headers.error = PyErr_GetRaisedException();
      return;
    } catch (const CoreFailure& failure) {
      raise_core_error(failure.error);
      headers.error = PyErr_GetRaisedException();
      return;
    }
  }
}

Ref read_spectrum_regions(ExtractContext& context, const Block3D& block, const Columns& columns, RegionHeaders& headers) {
  // All regions' spectra share one allocation, each region a view of its rows:
  // one large buffer costs a fraction of the page faults of many.
  std::int64_t total = 0;
  for (const RegionHeader& h : headers.list) total += h.points;
  check_result_size(context, mul_i64(total, block.npt * 4), "the spectra of the regions");
  Ref all_rows = empty_float32({total, block.npt});
  Ref regions = Ref::check(PyList_New(0));
  std::vector<SpectrumRegion> spectrum_regions;
  spectrum_regions.reserve(headers.list.size());
  SpectrumRegions reader(context, block);
  std::int64_t row = 0;
  for (RegionHeader& h : headers.list) {
    SpectrumRegion& region = spectrum_regions.emplace_back();
    region.start_time = h.start_time;
    region.spectra = Ref::check(PySequence_GetSlice(all_rows.get(), static_cast<Py_ssize_t>(row),
                                                    static_cast<Py_ssize_t>(row + h.points)));
    row += h.points;
    reader.add_points(columns, h.first, h.points, h.map_x.get(), h.map_y.get(), region);
    Ref r = make_region(h.title.get(), region.spectra.get(), h.map_x.get(), h.map_y.get(), h.start_time.get());
    check_status(PyList_Append(regions.get(), r.get()));
  }
  headers.raise_if_failed();
  reader.fill(spectrum_regions);
  return regions;
}

Ref read_trace_regions(ExtractContext& context, const Columns& columns, RegionHeaders& headers, const TraceRecords& traces,
                       const Ref& trace_rows) {
  Ref regions = Ref::check(PyList_New(0));
  Ref one = Ref::check(PyLong_FromLong(1));
  Ref all = Ref::check(PySlice_New(nullptr, nullptr, nullptr));
  for (RegionHeader& h : headers.list) {
    const std::int64_t n = h.points;
    Ref shape = Ref::check(Py_BuildValue("(LL)", static_cast<long long>(n), static_cast<long long>(traces.records)));
    check_result_size(context, mul_i64(n, traces.records * 4), "the traces of a region");
    Ref trace_array = zeros_float32(shape.get());
    auto* xs = data_of<double>(h.map_x.get());
    auto* ys = data_of<double>(h.map_y.get());
    for (std::int64_t row = 0; row < n; ++row) {
      const Py_ssize_t j = h.first + static_cast<Py_ssize_t>(row);
      Ref findex = columns.object("Fileindex", j);
      set_coordinate(h.map_x.get(), xs, static_cast<Py_ssize_t>(row), columns.at("X", j));
      set_coordinate(h.map_y.get(), ys, static_cast<Py_ssize_t>(row), columns.at("Y", j));
      // trace_array[row][:] = traces[:, findex - 1]: every trace's value at that point.
      Ref point = Ref::check(PyNumber_Subtract(findex.get(), one.get()));
      Ref key = Ref::check(PyTuple_Pack(2, all.get(), point.get()));
      Ref column = Ref::check(PyObject_GetItem(trace_rows.get(), key.get()));
      Ref target = Ref::check(PySequence_GetItem(trace_array.get(), static_cast<Py_ssize_t>(row)));
      check_status(PyObject_SetItem(target.get(), all.get(), column.get()));
    }
    Ref r = make_region(h.title.get(), trace_array.get(), h.map_x.get(), h.map_y.get(), Py_None);
    check_status(PyList_Append(regions.get(), r.get()));
  }
  headers.raise_if_failed();
  return regions;
}

}  // namespace

Ref read_multi_region(ExtractContext& context, const Block3D& block) {
  PythonDiagnostics diagnostics;
  const AnnotationTable table =
      unwrap(read_annotation_table(context.cursor, context.block.offsets.annotation, diagnostics));
  Columns columns(table);
  const std::vector<Py_ssize_t> starts = region_starts(columns.column("Group"));

  // Trace maps read every record before the first region.
  TraceRecords traces;
  Ref trace_rows;
  if (block.trace) trace_rows = read_trace_rows(context, block, traces);

  RegionHeaders headers;
  collect_headers(context, columns, starts, !block.trace, headers);
  Ref regions = block.trace ? read_trace_regions(context, columns, headers, traces, trace_rows)
                            : read_spectrum_regions(context, block, columns, headers);

  Ref kwargs = context.common_keywords();
  if (block.trace) {
    check_status(PyDict_SetItemString(kwargs.get(), "labels", labels_to_list(traces.labels).get()));
  }
  check_status(PyDict_SetItemString(kwargs.get(), "regions", regions.get()));
  return construct_result(block.trace ? ResultClass::MultiRegionTRCDataReturn : ResultClass::MultiRegionDataReturn,
                          kwargs.get());
}

}  // namespace kestrel::py
