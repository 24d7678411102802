#include "tools_native/planned_read.hpp"

#include <cmath>

#include "base/limits.hpp"
#include "extract/request.hpp"
#include "io/cursor.hpp"
#include "py/arrays.hpp"
#include "py/errors.hpp"
#include "py/numpy_api.hpp"
#include "py/plan_steps.hpp"
#include "tools_native/object_source.hpp"
#include "tools_native/plan_cache.hpp"

namespace kestrel::py {

namespace {

// block[i].upper() as UTF-8 (surrogates passed through).
std::string upper_item(PyObject* block, Py_ssize_t index) {
  Ref item = Ref::check(PySequence_GetItem(block, index));
  static PyObject* name = nullptr;  // interned, made on first use and kept
  if (name == nullptr) name = PyUnicode_InternFromString("upper");
  if (name == nullptr) throw PyErrAlreadySet{};
  Ref upper = Ref::check(PyObject_CallMethodNoArgs(item.get(), name));
  if (!PyUnicode_Check(upper.get())) {
    PyErr_Format(PyExc_TypeError, "upper() returned %.200s, not str", Py_TYPE(upper.get())->tp_name);
    throw PyErrAlreadySet{};
  }
  Ref bytes = Ref::check(PyUnicode_AsEncodedString(upper.get(), "utf-8", "surrogatepass"));
  return std::string(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

// The path for a key: str and bytes paths only (a path object's __fspath__ is
// not called a second time, a descriptor is no path).
std::optional<std::string> path_key(PyObject* path) {
  if (PyBytes_Check(path)) {
    return "b" + std::string(PyBytes_AS_STRING(path), static_cast<std::size_t>(PyBytes_GET_SIZE(path)));
  }
  if (!PyUnicode_Check(path)) return std::nullopt;
  Ref bytes = Ref::check(PyUnicode_AsEncodedString(path, "utf-8", "surrogatepass"));
  return "s" + std::string(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

// The key of a file that may be kept, or nothing.
std::optional<PlanKey> key_of(const std::optional<std::string>& path, const std::array<std::string, 3>& block,
                              const PlannedRead& read) {
  if (!path || !read.identity || !settled(*read.identity)) return std::nullopt;
  // The source's size is the file's when it was opened: a file that grew since is planned afresh.
  if (static_cast<std::uint64_t>(read.identity->size) != read.file->source().size()) return std::nullopt;
  return PlanKey{*path, block, *read.identity};
}

// kestrel_tools._file_changed.FileChangedError(path): an OSError whose message
// is "<path>: the file changed since it was opened", its filename the path.
[[noreturn]] void raise_changed(PyObject* path) {
  Ref module = Ref::check(PyImport_ImportModule("kestrel_tools._file_changed"));
  Ref type = Ref::check(PyObject_GetAttrString(module.get(), "FileChangedError"));
  Ref error = Ref::check(PyObject_CallOneArg(type.get(), path));
  PyErr_SetRaisedException(error.release());
  throw PyErrAlreadySet{};
}

std::int64_t int64_of(PyObject* item) {
  const long long v = PyLong_AsLongLong(item);
  if (v == -1 && PyErr_Occurred()) throw PyErrAlreadySet{};
  return v;
}

std::uint64_t uint64_of(PyObject* item) {
  const unsigned long long v = PyLong_AsUnsignedLongLong(item);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PyErrAlreadySet{};
  return v;
}

// What open() takes as a file: str, bytes, a path object or a descriptor.
bool is_path(PyObject* source) {
  if (PyUnicode_Check(source) || PyBytes_Check(source) || PyLong_Check(source)) return true;
  PyObject* fspath = nullptr;
  if (PyObject_GetOptionalAttrString(reinterpret_cast<PyObject*>(Py_TYPE(source)), "__fspath__", &fspath) < 0) {
    throw PyErrAlreadySet{};
  }
  Py_XDECREF(fspath);
  return fspath != nullptr;
}

// A core failure, or the Python error a file object's read left behind it.
[[noreturn]] void fail(const ByteSource& source, Error error) {
  if (restore_source_error(source)) throw PyErrAlreadySet{};
  throw CoreFailure{std::move(error)};
}

}  // namespace

Ref identity_to_tuple(const std::optional<FileIdentity>& identity) {
  if (!identity) return Ref::borrow(Py_None);
  return Ref::check(Py_BuildValue("(KKLLL)", static_cast<unsigned long long>(identity->device),
                                  static_cast<unsigned long long>(identity->inode),
                                  static_cast<long long>(identity->size), static_cast<long long>(identity->mtime_ns),
                                  static_cast<long long>(identity->ctime_ns)));
}

std::optional<FileIdentity> identity_from_object(PyObject* identity) {
  if (identity == nullptr || identity == Py_None) return std::nullopt;
  constexpr const char* kShape = "identity must be a (device, inode, size, mtime_ns, ctime_ns) tuple of ints";
  Ref items = Ref::check(PySequence_Fast(identity, kShape));
  if (PySequence_Fast_GET_SIZE(items.get()) != 5) {
    PyErr_SetString(PyExc_TypeError, kShape);
    throw PyErrAlreadySet{};
  }
  PyObject** item = PySequence_Fast_ITEMS(items.get());
  for (int i = 0; i < 5; ++i) {
    if (!PyLong_Check(item[i])) {
      PyErr_SetString(PyExc_TypeError, kShape);
      throw PyErrAlreadySet{};
    }
  }
  return FileIdentity{uint64_of(item[0]), uint64_of(item[1]), int64_of(item[2]), int64_of(item[3]), int64_of(item[4])};
}

// The times of the rows a read reaches (NaN from where it stops on).
Ref times_of(const PlannedRead& read) {
  const BlockPlan& plan = *read.plan;
  const std::int64_t rows = plan.shape[0];
  const std::int64_t reached = plan.failure ? std::min(rows, plan.failed_at) : rows;
  Ref times = empty_float64({rows});
  auto* t = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(times.get())));
  std::fill(t + reached, t + rows, std::nan(""));
  Window w = full_window(plan);
  w.ranges[0] = {0, reached};
  read.fill(w, {nullptr, false, t});
  return times;
}

void PlannedRead::fill(const Window& window, const FillTargets& targets) const {
  try {
    fill_unlocked(source(), *plan, window, targets);
  } catch (const CoreFailure& failure) {
    fail(source(), failure.error);
  }
  if (restore_source_error(source())) throw PyErrAlreadySet{};
}

void PlannedRead::close() {
  if (file) file->close();
}

void open_source(PyObject* source, PlannedRead& read) {
  if (is_path(source)) {
    read.file.emplace(source);
    read.identity = read.file->identity();
    read.counted.emplace(read.file->source());
  } else {
    read.object = object_source(source);
  }
}

Directory directory_of(const PlannedRead& read) {
  Cursor cursor(read.source());
  Result<Directory> directory = read_opus_directory(cursor);
  if (restore_source_error(read.source())) throw PyErrAlreadySet{};
  return unwrap(std::move(directory));
}

Directory directory_of(PyObject* source) {
  PlannedRead read;
  open_source(source, read);
  Directory listed = directory_of(read);
  read.close();
  return listed;
}

void plan_read(PyObject* source, PyObject* block, const PlanOptions& options, PlannedRead& out) {
  plan_source(source, block, options, out, false);
}

void plan_source(PyObject* source, PyObject* block, const PlanOptions& options, PlannedRead& out, bool opened) {
  std::array<std::string, 3> items{upper_item(block, 0), upper_item(block, 1), upper_item(block, 2)};
  Request request = unwrap(check_request(items[0], items[1], items[2]));
  std::optional<PlanKey> key;
  bool kept = false;
  if (!opened) open_source(source, out);
  if (options.expected && out.identity != options.expected) raise_changed(source);
  if (out.file && options.depth == PlanDepth::full) {
    key = key_of(path_key(source), items, out);
    if (key) out.plan = find_plan(*key);
    kept = out.plan != nullptr;
  }
  if (!kept) {
    Result<BlockPlan> planned = plan_block(out.source(), std::move(request), default_limits(), options.depth);
    if (!planned) fail(out.source(), std::move(planned).error());
    // A plan that met a failed read of a file object is no plan of it: the read's error is the call's.
    if (restore_source_error(out.source())) throw PyErrAlreadySet{};
    out.plan = std::make_shared<const BlockPlan>(std::move(planned).value());
  }
  out.objects = run_plan_steps(*out.plan, false, options.coordinates);
  // A failure before anything can be read is every window's.
  if (out.plan->failure && out.plan->failed_at < 0) {
    raise_plan_failure(*out.plan, *out.plan->failure, out.objects.parameters.get());
  }
  // Kept only when the file is still the one planned.
  if (key && !kept && out.file->identity() == key->file) keep_plan(*key, out.plan);
}

}  // namespace kestrel::py
