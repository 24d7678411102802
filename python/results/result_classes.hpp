// The nine result classes: created at module exec, then used by the readers.
#pragma once

#include "py/ref.hpp"

namespace kestrel::py {

enum class ResultClass {
  BaseDataReturn,
  SingleDataReturn,
  ImageDataReturn,
  ImageTRCDataReturn,
  TimeResolvedDataReturn,
  TimeResolvedTRCDataReturn,
  MultiRegionDataReturn,
  Region,
  MultiRegionTRCDataReturn,
};

// Creates the nine classes and binds each in the module right after its creation.
void create_result_classes(PyObject* module);

// The class object made at exec (borrowed).
PyObject* result_class(ResultClass which);

// Calls a result class with keyword arguments only, as the readers do.
Ref construct_result(ResultClass which, PyObject* kwargs);

}  // namespace kestrel::py
