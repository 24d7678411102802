// Result<T>: a value or an Error. Fallible core functions return one and
// callers propagate with KESTREL_TRY; the core throws nothing but bad_alloc.
#pragma once

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

#include "base/error.hpp"

namespace kestrel {

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  explicit operator bool() const noexcept { return state_.index() == 0; }
  bool ok() const noexcept { return state_.index() == 0; }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  Error& error() & { return std::get<1>(state_); }
  const Error& error() const& { return std::get<1>(state_); }
  Error&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, Error> state_;
};

struct Ok {};
using Status = Result<Ok>;
inline Status ok_status() { return Ok{}; }

}  // namespace kestrel

#define KESTREL_CONCAT_INNER(a, b) a##b
#define KESTREL_CONCAT(a, b) KESTREL_CONCAT_INNER(a, b)

// KESTREL_TRY(auto x, expr): declares x from a successful Result, or returns its Error.
#define KESTREL_TRY(decl, expr)                                                \
  auto KESTREL_CONCAT(kestrel_try_, __LINE__) = (expr);                        \
  if (!KESTREL_CONCAT(kestrel_try_, __LINE__))                                 \
    return std::move(KESTREL_CONCAT(kestrel_try_, __LINE__)).error();          \
  decl = std::move(KESTREL_CONCAT(kestrel_try_, __LINE__)).value()

// KESTREL_CHECK(expr): returns the Error of a failed Result, discards a value.
#define KESTREL_CHECK(expr)                                                    \
  do {                                                                         \
    auto kestrel_check_result = (expr);                                        \
    if (!kestrel_check_result) return std::move(kestrel_check_result).error(); \
  } while (0)
