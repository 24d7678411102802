#include "tools_native/planned_read.hpp"

#include "extract/request.hpp"
#include "py/errors.hpp"

namespace kestrel::py {

namespace {

// block[i].upper() as UTF-8 (surrogates passed through).
std::string upper_item(PyObject* block, Py_ssize_t index) {
  Ref item = Ref::check(PySequence_GetItem(block, index));
  Ref upper = Ref::check(PyObject_CallMethod(item.get(), "upper", nullptr));
  if (!PyUnicode_Check(upper.get())) {
    PyErr_Format(PyExc_TypeError, "upper() returned %.200s, not str", Py_TYPE(upper.get())->tp_name);
    throw PyErrAlreadySet{};
  }
  Ref bytes = Ref::check(PyUnicode_AsEncodedString(upper.get(), "utf-8", "surrogatepass"));
  return std::string(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

}  // namespace

void plan_read(PyObject* path, PyObject* block, bool coordinates, PlannedRead& out) {
  std::string type = upper_item(block, 0);
  std::string dimensions = upper_item(block, 1);
  std::string deriv = upper_item(block, 2);
  Request request = unwrap(check_request(std::move(type), std::move(dimensions), std::move(deriv)));
  out.file.emplace(path);
  out.plan = unwrap(plan_block(out.file->source(), std::move(request)));
  out.objects = run_plan_steps(out.plan, false, coordinates);
  // A failure before anything can be read is every window's.
  if (out.plan.failure && out.plan.failed_at < 0) raise_plan_failure(out.plan, *out.plan.failure, out.objects.parameters.get());
}

}  // namespace kestrel::py
