// The suffixes that number the pictures of an image directory: the keys F00,
// Z00, ... name picture 0, F99 picture 99, FAA picture 100, FBA picture 126.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

// The letter code of a non-negative number, counting in base 26 with no zero
// digit: 0 is A, 25 Z, 26 AA, 701 ZZ, 702 AAA.
std::string letter_code(std::int64_t number);

// The suffix of picture n: two digits below 100 (a negative n is written with
// its sign, as a zero-padded width-2 format gives it: -1 is "-1"), then AA to AZ
// for 100 to 125, then letter codes from BA on (126).
std::string picture_suffix(std::int64_t n);

// The directory key of picture n: 'F' (record offset) or 'Z' (record size) and its suffix.
std::string picture_key(char letter, std::int64_t n);

}  // namespace kestrel
