// Time-resolved series: spectra with their times, or traces with their labels.
#include "base/checked.hpp"
#include "base/limits.hpp"
#include "extract/numpy_redo.hpp"
#include "extract/readers_3d.hpp"
#include "extract/timed_records.hpp"
#include "extract/trace_records.hpp"
#include "py/arrays.hpp"
#include "py/errors.hpp"
#include "py/gil.hpp"
#include "py/numpy_api.hpp"
#include "results/result_classes.hpp"

namespace kestrel::py {

namespace {

template <typename T>
T* data_of(const Ref& array) {
  return static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

Ref read_spectrum_series(ExtractContext& context, const Block3D& block) {
  const std::int64_t records = block.offsets.count();
  const std::int64_t npt = block.npt;
  unwrap(plan_timed_records(block.locator, block.offsets, npt, default_limits()));
  if (records == 0) raise_numpy_failure({NumpyFailure::Step::stack_empty}, {});
  const auto row_bytes = add_i64(npt * 4, 8);
  check_result_size(context, row_bytes ? mul_i64(records, *row_bytes) : std::nullopt, "the time-resolved series");
  Ref spectra = empty_float32({records, npt});
  Ref times = empty_float64({records});
  Status filled = ok_status();
  {
    // Both arrays are private to this call until it returns.
    GilRelease unlocked;
    filled = fill_timed_records(block.locator, block.offsets, npt, data_of<float>(spectra), data_of<double>(times));
  }
  unwrap(std::move(filled));
  Ref kwargs = context.common_keywords();
  check_status(PyDict_SetItemString(kwargs.get(), "z", times.get()));
  check_status(PyDict_SetItemString(kwargs.get(), "spectra", spectra.get()));
  return construct_result(ResultClass::TimeResolvedDataReturn, kwargs.get());
}

}  // namespace

// Labels of trace records as a list of str.
Ref labels_to_list(const std::vector<std::string>& labels) {
  Ref list = Ref::check(PyList_New(static_cast<Py_ssize_t>(labels.size())));
  for (std::size_t i = 0; i < labels.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text_to_str(labels[i]).release());
  }
  return list;
}

// Every record as one row of a (records, width) float32 array.
Ref read_trace_rows(ExtractContext& context, const Block3D& block, TraceRecords& traces) {
  traces = unwrap(plan_trace_records(block.locator, block.offsets, block.npt, block.table.info_size, std::nullopt,
                                     default_limits()));
  if (traces.failure) raise_numpy_failure(*traces.failure, {});
  check_result_size(context, mul_i64(traces.records, traces.width * 4), "the trace records");
  Ref rows = empty_float32({traces.records, traces.width});
  Status filled = ok_status();
  {
    GilRelease unlocked;
    filled = fill_trace_rows(block.locator, block.offsets, traces.width, data_of<float>(rows));
  }
  unwrap(std::move(filled));
  return rows;
}

Ref read_time_series(ExtractContext& context, const Block3D& block) {
  if (!block.trace) return read_spectrum_series(context, block);
  TraceRecords traces;
  Ref rows = read_trace_rows(context, block, traces);
  Ref kwargs = context.common_keywords();
  check_status(PyDict_SetItemString(kwargs.get(), "labels", labels_to_list(traces.labels).get()));
  check_status(PyDict_SetItemString(kwargs.get(), "traces", rows.get()));
  return construct_result(ResultClass::TimeResolvedTRCDataReturn, kwargs.get());
}

}  // namespace kestrel::py
