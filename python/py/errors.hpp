// Turns core errors into exactly the Python exceptions callers see.
#pragma once

#include "base/error.hpp"
#include "py/ref.hpp"

namespace kestrel::py {

// Thrown inside the binding with a core error; the entry wrapper raises it.
struct CoreFailure {
  Error error;
};

// Unwraps a core Result or throws CoreFailure.
template <typename R>
decltype(auto) unwrap(R&& result) {
  if (!result) throw CoreFailure{std::move(result).error()};
  return std::forward<R>(result).value();
}

// Sets the Python exception for a core error.
void raise_core_error(const Error& error);

// struct.error as the module bound it at import.
void set_struct_error(PyObject* type);

// UTF-8 from the core (surrogates passed through) to str.
Ref text_to_str(std::string_view text);

}  // namespace kestrel::py
