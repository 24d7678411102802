#include <gtest/gtest.h>

#include <chrono>

#include "io/memory_source.hpp"
#include "tables3d/annotation_table.hpp"
#include "params/value_arith.hpp"
#include "tables3d_allocation_probe.hpp"
#include "tables3d_bytes.hpp"

namespace kestrel {
namespace {

using testing::Bytes;
using testing::D;
using testing::I;
using testing::Params;
using testing::RecordingSink;
using testing::S;

// The block sits 8 bytes into the file; table t's description at 1024 + 2048 t
// from the block start, its rows 512 bytes after the description.
constexpr std::int64_t kAt = 8;
std::int64_t description_at(std::int64_t t) { return 4096 + 2048 * t; }

struct Col {
  ParamValue name;
  ParamValue position;
  ParamValue type;
};
struct Table {
  Params description;
  Bytes rows;
};

Params describe(std::int64_t row_length, std::int64_t rows, const std::vector<Col>& cols) {
  Params p{{"SRC", I(row_length)}, {"SIZ", I(512)}, {"NCO", I(static_cast<std::int64_t>(cols.size()))},
           {"NLN", I(rows)}};
  for (std::size_t k = 0; k < cols.size(); ++k) {
    const std::string nn = two_digits(static_cast<std::int64_t>(k));
    p.emplace_back("S" + nn, cols[k].name);
    p.emplace_back("F" + nn, cols[k].position);
    p.emplace_back("T" + nn, cols[k].type);
  }
  return p;
}

Params& set(Params& p, const std::string& key, ParamValue v) {
  for (auto& [k, value] : p) {
    if (k == key) {
      value = std::move(v);
      return p;
    }
  }
  p.emplace_back(key, std::move(v));
  return p;
}

Params drop(Params p, const std::string& key) {
  std::erase_if(p, [&](const auto& e) { return e.first == key; });
  return p;
}

Params directory(std::int64_t tables) {
  Params p{{"NRP", I(tables)}};
  for (std::int64_t t = 0; t < tables; ++t) p.emplace_back(indexed_key('F', t), I(description_at(t)));
  return p;
}

Bytes file(const Params& dir, const std::vector<Table>& tables) {
  Bytes b;
  b.text("OPUSfile").text("not read....").params(dir);
  for (std::size_t t = 0; t < tables.size(); ++t) {
    const auto at = static_cast<std::size_t>(kAt + description_at(static_cast<std::int64_t>(t)));
    b.pad_to(at).params(tables[t].description).pad_to(at + 512).append(tables[t].rows);
  }
  return b;
}

Result<AnnotationTable> read(const Bytes& b, Diagnostics& sink, const Limits& limits = default_limits()) {
  MemorySource src(b.data());
  Cursor c(src);
  return read_annotation_table(c, kAt, sink, limits);
}

// Columns as "name: cells" lines, cells as i:5 f:1.5 s:text None.
std::vector<std::string> show(const AnnotationTable& t) {
  std::vector<std::string> out;
  for (const AnnotationColumn& c : t.columns) {
    std::string line = value_text(c.name) + ":";
    for (const AnnotationCell& cell : c.cells) {
      line += ' ';
      if (const auto* i = std::get_if<std::int64_t>(&cell)) line += "i" + std::to_string(*i);
      else if (const auto* d = std::get_if<double>(&cell)) line += "f" + float_repr(*d);
      else if (const auto* s = std::get_if<AnnotationText>(&cell)) line += "s'" + s->str() + "'";
      else line += "None";
    }
    out.push_back(line);
  }
  return out;
}

using Lines = std::vector<std::string>;

Lines read_ok(const Bytes& b, RecordingSink& sink) {
  auto r = read(b, sink);
  EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().text);
  return r.ok() ? show(r.value()) : Lines{};
}

Lines read_ok(const Bytes& b) {
  RecordingSink sink;
  return read_ok(b, sink);
}

Error read_error(const Bytes& b, const Limits& limits = default_limits()) {
  RecordingSink sink;
  auto r = read(b, sink, limits);
  EXPECT_FALSE(r.ok());
  return r.ok() ? Error::aborted() : r.error();
}

const std::vector<Col> kMixed{{S("Group"), I(0), I(4)}, {S("X"), I(4), I(5)}, {S("Name"), I(8), I(1000)}};

TEST(AnnotationTable, ReadsIntFloatAndTextCellsRowByRow) {
  Bytes rows;
  rows.i32(1).f32(1.5f).text("ab").zeros(6);
  rows.i32(-2).f32(-0.25f).text("abcdefgh");   // no NUL: all eight bytes
  rows.i32(3).f32(2.0f).text(std::string_view("\0xyz\0\0\0\0", 8));  // NUL first: empty
  EXPECT_EQ(read_ok(file(directory(1), {{describe(16, 3, kMixed), rows}})),
            (Lines{"Group: i1 i-2 i3", "X: f1.5 f-0.25 f2.0", "Name: s'ab' s'abcdefgh' s''"}));
}

TEST(AnnotationTable, PositionsOnlySizeTheTextCells) {
  // The text column sits at 8 of a 12-byte row, so it reads 4 bytes; but cells
  // are read from the row start: the text first, the int from the bytes after it.
  Bytes rows;
  rows.text("name").i32(7).i32(99);
  rows.text(std::string_view("nom\0", 4)).i32(8).i32(99);
  const std::vector<Col> cols{{S("Label"), I(8), I(1050)}, {S("N"), I(0), I(4)}};
  EXPECT_EQ(read_ok(file(directory(1), {{describe(12, 2, cols), rows}})), (Lines{"Label: s'name' s'nom'", "N: i7 i8"}));
}

TEST(AnnotationTable, TextLengthIsTheLargestDistanceToTheRowEnd) {
  Bytes rows;
  rows.text("abcdef").text("ghijkl").zeros(4);
  const std::vector<Col> cols{{S("A"), I(10), I(1000)}, {S("B"), I(4), I(1099)}};  // 16-4 = 12 beats 16-10
  EXPECT_EQ(read_ok(file(directory(1), {{describe(16, 1, cols), rows}})), (Lines{"A: s'abcdefghijkl'", "B: s''"}));
}

TEST(AnnotationTable, TextLengthMinusOneReadsToTheEndOfTheFile) {
  Bytes rows;
  rows.text("all the rest");
  const std::vector<Col> cols{{S("T"), I(20), I(1000)}};  // 4 - 20 is not above -1
  EXPECT_EQ(read_ok(file(directory(1), {{describe(4, 1, cols), rows}})), (Lines{"T: s'all the rest'"}));
}

TEST(AnnotationTable, EmptyAndSkippedTables) {
  EXPECT_EQ(read_ok(file(directory(0), {})), Lines{});
  EXPECT_EQ(read_ok(file(directory(-3), {})), Lines{});
  Bytes rows;
  rows.i32(5).f32(1).zeros(8);
  // Table 0 lacks SRC: not even its names appear. Table 1 has no rows.
  const Table skipped{drop(describe(16, 1, kMixed), "SRC"), rows};
  const Table empty{describe(16, 0, {{S("Only"), I(0), I(4)}}), {}};
  EXPECT_EQ(read_ok(file(directory(2), {skipped, empty})), (Lines{"Only:"}));
}

TEST(AnnotationTable, ColumnNamesBehaveAsDictKeys) {
  Bytes rows0, rows1, rows2;
  rows0.i32(1).i32(2);
  rows1.i32(3).i32(4).i32(5).i32(6);
  rows2.i32(7).i32(8);
  // A later table replaces the list of an earlier one but keeps its place; two
  // columns of one table with one name fill a single list in column order.
  const Table t0{describe(8, 1, {{S("A"), I(0), I(4)}, {S("B"), I(4), I(4)}}), rows0};
  const Table t1{describe(8, 2, {{S("C"), I(0), I(4)}, {S("A"), I(4), I(4)}}), rows1};
  const Table t2{describe(8, 1, {{I(5), I(0), I(4)}, {D(5.0), I(4), I(4)}}), rows2};
  EXPECT_EQ(read_ok(file(directory(3), {t0, t1, t2})), (Lines{"A: i4 i6", "B: i2", "C: i3 i5", "5: i7 i8"}));
}

TEST(AnnotationTable, UnknownTypesWarnReadNothingAndGiveNone) {
  Bytes rows;
  rows.i32(10).i32(11);
  rows.i32(20).i32(21);
  const std::vector<Col> cols{{S("U"), I(0), I(7)}, {S("A"), I(0), I(4)}, {S("V"), I(0), D(7.5)},
                              {S("W"), I(0), S("x")}, {S("B"), I(0), D(4.0)}};
  RecordingSink sink;
  EXPECT_EQ(read_ok(file(directory(1), {{describe(8, 2, cols), rows}}), sink),
            (Lines{"U: None None", "A: i10 i20", "V: None None", "W: None None", "B: i11 i21"}));
  EXPECT_EQ(sink.warnings.size(), 6u);
  EXPECT_EQ(sink.warnings[0], "Unknown annotation data type 7");
  EXPECT_EQ(sink.warnings[1], "Unknown annotation data type 7.5");
  EXPECT_EQ(sink.warnings[2], "Unknown annotation data type x");
}

TEST(AnnotationTable, AFailingSinkStopsTheRead) {
  Bytes rows;
  rows.i32(1);
  RecordingSink sink(1);
  auto r = read(file(directory(1), {{describe(4, 3, {{S("U"), I(0), I(9)}}), rows}}), sink);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, ErrorKind::aborted);
  EXPECT_EQ(sink.warnings.size(), 2u);
}

