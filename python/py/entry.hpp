// Every public callable enters the binding through call_guarded: C++ never
// unwinds into the interpreter.
#pragma once

#include <new>

#include "py/errors.hpp"
#include "py/ref.hpp"

namespace kestrel::py {

template <typename F>
PyObject* call_guarded(F&& body) noexcept {
  try {
    return body().release();
  } catch (const PyErrAlreadySet&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "kestrel: error indicator lost");
    return nullptr;
  } catch (const CoreFailure& failure) {
    raise_core_error(failure.error);
    return nullptr;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "kestrel: unexpected internal failure");
    return nullptr;
  }
}

}  // namespace kestrel::py
