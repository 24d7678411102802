#include "tools_native/native_functions.hpp"

namespace kestrel::py {

namespace {

// One line per function; each function lives in a file of its own.
PyMethodDef g_methods[] = {
    {"plan", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(native_plan)), METH_FASTCALL,
     "plan(path, block) -> dict\n\n"
     "What getOpusData(path, block) returns, without the values of its main array: 'kind', 'shape' (of the\n"
     "main array; multi-region kinds stack all regions' rows), 'dtype', 'x', 'parameters', 'failed_at' (None,\n"
     "or where the full read stops: windows before it read fine), and per kind 'mapX'/'mapY'/'layout' (maps),\n"
     "'z' (series; NaN from failed_at on), 'labels' (trace kinds), 'regions' (dicts of 'title', 'start',\n"
     "'stop', 'mapX', 'mapY', 'start_time'). No line is printed and no warning issued."},
    {"read_window", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(native_read_window)), METH_FASTCALL,
     "read_window(path, block, window, out) -> None\n\n"
     "Fills `out` (C-contiguous float32, the window's shape) with main[window]: one (start, stop) pair per\n"
     "axis of plan()['shape'] (0 <= start <= stop <= extent); for multi-region kinds the first entry may be a\n"
     "1-D int64 array of stacked rows. The GIL is released while reading. A window that reaches the place\n"
     "where the full read fails raises what getOpusData raises; one that does not succeeds."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* native_methods() { return g_methods; }

}  // namespace kestrel::py
