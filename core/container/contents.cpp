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

EntryDescription describe_entry(const BlockType& db) {
  EntryDescription out;
  switch (db[EXTEND_TYPE]) {
    case kExtendDirectory64: out.role = EntryRole::directory_extension; return out;
    case kExtendImage: out.role = EntryRole::pictures; return out;
    case kExtendAnnotation: out.role = EntryRole::annotation_table; return out;
    default: break;
  }
  switch (db[PARAM_TYPE]) {
    case 0: out.role = EntryRole::data; break;
    case 1: out.role = EntryRole::data_parameters; break;
    case 2: out.role = EntryRole::instrument_parameters; return out;
    case 3: out.role = EntryRole::acquisition_parameters; return out;
    case 4: out.role = EntryRole::ft_parameters; return out;
    case 6: out.role = EntryRole::optics_parameters; return out;
    case 10: out.role = EntryRole::sample_parameters; return out;
    default: return out;
  }
  // Named as the listing names it: the sample-type prefix, or none for traces.
  std::string_view prefix;
  switch (db[SAMPLE_TYPE]) {
    case 3: prefix = ""; break;
    case 1: prefix = "S"; break;
    case 2: prefix = "R"; break;
    default:
      if (db[DATA_TYPE] != 7) return out;
  }
  BlockType as_data = db;
  as_data[PARAM_TYPE] = 0;
  out.owner = translate_block(as_data, prefix);
  return out;
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
