// The arithmetic of the picture walk. Offsets are the image block's offset
// plus parameter values, and a parameter value may be an int, a float or a
// str: sums, comparisons and seeks behave as they do on the file's own
// dynamically typed values, so a mistyped parameter fails with the same
// TypeError wherever it is first used, and ints never wrap.
#pragma once

#include <cstdint>
#include <string>

#include "base/result.hpp"
#include "params/value.hpp"
#include "params/value_arith.hpp"

namespace kestrel {

class ScanNumber {
 public:
  explicit ScanNumber(std::int64_t value) : int_(value) {}

  // this + value; a str operand refuses with TypeError.
  [[nodiscard]] Result<ScanNumber> plus(const ParamValue& value) const;
  // The position a seek to this number moves to: a float refuses with
  // TypeError, an int beyond 64 bits with the file object's ValueError. A
  // negative position is left to the seek.
  [[nodiscard]] Result<std::int64_t> position() const;
  // Exact equality, an int against a float included.
  bool equals(std::int64_t position) const;

 private:
  bool is_float_ = false;
  __int128 int_ = 0;
  double float_ = 0.0;
};

// The extended type of a block-type word held in a parameter ("BID").
[[nodiscard]] Result<int> extended_type_of(const ParamValue& word);

// value - 1, for the count of pictures.
[[nodiscard]] Result<ParamValue> minus_one(const ParamValue& value);

// The count handed to read(): an int (negative reads to the end).
[[nodiscard]] Result<std::int64_t> read_count(const ParamValue& value);

// An attribute name: the str with its trailing colons removed.
[[nodiscard]] Result<std::string> attribute_name(const ParamValue& value);

}  // namespace kestrel
