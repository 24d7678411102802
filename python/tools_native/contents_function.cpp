// contents(source) -> list: the data blocks of a file given by path or as an
// object (bytes, a buffer, a file object), as listContents lists them.
#include "container/contents.hpp"
#include "container/directory.hpp"
#include "io/cursor.hpp"
#include "py/entry.hpp"
#include "py/errors.hpp"
#include "tools_native/native_functions.hpp"
#include "tools_native/object_source.hpp"
#include "tools_native/planned_read.hpp"

namespace kestrel::py {

Ref contents_of(const ByteSource& source) {
  Cursor cursor(source);
  Result<bool> opus = is_opus(cursor);
  if (restore_source_error(source)) throw PyErrAlreadySet{};
  if (!unwrap(std::move(opus))) throw CoreFailure{Error::value("Can't process a non-Opus file")};
  Result<Directory> directory = read_directory(cursor);
  if (restore_source_error(source)) throw PyErrAlreadySet{};
  const Directory listed = unwrap(std::move(directory));
  Ref list = Ref::check(PyList_New(0));
  for (const BlockTriple& t : list_contents(listed)) {
    Ref triple = Ref::check(Py_BuildValue("(s#s#s#)", t.type.data(), static_cast<Py_ssize_t>(t.type.size()),
                                          t.dimensions.data(), static_cast<Py_ssize_t>(t.dimensions.size()),
                                          t.derivative.data(), static_cast<Py_ssize_t>(t.derivative.size())));
    check_status(PyList_Append(list.get(), triple.get()));
  }
  return list;
}

namespace {

Ref contents_impl(PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 1) {
    PyErr_SetString(PyExc_TypeError, "contents(source) takes exactly 1 argument");
    throw PyErrAlreadySet{};
  }
  PlannedRead read;
  open_source(args[0], read);
  Ref list = contents_of(read.source());
  read.close();
  return list;
}

}  // namespace

PyObject* native_contents(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return call_guarded([&] { return contents_impl(args, nargs); });
}

}  // namespace kestrel::py
