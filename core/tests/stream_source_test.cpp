// Pipes are read on demand: only as far as a reader asks, never waiting for
// bytes no one asked for, and within the memory cap.
#include "io/fd_source.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "io/cursor.hpp"

namespace kestrel {
namespace {

struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() { EXPECT_EQ(::pipe(fd), 0); }
  ~Pipe() {
    close_writer();
    if (fd[0] >= 0) ::close(fd[0]);
  }
  void write(const std::string& s) { ASSERT_EQ(::write(fd[1], s.data(), s.size()), static_cast<ssize_t>(s.size())); }
  void close_writer() {
    if (fd[1] >= 0) ::close(fd[1]);
    fd[1] = -1;
  }
};

TEST(StreamSource, FieldsAreAnsweredWhileTheWriterStaysOpen) {
  Pipe pipe;
  pipe.write(std::string("\x0a\x0a\xfe\xfe", 4) + "abcdefgh");
  StreamSource source(pipe.fd[0], 1 << 20, nullptr);
  Cursor c(source);
  EXPECT_EQ(c.read_i32_be().value(), 0x0A0AFEFE);  // would block if it read ahead of the four bytes
  EXPECT_EQ(c.read(8).value(), "abcdefgh");
  ASSERT_TRUE(c.seek(2));                           // what was read stays readable
  EXPECT_EQ(c.read(2).value(), "\xfe\xfe");
  pipe.close_writer();
  EXPECT_EQ(c.size(), 12);
}

TEST(StreamSource, ShortReadsAtTheEndAreTheFilesOwn) {
  Pipe pipe;
  pipe.write("abc");
  pipe.close_writer();
  StreamSource source(pipe.fd[0], 1 << 20, nullptr);
  Cursor c(source);
  auto r = c.read_i32();
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, ErrorKind::truncated);
  EXPECT_EQ(c.tell(), 3);
}

TEST(StreamSource, TheCapRefusesOnlyALongerStream) {
  for (const std::size_t length : {16u, 17u}) {
    Pipe pipe;
    pipe.write(std::string(length, 'x'));
    pipe.close_writer();
    StreamSource source(pipe.fd[0], 16, nullptr);
    Cursor c(source);
    auto all = c.read(-1);
    if (length == 16) {
      EXPECT_EQ(all.value().size(), 16u);
    } else {
      ASSERT_FALSE(all);
      EXPECT_EQ(all.error().kind, ErrorKind::too_large);
    }
  }
}

}  // namespace
}  // namespace kestrel
