// isOpusFile, listContents and decode_string.
#include "container/directory.hpp"
#include "io/cursor.hpp"
#include "module/public_functions.hpp"
#include "py/errors.hpp"
#include "py/listing.hpp"
#include "py/opened_file.hpp"

namespace kestrel::py {

namespace {

Ref is_opus_file_impl(std::span<PyObject* const> args) {
  OpenedFile file(args[0]);
  Cursor cursor(file.source());
  const bool opus = unwrap(is_opus(cursor));
  file.close();
  return Ref::borrow(opus ? Py_True : Py_False);
}

Ref list_contents_impl(std::span<PyObject* const> args) {
  OpenedFile file(args[0]);
  Cursor cursor(file.source());
  const Directory directory = unwrap(read_opus_directory(cursor));
  file.close();
  return listing_of(directory);
}

// Tries each encoding in turn through the object's own decode(), so any
// bytes-like object and any codec behave exactly as Python's would.
Ref decode_string_impl(std::span<PyObject* const> args) {
  PyObject* s = args[0];
  Ref iterator = Ref::check(PyObject_GetIter(args[1]));
  const bool empty_bytes = (PyBytes_CheckExact(s) && PyBytes_GET_SIZE(s) == 0) ||
                           (PyByteArray_CheckExact(s) && PyByteArray_GET_SIZE(s) == 0);
  while (Ref encoding = Ref::steal(PyIter_Next(iterator.get()))) {
    // Decoding nothing skips the codec lookup; look it up anyway so that a name
    // no codec answers to is an error whatever the bytes.
    if (empty_bytes && PyUnicode_Check(encoding.get())) {
      const char* name = PyUnicode_AsUTF8(encoding.get());
      if (name == nullptr) throw PyErrAlreadySet{};
      Ref::check(PyCodec_Decoder(name));
    }
    PyObject* decoded = PyObject_CallMethod(s, "decode", "O", encoding.get());
    if (decoded != nullptr) return Ref::steal(decoded);
    if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) throw PyErrAlreadySet{};
    PyErr_Clear();
  }
  if (PyErr_Occurred()) throw PyErrAlreadySet{};
  return Ref::check(PyObject_CallMethod(s, "decode", "ss", "ascii", "ignore"));
}

Ref default_encodings() { return Ref::check(Py_BuildValue("((sss))", "ascii", "utf8", "latin1")); }

}  // namespace

const FunctionSpec kIsOpusFileFunction = {
    "isOpusFile",
    "\n    Tests if the given file is an OPUS data file.\n\n    Args:\n        path (path): Path to file\n\n"
    "    Returns:\n        bool: True if an OPUS file\n    ",
    {"path", nullptr},
    is_opus_file_impl,
    nullptr,
};

const FunctionSpec kListContentsFunction = {
    "listContents",
    "\n    This function returns a list of datablocks for a given file.\n"
    "    Each datablock is identified by blocktype, dimensions and derivative.\n\n"
    "    Args:\n        path (path): Path to file\n\n    Returns:\n"
    "        list of tuple(str, str, str): List containing a (datablocktype, dimensions, derivative) tuple\n"
    "        for each datablock in the file\n    ",
    {"path", nullptr},
    list_contents_impl,
    nullptr,
};

const FunctionSpec kDecodeStringFunction = {
    "decode_string",
    "Attempt to decode a string",
    {"s", "encodings", nullptr},
    decode_string_impl,
    default_encodings,
};

}  // namespace kestrel::py
