#include "io/fd_source.hpp"

#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace kestrel {

Result<std::size_t> FdSource::read_at(std::uint64_t offset, std::span<std::byte> dst) const {
  std::size_t total = 0;
  while (total < dst.size() && offset + total < size_) {
    const std::size_t want = std::min<std::uint64_t>(dst.size() - total, size_ - (offset + total));
    const ssize_t got = ::pread(fd_, dst.data() + total, want, static_cast<off_t>(offset + total));
    if (got < 0) {
      if (errno == EINTR) continue;
      return Error::io(errno);
    }
    if (got == 0) break;  // the file shrank under us: what is there is all there is
    total += static_cast<std::size_t>(got);
  }
  return total;
}

Result<std::size_t> FdSource::read_scatter(std::uint64_t offset, std::span<const Piece> pieces) const {
  // preadv takes at most IOV_MAX vectors a call; a short transfer resumes where it stopped.
  std::vector<iovec> vec;
  vec.reserve(std::min<std::size_t>(pieces.size(), IOV_MAX));
  std::size_t total = 0;
  std::size_t index = 0;      // first piece not yet complete
  std::size_t done_in = 0;    // bytes of pieces[index] already filled
  while (index < pieces.size() && offset + total < size_) {
    vec.clear();
    std::uint64_t budget = size_ - (offset + total);
    for (std::size_t i = index; i < pieces.size() && vec.size() < IOV_MAX && budget > 0; ++i) {
      std::size_t skip = (i == index) ? done_in : 0;
      std::size_t len = std::min<std::uint64_t>(pieces[i].size - skip, budget);
      if (len == 0) continue;
      vec.push_back({pieces[i].data + skip, len});
      budget -= len;
    }
    if (vec.empty()) break;
    const ssize_t got = ::preadv(fd_, vec.data(), static_cast<int>(vec.size()),
                                 static_cast<off_t>(offset + total));
    if (got < 0) {
      if (errno == EINTR) continue;
      return Error::io(errno);
    }
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
    std::size_t left = static_cast<std::size_t>(got);
    while (index < pieces.size() && left > 0) {
      const std::size_t room = pieces[index].size - done_in;
      if (left >= room) {
        left -= room;
        ++index;
        done_in = 0;
      } else {
        done_in += left;
        left = 0;
      }
    }
    while (index < pieces.size() && pieces[index].size == 0) ++index;
  }
  return total;
}

int FdSource::seek_errno(std::int64_t pos) const {
  if (pos < 0) return EINVAL;
  if (static_cast<std::uint64_t>(pos) <= size_) return 0;
  // Past the end the file system decides how far a position may go; ask it.
  // Every read goes through pread, so moving the descriptor's own offset is harmless.
  if (::lseek(fd_, static_cast<off_t>(pos), SEEK_SET) < 0) return errno;
  return 0;
}

namespace {
// What one read(2) asks for: a pipe hands over what it holds, up to this.
constexpr std::size_t kStreamChunk = 64 * 1024;
}  // namespace

bool StreamSource::read_chunk() const {
  const std::size_t held = held_.size();
  // One byte past the cap tells a stream that ends at it from one that goes on.
  const std::size_t ask = std::min<std::size_t>(kStreamChunk, static_cast<std::size_t>(max_bytes_) - held + 1);
  held_.resize(held + ask);  // vector growth keeps appends amortised
  ssize_t got = -1;
  int err = 0;
  for (;;) {
    const auto attempt = [&] {
      got = ::read(fd_, held_.data() + held, ask);
      err = got < 0 ? errno : 0;
    };
    if (hooks_ != nullptr) hooks_->wait(attempt);
    else attempt();
    if (got >= 0 || err != EINTR) break;
    if (hooks_ != nullptr && hooks_->interrupted()) {
      held_.resize(held);
      failure_ = Error::aborted();
      return false;
    }
  }
  held_.resize(held + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
  if (got < 0) {
    failure_ = Error::io(err);
    return false;
  }
  if (got == 0) at_end_ = true;
  if (static_cast<std::int64_t>(held_.size()) > max_bytes_) {
    held_.resize(static_cast<std::size_t>(max_bytes_));
    failure_ = Error::too_large("the stream is longer than the reader holds in memory");
    return false;
  }
  return true;
}

bool StreamSource::fill_to(std::uint64_t end) const {
  while (!at_end_ && held_.size() < end) {
    if (failure_ || !read_chunk()) return false;
  }
  return true;
}

std::uint64_t StreamSource::size() const {
  std::lock_guard lock(mutex_);
  fill_to(UINT64_MAX);
  return held_.size();
}

std::uint64_t StreamSource::size_upto(std::uint64_t end) const {
  std::lock_guard lock(mutex_);
  fill_to(end);
  return std::min<std::uint64_t>(held_.size(), end);
}

Result<std::size_t> StreamSource::read_at(std::uint64_t offset, std::span<std::byte> dst) const {
  std::lock_guard lock(mutex_);
  // Bytes past the end of what is asked are never waited for.
  const std::uint64_t end = dst.size() > UINT64_MAX - offset ? UINT64_MAX : offset + dst.size();
  // Once the stream failed, no read goes on as if its bytes were all there.
  if (!fill_to(end) || failure_) return *failure_;
  if (offset >= held_.size()) return std::size_t{0};
  const std::size_t n = std::min<std::uint64_t>(dst.size(), held_.size() - offset);
  if (n != 0) std::memcpy(dst.data(), held_.data() + offset, n);
  return n;
}

Result<std::unique_ptr<ByteSource>> source_from_fd(int fd, std::int64_t max_bytes, const WaitHooks* hooks) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Error::io(errno);
  if (S_ISREG(st.st_mode)) {
    return std::unique_ptr<ByteSource>(std::make_unique<FdSource>(fd, static_cast<std::uint64_t>(st.st_size)));
  }
  return std::unique_ptr<ByteSource>(std::make_unique<StreamSource>(fd, max_bytes, hooks));
}

}  // namespace kestrel
