// The one entry point for reading a data block: plan the whole request, then
// fill caller buffers for any window of the result.
//
// Planning reads everything but the bulk values: directory, parameters, store
// table, annotation table, trace labels, and where each record lands. It
// decides the kind of result and its shape, every error knowable before the
// bulk data, and the places where Python or numpy must act (an axis, a printed
// line, a warning, a step that must fail with their own exception). Filling
// then copies values from the file into a window of the result: a range per
// axis (for multi-region maps the first axis may be a list of rows instead).
// The full read is the window that covers everything.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/diagnostics.hpp"
#include "base/limits.hpp"
#include "base/result.hpp"
#include "extract/image_map.hpp"
#include "extract/numpy_failure.hpp"
#include "extract/request.hpp"
#include "extract/selection.hpp"
#include "io/byte_source.hpp"
#include "tables3d/annotation_table.hpp"
#include "tables3d/record_offsets.hpp"
#include "tables3d/store_table.hpp"

namespace kestrel {

enum class BlockKind { spectrum, image_map, trace_map, series, trace_series, multi_region, multi_region_trace };

const char* kind_name(BlockKind kind);

// Something the caller does with Python's or numpy's own semantics, at its
// place in the read. The plan lists them in order; each comes before whatever
// the plan reports after it.
struct PythonStep {
  enum class Kind {
    x_axis,      // x = numpy.linspace(FXV, LXV, NPT), from the parameters
    print_line,  // builtins.print(text)
    warning,     // warnings.warn(text, RuntimeWarning)
    map_axes,    // mapX, mapY = numpy.linspace over AOX, DDX, NPX and AOY, DDY, NPY of the parameters
    coordinate,  // mapX (axis 0) or mapY (axis 1) of stacked row `row` = *cell, numpy converting it
  };
  Kind kind;
  std::string text;
  std::int64_t row = 0;
  int axis = 0;
  const AnnotationCell* cell = nullptr;  // owned by the plan's annotation table
};

// Why a read stops. Anything but `core` is raised by Python or numpy itself:
// the caller repeats the step, which must fail.
struct PlanFailure {
  enum class Kind {
    core,           // `error`
    numpy,          // `numpy`: the step a native loop stopped at
    last_step,      // the last Python step of the plan must raise (a count Python refuses)
    numpy_zeros,    // numpy.zeros(`shape`, float32) must raise: past what numpy can size
    group_set,      // iterating set(Group) through operator.index must raise: a region number is no int
    region_header,  // the header of the region whose first annotation row is `row` must raise
    trace_point,    // traces[:, Fileindex[`row`] - 1] must raise (traces of shape `shape`[0] x `shape`[1])
  };
  Kind kind = Kind::core;
  Error error = Error::aborted();
  NumpyFailure numpy{NumpyFailure::Step::stack_empty};
  std::int64_t row = 0;
  std::array<std::int64_t, 3> shape{};
};

// One region of a multi-region map: rows [start, stop) of the stacked result.
struct RegionPlan {
  std::string title;
  std::int64_t start = 0;
  std::int64_t stop = 0;
};

// One stacked row of a multi-region map.
struct RegionPoint {
  // Spectra: the record's offset, or -1 for a point no stored record has (a
  // zero row). Traces: the point index into every trace (0 <= point < width).
  std::int64_t source = -1;
  bool broadcast = false;  // spectra: the record ends inside its first value's row; that value fills it
  std::int64_t time_at = 0;  // spectra with a record: where its float64 time lies
  double x = 0.0;
  double y = 0.0;
};

struct BlockPlan {
  Request request;
  BlockOffsets blocks;
  ParamList parameters;  // as the result carries them (a derived map's grid replaced)
  BlockKind kind = BlockKind::spectrum;
  std::vector<PythonStep> steps;

  // The read stops here. With failed_at < 0 nothing can be read at all;
  // otherwise the positions before failed_at (in reading order along the
  // result's failure axis, see window_failure) read fine.
  std::optional<PlanFailure> failure;
  std::int64_t failed_at = -1;

  int ndim = 1;
  std::array<std::int64_t, 3> shape{};  // of the main array; multi-region: all regions' rows stacked

  std::int64_t npt = 0;
  std::int64_t data_offset = 0;  // 2D: where the values start

  // 3D
  StoreTable3D table;
  RecordOffsets offsets;
  MapLayout layout = MapLayout::none;
  std::int64_t records = 0;      // maps: records that land in the cube; traces: trace records
  std::int64_t width = 0;        // trace kinds: values per trace
  std::vector<std::string> labels;

  // multi-region
  AnnotationTable annotations;
  std::vector<RegionPlan> regions;
  std::vector<RegionPoint> points;

  // Bytes a full read copies from the file; the rest of the result is zero.
  std::int64_t copied_bytes = 0;

  std::int64_t size() const;  // elements of the main array
  // True when most of the result stays zero: allocating it zeroed (pages the
  // system hands out as zeros) and writing only the copied values is cheaper.
  bool mostly_zero() const;
};

// How much of a block planning reads.
enum class PlanDepth {
  full,
  // The parameters as the result carries them (a derived map's grid taken from
  // the underived block, with its printed line), with every error met on the
  // way there, the axes' included (steps remain only for axes that Python or
  // numpy may refuse: an end that is no number); nothing of the data block
  // itself is read, so kind and shape stay unknown (no plan to fill from).
  parameters,
};

// Plans a request against a file. Errors found before anything could be read
// come back as the error; a plan carries the rest (failure / failed_at).
// Warnings and printed lines become steps in order; nothing is emitted.
Result<BlockPlan> plan_block(const ByteSource& source, Request request, const Limits& limits = default_limits(),
                             PlanDepth depth = PlanDepth::full);

struct AxisRange {
  std::int64_t start = 0;
  std::int64_t stop = 0;
  std::int64_t size() const { return stop - start; }
};

struct Window {
  std::array<AxisRange, 3> ranges{};
  // Multi-region kinds: when set, these stacked rows (in this order) replace ranges[0].
  std::optional<std::span<const std::int64_t>> rows;
  std::int64_t row_count() const { return rows ? static_cast<std::int64_t>(rows->size()) : ranges[0].size(); }
};

// The window that covers the whole result.
Window full_window(const BlockPlan& plan);

// Checks a window against the plan's shape: Error::value / Error::index with a
// message for ranges outside it.
Status check_window(const BlockPlan& plan, const Window& window);

// The failure a window meets: the plan's failure when the window reaches the
// place where the read stops, nothing otherwise. A window reaches it when it
// holds a position at or past failed_at along the failure axis (cells in
// row-major order for per-position maps, spectral points for transposed maps,
// rows for series and multi-region maps); a read that stops at the end of the
// result (failed_at >= its length) is reached by windows that reach the end.
const PlanFailure* window_failure(const BlockPlan& plan, const Window& window);

struct FillTargets {
  float* values = nullptr;  // the window, C order; may be null when only times are wanted
  bool zeroed = false;      // values already holds zeros: positions no record fills are not written
  double* times = nullptr;  // series and multi-region spectra: one time per window row, or null
};

// Fills a window the plan reaches without failing (window_failure is null).
// Touches nothing but the source and the buffers: callers run it without locks.
Status fill_window(const ByteSource& source, const BlockPlan& plan, const Window& window, const FillTargets& targets);

}  // namespace kestrel
