// Parameter values used as numbers. Annotation tables take counts, offsets and
// type codes from parameter blocks, where any key may hold an int, a float or
// a str; these helpers apply the rules of the reader's arithmetic to such
// values and produce the TypeError texts that arithmetic gives.
#pragma once

#include <cstdint>
#include <string>

#include "base/error.hpp"
#include "base/result.hpp"
#include "params/value.hpp"

namespace kestrel {

// "int", "float" or "str".
const char* value_type_name(const ParamValue& v);

// A value used as a count or a position (range(v), seek(v)): the int, or
// TypeError "'float' object cannot be interpreted as an integer".
Result<std::int64_t> index_value(const ParamValue& v);

// TypeError "unsupported operand type(s) for +: 'int' and 'str'" and the like.
Error unsupported_operands(char op, const ParamValue& left, const ParamValue& right);

// v == n, with a float equal to an int when it holds exactly that value.
bool equals_int(const ParamValue& v, std::int64_t n);

// str(v): an int in decimal, a float as its shortest round-trip repr ("7.0",
// "1e+16", "nan"), a str unchanged.
std::string value_text(const ParamValue& v);
std::string float_repr(double v);

// "F{0:02d}"-style keys: the prefix, then n with at least two digits.
std::string indexed_key(char prefix, std::int64_t n);
std::string two_digits(std::int64_t n);

}  // namespace kestrel
