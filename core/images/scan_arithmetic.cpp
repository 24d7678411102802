#include "images/scan_arithmetic.hpp"

#include <cmath>
#include <limits>

#include "container/block_type.hpp"

namespace kestrel {

namespace {

constexpr __int128 kMinI64 = std::numeric_limits<std::int64_t>::min();
constexpr __int128 kMaxI64 = std::numeric_limits<std::int64_t>::max();

std::string unsupported(const char* op, const char* left, const char* right) {
  return std::string("unsupported operand type(s) for ") + op + ": '" + left + "' and '" + right + "'";
}

}  // namespace

Result<ScanNumber> ScanNumber::plus(const ParamValue& value) const {
  if (std::holds_alternative<std::string>(value)) {
    return Error::type(unsupported("+", is_float_ ? "float" : "int", "str"));
  }
  ScanNumber sum = *this;
  if (const auto* i = std::get_if<std::int64_t>(&value)) {
    // Both operands stay far inside 128 bits: an int64 offset plus a few int32 values.
    if (sum.is_float_) {
      sum.float_ += static_cast<double>(*i);
    } else {
      sum.int_ += *i;
    }
    return sum;
  }
  const double d = std::get<double>(value);
  if (!sum.is_float_) {
    sum.is_float_ = true;
    sum.float_ = static_cast<double>(sum.int_);
  }
  sum.float_ += d;
  return sum;
}

Result<std::int64_t> ScanNumber::position() const {
  if (is_float_) return Error::type("'float' object cannot be interpreted as an integer");
  if (int_ < kMinI64 || int_ > kMaxI64) return Error::offset_overflow();
  return static_cast<std::int64_t>(int_);
}

bool ScanNumber::equals(std::int64_t position) const {
  if (!is_float_) return int_ == position;
  // 2^63 and -2^63 are exact doubles; only integral values inside them can match.
  constexpr double kTwo63 = 9223372036854775808.0;
  if (!(float_ >= -kTwo63 && float_ < kTwo63) || std::floor(float_) != float_) return false;
  return static_cast<std::int64_t>(float_) == position;
}

Result<int> extended_type_of(const ParamValue& word) {
  if (const auto* i = std::get_if<std::int64_t>(&word)) return decode_block_type(*i)[EXTEND_TYPE];
  return Error::type(unsupported(">>", value_type_name(word), "int"));
}

Result<ParamValue> minus_one(const ParamValue& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return ParamValue{*i - 1};  // an int32 field: no wrap
  if (const auto* d = std::get_if<double>(&value)) return ParamValue{*d - 1.0};
  return Error::type(unsupported("-", "str", "int"));
}

Result<std::int64_t> read_count(const ParamValue& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
  return Error::type(std::string("argument should be integer or None, not '") + value_type_name(value) + "'");
}

Result<std::string> attribute_name(const ParamValue& value) {
  const auto* s = std::get_if<std::string>(&value);
  if (s == nullptr) return Error::attribute(std::string("'") + value_type_name(value) + "' object has no attribute 'rstrip'");
  std::string name = *s;
  while (!name.empty() && name.back() == ':') name.pop_back();
  return name;
}

}  // namespace kestrel
