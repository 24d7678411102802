// isOpusFile, the directory with its 64-bit extension, and the contents listing.
#include <cstring>

#include "common/harness.hpp"
#include "common/literal_reader.hpp"
#include "container/contents.hpp"
#include "container/directory.hpp"
#include "container/names.hpp"

namespace kestrel::fuzz {

namespace {

void check_triple(const BlockTriple& t) {
  KESTREL_FUZZ_EXPECT(t.dimensions == "2D" || t.dimensions == "3D", t.dimensions);
  bool known_derivative = false;
  for (std::string_view d : kDerivativeNames) known_derivative |= t.derivative == d;
  KESTREL_FUZZ_EXPECT(known_derivative, t.derivative);
  KESTREL_FUZZ_EXPECT(!t.type.empty() && t.type.size() <= 12, t.type);
}

}  // namespace

void fuzz_directory_layer(FuzzFile& file) {
  // isOpusFile: a memory source cannot fail, and the answer is the first four bytes.
  Cursor magic_cursor = file.open();
  const Result<bool> opus = is_opus(magic_cursor);
  KESTREL_FUZZ_EXPECT(opus.ok(), "is_opus failed on a memory source");
  const bool expected = file.size() >= 4 && std::memcmp(file.bytes().data(), "\x0a\x0a\xfe\xfe", 4) == 0;
  KESTREL_FUZZ_EXPECT(opus.value() == expected, "is_opus disagrees with the first four bytes");

  // The directory is read whatever the magic says: listContents checks the
  // magic first, but other readers reach the directory on their own.
  Cursor cursor = file.open();
  const Result<Directory> directory = read_directory(cursor);
  const Result<Directory> literal = literal_directory(file.bytes());
  if (!check(directory)) {
    KESTREL_FUZZ_EXPECT(!literal.ok(), "the core failed where a literal reading succeeds");
    check_same_error(directory.error(), literal.error());
    return;
  }
  KESTREL_FUZZ_EXPECT(literal.ok(), "the core succeeded where a literal reading fails");
  KESTREL_FUZZ_EXPECT(same_directory(directory.value(), literal.value()), "directory differs from a literal reading");

  // A cursor that already read the directory once reads it again the same way.
  const Result<Directory> again = read_directory(cursor);
  KESTREL_FUZZ_EXPECT(again.ok() && same_directory(again.value(), directory.value()), "second reading differs");

  const std::vector<BlockTriple> listing = list_contents(directory.value());
  // Every data block is listed at most twice (TRC blocks of spectrum type are).
  KESTREL_FUZZ_EXPECT(listing.size() <= 2 * directory.value().size(), "listing longer than the directory");
  for (const BlockTriple& t : listing) check_triple(t);
}

}  // namespace kestrel::fuzz
