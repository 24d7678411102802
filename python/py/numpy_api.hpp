// The one way the binding includes numpy's C API. The module's exec step
// imports the API table; every other file uses it.
#pragma once

#include "py/python_api.hpp"

#define NPY_NO_DEPRECATED_API NPY_1_22_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL kestrel_ARRAY_API
#ifndef KESTREL_NUMPY_IMPORT
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
