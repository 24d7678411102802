// getOpusData(path, datablock): checks the request, resolves it against the
// file, and hands over to the 2D or 3D reader.
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
