// Parameter blocks, read where the directory points and where the choice bytes say.
#include <vector>

#include "common/harness.hpp"
#include "common/literal_reader.hpp"
#include "container/directory.hpp"
#include "container/text.hpp"
#include "params/param_block.hpp"

namespace kestrel::fuzz {

namespace {

void check_params(const ParamList& params, std::int64_t offset, std::int64_t position, std::int64_t file_size) {
  for (const auto& [key, value] : params.items()) {
    KESTREL_FUZZ_EXPECT(key.size() <= 4 && is_strict_utf8(key), key);
    KESTREL_FUZZ_EXPECT(key.empty() || (key.front() != '\0' && key.back() != '\0'), "key keeps a NUL at an end");
    KESTREL_FUZZ_EXPECT(key != "END", "END stored as a key");
    if (const auto* text = std::get_if<std::string>(&value)) {
      KESTREL_FUZZ_EXPECT(is_strict_utf8(*text), "text value is not UTF-8");
      KESTREL_FUZZ_EXPECT(text->find('\0') == std::string::npos, "text value keeps a NUL");
    }
  }
  // Each entry takes at least eight bytes; the END name four more.
  KESTREL_FUZZ_EXPECT(static_cast<std::int64_t>(params.size()) <= (file_size - offset) / 8 + 1, "more entries than bytes");
  // Just after the END name, which the end of the file may cut to "END" alone.
  KESTREL_FUZZ_EXPECT(position >= offset + 3 && position <= file_size, "position after END");
}

// Where to read: the blocks the directory names (parameter blocks first, as a
// reader of data would), then two offsets from the choice bytes, one of them
// past the end or before the start now and then.
std::vector<std::int64_t> offsets_to_try(FuzzFile& file) {
  std::vector<std::int64_t> offsets;
  Cursor cursor = file.open();
  if (auto directory = read_directory(cursor)) {
    for (int pass = 0; pass < 2; ++pass) {
      for (const DirectoryEntry& e : directory.value()) {
        if ((e.type[PARAM_TYPE] != 0) == (pass == 0) && offsets.size() < kMaxVisits) offsets.push_back(e.byte_offset);
      }
    }
  }
  const Choices& c = file.choices();
  const std::int64_t span = file.size() + 16;
  offsets.push_back(static_cast<std::int64_t>(c.word(8) % static_cast<std::uint64_t>(span)));
  std::int64_t wild = static_cast<std::int32_t>(c.word(0));
  if ((c.byte(4) & 3) != 0) wild = static_cast<std::int64_t>(c.word(0) % static_cast<std::uint64_t>(span));
  offsets.push_back(wild);
  return offsets;
}

}  // namespace

void fuzz_params_layer(FuzzFile& file) {
  const std::vector<std::int64_t> offsets = offsets_to_try(file);
  // One cursor for all blocks, as getOpusData reads them through one file, and
  // a literal reader beside it.
  Cursor shared = file.open();
  LiteralFile literal(file.bytes());
  for (const std::int64_t offset : offsets) {
    const Result<ParamList> params = read_param_block(shared, offset);
    const Result<ParamList> expected = literal_param_block(literal, offset);
    if (!check(params)) {
      KESTREL_FUZZ_EXPECT(!expected.ok(), "the core failed where a literal reading succeeds");
      check_same_error(params.error(), expected.error());
      continue;
    }
    KESTREL_FUZZ_EXPECT(expected.ok(), "the core succeeded where a literal reading fails");
    KESTREL_FUZZ_EXPECT(same_params(params.value(), expected.value()), "parameters differ from a literal reading");
    KESTREL_FUZZ_EXPECT(shared.tell() == literal.tell(), "position after END differs");
    check_params(params.value(), offset, shared.tell(), file.size());

    // A fresh cursor (an empty read-ahead window) reads the same block.
    Cursor fresh = file.open();
    const Result<ParamList> again = read_param_block(fresh, offset);
    KESTREL_FUZZ_EXPECT(again.ok() && same_params(again.value(), params.value()), "a fresh cursor reads differently");
  }
}

}  // namespace kestrel::fuzz
