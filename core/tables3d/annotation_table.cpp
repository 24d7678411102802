#include "tables3d/annotation_table.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <unordered_map>

#include "base/checked.hpp"
#include "base/little_endian.hpp"
#include "container/text.hpp"
#include "params/param_block.hpp"
#include "params/value_arith.hpp"

namespace kestrel {

namespace {

enum class CellKind { int32, float32, text, unknown };

// Text type codes are 1000 to 1099; a float code counts when it equals one of them.
bool is_text_code(const ParamValue& type) {
  if (const auto* i = std::get_if<std::int64_t>(&type)) return *i >= 1000 && *i < 1100;
  if (const auto* d = std::get_if<double>(&type)) return *d >= 1000 && *d < 1100 && std::trunc(*d) == *d;
  return false;
}

CellKind kind_of(const ParamValue& type) {
  if (equals_int(type, 4)) return CellKind::int32;
  if (equals_int(type, 5)) return CellKind::float32;
  if (is_text_code(type)) return CellKind::text;
  return CellKind::unknown;
}

struct Column {
  std::size_t slot;  // into AnnotationTable::columns
  CellKind kind;
  const ParamValue* type;  // for the warning text; owned by the table description
};

// Column names behave as dict keys: int 5 and float 5.0 are one key, a NaN is
// equal to nothing (each NaN name is a column of its own).
class ColumnSlots {
 public:
  // Gives name a new empty list, replacing any list already stored under it.
  std::size_t assign(AnnotationTable& table, const ParamValue& name) {
    if (const auto key = dict_key(name)) {
      const auto [it, inserted] = slots_.try_emplace(*key, table.columns.size());
      if (!inserted) {
        table.columns[it->second].cells = {};
        return it->second;
      }
    }
    table.columns.push_back({name, {}});
    return table.columns.size() - 1;
  }

 private:
  static std::optional<std::string> dict_key(const ParamValue& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) return "i" + std::to_string(*i);
    if (const auto* d = std::get_if<double>(&v)) {
      if (std::isnan(*d)) return std::nullopt;
      constexpr double two63 = 9223372036854775808.0;
      if (std::trunc(*d) == *d && *d >= -two63 && *d < two63) return "i" + std::to_string(static_cast<std::int64_t>(*d));
      char bits[sizeof(double)];
      std::memcpy(bits, d, sizeof bits);
      return "f" + std::string(bits, sizeof bits);
    }
    return "s" + std::get<std::string>(v);
  }

  std::unordered_map<std::string, std::size_t> slots_;
};

// What the reads of one annotation block have used up so far.
struct Budget {
  std::int64_t cells = 0;
  std::int64_t warnings = 0;
  std::int64_t text_bytes = 0;
  std::int64_t description_bytes = 0;
};

// a + b where a is an int offset and b a parameter value, as a position to seek to.
Result<std::int64_t> seek_target(std::int64_t a, const ParamValue& b) {
  if (std::holds_alternative<std::string>(b)) return unsupported_operands('+', ParamValue{a}, b);
  KESTREL_TRY(const std::int64_t n, index_value(b));  // a float sum is refused by seek
  const auto sum = add_i64(a, n);
  if (!sum) return Error::offset_overflow();
  return *sum;
}

// row_length - position, int or float; a str operand is a TypeError.
Result<ParamValue> difference(const ParamValue& a, const ParamValue& b) {
  if (std::holds_alternative<std::string>(a) || std::holds_alternative<std::string>(b)) {
    return unsupported_operands('-', a, b);
  }
  const auto* ia = std::get_if<std::int64_t>(&a);
  const auto* ib = std::get_if<std::int64_t>(&b);
  if (ia && ib) {
    std::int64_t r;
    if (__builtin_sub_overflow(*ia, *ib, &r)) return Error::offset_overflow();
    return ParamValue{r};
  }
  auto as_double = [](const ParamValue& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
    return std::get<double>(v);
  };
  return ParamValue{as_double(a) - as_double(b)};
}

// a > b for numbers (the values compared here are far below 2**53).
bool greater(const ParamValue& a, const ParamValue& b) {
  const auto* ia = std::get_if<std::int64_t>(&a);
  const auto* ib = std::get_if<std::int64_t>(&b);
  if (ia && ib) return *ia > *ib;
  auto as_double = [](const ParamValue& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
    return std::get<double>(v);
  };
  return as_double(a) > as_double(b);
}

// How many leading rows r of [0, rows) start (at first + r * step) inside [0, hi].
std::int64_t rows_within(std::int64_t first, std::int64_t step, std::int64_t rows, __int128 hi) {
  if (first < 0 || first > hi) return 0;
  __int128 k = rows;
  if (step > 0) k = (hi - first) / step + 1;
  if (step < 0) k = first / -__int128{step} + 1;
  return k < rows ? static_cast<std::int64_t>(k) : rows;
}

struct TableReader {
  Cursor& cursor;
  Diagnostics& diagnostics;
  const Limits& limits;
  AnnotationTable& table;
  ColumnSlots& slots;
  Budget& used;

