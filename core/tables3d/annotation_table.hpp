// The annotation table of a 3D measurement: one or more tables, each described
// by a parameter block that names its columns and gives their types and byte
// positions, followed by fixed-length rows. All tables of one annotation block
// read into one set of columns keyed by name.
//
// Layout, offsets from the block start:
//   0        12 bytes not interpreted
//   12       the table directory, a parameter block: NRP (number of tables),
//            F00, F01, ... (offset of each table's description)
//   Fnn      the table description, a parameter block: SRC (row length; a
//            description without it marks a table to skip), SIZ (first row,
//            from the description), NCO, NLN (columns, rows), and per column
//            Snn (name), Fnn (position in the row), Tnn (type code)
// Type codes: 4 int32, 5 float32, 1000-1099 text; anything else has no value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/diagnostics.hpp"
#include "base/limits.hpp"
#include "base/result.hpp"
#include "io/cursor.hpp"
#include "params/value.hpp"

namespace kestrel {

// A text cell's characters (UTF-8), held apart so that every cell stays
// small: a table of millions of number cells costs 16 bytes a cell.
class AnnotationText {
 public:
  explicit AnnotationText(std::string text) : text_(std::make_unique<std::string>(std::move(text))) {}
  AnnotationText(const AnnotationText& other) : text_(std::make_unique<std::string>(*other.text_)) {}
  AnnotationText(AnnotationText&&) noexcept = default;
  AnnotationText& operator=(const AnnotationText& other) {
    text_ = std::make_unique<std::string>(*other.text_);
    return *this;
  }
  AnnotationText& operator=(AnnotationText&&) noexcept = default;
  const std::string& str() const { return *text_; }

 private:
  std::unique_ptr<std::string> text_;
};

// None (a cell of an unknown type), int, float or str.
using AnnotationCell = std::variant<std::monostate, std::int64_t, double, AnnotationText>;

struct AnnotationColumn {
  ParamValue name;  // the Snn value, usually a str; int 5 and float 5.0 name the same column
  std::vector<AnnotationCell> cells;
};

struct AnnotationTable {
  std::vector<AnnotationColumn> columns;  // in the order the names were first met

  // The column under a str name, or nullptr.
  const AnnotationColumn* find(std::string_view name) const;
};

// getANNOTable: reads every table of the annotation block at offset.
//
// Cells are read one after another from the start of each row; the positions
// serve only to size the text cells: every text cell of a table reads the
// largest distance from a text column's position to the end of the row (-1,
// to the end of the file, when no distance exceeds -1), cut at the first NUL.
// A later table's column replaces the list of an earlier one of the same name;
// two columns of one table with the same name fill one list.
//
// A cell of an unknown type reads nothing, warns "Unknown annotation data
// type N" through the sink and gets None. Errors arise in the order the tables
// are read: missing keys (Error::missing_key, only a missing SRC is
// tolerated), a short read at the end of the file, values of the wrong type
// for arithmetic (Error::type with the text the arithmetic gives), a failing
// sink (Error::aborted). Limits cap what repeating rows can add up to
// (Error::too_large); a table whose rows would pass a cap is refused before
// its first row.
Result<AnnotationTable> read_annotation_table(Cursor& cursor, std::int64_t offset, Diagnostics& diagnostics,
                                              const Limits& limits = default_limits());

}  // namespace kestrel
