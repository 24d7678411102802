#include "io/gather.hpp"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

namespace kestrel {

namespace {

class Batch {
 public:
  // Gaps up to max_gap (or the source's bridged_gap(), when smaller) are read
  // into scratch rather than starting a new read.
  Batch(const ByteSource& source, std::int64_t max_gap)
      : source_(source), max_gap_(std::clamp<std::int64_t>(source.bridged_gap(), 0, max_gap)),
        max_pieces_(std::max<std::size_t>(source.scatter_pieces(), 2)) {}

  Status add(const CopyJob& job) {
    if (job.size == 0) return ok_status();
    if (!pieces_.empty()) {
      const std::int64_t gap = job.file_offset - end_;
      if (gap < 0 || gap > max_gap_ || pieces_.size() + 2 > max_pieces_) {
        KESTREL_CHECK(flush());
      } else if (gap > 0) {
        // The bytes between jobs are read and dropped: the scratch is made
        // when a gap first needs it, and never initialised.
        if (!scratch_) scratch_.reset(new std::byte[static_cast<std::size_t>(max_gap_)]);
        pieces_.push_back({scratch_.get(), static_cast<std::size_t>(gap)});
        end_ += gap;
      }
    }
    if (pieces_.empty()) start_ = end_ = job.file_offset;
    pieces_.push_back({job.destination, job.size});
    end_ += static_cast<std::int64_t>(job.size);
    return ok_status();
  }

  Status flush() {
    if (pieces_.empty()) return ok_status();
    KESTREL_TRY(const std::size_t got, source_.read_scatter(static_cast<std::uint64_t>(start_), pieces_));
    const auto wanted = static_cast<std::size_t>(end_ - start_);
    pieces_.clear();
    if (got < wanted) return Error::io(EIO);
    return ok_status();
  }

 private:
  const ByteSource& source_;
  std::int64_t max_gap_;
  std::size_t max_pieces_;
  std::unique_ptr<std::byte[]> scratch_;
  std::vector<Piece> pieces_;
  std::int64_t start_ = 0;
  std::int64_t end_ = 0;
};

}  // namespace

Status gather(const ByteSource& source, const std::function<bool(CopyJob&)>& next, std::int64_t max_gap) {
  Batch batch(source, max_gap);
  CopyJob job{};
  while (next(job)) KESTREL_CHECK(batch.add(job));
  return batch.flush();
}

}  // namespace kestrel
