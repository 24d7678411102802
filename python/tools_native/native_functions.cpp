#include "tools_native/native_functions.hpp"

namespace kestrel::py {

namespace {

// One line per function; each function lives in a file of its own.
PyMethodDef g_methods[] = {
    {"plan", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(native_plan)), METH_FASTCALL,
     "plan(source, block) -> dict\n\n"
     "What getOpusData(path, block) returns, without the values of its main array: 'kind', 'shape' (of the\n"
     "main array; multi-region kinds stack all regions' rows), 'dtype', 'x', 'parameters', 'failed_at', and\n"
     "per kind 'mapX'/'mapY'/'layout' (maps), 'z' (series; NaN from failed_at on), 'labels' (trace kinds),\n"
     "'regions' (dicts of 'title', 'start', 'stop', 'mapX', 'mapY', 'start_time'; start_time None for traces),\n"
     "'storage' (where the values lie: 'file_size', 'data_offset', 'npt', 'records', 'width', 'stride',\n"
     "'record_runs' as rows (first map position, count, offset of the first), and for multi-region kinds 'rows'\n"
     "as rows (record offset or trace point, 1 where one value fills the row)).\n"
     "A file getOpusData cannot read at all raises what getOpusData raises. 'failed_at' is None when the full\n"
     "read succeeds, else where it stops: a cell index (row * NPX + column) for per-position maps, a spectral\n"
     "point for transposed maps, a row for series and multi-region kinds; a value at or past the axis' end\n"
     "means the read stops after its last position. No line is printed and no warning issued.\n\n"
     "    >>> plan('demo.0', ('AB', '3D', 'NONE'))['shape']\n    (5, 6, 200)"},
    {"read_window", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(native_read_window)), METH_FASTCALL,
     "read_window(path, block, window, out) -> None\n\n"
     "Fills `out` (C-contiguous float32, the window's shape) with main[window]: one (start, stop) pair per\n"
     "axis of plan()['shape'] (0 <= start <= stop <= extent); for multi-region kinds the first entry may be a\n"
     "1-D int64 array of stacked rows. The GIL is released while reading. A window that holds a position at or\n"
     "past plan()['failed_at'] (or, when that lies past the end, that reaches the end) raises what getOpusData\n"
     "raises; any other window succeeds and equals getOpusData's array at the window. The last 8 plans\n"
     "made for regular files (str or bytes paths, unmodified for 3 s) are kept for later calls, keyed by the path,\n"
     "the block and the file's device, inode, size and times: a rewritten or replaced file is planned again.\n\n"
     "    >>> out = numpy.empty((2, 3, 200), numpy.float32)\n"
     "    >>> read_window('demo.0', ('AB', '3D', 'NONE'), [(0, 2), (1, 4), (0, 200)], out)"},
    {"contents", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(native_contents)), METH_FASTCALL,
     "contents(source) -> list\n\n"
     "The data blocks of the file as listContents lists them. source is a path, or an object that is none: a\n"
     "buffer (bytes-like, read in place) or a binary file object (seek and readinto or read), read range by\n"
     "range. plan and read_window take the same sources (bytes there are a path, as open() takes them)."},
    {"fill_spectra", fill_spectra, METH_VARARGS,
     "fill_spectra(paths, blocks, out, first_row, auto, meta) -> dict: single spectra into rows of out"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* native_methods() { return g_methods; }

}  // namespace kestrel::py
