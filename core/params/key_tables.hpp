// Readable names for parameter keys: the full dictionary of lower-case names
// and the short table of display names.
#pragma once

#include <array>
#include <string_view>

namespace kestrel {

struct KeyName {
  std::string_view key;
  std::string_view name;  // UTF-8
};

// 293 keys to lower_case_names, in their fixed order.
const std::array<KeyName, 293>& opus_key_names();

// 34 keys to display names, in their fixed order.
const std::array<KeyName, 34>& display_names();

}  // namespace kestrel
