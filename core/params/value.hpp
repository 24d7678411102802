// Parameter values and the ordered parameter list that a parameter block reads into.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <algorithm>
#include <functional>
#include <utility>
#include <variant>
#include <vector>

namespace kestrel {

// int (a signed 32-bit field), float (a double) or str (UTF-8).
using ParamValue = std::variant<std::int64_t, double, std::string>;

// Keys keep the position of their first occurrence and take the value of their
// last, as a dict does.
class ParamList {
 public:
  using Item = std::pair<std::string, ParamValue>;

  void set(std::string key, ParamValue value) {
    if (const std::size_t at = position(key); at != npos) {
      items_[at].second = std::move(value);
      return;
    }
    if (items_.empty()) items_.reserve(kInitialItems);
    if (2 * (items_.size() + 1) > slots_.size()) rehash(std::max<std::size_t>(16, 4 * (items_.size() + 1)));
    slots_[free_slot(key)] = items_.size() + 1;
    items_.emplace_back(std::move(key), std::move(value));
  }

  void update(const ParamList& other) {
    for (const Item& item : other.items_) set(item.first, item.second);
  }

  const ParamValue* find(std::string_view key) const {
    const std::size_t at = position(key);
    return at == npos ? nullptr : &items_[at].second;
  }

  bool contains(std::string_view key) const { return find(key) != nullptr; }
  const std::vector<Item>& items() const { return items_; }
  std::size_t size() const { return items_.size(); }

 private:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  // Blocks hold tens of entries: room for a typical block up front, a fixed
  // amount whatever the file claims.
  static constexpr std::size_t kInitialItems = 32;

  // Keys are a block entry's four-byte name: up to eight bytes are one word
  // (read with fixed-size loads, which the processor forwards from the stores
  // before them), mixed by a multiply; longer keys (never in a file) take the
  // library hash.
  static std::size_t hash(std::string_view key) {
    const std::size_t n = key.size();
    const auto* p = reinterpret_cast<const unsigned char*>(key.data());
    std::uint64_t word = 0;
    if (n > 8) return std::hash<std::string_view>{}(key);
    if (n >= 4) {
      std::uint32_t head = 0;
      std::uint32_t tail = 0;
      std::memcpy(&head, p, 4);
      std::memcpy(&tail, p + n - 4, 4);
      word = (std::uint64_t{head} << 32) | tail;
    } else {
      for (std::size_t i = 0; i < n; ++i) word = (word << 8) | p[i];
    }
    word = (word ^ (std::uint64_t{n} << 59)) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(word ^ (word >> 32));
  }

  // The index is an open-addressed table of item positions + 1 (0: free), at
  // most half full: a lookup costs a hash and a compare or two, and building
  // the list allocates nothing per key.
  std::size_t position(std::string_view key) const {
    if (slots_.empty()) return npos;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t h = hash(key) & mask;; h = (h + 1) & mask) {
      const std::size_t slot = slots_[h];
      if (slot == 0) return npos;
      if (items_[slot - 1].first == key) return slot - 1;
    }
  }
  std::size_t free_slot(std::string_view key) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t h = hash(key) & mask;
    while (slots_[h] != 0) h = (h + 1) & mask;
    return h;
  }
  void rehash(std::size_t at_least) {
    std::size_t size = 16;
    while (size < at_least) size *= 2;
    slots_.assign(size, 0);
    for (std::size_t i = 0; i < items_.size(); ++i) slots_[free_slot(items_[i].first)] = i + 1;
  }

  std::vector<Item> items_;
  std::vector<std::size_t> slots_;
};

}  // namespace kestrel
