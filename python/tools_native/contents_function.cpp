// contents(source) -> list: the data blocks of a file given by path or as an
// object (bytes, a buffer, a file object), as listContents lists them.
#include "py/listing.hpp"
#include "tools_native/arguments.hpp"
#include "tools_native/native_functions.hpp"
#include "tools_native/planned_read.hpp"

namespace kestrel::py {

Ref native_contents(PyObject* const* args, Py_ssize_t nargs) {
  return listing_of(directory_of(only_argument("contents(source)", args, nargs)));
}

}  // namespace kestrel::py
