// Parameter values and lists as Python objects.
#pragma once

#include "params/value.hpp"
#include "py/ref.hpp"

namespace kestrel::py {

// int, float or str.
Ref to_python(const ParamValue& value);

// A new dict with the keys in the list's order.
Ref params_to_dict(const ParamList& params);

}  // namespace kestrel::py
