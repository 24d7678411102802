// Files opened by name and their identities, on POSIX and (under wine) Windows.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "io/input_file.hpp"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kestrel {
namespace {

namespace fs = std::filesystem;

class InputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kestrel_input_file_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string write(const std::string& name, const std::string& bytes) const {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  fs::path dir_;
};

TEST_F(InputFileTest, ReadsARegularFileAndKnowsItsIdentity) {
  const std::string path = write("a.bin", "0123456789");
  auto file = InputFile::open(path);
  ASSERT_TRUE(file);
  auto source = file.value().source(1 << 20);
  ASSERT_TRUE(source);
  std::vector<std::byte> got(4);
  ASSERT_EQ(source.value()->read_at(3, got).value(), 4u);
  EXPECT_EQ(static_cast<char>(got[0]), '3');
  const auto id = file.value().identity();
  ASSERT_TRUE(id);
  EXPECT_EQ(id->size, 10);
  EXPECT_GT(id->mtime_ns, std::int64_t{1'000'000'000} * 1'000'000'000);  // after 2001: a Unix-epoch time in ns
  auto again = InputFile::open(path);
  ASSERT_TRUE(again);
  EXPECT_EQ(again.value().identity(), id);
}

TEST_F(InputFileTest, ARewrittenOrReplacedFileHasAnotherIdentity) {
  const std::string path = write("a.bin", "0123456789");
  const auto first = InputFile::open(path).value().identity();
  write("a.bin", "01234567890");  // rewritten in place
  const auto rewritten = InputFile::open(path).value().identity();
  ASSERT_TRUE(first && rewritten);
  EXPECT_NE(first, rewritten);
  const std::string other = write("b.bin", "0123456789");
  const auto other_id = InputFile::open(other).value().identity();
  fs::rename(other, path);  // replaced by another file
  const auto replaced = InputFile::open(path).value().identity();
  ASSERT_TRUE(replaced && other_id);
  EXPECT_EQ(replaced->inode, other_id->inode);
  EXPECT_NE(replaced, rewritten);
}

TEST_F(InputFileTest, RefusesWhatCannotBeRead) {
  auto missing = InputFile::open((dir_ / "missing.bin").string());
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind, ErrorKind::io_error);
  EXPECT_EQ(missing.error().number, ENOENT);
  auto folder = InputFile::open(dir_.string());
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.error().kind, ErrorKind::io_error);
#ifdef _WIN32
  EXPECT_EQ(folder.error().number, EACCES);
#else
  EXPECT_EQ(folder.error().number, EISDIR);
#endif
  EXPECT_FALSE(regular_file_identity(-1));
}

#ifdef _WIN32
TEST_F(InputFileTest, OpensANonAsciiName) {
  std::ofstream(dir_ / fs::path(u8"\u00e9t\u00e9.bin"), std::ios::binary) << "abc";
  // UTF-8, as the file system encoding hands it over.
  auto file = InputFile::open(dir_.string() + "\\\xc3\xa9t\xc3\xa9.bin");
  ASSERT_TRUE(file);
  EXPECT_EQ(file.value().identity()->size, 3);
}
#else
TEST_F(InputFileTest, AFifoWithoutAWriterOpensAtOnceAndHasNoIdentity) {
  const fs::path fifo = dir_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto file = InputFile::open(fifo.string());
  ASSERT_TRUE(file);
  EXPECT_FALSE(file.value().identity());
}
#endif

}  // namespace
}  // namespace kestrel
