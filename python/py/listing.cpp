#include "py/listing.hpp"

#include "py/errors.hpp"

namespace kestrel::py {

Ref triple_to_tuple(const BlockTriple& triple) {
  const Ref type = text_to_str(triple.type);
  const Ref dimensions = text_to_str(triple.dimensions);
  const Ref derivative = text_to_str(triple.derivative);
  return Ref::check(PyTuple_Pack(3, type.get(), dimensions.get(), derivative.get()));
}

Ref listing_of(const Directory& directory) {
  Ref list = Ref::check(PyList_New(0));
  for (const BlockTriple& triple : list_contents(directory)) {
    check_status(PyList_Append(list.get(), triple_to_tuple(triple).get()));
  }
  return list;
}

}  // namespace kestrel::py
