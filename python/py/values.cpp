#include "py/values.hpp"

#include "py/errors.hpp"

namespace kestrel::py {

Ref to_python(const ParamValue& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return Ref::check(PyLong_FromLongLong(*i));
  if (const auto* d = std::get_if<double>(&value)) return Ref::check(PyFloat_FromDouble(*d));
  return text_to_str(std::get<std::string>(value));
}

Ref params_to_dict(const ParamList& params) {
  Ref dict = Ref::check(PyDict_New());
  for (const auto& [key, value] : params.items()) {
    Ref k = text_to_str(key);
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
