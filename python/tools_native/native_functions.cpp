#include "tools_native/native_functions.hpp"

#include "py/entry.hpp"
#include "tools_native/counting_source.hpp"

namespace kestrel::py {

namespace {

template <typename F>
PyCFunction as_function(F* f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// The entry points of the table: a function's C++ exceptions become Python's.
template <Ref (*F)(PyObject*, PyObject*)>
PyObject* with_keywords(PyObject*, PyObject* args, PyObject* kwargs) {
  return call_guarded([&] { return F(args, kwargs); });
}

template <Ref (*F)(PyObject* const*, Py_ssize_t)>
PyObject* fast(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return call_guarded([&] { return F(args, nargs); });
}

PyObject* bytes_read(PyObject*, PyObject*) {
  return call_guarded([] { return Ref::check(PyLong_FromUnsignedLongLong(g_bytes_read.load())); });
}

constexpr int kKeywords = METH_VARARGS | METH_KEYWORDS;

// One entry per function; each function lives in a file of its own.
PyMethodDef g_methods[] = {
    {"plan", as_function(with_keywords<native_plan>), kKeywords,
     "plan(source, block, times=True) -> dict\n\n"
     "What getOpusData(path, block) returns, without the values of its main array: 'kind', 'shape' (of the\n"
     "main array; multi-region kinds stack all regions' rows), 'dtype', 'x', 'parameters', 'failed_at',\n"
     "'copied_bytes' (what a full read copies from the file; the rest of the main array is zeros),\n"
     "'identity', and per kind 'mapX'/'mapY'/'layout' (maps), 'z' (series; NaN from failed_at on), 'labels'\n"
     "(trace kinds), 'regions' (dicts of 'title', 'start', 'stop', 'mapX', 'mapY', 'start_time'; start_time\n"
     "None for traces), 'storage' (where the values lie: 'file_size', 'data_offset', 'npt', 'records', 'width',\n"
     "'stride', 'record_runs' as rows (first map position, count, offset of the first), and for multi-region\n"
     "kinds 'rows' as rows (record offset or trace point, 1 where one value fills the row)).\n"
     "A file getOpusData cannot read at all raises what getOpusData raises; so does a series whose store table\n"
     "claims more records than the file's bytes could describe. 'failed_at' is None when the full read\n"
     "succeeds, else where it stops: a cell index (row * NPX + column) for per-position maps, a spectral point\n"
     "for transposed maps, a row for series and multi-region kinds; a value at or past the axis' end means the\n"
     "read stops after its last position. No line is printed and no warning issued.\n"
     "'identity' is (device, inode, size, mtime_ns, ctime_ns) of the file as opened, ints (None for a pipe, a\n"
     "device or a source that is no path): hand it to read_window or read_times to be sure they read the same\n"
     "file.\n"
     "times=False leaves out the per-record times, and reads no record bytes for them: 'z' and each region's\n"
     "'start_time' are None (read_times gives them).\n\n"
     "    >>> plan('demo.0', ('AB', '3D', 'NONE'))['shape']\n    (5, 6, 200)\n"
     "    >>> plan('demo.0', ('TR', '3D', 'NONE'), times=False)['z'] is None\n    True"},
    {"read_window", as_function(with_keywords<native_read_window>), kKeywords,
     "read_window(source, block, window, out, identity=None) -> None\n\n"
     "Fills `out` (C-contiguous float32, the window's shape) with main[window]: one (start, stop) pair per\n"
     "axis of plan()['shape'] (0 <= start <= stop <= extent); for multi-region kinds the first entry may be a\n"
     "1-D int64 array of stacked rows. The GIL is released while reading. A window that holds a position at or\n"
     "past plan()['failed_at'] (or, when that lies past the end, that reaches the end) raises what getOpusData\n"
     "raises; any other window succeeds and equals getOpusData's array at the window.\n"
     "With `identity` (plan()['identity']), the file opened now must be that one: else OSError\n"
     "'<path>: the file changed since it was opened' (its filename the path) is raised before anything is\n"
     "read. The last 8 plans made for regular files (str or bytes paths, unmodified for 3 s) are kept for\n"
     "later calls, keyed by the path, the block and the file's identity: a rewritten or replaced file is\n"
     "planned again.\n\n"
     "    >>> p = plan('demo.0', ('AB', '3D', 'NONE'))\n"
     "    >>> out = numpy.empty((2, 3, 200), numpy.float32)\n"
     "    >>> read_window('demo.0', ('AB', '3D', 'NONE'), [(0, 2), (1, 4), (0, 200)], out, identity=p['identity'])"},
    {"read_times", as_function(with_keywords<native_read_times>), kKeywords,
     "read_times(source, block, identity=None) -> numpy.ndarray | list | None\n\n"
     "The per-record times plan(times=False) leaves out, the same arrays plan(times=True) gives: a series'\n"
     "'z'; for multi-region kinds a list of each region's 'start_time' (None for traces); None for other\n"
     "kinds. Reads each record's time (from a local file with the few hundred bytes between two times, in large\n"
     "reads). `identity` as for read_window.\n\n"
     "    >>> read_times('demo.0', ('TR', '3D', 'NONE'))[:3]\n    array([ 0., 30., 60.])"},
    {"parameters", as_function(with_keywords<native_parameters>), kKeywords,
     "parameters(source, block) -> dict\n\n"
     "getOpusData(path, block).parameters (same keys, order and values; a derived map without a grid takes\n"
     "the underived block's), read from the file's directory and the block's parameter blocks only: no record,\n"
     "time or table of the data block is read. Raises what getOpusData raises for the file, its directory, the\n"
     "block, its parameter blocks and the axes (x; mapX and mapY of a map); a failure inside the data block\n"
     "itself (its store or annotation table, its records) is not seen. Prints nothing.\n\n"
     "    >>> parameters('demo.0', ('AB', '2D', 'NONE'))['NPT']\n    200"},
    {"describe", as_function(with_keywords<native_describe>), kKeywords,
     "describe(source, block) -> (listing, block, parameters)\n\n"
     "contents(source), the block, and parameters(source, block), from one opening of the source (a stream\n"
     "is read once). `block` is a triple, or a callable given the listing that returns one (and may raise).\n"
     "Errors are contents()' for the listing, then parameters()'.\n\n"
     "    >>> describe('demo.0', lambda listing: listing[0])[1]\n    ('AB', '3D', 'NONE')"},
    {"_bytes_read", bytes_read, METH_NOARGS,
     "_bytes_read() -> int: bytes plan, read_window, read_times and parameters read from files opened by\n"
     "path so far (for tests and benchmarks)."},
    {"directory", as_function(fast<native_directory>), METH_FASTCALL,
     "directory(source) -> list\n\n"
     "Every entry of the file's block directory, in directory order, as (role, block, offset, bytes): role\n"
     "'data', 'data parameters', 'acquisition parameters', ..., 'annotation table', 'pictures',\n"
     "'directory extension' or 'other'; block the triple of the data block the entry is or describes (None\n"
     "for the others); offset and bytes where the entry says the block lies. Errors are listContents'."},
    {"contents", as_function(fast<native_contents>), METH_FASTCALL,
     "contents(source) -> list\n\n"
     "The data blocks of the file as listContents lists them. source is a path, or an object that is none: a\n"
     "buffer (bytes-like, read in place) or a binary file object (seek and readinto or read), read range by\n"
     "range. plan, read_window, read_times and parameters take the same sources (bytes there are a path, as\n"
     "open() takes them)."},
    {"fill_spectra", fill_spectra, METH_VARARGS,
     "fill_spectra(paths, blocks, out, first_row, auto, meta) -> dict: single spectra into rows of out"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* native_methods() { return g_methods; }

}  // namespace kestrel::py
