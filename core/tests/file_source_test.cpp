// The file source over a real temporary file: pread on POSIX, positioned
// ReadFile on Windows (these tests run under wine in the cross build).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "io/cursor.hpp"
#include "io/fd_source.hpp"
#include "io/gather.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "io/win_source.hpp"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kestrel {
namespace {

namespace fs = std::filesystem;

std::byte pattern(std::size_t i) { return static_cast<std::byte>((i * 7 + i / 251) & 0xFF); }

// A temporary file holding `size` pattern bytes, removed with the fixture.
class FileSourceTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kSize = 10000;

  void SetUp() override {
    path_ = fs::temp_directory_path() /
            ("kestrel_file_source_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::ofstream out(path_, std::ios::binary);
    for (std::size_t i = 0; i < kSize; ++i) out.put(static_cast<char>(pattern(i)));
  }
  void TearDown() override {
    if (fd_ >= 0) close_fd();
    std::error_code ignored;
    fs::remove(path_, ignored);
  }

  std::unique_ptr<ByteSource> open_source() {
#ifdef _WIN32
    fd_ = ::_wopen(path_.c_str(), _O_RDONLY | _O_BINARY);
#else
    fd_ = ::open(path_.c_str(), O_RDONLY);
#endif
    EXPECT_GE(fd_, 0);
    auto source = source_from_fd(fd_, 1 << 20);
    EXPECT_TRUE(source);
    return std::move(source).value();
  }
  void close_fd() {
#ifdef _WIN32
    ::_close(fd_);
#else
    ::close(fd_);
#endif
    fd_ = -1;
  }

  static void expect_pattern(std::span<const std::byte> got, std::size_t from) {
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], pattern(from + i)) << "byte " << from + i;
  }

  fs::path path_;
  int fd_ = -1;
};

TEST_F(FileSourceTest, ReadsAtAnyOffsetAndShortAtTheEnd) {
  auto source = open_source();
  EXPECT_EQ(source->size(), kSize);
  std::vector<std::byte> buf(300);
  for (std::size_t offset : {std::size_t{0}, std::size_t{1}, std::size_t{4095}, std::size_t{5000}}) {
    ASSERT_EQ(source->read_at(offset, buf).value(), buf.size());
    expect_pattern(buf, offset);
  }
  // Reads are positioned: going back to an earlier offset sees the same bytes.
  ASSERT_EQ(source->read_at(1, buf).value(), buf.size());
  expect_pattern(buf, 1);
  ASSERT_EQ(source->read_at(kSize - 10, buf).value(), 10u);
  expect_pattern(std::span(buf).first(10), kSize - 10);
  EXPECT_EQ(source->read_at(kSize, buf).value(), 0u);
  EXPECT_EQ(source->read_at(std::uint64_t{1} << 40, buf).value(), 0u);
}

TEST_F(FileSourceTest, ScatteredReadFillsPiecesInOrderAndStopsAtTheEnd) {
  auto source = open_source();
  std::vector<std::byte> a(100), b(1), c(kSize);
  const Piece pieces[] = {{a.data(), a.size()}, {b.data(), 0}, {b.data(), b.size()}, {c.data(), c.size()}};
  ASSERT_EQ(source->read_scatter(200, pieces).value(), kSize - 200);
  expect_pattern(a, 200);
  expect_pattern(b, 300);
  expect_pattern(std::span(c).first(kSize - 301), 301);
}

TEST_F(FileSourceTest, CursorAndGatherReadThroughTheFile) {
  auto source = open_source();
  Cursor cursor(*source);
  ASSERT_TRUE(cursor.seek(kSize - 2));
  auto field = cursor.read_i32();
  ASSERT_FALSE(field);
  EXPECT_EQ(field.error().kind, ErrorKind::truncated);
  EXPECT_EQ(cursor.tell(), static_cast<std::int64_t>(kSize));

  // Records with small gaps between them, gathered straight into their rows.
  std::vector<std::byte> rows(5 * 64);
  int next = 0;
  ASSERT_TRUE(gather(*source, [&](CopyJob& job) {
    if (next == 5) return false;
    job = {1000 + next * 100, rows.data() + next * 64, 64};
    ++next;
    return true;
  }));
  for (int i = 0; i < 5; ++i) expect_pattern(std::span(rows).subspan(i * 64, 64), 1000 + i * 100);
  // A job past the end is refused rather than left half-filled.
  bool once = true;
  auto past = gather(*source, [&](CopyJob& job) {
    if (!once) return false;
    job = {static_cast<std::int64_t>(kSize) - 8, rows.data(), 16};
    once = false;
    return true;
  });
  ASSERT_FALSE(past);
  EXPECT_EQ(past.error().kind, ErrorKind::io_error);
}

#ifdef _WIN32

class HandleSourceTest : public FileSourceTest {
 protected:
  HANDLE open_handle() {
    HANDLE h = ::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    return h;
  }
};

TEST_F(HandleSourceTest, AFileShorterThanItsRecordedSizeReadsShortNotFailing) {
  HANDLE h = open_handle();
  // Offsets above 4 GiB travel in OffsetHigh; past the real end ReadFile reports EOF.
  HandleSource source(h, std::uint64_t{1} << 33);
  std::vector<std::byte> buf(64);
  EXPECT_EQ(source.read_at((std::uint64_t{1} << 32) + 5, buf).value(), 0u);
  ASSERT_EQ(source.read_at(kSize - 16, buf).value(), 16u);
  expect_pattern(std::span(buf).first(16), kSize - 16);
  ::CloseHandle(h);
}

TEST_F(HandleSourceTest, APipeIsReadWholeAndCapped) {
  for (const std::int64_t cap : {std::int64_t{1} << 20, std::int64_t{10}}) {
    HANDLE read_end = nullptr, write_end = nullptr;
    ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 0));
    const char text[] = "OPUS bytes through a pipe";
    DWORD wrote = 0;
    ASSERT_TRUE(::WriteFile(write_end, text, sizeof text - 1, &wrote, nullptr));
    ::CloseHandle(write_end);
    auto source = source_from_handle(read_end, cap);
    ::CloseHandle(read_end);
    if (cap == 10) {
      ASSERT_FALSE(source);
      EXPECT_EQ(source.error().kind, ErrorKind::too_large);
      continue;
    }
    ASSERT_TRUE(source);
    std::string got(sizeof text - 1, '\0');
    ASSERT_EQ(source.value()->read_at(0, std::as_writable_bytes(std::span(got))).value(), got.size());
    EXPECT_EQ(got, text);
  }
}

TEST(HandleSource, ABadHandleIsAnOsError) {
  auto source = source_from_handle(INVALID_HANDLE_VALUE, 100);
  ASSERT_FALSE(source);
  EXPECT_EQ(source.error().kind, ErrorKind::io_error);
  EXPECT_EQ(source.error().number, EBADF);
  EXPECT_EQ(errno_from_windows_error(ERROR_ACCESS_DENIED), EACCES);
}

#endif  // _WIN32

}  // namespace
}  // namespace kestrel
