// What plan() and read_window() share: a path and a block triple, opened and
// planned through the core's one entry point, its Python steps run silently.
#pragma once

#include <memory>
#include <optional>

#include "extract/block_plan.hpp"
#include "py/opened_file.hpp"
#include "py/plan_steps.hpp"

namespace kestrel::py {

struct PlannedRead {
  std::optional<OpenedFile> file;
  std::shared_ptr<const BlockPlan> plan;  // possibly kept from an earlier call (plan_cache.hpp)
  PlanObjects objects;
};

// Opens path (as open(path, "rb") would), checks block (a sequence of three
// str, upper-cased as getOpusData does), plans the read (or takes the plan kept
// for this file) and runs its steps. Errors found before anything can be read
// are raised as getOpusData raises them.
void plan_read(PyObject* path, PyObject* block, bool coordinates, PlannedRead& out);

}  // namespace kestrel::py
