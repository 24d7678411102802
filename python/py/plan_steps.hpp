// What a read plan leaves to Python: its steps (axes, printed lines, warnings,
// coordinates numpy converts), its failures (raised by Python or numpy
// themselves where they are theirs), and the fill of caller arrays without
// the GIL. Shared by getOpusData and kestrel_tools._native.
#pragma once

#include <vector>

#include "extract/block_plan.hpp"
#include "py/ref.hpp"

namespace kestrel::py {

struct PlanObjects {
  Ref parameters;  // the result's parameter dict
  Ref x;           // the x axis
  Ref map_x, map_y;
  std::vector<Ref> region_x, region_y;  // multi-region maps: each region's coordinates
};

// Runs the plan's steps in order; printed lines and warnings reach Python only
// with `emit`. An exception of a step propagates (PyErrAlreadySet). The
// regions' coordinate arrays are made when `coordinates` asks for them, or
// when a step sets one.
PlanObjects run_plan_steps(const BlockPlan& plan, bool emit, bool coordinates = true);

// Raises the failure as the reader meets it: the core's error, or the step
// Python or numpy must fail at, repeated. Always throws.
[[noreturn]] void raise_plan_failure(const BlockPlan& plan, const PlanFailure& failure, PyObject* parameters);

// fill_window with the GIL released. The buffers must be private to the
// caller (fresh arrays) or owned by it for the duration.
void fill_unlocked(const ByteSource& source, const BlockPlan& plan, const Window& window, const FillTargets& targets);

// A float32 array of the plan's main shape: zeroed by the system when most of
// it stays zero, else uninitialised (the fill writes every element).
Ref allocate_main(const BlockPlan& plan, bool& zeroed);

}  // namespace kestrel::py
