// The one error vocabulary of the core. Each kind carries exactly what the
// binding needs to rebuild the message the caller sees.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace kestrel {

enum class ErrorKind {
  truncated,       // a field read found fewer than `number` bytes: struct.error
  missing_key,     // `text` is the key that was not there: KeyError(key)
  bad_param_type,  // `number` is the unknown parameter type code: ValueError
  value_error,     // `text` is the whole message: ValueError
  index_error,     // `text` is the whole message: IndexError
  type_error,      // `text` is the whole message: TypeError
  zero_division,   // `text` is the whole message: ZeroDivisionError
  attribute_error, // `text` is the whole message: AttributeError
  bad_utf8,        // `text` holds raw bytes that strict UTF-8 refuses: UnicodeDecodeError
  bad_seek,        // `number` is the errno a seek to that position gives: OSError
  offset_overflow, // an offset beyond 64 bits: ValueError of the file object
  io_error,        // `number` is the errno of a failed read: OSError
  too_large,       // `text` says what would not fit: MemoryError
  numpy_redo,      // the binding repeats one numpy step (`number` says which) so numpy raises
  aborted,         // a callback failed; the binding already holds the error
};

struct Error {
  ErrorKind kind;
  std::int64_t number = 0;
  std::string text;

  static Error truncated(std::int64_t width) { return {ErrorKind::truncated, width, {}}; }
  static Error missing_key(std::string key) { return {ErrorKind::missing_key, 0, std::move(key)}; }
  static Error bad_param_type(std::int64_t code) { return {ErrorKind::bad_param_type, code, {}}; }
  static Error value(std::string message) { return {ErrorKind::value_error, 0, std::move(message)}; }
  static Error index(std::string message) { return {ErrorKind::index_error, 0, std::move(message)}; }
  static Error type(std::string message) { return {ErrorKind::type_error, 0, std::move(message)}; }
  static Error zero_division(std::string message) { return {ErrorKind::zero_division, 0, std::move(message)}; }
  static Error attribute(std::string message) { return {ErrorKind::attribute_error, 0, std::move(message)}; }
  static Error bad_utf8(std::string raw) { return {ErrorKind::bad_utf8, 0, std::move(raw)}; }
  static Error bad_seek(int err) { return {ErrorKind::bad_seek, err, {}}; }
  static Error offset_overflow() { return {ErrorKind::offset_overflow, 0, {}}; }
  static Error io(int err) { return {ErrorKind::io_error, err, {}}; }
  static Error too_large(std::string what) { return {ErrorKind::too_large, 0, std::move(what)}; }
  static Error numpy_redo(std::int64_t step) { return {ErrorKind::numpy_redo, step, {}}; }
  static Error aborted() { return {ErrorKind::aborted, 0, {}}; }
};

}  // namespace kestrel