struct MissingKey {
  const char* key;        // dropped from the table description ("dir:" for the directory)
  const char* reported;
};

class AnnotationMissingKey : public ::testing::TestWithParam<MissingKey> {};

TEST_P(AnnotationMissingKey, RaisesTheKeyTheReaderMeetsFirst) {
  const std::string key = GetParam().key;
  Params dir = directory(1);
  Params desc = describe(16, 1, kMixed);
  if (key.starts_with("dir:")) dir = drop(dir, key.substr(4));
  else desc = drop(desc, key);
  Bytes rows;
  rows.zeros(16);
  const Error e = read_error(file(dir, {{desc, rows}}));
  EXPECT_EQ(e.kind, ErrorKind::missing_key);
  EXPECT_EQ(e.text, GetParam().reported);
}

INSTANTIATE_TEST_SUITE_P(Keys, AnnotationMissingKey,
                         ::testing::Values(MissingKey{"dir:NRP", "NRP"}, MissingKey{"dir:F00", "F00"},
                                           MissingKey{"SIZ", "SIZ"}, MissingKey{"NCO", "NCO"},
                                           MissingKey{"NLN", "NLN"}, MissingKey{"S00", "S00"},
                                           MissingKey{"F00", "F00"}, MissingKey{"T01", "T01"}),
                         [](const auto& info) {
                           std::string n = info.param.key;
                           std::erase(n, ':');
                           return n;
                         });

