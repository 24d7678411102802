// directory(source) -> list: where each block of the file lies and what it holds.
#include "container/contents.hpp"
#include "py/listing.hpp"
#include "tools_native/arguments.hpp"
#include "tools_native/native_functions.hpp"
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
  Ref owner = what.owner ? triple_to_tuple(*what.owner) : Ref::borrow(Py_None);
  // size_in_words * 4 cannot overflow an int64 for the values a directory can hold... unless hostile: saturate.
  const std::int64_t words = entry.size_in_words;
  const std::int64_t bytes = words > INT64_MAX / 4 ? INT64_MAX : words < INT64_MIN / 4 ? INT64_MIN : words * 4;
  return Ref::check(Py_BuildValue("(sNLL)", role_name(what.role), owner.release(),
                                  static_cast<long long>(entry.byte_offset), static_cast<long long>(bytes)));
}

}  // namespace

Ref native_directory(PyObject* const* args, Py_ssize_t nargs) {
  const Directory listed = directory_of(only_argument("directory(source)", args, nargs));
  Ref list = Ref::check(PyList_New(0));
  for (const DirectoryEntry& entry : listed) {
    check_status(PyList_Append(list.get(), entry_tuple(entry).get()));
  }
  return list;
}

}  // namespace kestrel::py
