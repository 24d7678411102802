#include "tools_native/native_functions.hpp"

#include "py/entry.hpp"

namespace kestrel::py {

namespace {

// The build's core, for a quick check that the module loads the same core as kestrel.
PyObject* core_version(PyObject*, PyObject*) {
  return call_guarded([] { return Ref::check(PyUnicode_FromString("kestrel core 1")); });
}

// One line per function; each function lives in a file of its own.
PyMethodDef g_methods[] = {
    {"core_version", core_version, METH_NOARGS, "core_version() -> str"},
    {"fill_spectra", fill_spectra, METH_VARARGS,
     "fill_spectra(paths, blocks, out, first_row, auto, meta) -> dict: single spectra into rows of out"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* native_methods() { return g_methods; }

}  // namespace kestrel::py
