// What the functions of _native share: a source and a block triple, opened and
// planned through the core's one entry point, its Python steps run silently.
// A source is a path (str, bytes or a path object, opened as open() opens it)
// or an object that is none: a buffer, read in place, or a binary file object
// (object_source.hpp).
#pragma once

#include <memory>
#include <optional>

#include "container/directory.hpp"
#include "extract/block_plan.hpp"
#include "io/input_file.hpp"
#include "py/opened_file.hpp"
#include "py/plan_steps.hpp"
#include "tools_native/counting_source.hpp"

namespace kestrel::py {

struct PlanOptions {
  bool coordinates = true;               // make the regions' coordinate arrays
  PlanDepth depth = PlanDepth::full;     // parameters: the parameter blocks only, never kept
  std::optional<FileIdentity> expected;  // the file must still be this one
};

struct PlannedRead {
  std::optional<OpenedFile> file;
  std::optional<CountingSource> counted;  // a file's reads, counted for _bytes_read()
  std::optional<FileIdentity> identity;   // of a regular file as opened
  std::unique_ptr<ByteSource> object;     // when the source is no path
  std::shared_ptr<const BlockPlan> plan;  // possibly kept from an earlier call (plan_cache.hpp)
  PlanObjects objects;

  const ByteSource& source() const {
    if (object) return *object;
    return *counted;
  }
  // fill_unlocked over the source; the Python error of a file object's read
  // is raised as it was.
  void fill(const Window& window, const FillTargets& targets) const;
  // Closes a file opened by path (an error of close() propagates).
  void close();
};

// Opens source, a path or any other object (object_source.hpp), into read.file
// or read.object.
void open_source(PyObject* source, PlannedRead& read);

// The block directory of source (as open_source opens it; a file opened here is
// closed again). A source that is not an OPUS file raises ValueError "Can't
// process a non-Opus file"; a file object's failed read raises its own error.
Directory directory_of(PyObject* source);
// The same, of a source already opened (left open).
Directory directory_of(const PlannedRead& read);

// Opens source (a path as open(path, "rb") would), checks block (a sequence
// of three str, upper-cased as getOpusData does), checks that the file is the
// expected one (before reading anything; kestrel_tools._file_changed's
// FileChangedError, an OSError "<path>: the file changed since it was opened",
// otherwise), plans the read (or takes the plan kept for this file) and runs
// its steps. Errors found before anything can be read are raised as
// getOpusData raises them.
void plan_read(PyObject* source, PyObject* block, const PlanOptions& options, PlannedRead& out);
// The same, over out's source already opened (from source) when `opened`.
void plan_source(PyObject* source, PyObject* block, const PlanOptions& options, PlannedRead& out, bool opened);

// The times of the rows of a series or multi-region plan: one float64 per
// stacked row, NaN from where the read stops on. Reads each record's time.
Ref times_of(const PlannedRead& read);

// (device, inode, size, mtime_ns, ctime_ns) as a tuple of ints, or None.
Ref identity_to_tuple(const std::optional<FileIdentity>& identity);
// The inverse: None gives nothing; anything but a sequence of five ints raises TypeError.
std::optional<FileIdentity> identity_from_object(PyObject* identity);

}  // namespace kestrel::py