  Status read(std::int64_t offset, const ParamValue& table_offset);
  Result<std::int64_t> refuse_endless_rows(const std::vector<Column>& columns, const ParamValue& text_length,
                                           std::int64_t first_row,
                             std::int64_t row_length, std::int64_t rows) const;
  Status read_cell(const Column& column, const ParamValue& text_length);
  Result<bool> read_rows_in_bulk(const std::vector<Column>& columns, const ParamValue& text_length,
                                 std::int64_t first_row, std::int64_t step, std::int64_t rows);
  std::int64_t cell_cap() const { return limits.max_annotation_cells + limits.cells_per_file_byte * cursor.size(); }
};

Status TableReader::read(std::int64_t offset, const ParamValue& table_offset) {
  KESTREL_TRY(const std::int64_t description_at, seek_target(offset, table_offset));
  KESTREL_TRY(const ParamList description, read_param_block(cursor, description_at));
  used.description_bytes += std::max<std::int64_t>(0, cursor.tell() - description_at);
  if (used.description_bytes > limits.max_annotation_description_bytes + cursor.size()) {
    return Error::too_large("annotation table descriptions larger than the limit in all");
  }
  const ParamValue* row_length = description.find("SRC");
  if (row_length == nullptr) return ok_status();  // a table marked to be skipped

  KESTREL_TRY(const ParamValue* first_row_at, require_param(description, "SIZ"));
  KESTREL_TRY(const std::int64_t first_row, seek_target(description_at, *first_row_at));
  KESTREL_CHECK(cursor.seek(first_row));

  ParamValue text_length = std::int64_t{-1};
  KESTREL_TRY(const ParamValue* nco, require_param(description, "NCO"));
  KESTREL_TRY(const std::int64_t column_count, index_value(*nco));
  std::vector<Column> columns;  // grows per column: each needs three keys the description holds
  for (std::int64_t k = 0; k < column_count; ++k) {
    const std::string nn = two_digits(k);
    KESTREL_TRY(const ParamValue* name, require_param(description, "S" + nn));
    KESTREL_TRY(const ParamValue* position, require_param(description, "F" + nn));
    KESTREL_TRY(const ParamValue* type, require_param(description, "T" + nn));
    const std::size_t slot = slots.assign(table, *name);
    columns.push_back({slot, kind_of(*type), type});
    if (columns.back().kind == CellKind::text) {
      KESTREL_TRY(const ParamValue to_row_end, difference(*row_length, *position));
      if (greater(to_row_end, text_length)) text_length = to_row_end;
    }
  }

  KESTREL_TRY(const ParamValue* nln, require_param(description, "NLN"));
  KESTREL_TRY(const std::int64_t rows, index_value(*nln));
  if (rows <= 0) return ok_status();
  // Row r starts at first_row + r * row_length; the first row already shows a
  // row length that is no int (r * str is a str, first_row + r * float a float).
  if (std::holds_alternative<std::string>(*row_length)) {
    return unsupported_operands('+', ParamValue{first_row}, *row_length);
  }
  KESTREL_TRY(const std::int64_t step, index_value(*row_length));
  KESTREL_TRY(const std::int64_t whole_rows, refuse_endless_rows(columns, text_length, first_row, step, rows));
  // The rows the file holds whole: their cells are stored without regrowing
  // the columns (a table of millions of rows would otherwise be copied over
  // and over).
  for (const Column& column : columns) {
    auto& cells = table.columns[column.slot].cells;
    cells.reserve(cells.size() + static_cast<std::size_t>(whole_rows));
  }

  if (columns.empty()) {
    // Rows without cells only seek: the first start that no seek accepts is
    // the outcome, wherever it lies.
    const std::int64_t fine = rows_within(first_row, step, rows, std::numeric_limits<std::int64_t>::max());
    const __int128 last = __int128{first_row} + __int128{fine < rows ? fine : rows - 1} * step;
    if (last > std::numeric_limits<std::int64_t>::max() || last < std::numeric_limits<std::int64_t>::min()) {
      return Error::offset_overflow();
    }
    return cursor.seek(static_cast<std::int64_t>(last));
  }
  KESTREL_TRY(const bool read_whole, read_rows_in_bulk(columns, text_length, first_row, step, rows));
  if (read_whole) return ok_status();
  for (std::int64_t r = 0; r < rows; ++r) {
    const auto along = mul_i64(r, step);
    const auto start = along ? add_i64(first_row, *along) : std::nullopt;
    if (!start) return Error::offset_overflow();
    KESTREL_CHECK(cursor.seek(*start));
    for (const Column& column : columns) KESTREL_CHECK(read_cell(column, text_length));
  }
  return ok_status();
}

// Rows that read no bytes, or reread the same bytes, repeat as often as the
// count says; so do rows past the end of the file whose cells are all text.
// Counts how many rows will be read whole before the first failing one and
// refuses a table whose cells or warnings would then pass the caps; returns
// how many rows the file's bytes back (0 when no cell reads a number).
Result<std::int64_t> TableReader::refuse_endless_rows(const std::vector<Column>& columns,
                                                      const ParamValue& text_length, std::int64_t first_row,
                                                      std::int64_t row_length, std::int64_t rows) const {
  std::int64_t unknown = 0;
  bool has_number = false;
  bool always_fails = std::holds_alternative<double>(text_length);  // only text columns make it a float
  __int128 consumed = 0;   // bytes of the row before the current cell, all reads full
  __int128 needed = 0;     // the end of the last int or float cell
  bool to_file_end = false;
  for (const Column& c : columns) {
    switch (c.kind) {
      case CellKind::int32:
      case CellKind::float32:
        has_number = true;
        if (to_file_end) always_fails = true;  // a text cell read to the end leaves nothing
        consumed += 4;
        needed = consumed;
        break;
      case CellKind::text:
        if (const auto* n = std::get_if<std::int64_t>(&text_length)) {
          if (*n < 0) to_file_end = true;
          else consumed += *n;
        }
        break;
      case CellKind::unknown:
        ++unknown;
        break;
    }
  }
  if (always_fails) return std::int64_t{0};
  const __int128 hi = has_number ? __int128{cursor.size()} - needed : std::numeric_limits<std::int64_t>::max();
  const __int128 whole_rows = rows_within(first_row, row_length, rows, hi);
  const auto ncols = static_cast<__int128>(columns.size());
  if (used.cells + whole_rows * ncols > cell_cap()) {
    return Error::too_large("annotation table of " + std::to_string(rows) + " rows of " + std::to_string(columns.size()) +
                            " cells: more cells than the limit");
  }
  if (used.warnings + whole_rows * unknown > limits.max_annotation_warnings) {
    return Error::too_large("annotation table of " + std::to_string(rows) + " rows with " + std::to_string(unknown) +
                            " cells of unknown type: more warnings than the limit");
  }
  // Rows with a number cell end inside the file: that many are backed by its bytes.
  return has_number ? static_cast<std::int64_t>(whole_rows) : std::int64_t{0};
}

// Rows that lie whole inside the file, with cells of fixed widths, are read a
// chunk of bytes at a time rather than a cell at a time: the same cells from
// the same bytes, in the same order, the cursor left where the cell reads
// leave it. Anything else (rows past the end, text read to the end of the
// file, a text budget that would run out) takes the cell-by-cell path.
Result<bool> TableReader::read_rows_in_bulk(const std::vector<Column>& columns, const ParamValue& text_length,
                                            std::int64_t first_row, std::int64_t step, std::int64_t rows) {
  const auto* text = std::get_if<std::int64_t>(&text_length);
  std::int64_t width = 0;
  std::int64_t texts = 0;
  for (const Column& c : columns) {
    if (c.kind == CellKind::int32 || c.kind == CellKind::float32) width += 4;
    if (c.kind != CellKind::text) continue;
    if (text == nullptr || *text < 0) return false;
    width += *text;
    ++texts;
  }
  if (step < 0 || first_row < 0 || rows <= 0) return false;
  const __int128 end = __int128{first_row} + __int128{rows - 1} * step + width;
  if (end > cursor.size()) return false;
  if (texts > 0 && __int128{used.text_bytes} + __int128{rows} * texts * *text >
                       __int128{limits.max_annotation_text_bytes} + cursor.size()) {
    return false;
  }
  const std::int64_t row_bytes = std::max<std::int64_t>({step, width, 1});
  const std::int64_t chunk_rows = std::clamp<std::int64_t>((std::int64_t{8} << 20) / row_bytes, 1, rows);
  std::vector<std::byte> buffer;
  for (std::int64_t r0 = 0; r0 < rows; r0 += chunk_rows) {
    const std::int64_t n = std::min(chunk_rows, rows - r0);
    const std::int64_t start = first_row + r0 * step;
    buffer.resize(static_cast<std::size_t>((n - 1) * step + width));
    KESTREL_TRY(const std::size_t got, cursor.source().read_at(static_cast<std::uint64_t>(start), buffer));
    if (got != buffer.size()) return Error::io(EIO);  // the file shrank under us
    for (std::int64_t k = 0; k < n; ++k) {
      const std::byte* row = buffer.data() + k * step;
      std::int64_t at = 0;
      for (const Column& c : columns) {
        std::vector<AnnotationCell>& cells = table.columns[c.slot].cells;
        switch (c.kind) {
          case CellKind::int32:
            ++used.cells;
            cells.emplace_back(std::int64_t{load_le<std::int32_t>(row + at)});
            at += 4;
            break;
          case CellKind::float32:
            ++used.cells;
            cells.emplace_back(static_cast<double>(load_le<float>(row + at)));
            at += 4;
            break;
          case CellKind::text: {
            ++used.cells;
            used.text_bytes += *text;
            const std::string_view raw(reinterpret_cast<const char*>(row + at), static_cast<std::size_t>(*text));
            cells.emplace_back(AnnotationText(decode_text(before_nul(raw))));
            at += *text;
            break;
          }
          case CellKind::unknown:
            KESTREL_CHECK(read_cell(c, text_length));  // reads nothing: a warning and None
            break;
        }
      }
    }
  }
  KESTREL_CHECK(cursor.seek(static_cast<std::int64_t>(end)));
  return true;
}

Status TableReader::read_cell(const Column& column, const ParamValue& text_length) {
  if (++used.cells > cell_cap()) return Error::too_large("annotation cells past the limit");
  std::vector<AnnotationCell>& cells = table.columns[column.slot].cells;
  switch (column.kind) {
    case CellKind::int32: {
      KESTREL_TRY(const std::int32_t v, cursor.read_i32());
      cells.emplace_back(std::int64_t{v});
      break;
    }
    case CellKind::float32: {
      KESTREL_TRY(const float v, cursor.read_f32());
      cells.emplace_back(static_cast<double>(v));
      break;
    }
    case CellKind::text: {
      const auto* n = std::get_if<std::int64_t>(&text_length);
      if (n == nullptr) return Error::type("argument should be integer or None, not 'float'");
      const std::int64_t avail = cursor.available();
      used.text_bytes += (*n < 0 || *n > avail) ? avail : *n;
      if (used.text_bytes > limits.max_annotation_text_bytes + cursor.size()) {
        return Error::too_large("annotation text cells larger than the limit in all");
      }
      KESTREL_TRY(const std::string raw, cursor.read(*n));
      cells.emplace_back(AnnotationText(decode_text(before_nul(raw))));
      break;
    }
    case CellKind::unknown:
      // The cell has no value of its own: None, never another cell's value.
      if (++used.warnings > limits.max_annotation_warnings) {
        return Error::too_large("annotation warnings past the limit");
      }
      if (!diagnostics.runtime_warning("Unknown annotation data type " + value_text(*column.type))) {
        return Error::aborted();
      }
      cells.emplace_back(std::monostate{});
      break;
  }
  return ok_status();
}

}  // namespace

