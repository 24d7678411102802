// The 3D readers are not built yet.
#include "extract/extract_context.hpp"

namespace kestrel::py {

Ref read_3d_block(ExtractContext&) {
  PyErr_SetString(PyExc_NotImplementedError, "3D data blocks are not supported yet");
  throw PyErrAlreadySet{};
}

}  // namespace kestrel::py
