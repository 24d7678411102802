// The contents listing: which data blocks a file holds, as request triples.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "container/block_type.hpp"
#include "container/directory.hpp"

namespace kestrel {

struct BlockTriple {
  std::string type;        // "AB", "SSC", "RIFG", "AB-CH2", ...
  std::string dimensions;  // "2D" or "3D"
  std::string derivative;  // "NONE", "1DER", "2DER", "NDER"
};

// The triple of one directory entry, or nothing for a parameter block or an
// unnamed data type (codes outside the name table included: real files carry them).
std::optional<BlockTriple> translate_block(const BlockType& db, std::string_view prefix);

// What a directory entry holds, for telling a reader where a file is damaged.
enum class EntryRole {
  data,                 // a data block (its triple, when named, is in `owner`)
  data_parameters,      // the parameters of the data block named in `owner`
  acquisition_parameters,
  instrument_parameters,
  optics_parameters,
  sample_parameters,
  ft_parameters,
  annotation_table,
  pictures,
  directory_extension,
  other,
};

struct EntryDescription {
  EntryRole role = EntryRole::other;
  std::optional<BlockTriple> owner;  // the data block it is, or describes
};

EntryDescription describe_entry(const BlockType& db);

// Spectrum blocks first, then sample, reference and TRC blocks, each in directory order.
std::vector<BlockTriple> list_contents(const Directory& directory);

}  // namespace kestrel
