// describe(source, block) -> (listing, block, parameters): what a description
// of a file needs, from one opening of it: the listing (listContents'), the
// block (given, or chosen by a callable from the listing) and its parameters
// (parameters()'s), from the directory and the parameter blocks alone.
#include "py/errors.hpp"
#include "py/listing.hpp"
#include "tools_native/native_functions.hpp"
#include "tools_native/planned_read.hpp"

namespace kestrel::py {

Ref native_describe(PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"source", "block", nullptr};
  PyObject* source = nullptr;
  PyObject* block = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:describe", const_cast<char**>(names), &source, &block)) {
    throw PyErrAlreadySet{};
  }
  PlannedRead read;
  open_source(source, read);
  // A stream (a FIFO, say) is read once: the listing and the parameters come
  // from the same bytes.
  Ref listing = listing_of(directory_of(read));
  Ref chosen = PyCallable_Check(block) ? Ref::check(PyObject_CallOneArg(block, listing.get())) : Ref::borrow(block);
  plan_source(source, chosen.get(), {.coordinates = false, .depth = PlanDepth::parameters}, read, true);
  Ref parameters = std::move(read.objects.parameters);
  read.close();
  return Ref::check(PyTuple_Pack(3, listing.get(), chosen.get(), parameters.get()));
}

}  // namespace kestrel::py
