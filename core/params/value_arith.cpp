#include "params/value_arith.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace kestrel {

const char* value_type_name(const ParamValue& v) {
  switch (v.index()) {
    case 0: return "int";
    case 1: return "float";
    default: return "str";
  }
}

Result<std::int64_t> index_value(const ParamValue& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
  return Error::type(std::string("'") + value_type_name(v) + "' object cannot be interpreted as an integer");
}

Error unsupported_operands(char op, const ParamValue& left, const ParamValue& right) {
  return Error::type(std::string("unsupported operand type(s) for ") + op + ": '" + value_type_name(left) +
                     "' and '" + value_type_name(right) + "'");
}

bool equals_int(const ParamValue& v, std::int64_t n) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return *i == n;
  // Exact for the small codes compared here (|n| far below 2**53).
  if (const auto* d = std::get_if<double>(&v)) return *d == static_cast<double>(n);
  return false;
}

std::string float_repr(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string_view s(buf, static_cast<std::size_t>(res.ptr - buf));  // "-d.ddde+XX", shortest round trip
  std::string out;
  if (s.front() == '-') {
    out.push_back('-');
    s.remove_prefix(1);
  }
  const std::size_t e = s.find('e');
  std::string digits;
  for (const char c : s.substr(0, e)) {
    if (c != '.') digits.push_back(c);
  }
  int exp = 0;
  std::string_view es = s.substr(e + 1);
  if (es.front() == '+') es.remove_prefix(1);
  std::from_chars(es.data(), es.data() + es.size(), exp);
  const auto n = static_cast<int>(digits.size());
  if (exp >= -4 && exp < 16) {  // positional, with at least one digit after the point
    if (exp < 0) {
      out += "0." + std::string(static_cast<std::size_t>(-exp - 1), '0') + digits;
    } else if (n <= exp + 1) {
      out += digits + std::string(static_cast<std::size_t>(exp + 1 - n), '0') + ".0";
    } else {
      out += digits.substr(0, static_cast<std::size_t>(exp + 1)) + "." + digits.substr(static_cast<std::size_t>(exp + 1));
    }
  } else {  // exponent with a sign and at least two digits
    out += digits.substr(0, 1);
    if (n > 1) out += "." + digits.substr(1);
    out += exp < 0 ? "e-" : "e+";
    const std::string mag = std::to_string(std::abs(exp));
    out += (mag.size() < 2 ? "0" : "") + mag;
  }
  return out;
}

std::string value_text(const ParamValue& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) return float_repr(*d);
  return std::get<std::string>(v);
}

std::string two_digits(std::int64_t n) {
  std::string digits = std::to_string(n);  // the sign counts towards the width
  if (digits.size() < 2) digits.insert(0, "0");
  return digits;
}

std::string indexed_key(char prefix, std::int64_t n) { return prefix + two_digits(n); }

}  // namespace kestrel
