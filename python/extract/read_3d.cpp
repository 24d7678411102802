// The 3D path of getOpusData: the store table, the record offsets, and the
// choice between image map, multi-region map and time-resolved series.
#include "base/limits.hpp"
#include "extract/readers_3d.hpp"
#include "extract/result_size.hpp"
#include "py/errors.hpp"

namespace kestrel::py {

std::int64_t as_int64(PyObject* value) {
  const long long v = PyLong_AsLongLong(value);
  if (v == -1 && PyErr_Occurred()) throw PyErrAlreadySet{};
  return v;
}

void check_result_size(const ExtractContext& context, std::optional<std::int64_t> bytes, const char* what) {
  unwrap(check_result_bytes(bytes, context.cursor.size(), default_limits(), what));
}

Ref read_3d_block(ExtractContext& context) {
  const OpenedBlock& opened = context.block;
  StoreTable3D table = unwrap(read_store_table(context.cursor, opened.offsets.data));
  RecordOffsets offsets = RecordOffsets::build(table);
  Block3D block{std::move(table), std::move(offsets), RecordLocator(context.file.source()),
                as_int64(context.npt.get()), opened.request.type == "TRC"};
  const ParamList& p = opened.parameters;
  const bool grid = p.contains("AOX") && p.contains("AOY") && p.contains("NPX") && p.contains("NPY") &&
                    p.contains("DDX") && p.contains("DDY");
  if (grid) return read_image_map(context, block);
  if (opened.offsets.annotation != -1) return read_multi_region(context, block);
  return read_time_series(context, block);
}

}  // namespace kestrel::py
