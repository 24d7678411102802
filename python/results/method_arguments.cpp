#include "results/method_arguments.hpp"

#include <cstddef>

namespace kestrel::py {

namespace {

[[noreturn]] void fail() { throw PyErrAlreadySet{}; }

Py_ssize_t find_param(std::span<PyObject* const> params, PyObject* key) {
  const auto n = static_cast<Py_ssize_t>(params.size());
  // Keyword names are almost always interned, so identity finds them first.
  for (Py_ssize_t j = 0; j < n; ++j) {
    if (params[static_cast<std::size_t>(j)] == key) return j;
  }
  for (Py_ssize_t j = 0; j < n; ++j) {
    const int eq = PyObject_RichCompareBool(key, params[static_cast<std::size_t>(j)], Py_EQ);
    if (eq < 0) fail();
    if (eq > 0) return j;
  }
  return -1;
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'"
Ref quoted_list(const std::vector<PyObject*>& names) {
  const std::size_t n = names.size();
  Ref text = Ref::check(PyUnicode_FromString(""));
  for (std::size_t i = 0; i < n; ++i) {
    const char* sep = i == 0 ? "" : (i + 1 < n ? ", " : (n > 2 ? ", and " : " and "));
    text = Ref::check(PyUnicode_FromFormat("%U%s'%U'", text.get(), sep, names[i]));
  }
  return text;
}

}  // namespace

void bind_method_arguments(const MethodSignature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                         BoundArguments& bound) {
  const auto n = static_cast<Py_ssize_t>(sig.params.size());
  bound.values.assign(sig.params.size(), nullptr);
  for (Py_ssize_t i = 0; i < nargs && i < n; ++i) bound.values[static_cast<std::size_t>(i)] = args[i];

  // Keywords are matched before the positional count is checked, so a value
  // given twice is reported even when there are surplus positional arguments.
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  PyObject* const* kwvalues = args + nargs;
  std::vector<PyObject*> rest_keys;
  bound.rest_storage.clear();
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    const Py_ssize_t j = find_param(sig.params, key);
    if (j < 0) {
      if (!sig.collects_keywords) {
        PyErr_Format(PyExc_TypeError, "%U() got an unexpected keyword argument '%S'", sig.qualname, key);
        fail();
      }
      rest_keys.push_back(key);
      bound.rest_storage.push_back(kwvalues[k]);
      continue;
    }
    PyObject*& slot = bound.values[static_cast<std::size_t>(j)];
    if (slot != nullptr) {
      PyErr_Format(PyExc_TypeError, "%U() got multiple values for argument '%S'", sig.qualname, key);
      fail();
    }
    slot = kwvalues[k];
  }

  if (nargs > n) {
    PyErr_Format(PyExc_TypeError, "%U() takes %zd positional argument%s but %zd %s given", sig.qualname, n,
                 n == 1 ? "" : "s", nargs, nargs == 1 ? "was" : "were");
    fail();
  }
  std::vector<PyObject*> missing;
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (bound.values[static_cast<std::size_t>(i)] == nullptr) missing.push_back(sig.params[static_cast<std::size_t>(i)]);
  }
  if (!missing.empty()) {
    Ref names = quoted_list(missing);
    PyErr_Format(PyExc_TypeError, "%U() missing %zd required positional argument%s: %U", sig.qualname,
                 static_cast<Py_ssize_t>(missing.size()), missing.size() == 1 ? "" : "s", names.get());
    fail();
  }

  const auto rest = static_cast<Py_ssize_t>(rest_keys.size());
  if (rest == 0) return;
  if (rest == nkw) {  // the usual case: every keyword goes on unchanged
    bound.rest_values = kwvalues;
    bound.rest_names = Ref::borrow(kwnames);
    return;
  }
  bound.rest_names = Ref::check(PyTuple_New(rest));
  for (Py_ssize_t i = 0; i < rest; ++i) {
    PyTuple_SET_ITEM(bound.rest_names.get(), i, Py_NewRef(rest_keys[static_cast<std::size_t>(i)]));
  }
  bound.rest_values = bound.rest_storage.data();
}

}  // namespace kestrel::py
