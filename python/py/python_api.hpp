// The one way the binding includes the CPython headers.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
