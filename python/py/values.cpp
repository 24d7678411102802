#include "py/values.hpp"

#include <array>
#include <cstdint>

#include "py/errors.hpp"

namespace kestrel::py {

namespace {

// Parameter names are a few letters out of a small set, the same in every
// file: the str of a name is made once and shared between the dicts, as the
// interpreter shares identifier names, so its hash is computed once too. A
// direct-mapped table: a name whose slot holds another is made afresh and
// takes the slot, so whatever the files hold the table stays this size.
class KeyTable {
 public:
  Ref get(std::string_view key) {
    if (key.size() > 4 || key.empty()) return text_to_str(key);
    std::uint32_t word = 0;
    for (const char c : key) {
      if (static_cast<unsigned char>(c) >= 0x80) return text_to_str(key);
      word = (word << 8) | static_cast<unsigned char>(c);
    }
    const std::uint64_t tag = (std::uint64_t{word} << 3) | key.size();
    Slot& slot = slots_[(tag * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
    if (slot.str != nullptr && slot.tag == tag) return Ref::borrow(slot.str);
    Ref made = text_to_str(key);
    PyObject* str = made.release();
    PyUnicode_InternInPlace(&str);
    if (str == nullptr) throw PyErrAlreadySet{};
    Py_XSETREF(slot.str, Py_NewRef(str));
    slot.tag = tag;
    return Ref::steal(str);
  }

 private:
  static constexpr int kBits = 10;
  struct Slot {
    std::uint64_t tag = 0;
    PyObject* str = nullptr;  // strong, for the life of the process
  };
  std::array<Slot, std::size_t{1} << kBits> slots_{};
};

// Touched with the GIL held only.
KeyTable g_keys;

}  // namespace

Ref to_python(const ParamValue& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return Ref::check(PyLong_FromLongLong(*i));
  if (const auto* d = std::get_if<double>(&value)) return Ref::check(PyFloat_FromDouble(*d));
  return text_to_str(std::get<std::string>(value));
}

Ref params_to_dict(const ParamList& params) {
  Ref dict = Ref::check(PyDict_New());
  for (const auto& [key, value] : params.items()) {
    Ref k = g_keys.get(key);
    check_status(PyDict_SetItem(dict.get(), k.get(), to_python(value).get()));
  }
  return dict;
}

Ref labels_to_list(const std::vector<std::string>& labels) {
  Ref list = Ref::check(PyList_New(static_cast<Py_ssize_t>(labels.size())));
  for (std::size_t i = 0; i < labels.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text_to_str(labels[i]).release());
  }
  return list;
}

}  // namespace kestrel::py
