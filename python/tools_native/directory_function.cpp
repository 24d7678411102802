// directory(source) -> list: where each block of the file lies and what it holds.
#include "container/contents.hpp"
#include "container/directory.hpp"
#include "io/cursor.hpp"
#include "py/entry.hpp"
#include "py/errors.hpp"
#include "tools_native/native_functions.hpp"
#include "tools_native/object_source.hpp"
#include "tools_native/planned_read.hpp"

namespace kestrel::py {

namespace {

const char* role_name(EntryRole role) {
  switch (role) {
    case EntryRole::data: return "data";
    case EntryRole::data_parameters: return "data parameters";
    case EntryRole::acquisition_parameters: return "acquisition parameters";
    case EntryRole::instrument_parameters: return "instrument parameters";
    case EntryRole::optics_parameters: return "optics parameters";
    case EntryRole::sample_parameters: return "sample parameters";
    case EntryRole::ft_parameters: return "Fourier transform parameters";
    case EntryRole::annotation_table: return "annotation table";
    case EntryRole::pictures: return "pictures";
    case EntryRole::directory_extension: return "directory extension";
    case EntryRole::other: break;
  }
  return "other";
}

Ref entry_tuple(const DirectoryEntry& entry) {
  const EntryDescription what = describe_entry(entry.type);
  Ref owner = Ref::borrow(Py_None);
  if (what.owner) {
    owner = Ref::check(Py_BuildValue("(NNN)", text_to_str(what.owner->type).release(),
                                     text_to_str(what.owner->dimensions).release(),
                                     text_to_str(what.owner->derivative).release()));
  }
  // size_in_words * 4 cannot overflow an int64 for the values a directory can hold... unless hostile: saturate.
  const std::int64_t words = entry.size_in_words;
  const std::int64_t bytes = words > INT64_MAX / 4 ? INT64_MAX : words < INT64_MIN / 4 ? INT64_MIN : words * 4;
  return Ref::check(Py_BuildValue("(sNLL)", role_name(what.role), owner.release(),
                                  static_cast<long long>(entry.byte_offset), static_cast<long long>(bytes)));
}

Ref directory_impl(PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 1) {
    PyErr_SetString(PyExc_TypeError, "directory(path) takes exactly 1 argument");
    throw PyErrAlreadySet{};
  }
  PlannedRead read;
  open_source(args[0], read);
  const ByteSource& source = read.source();
  Cursor cursor(source);
  Result<bool> opus = is_opus(cursor);
  if (restore_source_error(source)) throw PyErrAlreadySet{};
  if (!unwrap(std::move(opus))) throw CoreFailure{Error::value("Can't process a non-Opus file")};
  Result<Directory> directory = read_directory(cursor);
  if (restore_source_error(source)) throw PyErrAlreadySet{};
  const Directory listed = unwrap(std::move(directory));
  read.close();
  Ref list = Ref::check(PyList_New(0));
  for (const DirectoryEntry& entry : listed) {
    Ref item = entry_tuple(entry);
    check_status(PyList_Append(list.get(), item.get()));
  }
  return list;
}

}  // namespace

PyObject* native_directory(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return call_guarded([&] { return directory_impl(args, nargs); });
}

}  // namespace kestrel::py
