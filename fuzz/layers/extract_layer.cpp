// getOpusData over the core: each request the listing names (and variants the
// choice bytes pick), resolved and read the way the binding reads it: plan,
// then fill buffers of exactly the size the binding would allocate, so a plan
// that promises less than its fill writes is a heap overflow under ASan.
#include <optional>
#include <string>
#include <vector>

#include "base/checked.hpp"
#include "common/harness.hpp"
#include "container/contents.hpp"
#include "container/directory.hpp"
#include "container/names.hpp"
#include "extract/image_map.hpp"
#include "extract/record_locator.hpp"
#include "extract/request.hpp"
#include "extract/result_size.hpp"
#include "extract/selection.hpp"
#include "extract/timed_records.hpp"
#include "extract/trace_records.hpp"
#include "params/param_block.hpp"
#include "tables3d/annotation_table.hpp"
#include "tables3d/record_offsets.hpp"
#include "tables3d/store_table.hpp"

namespace kestrel::fuzz {

namespace {

// Names a request may carry, valid ones and a few the check refuses.
constexpr std::string_view kTypes[] = {"AB",   "TRC",  "SSC",    "RSC", "SIFG",  "RIFG",  "TR",    "KM",
                                       "RAM",  "REFL", "AB-CH2", "SPH", "ATR",   "PAS",   "ABARI", "EMIS",
                                       "SPOW", "XX",   "",       "IFG", "SC",    "TRC-CH2"};
constexpr std::string_view kDimensions[] = {"2D", "3D", "2D", "3D", "4D"};

struct Triple {
  std::string type, dimensions, deriv;
};

std::vector<Triple> requests_to_try(FuzzFile& file) {
  std::vector<Triple> out;
  const Choices& c = file.choices();
  Cursor cursor = file.open();
  if (auto directory = read_directory(cursor)) {
    for (const BlockTriple& t : list_contents(directory.value())) {
      if (out.size() >= 8) break;
      out.push_back({t.type, t.dimensions, t.derivative});
    }
  }
  // Each listed block once more with another derivative and the other dimension.
  const std::size_t listed = out.size();
  for (std::size_t i = 0; i < listed; ++i) {
    Triple t = out[i];
    t.deriv = std::string(kDerivativeNames[c.byte(i) % 4]);
    if (c.byte(i) & 4) t.dimensions = t.dimensions == "2D" ? "3D" : "2D";
    out.push_back(std::move(t));
  }
  out.push_back({std::string(kTypes[c.byte(8) % std::size(kTypes)]),
                 std::string(kDimensions[c.byte(9) % std::size(kDimensions)]),
                 c.byte(10) < 250 ? std::string(kDerivativeNames[c.byte(10) % 4]) : std::string("1der")});
  return out;
}

const std::int64_t* int_param(const ParamList& p, std::string_view key) { return param_int(p, key); }

// The result-size rule of the binding, with the fuzz caps.
bool fits(FuzzFile& file, std::optional<std::int64_t> bytes) {
  return check(check_result_bytes(bytes, file.size(), fuzz_limits(), "fuzz"));
}

void read_2d(FuzzFile& file, Cursor& cursor, const OpenedBlock& block, std::int64_t npt) {
  if (!check(cursor.seek(block.offsets.data))) return;
  const std::int64_t count = cursor.floats_available(npt);
  KESTREL_FUZZ_EXPECT(count >= 0 && count <= file.size() / 4, "more values than the file holds");
  std::vector<float> values(static_cast<std::size_t>(count));
  const Result<std::int64_t> read = cursor.read_floats(values.data(), npt);
  if (check(read)) KESTREL_FUZZ_EXPECT(read.value() == count, "read_floats delivered another count");
}

void read_image_map(FuzzFile& file, Cursor& cursor, const OpenedBlock& block, const StoreTable3D& table,
                    const RecordOffsets& offsets, const RecordLocator& locator, std::int64_t npt) {
  const ParamList* grid_params = &block.parameters;
  ParamList original;
  const std::int64_t* npx = int_param(*grid_params, "NPX");
  const std::int64_t* npy = int_param(*grid_params, "NPY");
  if (npx == nullptr || npy == nullptr) return;  // numpy's business in the binding
  if (block.request.deriv != "NONE" && (*npx == 0 || *npy == 0)) {
    // A derived block with an empty grid takes the underived block's.
    auto read = read_param_block(cursor, block.offsets.original_params);
    if (!check(read)) return;
    original = std::move(read).value();
    npx = int_param(original, "NPX");
    npy = int_param(original, "NPY");
    if (npx == nullptr || npy == nullptr) return;
  }
  if (*npx < 0 || *npy < 0) return;
  if (block.request.type == "TRC") {
    const auto pixels = mul_i64(*npy, *npx);
    if (!pixels) return;
    auto traces = plan_trace_records(locator, offsets, npt, table.info_size, *pixels, fuzz_limits());
    if (!check(traces) || traces.value().failure) return;
    const auto values = mul_i64(*pixels, traces.value().records);
    if (!fits(file, values ? mul_i64(*values, 4) : std::nullopt)) return;
    std::vector<float> maps(static_cast<std::size_t>(*values));
    check(fill_transposed(locator, offsets, *pixels, maps.data(), traces.value().records));
    return;
  }
  const MapGrid grid{*npx, *npy, npt};
  const auto cells = mul_i64(grid.rows, grid.columns);
  const auto values = cells ? mul_i64(*cells, grid.points) : std::nullopt;
  if (!fits(file, values ? mul_i64(*values, 4) : std::nullopt)) return;
  const MapLayout layout = map_layout(table, npt);
  auto plan = plan_image_map(locator, offsets, layout, grid, fuzz_limits());
  if (!check(plan) || plan.value().failure) return;
  std::vector<float> cube(static_cast<std::size_t>(*values));
  check(fill_image_map(locator, offsets, layout, grid, plan.value(), cube.data()));
}

void read_multi_region(FuzzFile& file, Cursor& cursor, const OpenedBlock& block, const RecordOffsets& offsets,
                       const RecordLocator& locator, std::int64_t npt) {
  auto table = read_annotation_table(cursor, block.offsets.annotation, file.diagnostics(), fuzz_limits());
  if (!check(table)) return;
  // The binding turns the columns into Python lists; here each point's record is located.
  const AnnotationColumn* index = table.value().find("Fileindex");
  if (index == nullptr) return;
  std::size_t visited = 0;
  for (const AnnotationCell& cell : index->cells) {
    if (++visited > kMaxVisits) break;
    const auto* number = std::get_if<std::int64_t>(&cell);
    const auto found = number ? offsets.find(*number) : std::nullopt;
    if (!found) continue;
    auto v = locator.values(*found, npt);
    if (!check(v)) return;
    if (!check(locator.time(v.value()))) return;
  }
}

void read_time_series(FuzzFile& file, const OpenedBlock& block, const StoreTable3D& table,
                      const RecordOffsets& offsets, const RecordLocator& locator, std::int64_t npt) {
  if (block.request.type == "TRC") {
    auto traces = plan_trace_records(locator, offsets, npt, table.info_size, std::nullopt, fuzz_limits());
    if (!check(traces) || traces.value().failure) return;
    const TraceRecords& t = traces.value();
    KESTREL_FUZZ_EXPECT(static_cast<std::int64_t>(t.labels.size()) == t.records, "a label per record");
    const auto bytes = mul_i64(t.records, t.width * 4);
    if (!fits(file, bytes)) return;
    std::vector<float> rows(static_cast<std::size_t>(*bytes / 4));
    check(fill_trace_rows(locator, offsets, t.width, rows.data()));
    return;
  }
  if (!check(plan_timed_records(locator, offsets, npt, fuzz_limits()))) return;
  const std::int64_t records = offsets.count();
  if (records == 0) return;
  const auto row_bytes = add_i64(npt * 4, 8);
  if (!fits(file, row_bytes ? mul_i64(records, *row_bytes) : std::nullopt)) return;
  std::vector<float> spectra(static_cast<std::size_t>(records * npt));
  std::vector<double> times(static_cast<std::size_t>(records));
  check(fill_timed_records(locator, offsets, npt, spectra.data(), times.data()));
}

void read_3d(FuzzFile& file, Cursor& cursor, const OpenedBlock& block, std::int64_t npt) {
  auto table = read_store_table(cursor, block.offsets.data);
  if (!check(table)) return;
  const RecordOffsets offsets = RecordOffsets::build(table.value());
  KESTREL_FUZZ_EXPECT(offsets.count() >= 0, "negative record count");
  const RecordLocator locator(file.source());
  const ParamList& p = block.parameters;
  const bool grid = p.contains("AOX") && p.contains("AOY") && p.contains("NPX") && p.contains("NPY") &&
                    p.contains("DDX") && p.contains("DDY");
  if (grid) return read_image_map(file, cursor, block, table.value(), offsets, locator, npt);
  if (block.offsets.annotation != -1) return read_multi_region(file, cursor, block, offsets, locator, npt);
  read_time_series(file, block, table.value(), offsets, locator, npt);
}

void read_request(FuzzFile& file, const Triple& t) {
  auto request = check_request(t.type, t.dimensions, t.deriv);
  if (!check(request)) return;
  Cursor cursor = file.open();
  auto opened = open_block(cursor, std::move(request).value());
  if (!check(opened)) return;
  const OpenedBlock& block = opened.value();
  // NPT must be an int for the binding's linspace to accept it; the rest is numpy's.
  const std::int64_t* npt = int_param(block.parameters, "NPT");
  if (npt == nullptr || *npt < 0) return;
  if (!fits(file, mul_i64(*npt, 8))) return;  // the x axis
  if (block.request.is_3d()) {
    read_3d(file, cursor, block, *npt);
  } else {
    read_2d(file, cursor, block, *npt);
  }
}

}  // namespace

void fuzz_extract_layer(FuzzFile& file) {
  for (const Triple& t : requests_to_try(file)) read_request(file, t);
}

}  // namespace kestrel::fuzz
