// The three kinds of 3D block, each read from the same opened block.
#pragma once

#include "extract/extract_context.hpp"
#include "extract/record_locator.hpp"
#include "extract/trace_records.hpp"
#include "tables3d/record_offsets.hpp"
#include "tables3d/store_table.hpp"

namespace kestrel::py {

struct Block3D {
  StoreTable3D table;
  RecordOffsets offsets;
  RecordLocator locator;
  std::int64_t npt;  // NPT, an int once linspace accepted it
  bool trace;        // the type TRC (not its second channel): traces instead of spectra
};

Ref read_image_map(ExtractContext& context, const Block3D& block);
Ref read_multi_region(ExtractContext& context, const Block3D& block);
Ref read_time_series(ExtractContext& context, const Block3D& block);

// Labels of trace records as a list of str.
Ref labels_to_list(const std::vector<std::string>& labels);

// Every record as one row of a (records, width) float32 array: the stacked traces.
Ref read_trace_rows(ExtractContext& context, const Block3D& block, TraceRecords& traces);

// Raises MemoryError for a result that no file could justify.
void check_result_size(const ExtractContext& context, std::optional<std::int64_t> bytes, const char* what);

// An int Python object as a C integer (the values here passed numpy's checks).
std::int64_t as_int64(PyObject* value);

}  // namespace kestrel::py
