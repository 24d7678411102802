#include "extract/block_plan.hpp"

#include <algorithm>
#include <initializer_list>

#include "base/checked.hpp"
#include "extract/record_locator.hpp"
#include "extract/record_walk_limits.hpp"
#include "extract/region_plan.hpp"
#include "extract/result_size.hpp"
#include "extract/timed_records.hpp"
#include "extract/trace_records.hpp"
#include "io/cursor.hpp"
#include "params/param_block.hpp"
#include "params/value_arith.hpp"

namespace kestrel {

namespace {

constexpr const char* kMapKeys[] = {"AOX", "AOY", "DDX", "DDY", "NPX", "NPY"};

void stop(BlockPlan& plan, PlanFailure failure, std::int64_t at = -1) {
  plan.failure = std::move(failure);
  plan.failed_at = at;
}

void stop(BlockPlan& plan, Error error, std::int64_t at = -1) {
  PlanFailure f;
  f.error = std::move(error);
  stop(plan, std::move(f), at);
}

void stop_numpy(BlockPlan& plan, const NumpyFailure& numpy, std::int64_t at = -1) {
  PlanFailure f;
  f.kind = PlanFailure::Kind::numpy;
  f.numpy = numpy;
  stop(plan, std::move(f), at);
}

void stop_last_step(BlockPlan& plan) {
  PlanFailure f;
  f.kind = PlanFailure::Kind::last_step;
  stop(plan, std::move(f));
}

void add_step(BlockPlan& plan, PythonStep::Kind kind, std::string text = {}) {
  plan.steps.push_back({kind, std::move(text)});
}

// value == 0 as Python compares: an int or float zero; a str never.
bool equals_zero(const ParamValue* v) { return v != nullptr && equals_int(*v, 0); }

// An int or a float: an end numpy makes an axis from.
bool is_number(const ParamValue* v) { return v != nullptr && !std::holds_alternative<std::string>(*v); }

// A non-negative int, as numpy takes a count.
const std::int64_t* count_of(const ParamList& p, std::string_view key) {
  const std::int64_t* n = param_int(p, key);
  return n != nullptr && *n >= 0 ? n : nullptr;
}

void plan_2d(Cursor& cursor, BlockPlan& plan) {
  if (auto at = cursor.seek(plan.blocks.data); !at) return stop(plan, std::move(at).error());
  // A block cut short by the end of the file yields fewer values, without an error.
  const std::int64_t count = cursor.floats_available(plan.npt);
  plan.kind = BlockKind::spectrum;
  plan.ndim = 1;
  plan.shape = {count, 0, 0};
  plan.data_offset = plan.blocks.data;
  plan.copied_bytes = count * 4;
}

// Whether the block's parameters name a map grid: a 3D block with them is a map.
bool has_grid(const ParamList& p) {
  bool grid = true;
  for (const char* key : kMapKeys) grid = grid && p.contains(key);
  return grid;
}

// A derived map without a usable grid takes the underived block's, and the
// result's parameters say so. False when that fails (the plan then stops).
bool take_original_grid(Cursor& cursor, BlockPlan& plan) {
  ParamList& p = plan.parameters;
  if (plan.request.deriv == "NONE" || !(equals_zero(p.find("NPX")) || equals_zero(p.find("NPY")))) return true;
  add_step(plan, PythonStep::Kind::print_line, "Orignal mapping coordinates used");
  auto original = read_param_block(cursor, plan.blocks.original_params);
  if (!original) {
    stop(plan, std::move(original).error());
    return false;
  }
  for (const char* key : kMapKeys) {
    if (auto found = require_param(original.value(), key); !found) {
      stop(plan, std::move(found).error());
      return false;
    }
  }
  for (const char* key : kMapKeys) p.set(key, *original.value().find(key));
  return true;
}

// The grid of a map, up to its axes: the underived grid when a derived map has
// none, then mapX and mapY. False when the plan stops there.
bool plan_map_axes(Cursor& cursor, BlockPlan& plan, const Limits& limits) {
  const ParamList& p = plan.parameters;
  if (!take_original_grid(cursor, plan)) return false;
  // mapX first, then mapY: origin + step * (count - 1), then numpy.linspace. A
  // text origin beside a number step fails in the sum, before anything is
  // sized, and the size cap must not answer in its place.
  const std::array<std::array<const char*, 3>, 2> axes{{{"AOX", "DDX", "NPX"}, {"AOY", "DDY", "NPY"}}};
  for (const auto& [origin, step, count] : axes) {
    if (!is_number(p.find(origin)) && is_number(p.find(step))) break;
    if (const std::int64_t* n = param_int(p, count)) {
      if (auto fits = check_result_bytes(mul_i64(*n, 8), cursor.size(), limits, "a map axis"); !fits) {
        stop(plan, std::move(fits).error());
        return false;
      }
    }
  }
  add_step(plan, PythonStep::Kind::map_axes);
  if (count_of(p, "NPX") == nullptr || count_of(p, "NPY") == nullptr) {
    stop_last_step(plan);  // numpy.linspace refuses the count
    return false;
  }
  return true;
}

void plan_map(Cursor& cursor, BlockPlan& plan, const RecordLocator& locator, const Limits& limits) {
  const ParamList& p = plan.parameters;
  const bool trace = plan.request.type == "TRC";
  plan.kind = trace ? BlockKind::trace_map : BlockKind::image_map;
  if (!plan_map_axes(cursor, plan, limits)) return;
  const std::int64_t* npx = count_of(p, "NPX");
  const std::int64_t* npy = count_of(p, "NPY");
  const MapGrid grid{*npx, *npy, plan.npt};
  plan.ndim = 3;
  const auto pixels = mul_i64(grid.rows, grid.columns);

  if (trace) {
    auto traces = plan_trace_records(locator, plan.offsets, plan.npt, plan.table.info_size, pixels.value_or(-1), limits);
    if (!traces) return stop(plan, std::move(traces).error());
    TraceRecords& t = traces.value();
    if (t.failure) return stop_numpy(plan, *t.failure);
    const auto values = mul_i64(*pixels, t.records);
    const auto bytes = values ? mul_i64(*values, 4) : std::nullopt;
    if (auto fits = check_result_bytes(bytes, cursor.size(), limits, "the trace maps"); !fits) {
      return stop(plan, std::move(fits).error());
    }
    plan.records = t.records;
    plan.width = *pixels;
    plan.labels = std::move(t.labels);
    plan.shape = {grid.rows, grid.columns, t.records};
    plan.copied_bytes = *bytes;
    return;
  }

  const auto values = pixels ? mul_i64(*pixels, grid.points) : std::nullopt;
  if (!values || !mul_i64(*values, 4)) {
    // A cube past 2**63 bytes: numpy refuses it itself ("array is too big").
    PlanFailure f;
    f.kind = PlanFailure::Kind::numpy_zeros;
    f.shape = {grid.rows, grid.columns, grid.points};
    return stop(plan, std::move(f));
  }
  plan.shape = {grid.rows, grid.columns, grid.points};
  plan.layout = map_layout(plan.table, plan.npt);
  MapPlan mp = plan_image_map(locator, plan.offsets, plan.layout, grid, limits);
  plan.records = mp.records;
  const std::int64_t per_record = plan.layout == MapLayout::transposed ? *pixels : grid.points;
  plan.copied_bytes = mp.records * per_record * 4;  // mp.records <= cells or points: no overflow
  if (mp.error) return stop(plan, std::move(*mp.error), mp.failed_at);
  if (mp.failure) return stop_numpy(plan, *mp.failure, mp.failed_at);
  // Cells no record reaches stay zero and cost nothing (a stopped measurement
  // leaves most of a large cube empty); what is copied must be what the file
  // can back.
  if (auto fits = check_result_bytes(plan.copied_bytes, cursor.size(), limits, "the map cube's recorded spectra");
      !fits) {
    return stop(plan, std::move(fits).error());
  }
}

void plan_series(Cursor& cursor, BlockPlan& plan, const RecordLocator& locator, const Limits& limits) {
  plan.ndim = 2;
  if (plan.request.type == "TRC") {
    plan.kind = BlockKind::trace_series;
    auto traces = plan_trace_records(locator, plan.offsets, plan.npt, plan.table.info_size, std::nullopt, limits);
    if (!traces) return stop(plan, std::move(traces).error());
    TraceRecords& t = traces.value();
    if (t.failure) return stop_numpy(plan, *t.failure);
    const auto bytes = mul_i64(t.records, t.width * 4);
    if (auto fits = check_result_bytes(bytes, cursor.size(), limits, "the trace records"); !fits) {
      return stop(plan, std::move(fits).error());
    }
    plan.records = t.records;
    plan.width = t.width;
    plan.labels = std::move(t.labels);
    plan.shape = {t.records, t.width, 0};
    plan.copied_bytes = *bytes;
    return;
  }
  plan.kind = BlockKind::series;
  const std::int64_t records = plan.offsets.count();
  plan.shape = {records, plan.npt, 0};
  TimedRecords timed = plan_timed_records(locator, plan.offsets, plan.npt, limits);
  plan.records = timed.records;
  if (timed.error) {
    // Rows before the failing record read fine, unless the table claims more
    // records than the file's bytes could describe: such a series is refused
    // at once, with the same error, and nothing is sized after its claim.
    const bool describable = record_count_describable(records, limits, locator.size());
    return stop(plan, std::move(*timed.error), describable ? timed.records : -1);
  }
  if (records == 0) return stop_numpy(plan, NumpyFailure{NumpyFailure::Step::stack_empty});
  const auto row_bytes = add_i64(plan.npt * 4, 8);
  const auto bytes = row_bytes ? mul_i64(records, *row_bytes) : std::nullopt;
  if (auto fits = check_result_bytes(bytes, cursor.size(), limits, "the time-resolved series"); !fits) {
    return stop(plan, std::move(fits).error());
  }
  plan.copied_bytes = *bytes;
}

void plan_3d(Cursor& cursor, BlockPlan& plan, const Limits& limits) {
  auto table = read_store_table(cursor, plan.blocks.data);
  if (!table) return stop(plan, std::move(table).error());
  plan.table = std::move(table).value();
  plan.offsets = RecordOffsets::build(plan.table);
  const RecordLocator locator(cursor.source());
  if (has_grid(plan.parameters)) return plan_map(cursor, plan, locator, limits);
  if (plan.blocks.annotation != -1) return plan_regions(cursor, plan, locator, limits);
  plan_series(cursor, plan, locator, limits);
}

}  // namespace

const char* kind_name(BlockKind kind) {
  switch (kind) {
    case BlockKind::spectrum: return "spectrum";
    case BlockKind::image_map: return "image_map";
    case BlockKind::trace_map: return "trace_map";
    case BlockKind::series: return "series";
    case BlockKind::trace_series: return "trace_series";
    case BlockKind::multi_region: return "multi_region";
    case BlockKind::multi_region_trace: return "multi_region_trace";
  }
  return "?";
}

std::int64_t BlockPlan::size() const {
  std::int64_t n = 1;
  for (int i = 0; i < ndim; ++i) n *= shape[static_cast<std::size_t>(i)];
  return n;
}

bool BlockPlan::mostly_zero() const {
  // Zero pages cost a fault on first touch; writing zeros costs the same
  // fault plus the write. Above a few megabytes, a result the file fills less
  // than half of is cheaper zeroed by the system.
  const std::int64_t bytes = size() * 4;
  return bytes >= (std::int64_t{4} << 20) && copied_bytes < bytes / 2;
}

Result<BlockPlan> plan_block(const ByteSource& source, Request request, const Limits& limits, PlanDepth depth) {
  Cursor cursor(source);
  KESTREL_TRY(OpenedBlock opened, open_block(cursor, std::move(request)));
  BlockPlan plan;
  plan.request = std::move(opened.request);
  plan.blocks = opened.offsets;
  plan.parameters = std::move(opened.parameters);
  for (const char* key : {"NPT", "FXV", "LXV", "MXY", "MNY"}) KESTREL_CHECK(require_param(plan.parameters, key));
  const std::int64_t* npt = param_int(plan.parameters, "NPT");
  // numpy refuses an axis between ends that are not both numbers before it
  // sizes the axis: the size cap answers only for an axis numpy would make.
  if (npt != nullptr && *npt > 0 && is_number(plan.parameters.find("FXV")) &&
      is_number(plan.parameters.find("LXV"))) {
    KESTREL_CHECK(check_result_bytes(mul_i64(*npt, 8), cursor.size(), limits, "an x axis of NPT points"));
  }
  add_step(plan, PythonStep::Kind::x_axis);
  if (npt == nullptr || *npt < 0) {
    stop_last_step(plan);  // numpy.linspace refuses the count
    return plan;
  }
  plan.npt = *npt;
  if (depth == PlanDepth::parameters) {
    if (plan.request.is_3d() && has_grid(plan.parameters) && !plan_map_axes(cursor, plan, limits)) return plan;
    // Axes between number ends over counts numpy takes cannot fail: nobody here wants them made.
    const ParamList& p = plan.parameters;
    const auto numbers = [&](std::initializer_list<const char*> keys) {
      return std::all_of(keys.begin(), keys.end(), [&](const char* key) { return is_number(p.find(key)); });
    };
    const bool x_made = numbers({"FXV", "LXV"});
    const bool map_made = numbers({"AOX", "DDX", "AOY", "DDY"});
    std::erase_if(plan.steps, [&](const PythonStep& step) {
      return (step.kind == PythonStep::Kind::x_axis && x_made) || (step.kind == PythonStep::Kind::map_axes && map_made);
    });
    return plan;
  }
  if (plan.request.is_3d()) {
    plan_3d(cursor, plan, limits);
  } else {
    plan_2d(cursor, plan);
  }
  return plan;
}

}  // namespace kestrel
