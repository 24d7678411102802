// fill_spectra(paths, blocks, out, first_row, auto, meta) -> dict
//
// The row fill behind kestrel_tools.read_collection: file i's single spectrum
// goes straight into row first_row + i of the caller's float32 matrix. The GIL
// is released once for the whole batch; each file is opened, its block
// selected and its values read through the same core as getOpusData. Errors
// are kept per file and become, after the batch, exactly the exception
// getOpusData (or listContents, for the automatic choice) raises for that file.
//
// blocks: the request triples, best first. With auto, a file takes the first
// one its listing holds; without, blocks[0] is the request for every file.
//
// meta: a float64 array of shape (rows of out, 5 or 6); row first_row + i
// receives (status, block index or -1, NPT, FXV, LXV) of file i, so that the
// caller can check thousands of files with a few array operations, and with a
// sixth column the x unit (DXU) of its block: the text's bytes packed into one
// integer, the first byte lowest (exact in a double up to 6 bytes); -1 when the
// block has no DXU, -2 when DXU is not text or longer. Status codes:
//   0 ok        the row holds the file's NPT values
//   1 error     the returned dict maps i to the exception getOpusData raises
//   2 no block  the listing holds none of the blocks
//   3 width     NPT differs from the row width; the row is untouched
//   4 short     the data block ends early: the dict maps i to the values read
//               (getOpusData returns a shorter y without an error)
//   5 redo      a case the native path does not decide (a parameter of an odd
//               type, NPT <= 0, a path that is no str): the caller asks getOpusData
//   6 stream    a FIFO, socket or device: nothing was read from it, the caller
//               reads it once and works from what was read
#include <cerrno>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "base/limits.hpp"
#include "container/contents.hpp"
#include "container/directory.hpp"
#include "extract/request.hpp"
#include "extract/block_plan.hpp"
#include "io/cursor.hpp"
#include "io/input_file.hpp"
#include "py/entry.hpp"
#include "py/errors.hpp"
#include "py/gil.hpp"
#include "py/numpy_api.hpp"
#include "tools_native/native_functions.hpp"

