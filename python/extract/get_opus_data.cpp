// getOpusData(path, datablock): checks the request, resolves it against the
// file, and hands over to the 2D or 3D reader.
#include "base/checked.hpp"
#include "base/limits.hpp"
#include "extract/request.hpp"
#include "extract/result_size.hpp"
#include "extract/selection.hpp"
#include "extract/extract_context.hpp"
#include "module/argument_checks.hpp"
#include "module/public_functions.hpp"
#include "py/arrays.hpp"
#include "py/errors.hpp"
#include "py/values.hpp"

namespace kestrel::py {

namespace {

// datablock[i].upper(), with the sequence's and the item's own errors.
Ref upper_item(PyObject* datablock, long index) {
  Ref key = Ref::check(PyLong_FromLong(index));
  Ref item = Ref::check(PyObject_GetItem(datablock, key.get()));
  return Ref::check(PyObject_CallMethod(item.get(), "upper", nullptr));
}

// The str's code points as UTF-8 (lone surrogates passed through), for the core's checks.
std::string utf8_of(PyObject* text) {
  if (!PyUnicode_Check(text)) {
    PyErr_Format(PyExc_TypeError, "upper() returned %.200s, not str", Py_TYPE(text)->tp_name);
    throw PyErrAlreadySet{};
  }
  Ref bytes = Ref::check(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
  return std::string(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

Ref get_opus_data_impl(std::span<PyObject* const> args) {
  PyObject* path = args[0];
  PyObject* datablock = args[1];
  require_str_or_none(path, "path");
  Ref data_type = upper_item(datablock, 0);
  Ref dimension = upper_item(datablock, 1);
  Ref deriv = upper_item(datablock, 2);
  // The request is checked before the file is touched.
  Request request = unwrap(check_request(utf8_of(data_type.get()), utf8_of(dimension.get()), utf8_of(deriv.get())));

  OpenedFile file(path);
  Cursor cursor(file.source());
  OpenedBlock block = unwrap(open_block(cursor, std::move(request)));
  ExtractContext context{file, cursor, block, std::move(dimension), std::move(data_type), std::move(deriv),
                         params_to_dict(block.parameters)};
  PyObject* parameters = context.parameters.get();
  context.npt = require_key(parameters, "NPT");
  context.fxv = require_key(parameters, "FXV");
  context.lxv = require_key(parameters, "LXV");
  context.mxy = require_key(parameters, "MXY");
  context.mny = require_key(parameters, "MNY");
  if (PyLong_Check(context.npt.get())) {
    const long long npt = PyLong_AsLongLong(context.npt.get());
    if (npt == -1 && PyErr_Occurred()) throw PyErrAlreadySet{};
    if (npt > 0) {
      unwrap(check_result_bytes(mul_i64(npt, 8), cursor.size(), default_limits(), "an x axis of NPT points"));
    }
  }
  context.abscissa = linspace(context.fxv.get(), context.lxv.get(), context.npt.get());
  Ref result = block.request.is_3d() ? read_3d_block(context) : read_single_spectrum(context);
  file.close();
  return result;
}

}  // namespace

Ref require_key(PyObject* parameters, const char* key) {
  PyObject* value = PyDict_GetItemString(parameters, key);
  if (value == nullptr) throw CoreFailure{Error::missing_key(key)};
  return Ref::borrow(value);
}

Ref ExtractContext::common_keywords() const {
  Ref kwargs = Ref::check(PyDict_New());
  const std::pair<const char*, PyObject*> items[] = {
      {"dimension", dimension.get()}, {"dataType", data_type.get()}, {"deriv", deriv.get()},
      {"x", abscissa.get()},          {"minY", mny.get()},           {"maxY", mxy.get()},
      {"parameters", parameters.get()},
  };
  for (const auto& [name, value] : items) check_status(PyDict_SetItemString(kwargs.get(), name, value));
  return kwargs;
}

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
