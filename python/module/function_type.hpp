// One small callable type serves every public function: unlike builtin
// functions it carries __defaults__, __module__ and a __dict__, so callers that
// inspect functions find what they expect. Arguments bind by position or
// keyword by one table-driven routine with the interpreter's usual messages.
#pragma once

#include <array>
#include <span>

#include "py/ref.hpp"

namespace kestrel::py {

struct FunctionSpec {
  const char* name;
  const char* doc;
  std::array<const char*, 4> params;  // parameter names, then nullptr
  // The bound arguments, one borrowed reference per parameter.
  Ref (*impl)(std::span<PyObject* const> args);
  // Builds the initial __defaults__ tuple, or nullptr for None.
  Ref (*make_defaults)();
};

// Creates the function type; once, at module exec.
void ready_function_type(PyObject* module);

// A new function object for spec, with __module__ set to the module's name.
Ref make_function(const FunctionSpec& spec, PyObject* module_name);

}  // namespace kestrel::py
