#include "tools_native/planned_read.hpp"

#include "extract/request.hpp"
#include "py/errors.hpp"
#include "py/plan_steps.hpp"
#include "tools_native/object_source.hpp"
#include "tools_native/plan_cache.hpp"

namespace kestrel::py {

namespace {

// block[i].upper() as UTF-8 (surrogates passed through).
std::string upper_item(PyObject* block, Py_ssize_t index) {
  Ref item = Ref::check(PySequence_GetItem(block, index));
  Ref upper = Ref::check(PyObject_CallMethod(item.get(), "upper", nullptr));
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
                              const OpenedFile& file) {
  if (!path) return std::nullopt;
  const std::optional<FileIdentity> id = regular_file_identity(file.fd());
  // The source's size is the one fstat gave when it was made: a file that grew since is planned afresh.
  if (!id || !id->settled || static_cast<std::uint64_t>(id->size) != file.source().size()) return std::nullopt;
  return PlanKey{*path, block, id->dev, id->ino, id->size, id->mtime_ns, id->ctime_ns};
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
  } else {
    read.object = object_source(source);
  }
}

void plan_read(PyObject* source, PyObject* block, bool coordinates, PlannedRead& out) {
  std::array<std::string, 3> items{upper_item(block, 0), upper_item(block, 1), upper_item(block, 2)};
  Request request = unwrap(check_request(items[0], items[1], items[2]));
  std::optional<PlanKey> key;
  bool kept = false;
  open_source(source, out);
  if (out.file) {
    key = key_of(path_key(source), items, *out.file);
    if (key) out.plan = find_plan(*key);
    kept = out.plan != nullptr;
  }
  if (!kept) {
    Result<BlockPlan> planned = plan_block(out.source(), std::move(request));
    if (!planned) fail(out.source(), std::move(planned).error());
    // A plan that met a failed read of a file object is no plan of it: the read's error is the call's.
    if (restore_source_error(out.source())) throw PyErrAlreadySet{};
    out.plan = std::make_shared<const BlockPlan>(std::move(planned).value());
  }
  out.objects = run_plan_steps(*out.plan, false, coordinates);
  // A failure before anything can be read is every window's.
  if (out.plan->failure && out.plan->failed_at < 0) {
    raise_plan_failure(*out.plan, *out.plan->failure, out.objects.parameters.get());
  }
  if (key && !kept) {
    // Kept only when the file is still the one planned.
    const std::optional<FileIdentity> now = regular_file_identity(out.file->fd());
    if (now && now->dev == key->dev && now->ino == key->ino && now->size == key->size &&
        now->mtime_ns == key->mtime_ns && now->ctime_ns == key->ctime_ns) {
      keep_plan(*key, out.plan);
    }
  }
}

}  // namespace kestrel::py
