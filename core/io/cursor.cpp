#include "io/cursor.hpp"

#include <cerrno>
#include <cstdint>

#include "base/checked.hpp"

namespace kestrel {

Status Cursor::seek(std::int64_t pos) {
  if (const int err = pos < 0 ? EINVAL : source_.seek_errno(pos); err != 0) return Error::bad_seek(err);
  pos_ = pos;
  return ok_status();
}

Status Cursor::seek_relative(std::int64_t delta) {
  const auto target = add_i64(pos_, delta);
  if (!target) return Error::offset_overflow();
  return seek(*target);
}

Result<std::int32_t> Cursor::read_i32_be() {
  std::byte raw[4];
  KESTREL_TRY(std::size_t got, read_small(raw, 4));
  if (got < 4) return Error::truncated(4);
  const auto u = (std::to_integer<std::uint32_t>(raw[0]) << 24) | (std::to_integer<std::uint32_t>(raw[1]) << 16) |
                 (std::to_integer<std::uint32_t>(raw[2]) << 8) | std::to_integer<std::uint32_t>(raw[3]);
  return static_cast<std::int32_t>(u);
}

std::int64_t Cursor::available_upto(std::int64_t n) const {
  if (n <= 0) return 0;
  // Both are below 2**63, so their sum fits.
  const auto pos = static_cast<std::uint64_t>(pos_);
  const std::uint64_t end = source_.size_upto(pos + static_cast<std::uint64_t>(n));
  return end > pos ? static_cast<std::int64_t>(end - pos) : 0;
}

Result<std::size_t> Cursor::read_through_window(std::byte* dst, std::size_t n) {
  const std::int64_t avail = available_upto(static_cast<std::int64_t>(n));
  if (avail <= 0 || n == 0) return std::size_t{0};
  const std::size_t want = std::min<std::uint64_t>(n, static_cast<std::uint64_t>(avail));
  const bool inside = pos_ >= window_start_ &&
                      static_cast<std::uint64_t>(pos_ - window_start_) + want <= window_len_;
  if (!inside) {
    std::span<std::byte> into(window_);
    if (!source_.reads_ahead_freely()) into = into.first(want);
    KESTREL_TRY(std::size_t got, source_.read_at(static_cast<std::uint64_t>(pos_), into));
    window_start_ = pos_;
    window_len_ = got;
  }
  const std::size_t have = std::min<std::size_t>(want, window_len_ - static_cast<std::size_t>(pos_ - window_start_));
  std::memcpy(dst, window_.data() + (pos_ - window_start_), have);
  pos_ += static_cast<std::int64_t>(have);
  return have;
}

Result<std::string> Cursor::read(std::int64_t n) {
  std::string out;
  KESTREL_CHECK(read_into(n, out));
  return out;
}

Status Cursor::read_into(std::int64_t n, std::string& out) {
  const std::int64_t avail = n < 0 ? available() : available_upto(n);
  const std::int64_t take = (n < 0 || n > avail) ? avail : n;
  out.resize(static_cast<std::size_t>(take));
  if (take == 0) return ok_status();
  if (static_cast<std::size_t>(take) <= kWindow) {
    KESTREL_TRY(std::size_t got, read_small(reinterpret_cast<std::byte*>(out.data()), out.size()));
    out.resize(got);
    return ok_status();
  }
  KESTREL_TRY(std::size_t got, source_.read_at(static_cast<std::uint64_t>(pos_),
                                               {reinterpret_cast<std::byte*>(out.data()), out.size()}));
  out.resize(got);
  pos_ += static_cast<std::int64_t>(got);
  return ok_status();
}

std::int64_t Cursor::floats_available(std::int64_t count) const {
  if (count < 0) return available() / 4;
  const std::int64_t bytes = count > INT64_MAX / 4 ? INT64_MAX : 4 * count;
  return std::min(count, available_upto(bytes) / 4);
}

std::int64_t Cursor::position_after_floats(std::int64_t count) const {
  // numpy hands the file to stdio, which consumes a partial trailing value too.
  if (count >= 0 && floats_available(count) == count) return pos_ + 4 * count;
  return pos_ < size() ? size() : pos_;
}

Result<std::int64_t> Cursor::read_floats(float* dst, std::int64_t count) {
  const std::int64_t n = floats_available(count);
  const std::int64_t after = position_after_floats(count);
  if (n > 0) {
    const std::size_t bytes = static_cast<std::size_t>(n) * 4;
    KESTREL_TRY(std::size_t got,
                source_.read_at(static_cast<std::uint64_t>(pos_), {reinterpret_cast<std::byte*>(dst), bytes}));
    if (got < bytes) return Error::io(EIO);  // the file shrank while we read it
    if constexpr (std::endian::native == std::endian::big) {
      for (std::int64_t i = 0; i < n; ++i) {
        auto* b = reinterpret_cast<std::byte*>(dst + i);
        std::swap(b[0], b[3]);
        std::swap(b[1], b[2]);
      }
    }
  }
  pos_ = after;
  return n;
}

}  // namespace kestrel
