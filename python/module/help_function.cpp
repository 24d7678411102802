// help(): prints the usage text through the builtin print, one call per line.
#include "module/public_functions.hpp"

namespace kestrel::py {

namespace {

constexpr const char* kHelpLines[] = {
    "This library contains the following functions:",
    "\tlistContents('path') :    This function returns a list containing the data blocks, their dimensions and "
    "derivative type",
    "\tisOpusFile('path'):    This function returns true if the file is an Opus file, false otherwise",
    "\tgetOpusData('path', ('data block type', 'dimensions', 'derivative')):",
    "\t\tThis function returns a Python object that contains a string parameter called description (ie: "
    "returnedObject.description)",
    "\t\tDescription contains the details of what the Python object contains based on the type of data block "
    "requested.",
    "\tgetVisImages('path'):",
    "\t\tThis function returns a list that contains an entry for each visible image in the file.",
    "\n For more detailed descriptions please consult the documentation.",
};

Ref help_impl(std::span<PyObject* const>) {
  Ref builtins = Ref::check(PyImport_ImportModule("builtins"));
  for (const char* line : kHelpLines) {
    Ref print = Ref::check(PyObject_GetAttrString(builtins.get(), "print"));
    Ref text = Ref::check(PyUnicode_FromString(line));
    Ref::check(PyObject_CallOneArg(print.get(), text.get()));
  }
  return Ref::borrow(Py_None);
}

}  // namespace

const FunctionSpec kHelpFunction = {
    "help",
    "\n    Print a help message containing the available functions.\n    ",
    {nullptr},
    help_impl,
    nullptr,
};

}  // namespace kestrel::py
