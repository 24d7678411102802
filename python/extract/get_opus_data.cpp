// getOpusData(path, datablock): checks the request, resolves it against the
// file, and hands over to the 2D or 3D reader.
#include "container/names.hpp"
#include "extract/block_plan.hpp"
#include "extract/block_result.hpp"
#include "extract/request.hpp"
#include "module/argument_checks.hpp"
#include "module/public_functions.hpp"
#include "py/errors.hpp"
#include "py/opened_file.hpp"

namespace kestrel::py {

namespace {

// datablock[i].upper(), with the sequence's and the item's own errors.
Ref upper_item(PyObject* datablock, long index) {
  Ref key = Ref::check(PyLong_FromLong(index));
  Ref item = Ref::check(PyObject_GetItem(datablock, key.get()));
  static PyObject* upper = nullptr;
  if (upper == nullptr) upper = PyUnicode_InternFromString("upper");
  if (upper == nullptr) throw PyErrAlreadySet{};
  return Ref::check(PyObject_CallMethodNoArgs(item.get(), upper));
}

Ref text(std::string_view s) {
  return Ref::check(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}

// ValueError(before + value + after), joined with Python's +: a value that is
// not a str fails (or formats itself) exactly as in the concatenation.
[[noreturn]] void raise_request_error(const MessageFrame& frame, PyObject* value) {
  Ref message = Ref::check(PyNumber_Add(text(frame.before).get(), value));
  message = Ref::check(PyNumber_Add(message.get(), text(frame.after).get()));
  Ref error = Ref::check(PyObject_CallOneArg(PyExc_ValueError, message.get()));
  PyErr_SetRaisedException(error.release());
  throw PyErrAlreadySet{};
}

// A dict whose keys are the names, each mapped to itself.
Ref name_table(const auto& names) {
  Ref table = Ref::check(PyDict_New());
  for (const auto& name : names) {
    Ref key = text(name);
    check_status(PyDict_SetItem(table.get(), key.get(), key.get()));
  }
  return table;
}

// The name table's own spelling of a value found in it a moment ago; should a
// value with an odd __eq__ miss now, the lookup's KeyError becomes `missing`.
std::string table_key(PyObject* table, PyObject* value, const char* missing) {
  PyObject* key = PyDict_GetItemWithError(table, value);
  if (key == nullptr) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_KeyError, missing);
    throw PyErrAlreadySet{};
  }
  return PyUnicode_AsUTF8(key);
}

// The three checks on the upper() results as they are, with Python's own
// membership tests (a list for the dimensions, dicts for the names), so a value
// of another type fails or passes where it would in Python and the first check
// that fails decides. The core then gets the tables' own spelling.
Request check_request_items(PyObject* data_type, PyObject* dimension, PyObject* deriv) {
  Ref dimensions = Ref::check(Py_BuildValue("[ss]", "2D", "3D"));
  const int dims_ok = PySequence_Contains(dimensions.get(), dimension);
  if (dims_ok < 0) throw PyErrAlreadySet{};
  if (dims_ok == 0) raise_request_error(kBadDimensionsMessage, dimension);

  // The name tables never change: built once, on the first request.
  static PyObject* const types_table = name_table(request_type_names()).release();
  static PyObject* const derivs_table = name_table(kDerivativeNames).release();
  const Ref types = Ref::borrow(types_table);
  const int type_ok = PyDict_Contains(types.get(), data_type);
  if (type_ok < 0) throw PyErrAlreadySet{};
  if (type_ok == 0) raise_request_error(kBadTypeMessage, data_type);

  const Ref derivs = Ref::borrow(derivs_table);
  const int deriv_ok = PyDict_Contains(derivs.get(), deriv);
  if (deriv_ok < 0) throw PyErrAlreadySet{};
  if (deriv_ok == 0) raise_request_error(kBadDerivMessage, deriv);

  // A 3D request is one whose dimensions equal "3D"; any other passing value is 2D.
  Ref three = text("3D");
  const int is_3d = PyObject_RichCompareBool(dimension, three.get(), Py_EQ);
  if (is_3d < 0) throw PyErrAlreadySet{};
  std::string type_name = table_key(types.get(), data_type, "Invalid data block type");
  std::string deriv_name = table_key(derivs.get(), deriv, "Invalid deriv input type");
  return unwrap(check_request(std::move(type_name), is_3d ? "3D" : "2D", std::move(deriv_name)));
}

Ref get_opus_data_impl(std::span<PyObject* const> args) {
  PyObject* path = args[0];
  PyObject* datablock = args[1];
  require_str_or_none(path, "path");
  Ref data_type = upper_item(datablock, 0);
  Ref dimension = upper_item(datablock, 1);
  Ref deriv = upper_item(datablock, 2);
  // The request is checked before the file is touched.
  Request request = check_request_items(data_type.get(), dimension.get(), deriv.get());

  OpenedFile file(path);
  const BlockPlan plan = unwrap(plan_block(file.source(), std::move(request)));
  Ref result = read_block_result(file.source(), plan, {std::move(dimension), std::move(data_type), std::move(deriv)});
  file.close();
  return result;
}

}  // namespace

const FunctionSpec kGetOpusDataFunction = {
    "getOpusData",
    "\n    This function returns a :obj:`DataReturn` object containing the data and\n"
    "    data parameters for    the specified datablock in the given file.\n\n"
    "    Args:\n        path (path):       Path to file\n"
    "        datablock (tuple of str): tuple(datablocktype, dimensions, derivative)\n"
    "                                  as returned by .listContents()\n\n"
    "    Returns:\n        :obj:`DataReturn`: Object containing the requested data and associated\n"
    "        parameters. Data structure is as specified in data.description and\n"
    "        can be one of the three types described in :class:`DataReturn`\n    ",
    {"path", "datablock", nullptr},
    get_opus_data_impl,
    nullptr,
};

}  // namespace kestrel::py
