// A position over a ByteSource that behaves like a binary Python file object:
// - a field read that does not fit is a short read: the position moves over the
//   bytes that were there and the read reports Error::truncated(width);
// - read(n) returns fewer bytes near the end and reads to the end when n < 0;
// - read_floats returns fewer values near the end, like numpy.fromfile;
// - seeking past the end is allowed; seeking before the start fails.
// Small reads go through a read-ahead window so a parameter block costs a
// handful of system calls, not three per entry.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/little_endian.hpp"
#include "base/result.hpp"
#include "io/byte_source.hpp"

namespace kestrel {

class Cursor {
 public:
  explicit Cursor(const ByteSource& source) : source_(source) {}

  const ByteSource& source() const { return source_; }
  std::int64_t tell() const { return pos_; }
  std::int64_t size() const { return static_cast<std::int64_t>(source_.size()); }
  // Bytes between the position and the end (0 when the position is past it).
  // A stream is read to its end to know.
  std::int64_t available() const { return pos_ < size() ? size() - pos_ : 0; }
  // min(available(), n) for n >= 0, reading a stream no further than that.
  std::int64_t available_upto(std::int64_t n) const;

  Status seek(std::int64_t pos);
  Status seek_relative(std::int64_t delta);

  Result<std::int16_t> read_i16() { return read_le<std::int16_t>(); }
  Result<std::int32_t> read_i32() { return read_le<std::int32_t>(); }
  Result<std::int64_t> read_i64() { return read_le<std::int64_t>(); }
  Result<float> read_f32() { return read_le<float>(); }
  Result<double> read_f64() { return read_le<double>(); }
  Result<std::int32_t> read_i32_be();

  // Up to n bytes (all remaining when n < 0).
  Result<std::string> read(std::int64_t n);
  // The same into out (its memory reused from one read to the next).
  Status read_into(std::int64_t n, std::string& out);

  // How many float32 values read_floats(count) would deliver from here.
  std::int64_t floats_available(std::int64_t count) const;
  // numpy.fromfile(f, float32, count): fills dst with up to count values (all
  // remaining when count < 0) and returns how many; dst must hold floats_available(count).
  Result<std::int64_t> read_floats(float* dst, std::int64_t count);
  // Where read_floats(count) leaves the position, without reading.
  std::int64_t position_after_floats(std::int64_t count) const;

 private:
  static constexpr std::size_t kWindow = 4096;

  // Copies up to n bytes into dst through the window; returns how many arrived.
  // Bytes already in the window are there in the file: no need to ask the source.
  Result<std::size_t> read_small(std::byte* dst, std::size_t n) {
    if (pos_ >= window_start_ && static_cast<std::uint64_t>(pos_ - window_start_) + n <= window_len_) {
      std::memcpy(dst, window_.data() + (pos_ - window_start_), n);
      pos_ += static_cast<std::int64_t>(n);
      return n;
    }
    return read_through_window(dst, n);
  }
  Result<std::size_t> read_through_window(std::byte* dst, std::size_t n);

  template <typename T>
  Result<T> read_le() {
    std::byte raw[sizeof(T)];
    KESTREL_TRY(std::size_t got, read_small(raw, sizeof(T)));
    if (got < sizeof(T)) return Error::truncated(sizeof(T));
    return load_le<T>(raw);
  }

  const ByteSource& source_;
  std::int64_t pos_ = 0;
  std::array<std::byte, kWindow> window_{};
  std::int64_t window_start_ = 0;
  std::size_t window_len_ = 0;
};

}  // namespace kestrel