struct WrongType {
  const char* name;
  const char* key;  // "dir:KEY" for the directory
  ParamValue value;
  std::vector<Col> cols;
  const char* message;
};

class AnnotationWrongType : public ::testing::TestWithParam<WrongType> {};

TEST_P(AnnotationWrongType, RaisesTheTypeErrorOfTheArithmetic) {
  const WrongType& w = GetParam();
  const std::string key = w.key;
  Params dir = directory(1);
  Params desc = describe(16, 1, w.cols);
  if (key.starts_with("dir:")) set(dir, key.substr(4), w.value);
  else set(desc, key, w.value);
  Bytes rows;
  rows.zeros(16);
  const Error e = read_error(file(dir, {{desc, rows}}));
  EXPECT_EQ(e.kind, ErrorKind::type_error);
  EXPECT_EQ(e.text, w.message);
}

const char* kFloatIndex = "'float' object cannot be interpreted as an integer";
const char* kAddStr = "unsupported operand type(s) for +: 'int' and 'str'";
const std::vector<Col> kText{{S("T"), I(8), I(1000)}};
const std::vector<Col> kInt{{S("N"), I(0), I(4)}};

INSTANTIATE_TEST_SUITE_P(
    Values, AnnotationWrongType,
    ::testing::Values(
        WrongType{"nrp_float", "dir:NRP", D(1.0), kInt, kFloatIndex},
        WrongType{"nrp_str", "dir:NRP", S("1"), kInt, "'str' object cannot be interpreted as an integer"},
        WrongType{"table_offset_float", "dir:F00", D(4096.0), kInt, kFloatIndex},
        WrongType{"table_offset_str", "dir:F00", S("x"), kInt, kAddStr},
        WrongType{"siz_float", "SIZ", D(512.0), kInt, kFloatIndex},
        WrongType{"siz_str", "SIZ", S("x"), kInt, kAddStr},
        WrongType{"nco_float", "NCO", D(1.0), kInt, kFloatIndex},
        WrongType{"nln_str", "NLN", S("1"), kInt, "'str' object cannot be interpreted as an integer"},
        WrongType{"row_length_float", "SRC", D(16.0), kInt, kFloatIndex},
        WrongType{"row_length_str", "SRC", S("x"), kInt, kAddStr},
        WrongType{"row_length_str_with_text", "SRC", S("x"), kText,
                  "unsupported operand type(s) for -: 'str' and 'int'"},
        WrongType{"text_position_float", "F00", D(8.0), kText, "argument should be integer or None, not 'float'"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AnnotationTable, RowsPastTheEndFailAtTheirFirstNumericCell) {
  Bytes rows;
  rows.i32(1).f32(2).text("a").zeros(7);
  rows.i32(3).f32(4);  // the third cell of row 1 is text: a short read, no error
  const Error e = read_error(file(directory(1), {{describe(16, 3, kMixed), rows}}));
  EXPECT_EQ(e.kind, ErrorKind::truncated);
  EXPECT_EQ(e.number, 4);
}

TEST(AnnotationTable, TextRowsPastTheEndAreEmpty) {
  Bytes rows;
  rows.text("abcd");
  EXPECT_EQ(read_ok(file(directory(1), {{describe(4, 3, {{S("T"), I(0), I(1000)}}), rows}})),
            (Lines{"T: s'abcd' s'' s''"}));
}

TEST(AnnotationTable, KeysFromTable100OnHaveThreeDigits) {
  Params dir{{"NRP", I(101)}};
  for (int t = 0; t < 100; ++t) dir.emplace_back(indexed_key('F', t), I(description_at(0)));
  dir.emplace_back("F100", I(description_at(1)));
  Bytes rows;
  rows.i32(42);
  const Table skipped{drop(describe(4, 1, kInt), "SRC"), {}};
  const Table last{describe(4, 1, {{S("Last"), I(0), I(4)}}), rows};
  EXPECT_EQ(read_ok(file(dir, {skipped, last})), (Lines{"Last: i42"}));
  set(dir, "NRP", I(102));
  EXPECT_EQ(read_error(file(dir, {skipped, last})).text, "F101");
}

// Hostile counts: each must end at once, without allocating from the count.
class AnnotationHostile : public ::testing::Test {
 protected:
  void SetUp() override { testing::reset_largest_allocation(); }
  void TearDown() override {
    EXPECT_LT(std::chrono::steady_clock::now() - start_, std::chrono::seconds(2));
    EXPECT_LT(testing::largest_allocation(), std::size_t{1} << 20);
  }
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

TEST_F(AnnotationHostile, HugeTableCountStopsAtTheFirstMissingKey) {
  Params dir = directory(1);
  set(dir, "NRP", I(INT32_MAX));
  Bytes rows;
  rows.i32(1);
  EXPECT_EQ(read_error(file(dir, {{describe(4, 1, kInt), rows}})).text, "F01");
}

TEST_F(AnnotationHostile, HugeColumnCountStopsAtTheFirstMissingKey) {
  Params desc = describe(4, 1, kInt);
  set(desc, "NCO", I(INT32_MAX));
  EXPECT_EQ(read_error(file(directory(1), {{desc, {}}})).text, "S01");
}

TEST_F(AnnotationHostile, HugeRowCountFailsAtTheEndOfTheFile) {
  Bytes rows;
  rows.i32(1).i32(2);
  const Error e = read_error(file(directory(1), {{describe(4, INT32_MAX, kInt), rows}}));
  EXPECT_EQ(e.kind, ErrorKind::truncated);
}

TEST_F(AnnotationHostile, RowsThatNeverFailAreRefusedBeforeTheFirstRow) {
  Bytes rows;
  rows.i32(1).text("abcd");
  const std::vector<std::pair<std::int64_t, std::vector<Col>>> cases{
      {0, kInt},                                     // every row rereads the same int
      {4, {{S("T"), I(0), I(1000)}}},                // text rows run on past the end
      {4, {{S("U"), I(0), I(77)}, {S("V"), I(0), I(78)}}},  // nothing read at all
  };
  for (const auto& [row_length, cols] : cases) {
    RecordingSink sink;
    auto r = read(file(directory(1), {{describe(row_length, INT32_MAX, cols), rows}}), sink);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::too_large);
    EXPECT_TRUE(sink.warnings.empty());
  }
}

TEST_F(AnnotationHostile, RowsWithoutColumnsOnlySeek) {
  EXPECT_EQ(read_ok(file(directory(1), {{describe(16, INT32_MAX, {}), {}}})), Lines{});
  // Walking backwards, some row start falls before the file start.
  const Error e = read_error(file(directory(1), {{describe(-16, INT32_MAX, {}), {}}}));
  EXPECT_EQ(e.kind, ErrorKind::bad_seek);
}

TEST(AnnotationLimits, CellsAndWarningsAreCountedOverAllTables) {
  Bytes rows;
  rows.i32(1).i32(2).i32(3);
  const Table t{describe(4, 3, kInt), rows};
  Limits limits;
  limits.cells_per_file_byte = 0;
  limits.max_annotation_cells = 5;
  EXPECT_EQ(read_error(file(directory(2), {t, t}), limits).kind, ErrorKind::too_large);
  limits.max_annotation_cells = 6;
  RecordingSink sink;
  EXPECT_TRUE(read(file(directory(2), {t, t}), sink, limits).ok());
  limits.max_annotation_warnings = 2;
  const Table u{describe(4, 3, {{S("U"), I(0), I(8)}}), rows};
  EXPECT_EQ(read_error(file(directory(1), {u}), limits).kind, ErrorKind::too_large);
}

struct FloatText {
  double value;
  const char* text;
};

class FloatRepr : public ::testing::TestWithParam<FloatText> {};

TEST_P(FloatRepr, MatchesTheShortestRepr) { EXPECT_EQ(float_repr(GetParam().value), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(Values, FloatRepr,
                         ::testing::Values(FloatText{7.0, "7.0"}, FloatText{-0.0, "-0.0"}, FloatText{1e16, "1e+16"},
                                           FloatText{1e15, "1000000000000000.0"}, FloatText{1.5e-5, "1.5e-05"},
                                           FloatText{0.0001, "0.0001"}, FloatText{-2.5e-300, "-2.5e-300"}));

}  // namespace
}  // namespace kestrel
