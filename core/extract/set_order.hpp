// The order in which a Python set built from a list of ints hands its items
// back. Regions are visited in that order, so it is behaviour: a map's
// regions come out in it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kestrel {

// Iteration order of set(values) for distinct ints in the signed 32-bit
// range, given in the order they are inserted: the open-addressing table of
// the interpreter (linear probes of 9, then perturbed probing; it grows to
// four times its used entries once three fifths of it are filled), replayed.
// Returns positions into `values`.
std::vector<std::size_t> set_iteration_order(std::span<const std::int64_t> values);

}  // namespace kestrel
