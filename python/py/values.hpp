// Parameter values and lists as Python objects.
#pragma once

#include <string>
#include <vector>

#include "params/value.hpp"
#include "py/ref.hpp"

namespace kestrel::py {

// int, float or str.
Ref to_python(const ParamValue& value);

// A new dict with the keys in the list's order.
Ref params_to_dict(const ParamList& params);

// A new list of str (trace labels, say).
Ref labels_to_list(const std::vector<std::string>& labels);

}  // namespace kestrel::py