const AnnotationColumn* AnnotationTable::find(std::string_view name) const {
  for (const AnnotationColumn& c : columns) {
    if (const auto* s = std::get_if<std::string>(&c.name); s != nullptr && *s == name) return &c;
  }
  return nullptr;
}

Result<AnnotationTable> read_annotation_table(Cursor& cursor, std::int64_t offset, Diagnostics& diagnostics,
                                              const Limits& limits) {
  AnnotationTable table;
  ColumnSlots slots;
  Budget used;
  const auto directory_at = add_i64(offset, 12);  // after 12 bytes that carry nothing we read
  if (!directory_at) return Error::offset_overflow();
  KESTREL_TRY(const ParamList directory, read_param_block(cursor, *directory_at));
  KESTREL_TRY(const ParamValue* nrp, require_param(directory, "NRP"));
  KESTREL_TRY(const std::int64_t table_count, index_value(*nrp));
  TableReader reader{cursor, diagnostics, limits, table, slots, used};
  // Each table needs its own key in the directory, so a huge count stops at
  // the first key the directory lacks.
  for (std::int64_t t = 0; t < table_count; ++t) {
    KESTREL_TRY(const ParamValue* table_offset, require_param(directory, indexed_key('F', t)));
    KESTREL_CHECK(reader.read(offset, *table_offset));
  }
  return table;
}

}  // namespace kestrel
