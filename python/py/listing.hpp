// A file's data blocks as Python objects: a block triple is the tuple
// (type, dimensions, derivative) of three str, and a listing is the list
// listContents returns.
#pragma once

#include "container/contents.hpp"
#include "container/directory.hpp"
#include "py/ref.hpp"

namespace kestrel::py {

Ref triple_to_tuple(const BlockTriple& triple);

// One triple per data block of the directory, in list_contents' order.
Ref listing_of(const Directory& directory);

}  // namespace kestrel::py
