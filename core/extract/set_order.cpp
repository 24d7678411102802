#include "extract/set_order.hpp"

namespace kestrel {

namespace {

constexpr std::size_t kLinearProbes = 9;
constexpr unsigned kPerturbShift = 5;
constexpr std::size_t kMinSize = 8;

// hash(n) for an int that fits a machine word: n itself, but -1 is -2.
std::uint64_t int_hash(std::int64_t n) { return static_cast<std::uint64_t>(n == -1 ? -2 : n); }

struct Slot {
  bool used = false;
  std::size_t item = 0;
};

// Inserts into a table known not to hold the key (the interpreter's clean insertion).
void insert_clean(std::vector<Slot>& table, std::uint64_t hash, std::size_t item) {
  const std::size_t mask = table.size() - 1;
  std::uint64_t perturb = hash;
  std::size_t i = static_cast<std::size_t>(hash) & mask;
  for (;;) {
    if (!table[i].used) {
      table[i] = {true, item};
      return;
    }
    if (i + kLinearProbes <= mask) {
      for (std::size_t j = 1; j <= kLinearProbes; ++j) {
        if (!table[i + j].used) {
          table[i + j] = {true, item};
          return;
        }
      }
    }
    perturb >>= kPerturbShift;
    i = static_cast<std::size_t>(i * 5 + 1 + perturb) & mask;
  }
}

}  // namespace

std::vector<std::size_t> set_iteration_order(std::span<const std::int64_t> values) {
  std::vector<Slot> table(kMinSize);
  std::size_t used = 0;
  for (std::size_t item = 0; item < values.size(); ++item) {
    // The values are distinct, so adding one probes exactly as a clean insertion does.
    insert_clean(table, int_hash(values[item]), item);
    ++used;
    const std::size_t mask = table.size() - 1;
    if (used * 5 < mask * 3) continue;
    const std::size_t minused = used > 50000 ? used * 2 : used * 4;
    std::size_t size = kMinSize;
    while (size <= minused) size <<= 1;
    std::vector<Slot> grown(size);
    for (const Slot& slot : table) {
      if (slot.used) insert_clean(grown, int_hash(values[slot.item]), slot.item);
    }
    table = std::move(grown);
  }
  std::vector<std::size_t> order;
  order.reserve(values.size());
  for (const Slot& slot : table) {
    if (slot.used) order.push_back(slot.item);
  }
  return order;
}

}  // namespace kestrel
