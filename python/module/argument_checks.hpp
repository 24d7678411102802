// Type checks on the arguments of public functions, with the messages of a
// typed signature: "Argument 'path' has incorrect type (expected str, got bytes)".
#pragma once

#include "py/ref.hpp"

namespace kestrel::py {

// Accepts exactly str (no subclass) or None; anything else raises TypeError.
void require_str_or_none(PyObject* value, const char* name);

}  // namespace kestrel::py
