// Records the largest single allocation the test binary makes, so that tests
// of hostile counts can check nothing was sized from the count.
#pragma once

#include <cstddef>

namespace kestrel::testing {

void reset_largest_allocation();
std::size_t largest_allocation();

}  // namespace kestrel::testing
