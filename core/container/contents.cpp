#include "container/contents.hpp"

#include "container/names.hpp"

namespace kestrel {

std::optional<BlockTriple> translate_block(const BlockType& db, std::string_view prefix) {
  if (db[PARAM_TYPE] != 0) return std::nullopt;
  std::string_view suffix;
  int dtype = db[DATA_TYPE];
  if (dtype > kSecondChannelShift) {
    dtype -= kSecondChannelShift;
    suffix = "-CH2";
  }
  if (dtype >= static_cast<int>(kDataTypeNames.size()) || kDataTypeNames[dtype].empty()) return std::nullopt;
  BlockTriple triple;
  triple.type.append(prefix).append(kDataTypeNames[dtype]).append(suffix);
  triple.dimensions = db[EXTEND_TYPE] == kExtend3D ? "3D" : "2D";
  triple.derivative = kDerivativeNames[db[DERIV_TYPE]];
  return triple;
}

std::vector<BlockTriple> list_contents(const Directory& directory) {
  struct Group {
    bool (*member)(const BlockType&);
    std::string_view prefix;
  };
  static constexpr Group kGroups[] = {
      {[](const BlockType& b) { return b[SAMPLE_TYPE] == 3; }, ""},
      {[](const BlockType& b) { return b[SAMPLE_TYPE] == 1; }, "S"},
      {[](const BlockType& b) { return b[SAMPLE_TYPE] == 2; }, "R"},
      {[](const BlockType& b) { return b[DATA_TYPE] == 7; }, ""},
  };
  std::vector<BlockTriple> out;
  for (const Group& group : kGroups) {
    for (const DirectoryEntry& entry : directory) {
      if (!group.member(entry.type)) continue;
      if (auto triple = translate_block(entry.type, group.prefix)) out.push_back(std::move(*triple));
    }
  }
  return out;
}

}  // namespace kestrel
