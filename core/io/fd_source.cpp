#include "io/fd_source.hpp"

#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "io/memory_source.hpp"

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

Result<std::unique_ptr<ByteSource>> source_from_fd(int fd, std::int64_t max_bytes) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Error::io(errno);
  if (S_ISREG(st.st_mode)) {
    return std::unique_ptr<ByteSource>(std::make_unique<FdSource>(fd, static_cast<std::uint64_t>(st.st_size)));
  }
  std::vector<std::byte> all;
  std::byte chunk[65536];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Error::io(errno);
    }
    if (got == 0) break;
    if (static_cast<std::int64_t>(all.size()) + got > max_bytes) {
      return Error::too_large("the stream is longer than the reader holds in memory");
    }
    all.insert(all.end(), chunk, chunk + got);
  }
  return std::unique_ptr<ByteSource>(std::make_unique<MemorySource>(std::move(all)));
}

}  // namespace kestrel
