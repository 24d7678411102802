// paramDict and OpusDict: the key tables as new dicts.
#include "module/public_functions.hpp"
#include "params/key_tables.hpp"

namespace kestrel::py {

namespace {

template <std::size_t N>
Ref table_to_dict(const std::array<KeyName, N>& table) {
  Ref dict = Ref::check(PyDict_New());
  for (const KeyName& entry : table) {
    Ref value = Ref::check(
        PyUnicode_DecodeUTF8(entry.name.data(), static_cast<Py_ssize_t>(entry.name.size()), "strict"));
    Ref key = Ref::check(PyUnicode_FromStringAndSize(entry.key.data(), static_cast<Py_ssize_t>(entry.key.size())));
    check_status(PyDict_SetItem(dict.get(), key.get(), value.get()));
  }
  return dict;
}

Ref opus_dict_impl(std::span<PyObject* const>) { return table_to_dict(opus_key_names()); }

}  // namespace

Ref make_param_dict() { return table_to_dict(display_names()); }

const FunctionSpec kOpusDictFunction = {
    "OpusDict",
    "Returns a dictionary for translating parameter keys to lower_case_strings.",
    {nullptr},
    opus_dict_impl,
    nullptr,
};

}  // namespace kestrel::py
