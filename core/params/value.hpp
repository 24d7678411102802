// Parameter values and the ordered parameter list that a parameter block reads into.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
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
    auto [it, inserted] = index_.try_emplace(key, items_.size());
    if (inserted) {
      items_.emplace_back(std::move(key), std::move(value));
    } else {
      items_[it->second].second = std::move(value);
    }
  }

  void update(const ParamList& other) {
    for (const Item& item : other.items_) set(item.first, item.second);
  }

  const ParamValue* find(std::string_view key) const {
    auto it = index_.find(std::string(key));
    return it == index_.end() ? nullptr : &items_[it->second].second;
  }

  bool contains(std::string_view key) const { return find(key) != nullptr; }
  const std::vector<Item>& items() const { return items_; }
  std::size_t size() const { return items_.size(); }

 private:
  std::vector<Item> items_;
  std::unordered_map<std::string, std::size_t> index_;
};

}  // namespace kestrel
