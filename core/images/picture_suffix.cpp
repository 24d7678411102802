#include "images/picture_suffix.hpp"

#include <algorithm>

namespace kestrel {

std::string letter_code(std::int64_t number) {
  // Each step peels the last letter; the rest counts from A again (d - 1).
  std::string out;
  std::int64_t rest = number;
  for (;;) {
    out.push_back(static_cast<char>('A' + rest % 26));
    const std::int64_t d = rest / 26;
    if (d == 0) break;
    rest = d - 1;
  }
  std::reverse(out.begin(), out.end());
  return out;
}

std::string picture_suffix(std::int64_t n) {
  if (n < 100) {
    std::string digits = std::to_string(n);
    if (digits.size() < 2) digits.insert(0, 2 - digits.size(), '0');
    return digits;
  }
  if (n < 126) return std::string(1, 'A').append(letter_code(n - 100));
  // The two-letter codes go on from BA: AA..AZ were taken by 100..125.
  return letter_code(n - 100 + 26);
}

std::string picture_key(char letter, std::int64_t n) { return std::string(1, letter).append(picture_suffix(n)); }

}  // namespace kestrel
