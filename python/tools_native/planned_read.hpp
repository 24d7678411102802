// What plan() and read_window() share: a source and a block triple, opened and
// planned through the core's one entry point, its Python steps run silently.
// A source is a path (str, bytes or a path object, opened as open() opens it)
// or an object that is none: a buffer, read in place, or a binary file object
// (object_source.hpp).
#pragma once

#include <memory>
#include <optional>

#include "extract/block_plan.hpp"
#include "py/opened_file.hpp"
#include "py/plan_steps.hpp"

namespace kestrel::py {

struct PlannedRead {
  std::optional<OpenedFile> file;
  std::unique_ptr<ByteSource> object;  // when the source is no path
  std::shared_ptr<const BlockPlan> plan;  // possibly kept from an earlier call (plan_cache.hpp)
  PlanObjects objects;

  const ByteSource& source() const { return object ? *object : file->source(); }
  // fill_unlocked over the source; the Python error of a file object's read
  // is raised as it was.
  void fill(const Window& window, const FillTargets& targets) const;
  // Closes a file opened by path (an error of close() propagates).
  void close();
};

// Opens source, a path or any other object (object_source.hpp), into read.file
// or read.object.
void open_source(PyObject* source, PlannedRead& read);

// Opens source (a path as open(path, "rb") would), checks block (a sequence of three
// str, upper-cased as getOpusData does), plans the read (or takes the plan kept
// for this file) and runs its steps. Errors found before anything can be read
// are raised as getOpusData raises them.
void plan_read(PyObject* source, PyObject* block, bool coordinates, PlannedRead& out);

}  // namespace kestrel::py