namespace kestrel::py {

namespace {

enum class Status { ok = 0, error = 1, no_block = 2, width = 3, short_read = 4, redo = 5, stream = 6 };

struct FileJob {
  std::string path;            // file system encoding
  bool path_ok = false;
  // results
  Status status = Status::redo;
  int block_index = -1;
  std::int64_t npt = 0;
  double fxv = 0.0;
  double lxv = 0.0;
  std::int64_t got = 0;        // values read (short reads)
  double dxu = -1.0;           // the x unit code, packed (see meta)
  int open_errno = 0;          // an open() failure: OSError with the file name
  std::optional<Error> error;  // a core failure
};

// One string per triple, for the lookup of a listing entry's rank.
std::string key_of(const BlockTriple& t) { return t.type + '\0' + t.dimensions + '\0' + t.derivative; }

using Ranks = std::unordered_map<std::string, std::size_t>;

std::optional<double> as_double(const ParamValue* v) {
  if (const auto* d = std::get_if<double>(v)) return *d;
  if (const auto* i = std::get_if<std::int64_t>(v)) return static_cast<double>(*i);
  return std::nullopt;
}

// A short unit code as one exact double: what the caller groups files by.
double packed_unit(const ParamValue* v) {
  if (v == nullptr) return -1.0;
  const auto* text = std::get_if<std::string>(v);
  if (text == nullptr || text->size() > 6) return -2.0;
  std::int64_t packed = 0;
  for (std::size_t i = 0; i < text->size(); ++i) {
    packed |= static_cast<std::int64_t>(static_cast<unsigned char>((*text)[i])) << (8 * i);
  }
  return static_cast<double>(packed);
}

// Runs without the GIL: touches nothing of Python.
void fill_one(FileJob& job, const std::vector<BlockTriple>& blocks, const Ranks& rank,
              const std::vector<Request>& requests, bool automatic, float* row, std::int64_t width) {
  // Opening never waits: a FIFO among the files must not hang the batch.
  auto file = InputFile::open(job.path);
  if (!file) {
    job.open_errno = static_cast<int>(file.error().number);  // what opening it in Python says, with the file's name
    job.status = Status::error;
    return;
  }
  if (!file.value().identity()) {
    job.status = Status::stream;  // no regular file: read once by the caller, nothing taken from it here
    return;
  }
  auto fail = [&](Error e) {
    job.error = std::move(e);
    job.status = Status::error;
  };
  auto source = file.value().source(default_limits().max_stream_bytes);
  if (!source) return fail(std::move(source).error());
  Cursor cursor(*source.value());

  std::size_t chosen = 0;
  if (automatic) {
    auto directory = read_opus_directory(cursor);
    if (!directory) return fail(std::move(directory).error());
    chosen = blocks.size();
    for (const BlockTriple& t : list_contents(directory.value())) {
      auto it = rank.find(key_of(t));
      if (it != rank.end() && it->second < chosen) chosen = it->second;
    }
    if (chosen == blocks.size()) {
      job.status = Status::no_block;
      return;
    }
  }
  job.block_index = static_cast<int>(chosen);

  // The same plan and fill as getOpusData's: key checks in its order, the size
  // rule, a block cut short by the end of the file.
  auto planned = plan_block(*source.value(), requests[chosen]);
  if (!planned) return fail(std::move(planned).error());
  const BlockPlan& plan = planned.value();
  if (plan.failure) {
    if (plan.failure->kind == PlanFailure::Kind::core) fail(plan.failure->error);
    return;  // otherwise redo: Python or numpy raises its own exception
  }
  const auto fxv = as_double(plan.parameters.find("FXV"));
  const auto lxv = as_double(plan.parameters.find("LXV"));
  if (plan.npt <= 0 || !fxv || !lxv) return;  // redo: numpy decides these
  job.dxu = packed_unit(plan.parameters.find("DXU"));
  job.npt = plan.npt;
  job.fxv = *fxv;
  job.lxv = *lxv;
  if (plan.npt != width) {
    job.status = Status::width;
    return;
  }
  if (auto filled = fill_window(*source.value(), plan, full_window(plan), FillTargets{row}); !filled) {
    return fail(std::move(filled).error());
  }
  job.got = plan.shape[0];
  job.status = job.got < plan.npt ? Status::short_read : Status::ok;
}

BlockTriple triple_of(PyObject* item) {
  Ref seq = Ref::check(PySequence_Fast(item, "a block must be a (type, dimensions, derivative) triple"));
  if (PySequence_Fast_GET_SIZE(seq.get()) != 3) {
    PyErr_SetString(PyExc_ValueError, "a block must be a (type, dimensions, derivative) triple");
    throw PyErrAlreadySet{};
  }
  std::string parts[3];
  for (Py_ssize_t i = 0; i < 3; ++i) {
    const char* text = PyUnicode_AsUTF8(PySequence_Fast_GET_ITEM(seq.get(), i));
    if (text == nullptr) throw PyErrAlreadySet{};
    parts[i] = text;
  }
  return {parts[0], parts[1], parts[2]};
}

// The exception object for one failed file, built with the GIL held.
Ref exception_of(const FileJob& job, PyObject* path) {
  if (job.open_errno != 0) {
    errno = job.open_errno;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
  } else {
    raise_core_error(*job.error);
  }
  return Ref::steal(PyErr_GetRaisedException());
}

Ref fill_spectra_impl(PyObject* args) {
  PyObject* paths = nullptr;
  PyObject* block_list = nullptr;
  PyObject* out_obj = nullptr;
  Py_ssize_t first_row = 0;
  int automatic = 0;
  PyObject* meta_obj = nullptr;
  if (!PyArg_ParseTuple(args, "OOOnpO:fill_spectra", &paths, &block_list, &out_obj, &first_row, &automatic,
                        &meta_obj)) {
    throw PyErrAlreadySet{};
  }
  Ref path_seq = Ref::check(PySequence_Fast(paths, "paths must be a sequence"));
  Ref block_seq = Ref::check(PySequence_Fast(block_list, "blocks must be a sequence"));
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(path_seq.get());
  const Py_ssize_t n_blocks = PySequence_Fast_GET_SIZE(block_seq.get());
  if (n_blocks == 0) {
    PyErr_SetString(PyExc_ValueError, "fill_spectra needs at least one block");
    throw PyErrAlreadySet{};
  }
  std::vector<BlockTriple> blocks;
  std::vector<Request> requests;
  Ranks rank;
  for (Py_ssize_t i = 0; i < n_blocks; ++i) {
    blocks.push_back(triple_of(PySequence_Fast_GET_ITEM(block_seq.get(), i)));
    requests.push_back(unwrap(check_request(blocks.back().type, blocks.back().dimensions, blocks.back().derivative)));
    rank.try_emplace(key_of(blocks.back()), static_cast<std::size_t>(i));  // the first, best, place counts
  }

  if (!PyArray_Check(out_obj)) {
    PyErr_SetString(PyExc_TypeError, "out must be a numpy array");
    throw PyErrAlreadySet{};
  }
  auto* out = reinterpret_cast<PyArrayObject*>(out_obj);
  if (PyArray_NDIM(out) != 2 || PyArray_TYPE(out) != NPY_FLOAT32 || !PyArray_IS_C_CONTIGUOUS(out) ||
      !PyArray_ISWRITEABLE(out) || !PyArray_ISNOTSWAPPED(out)) {
    PyErr_SetString(PyExc_ValueError, "out must be a writeable, C-contiguous 2-D float32 array");
    throw PyErrAlreadySet{};
  }
  const std::int64_t rows = PyArray_DIM(out, 0);
  const std::int64_t width = PyArray_DIM(out, 1);
  if (first_row < 0 || first_row + n > rows) {
    PyErr_SetString(PyExc_ValueError, "out has too few rows for the paths from first_row");
    throw PyErrAlreadySet{};
  }

  if (!PyArray_Check(meta_obj)) {
    PyErr_SetString(PyExc_TypeError, "meta must be a numpy array");
    throw PyErrAlreadySet{};
  }
  auto* meta = reinterpret_cast<PyArrayObject*>(meta_obj);
  if (PyArray_NDIM(meta) != 2 || PyArray_TYPE(meta) != NPY_FLOAT64 || !PyArray_IS_C_CONTIGUOUS(meta) ||
      !PyArray_ISWRITEABLE(meta) || !PyArray_ISNOTSWAPPED(meta) || PyArray_DIM(meta, 0) != rows ||
      (PyArray_DIM(meta, 1) != 5 && PyArray_DIM(meta, 1) != 6)) {
    PyErr_SetString(PyExc_ValueError, "meta must be a writeable, C-contiguous float64 array of shape (rows, 5 or 6)");
    throw PyErrAlreadySet{};
  }

  std::vector<FileJob> jobs(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* encoded = nullptr;
    if (PyUnicode_FSConverter(PySequence_Fast_GET_ITEM(path_seq.get(), i), &encoded)) {
      Ref bytes = Ref::steal(encoded);
      jobs[i].path.assign(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
      jobs[i].path_ok = true;
    } else {
      PyErr_Clear();  // getOpusData will say what is wrong with this path
    }
  }

  auto* data = static_cast<float*>(PyArray_DATA(out));
  {
    // Only rows of the caller's matrix are written, each by one file; nothing of
    // Python is touched until the GIL is back.
    GilRelease unlocked;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      if (!jobs[i].path_ok) continue;
      float* row = data + (static_cast<std::int64_t>(first_row) + static_cast<std::int64_t>(i)) * width;
      fill_one(jobs[i], blocks, rank, requests, automatic != 0, row, width);
    }
  }

  const std::int64_t columns = PyArray_DIM(meta, 1);
  auto* meta_rows = static_cast<double*>(PyArray_DATA(meta)) + static_cast<std::int64_t>(first_row) * columns;
  Ref result = Ref::check(PyDict_New());
  for (Py_ssize_t i = 0; i < n; ++i) {
    const FileJob& job = jobs[static_cast<std::size_t>(i)];
    double* m = meta_rows + i * columns;
    m[0] = static_cast<double>(static_cast<int>(job.status));
    m[1] = job.block_index;
    m[2] = static_cast<double>(job.npt);
    m[3] = job.fxv;
    m[4] = job.lxv;
    if (columns == 6) m[5] = job.dxu;
    Ref detail;
    if (job.status == Status::error) {
      detail = exception_of(job, PySequence_Fast_GET_ITEM(path_seq.get(), i));
    } else if (job.status == Status::short_read) {
      detail = Ref::check(PyLong_FromLongLong(job.got));
    } else {
      continue;
    }
    Ref key = Ref::check(PyLong_FromSsize_t(i));
    check_status(PyDict_SetItem(result.get(), key.get(), detail.get()));
  }
  return result;
}

}  // namespace

PyObject* fill_spectra(PyObject*, PyObject* args) {
  return call_guarded([args] { return fill_spectra_impl(args); });
}

}  // namespace kestrel::py
