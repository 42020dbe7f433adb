// The used range (the last cell of UsedRange.SpecialCells(11)) by the rule with which Excel
// stamps DIMENSIONS and <dimension>, through the .xls, .xlsx and .xlsb readers. Each fixture holds
// the dimension Excel would store for it, so the stored value is the cross-check; a writer that
// stores a wrong one must not change the answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "spreadsheet/workbook_source.h"
#include "temp_dir.h"
#include "xls_test_files.h"
#include "xlsb_builder.h"
#include "xlsx_builder.h"
#include "xlsx_test_support.h"

namespace cellverter {
namespace {

namespace ts = testing_support;

struct Cell {
  uint32_t row;  // 1-based
  uint32_t column;
};
struct Columns {
  uint32_t first;  // 1-based
  uint32_t last;
};

struct SheetFeatures {
  std::vector<Cell> values{};               // a number each
  std::vector<uint32_t> formattedRows{};    // a row format, no cells
  std::vector<uint32_t> tallRows{};         // a height set by hand, no cells
  std::vector<uint32_t> plainRows{};        // a row record of the default kind, no cells
  std::vector<Columns> formattedColumns{};  // a column format
  std::vector<Columns> widenedColumns{};    // a width, no format
  std::vector<Cell> notes{};                // a note (comment) each
  std::string table{};                      // .xlsx and .xlsb only: the range of a table
};

struct UsedRangeCase {
  const char* name;
  SheetFeatures sheet;
  std::string dimension;  // what Excel stores for this sheet ("B2:D9"), "" when empty
  std::string stored{};   // what the file stores instead, as other writers do; "" for Excel's
};

void PrintTo(const UsedRangeCase& c, std::ostream* os) { *os << c.name; }

std::string A1(Cell cell) { return ts::ColumnName(cell.column) + std::to_string(cell.row); }

// "B2" -> {2, 2}.
Cell ParseA1(const std::string& ref) {
  Cell cell{0, 0};
  size_t i = 0;
  for (; i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z'; ++i) {
    cell.column = cell.column * 26 + static_cast<uint32_t>(ref[i] - 'A' + 1);
  }
  cell.row = static_cast<uint32_t>(std::stoul(ref.substr(i)));
  return cell;
}
// The first and last cells of "B2:D9" (or "D9"); {0, 0} twice for "".
std::pair<Cell, Cell> ParseRange(const std::string& range) {
  if (range.empty()) return {{0, 0}, {0, 0}};
  const size_t colon = range.find(':');
  if (colon == std::string::npos) return {ParseA1(range), ParseA1(range)};
  return {ParseA1(range.substr(0, colon)), ParseA1(range.substr(colon + 1))};
}

// The rows that carry something, with what each carries.
struct RowContent {
  bool formatted = false;
  bool tall = false;
  std::vector<uint32_t> columns;  // of its values
};
std::map<uint32_t, RowContent> RowsOf(const SheetFeatures& sheet) {
  std::map<uint32_t, RowContent> rows;
  for (const Cell& cell : sheet.values) rows[cell.row].columns.push_back(cell.column);
  for (uint32_t row : sheet.formattedRows) rows[row].formatted = true;
  for (uint32_t row : sheet.tallRows) rows[row].tall = true;
  for (uint32_t row : sheet.plainRows) rows[row];
  for (auto& [row, content] : rows) std::sort(content.columns.begin(), content.columns.end());
  return rows;
}

std::string MakeXlsx(const SheetFeatures& sheet, const std::string& dimension) {
  ts::TestWorkbook book;
  book.cellXfs = {0, 0};  // style 1: a format of its own
  std::string data;
  for (const auto& [row, content] : RowsOf(sheet)) {
    data += "<row r=\"" + std::to_string(row) + "\"";
    if (content.formatted) data += " s=\"1\" customFormat=\"1\"";
    data += content.tall ? " ht=\"30\" customHeight=\"1\"" : " ht=\"15\"";
    data += ">";
    for (uint32_t column : content.columns) {
      data += "<c r=\"" + A1({row, column}) + "\"><v>1</v></c>";
    }
    data += "</row>";
  }
  book.sheets = {{data}};
  ts::TestSheet& part = book.sheets[0];
  if (!dimension.empty()) part.beforeData = "<dimension ref=\"" + dimension + "\"/>";
  if (!sheet.formattedColumns.empty() || !sheet.widenedColumns.empty()) {
    std::map<uint32_t, std::string> columns;  // by first column, as <cols> is ordered
    for (const Columns& c : sheet.formattedColumns) {
      columns[c.first] = "<col min=\"" + std::to_string(c.first) + "\" max=\"" +
                         std::to_string(c.last) + "\" width=\"9\" style=\"1\"/>";
    }
    for (const Columns& c : sheet.widenedColumns) {
      columns[c.first] = "<col min=\"" + std::to_string(c.first) + "\" max=\"" +
                         std::to_string(c.last) + "\" width=\"20\" customWidth=\"1\"/>";
    }
    part.beforeData += "<cols>";
    for (const auto& [first, xml] : columns) part.beforeData += xml;
    part.beforeData += "</cols>";
  }
  if (!sheet.notes.empty()) {
    std::string comments = "<comments xmlns=\"" + ts::kMainNamespace +
                           "\"><authors><author>me</author></authors><commentList>";
    for (const Cell& note : sheet.notes) {
      comments += "<comment ref=\"" + A1(note) +
                  "\" authorId=\"0\"><text><r><t>note</t></r></text></comment>";
    }
    part.related.push_back(
        {"comments", "xl/comments1.xml", comments + "</commentList></comments>"});
  }
  if (!sheet.table.empty()) {
    part.related.push_back(
        {"table", "xl/tables/table1.xml",
         "<table xmlns=\"" + ts::kMainNamespace +
             "\" id=\"1\" name=\"T\" displayName=\"T\" ref=\"" + sheet.table +
             "\"><autoFilter ref=\"" + sheet.table +
             "\"/><tableColumns count=\"1\"><tableColumn id=\"1\" name=\"c\"/></tableColumns>"
             "</table>"});
    part.afterData = "<tableParts count=\"1\"><tablePart r:id=\"rId" +
                     std::to_string(part.related.size()) + "\"/></tableParts>";
  }
  return book.Zip();
}

std::string MakeXls(const SheetFeatures& sheet, const std::string& dimension) {
  using ts::Le16;
  using ts::Le32;
  std::string records;
  // ColInfo (MS-XLS 2.4.53): XF 15 is the default cell format, 16 one of its own.
  auto colInfo = [&](Columns c, uint16_t xf) {
    records += ts::Record(0x007D, Le16(c.first - 1) + Le16(c.last - 1) + Le16(20 * 256) + Le16(xf) +
                                      Le16(0) + Le16(0));
  };
  for (const Columns& c : sheet.formattedColumns) colInfo(c, 16);
  for (const Columns& c : sheet.widenedColumns) colInfo(c, 15);
  // Dimensions (2.4.90): first row, last row + 1, first column, last column + 1.
  const auto [first, last] = ParseRange(dimension);
  records += ts::Record(0x0200, dimension.empty()
                                    ? std::string(14, '\0')
                                    : Le32(first.row - 1) + Le32(last.row) +
                                          Le16(first.column - 1) + Le16(last.column) + Le16(0));
  const auto rows = RowsOf(sheet);
  // Row (2.4.221): fUnsynced 0x40, fGhostDirty 0x80, the reserved bit 0x100 always set.
  for (const auto& [row, content] : rows) {
    const uint16_t columnFirst = content.columns.empty() ? 0 : content.columns.front() - 1;
    const uint16_t columnEnd = content.columns.empty() ? 0 : content.columns.back();
    const uint16_t flags = 0x100 | (content.formatted ? 0x80 : 0) | (content.tall ? 0x40 : 0);
    records += ts::Record(0x0208, Le16(row - 1) + Le16(columnFirst) + Le16(columnEnd) +
                                      Le16(content.tall ? 600 : 300) + Le16(0) + Le16(0) +
                                      Le16(flags) + Le16(content.formatted ? 16 : 15));
  }
  for (const auto& [row, content] : rows) {
    for (uint32_t column : content.columns) {
      records +=
          ts::Number(static_cast<uint16_t>(row - 1), static_cast<uint16_t>(column - 1), 1, 15);
    }
  }
  // Note (2.4.179): row, column, flags, object id, author.
  uint16_t objectId = 1;
  for (const Cell& note : sheet.notes) {
    records += ts::Record(0x001C, Le16(note.row - 1) + Le16(note.column - 1) + Le16(0) +
                                      Le16(objectId++) + ts::Compressed("me") + '\0');
  }
  return ts::WriteCompoundFile({{"Workbook", ts::WorkbookStream("", {{0, 0x10, 0, records}})}})
      .bytes;
}

std::string MakeXlsb(const SheetFeatures& sheet, const std::string& dimension) {
  using ts::Le32;
  ts::XlsbPackage book;
  book.cellXfs = {0, 0};  // style 1: a format of its own
  ts::XlsbSheetPart part = ts::XlsbWorksheet("Sheet1");
  if (!dimension.empty()) {
    const auto [first, last] = ParseRange(dimension);
    part.dimension = ts::XlsbRfx(first.row - 1, last.row - 1, first.column - 1, last.column - 1);
  }
  // BrtColInfo: first, last, width, format, flags (0x0002 a width set by hand).
  std::map<uint32_t, std::string> columns;
  for (const Columns& c : sheet.formattedColumns) {
    columns[c.first] = ts::XlsbRecord(
        60, Le32(c.first - 1) + Le32(c.last - 1) + Le32(2340) + Le32(1) + ts::Le16(0));
  }
  for (const Columns& c : sheet.widenedColumns) {
    columns[c.first] = ts::XlsbRecord(
        60, Le32(c.first - 1) + Le32(c.last - 1) + Le32(5120) + Le32(0) + ts::Le16(2));
  }
  for (const auto& [first, record] : columns) part.beforeData += record;
  for (const auto& [row, content] : RowsOf(sheet)) {
    part.sheetData += ts::XlsbRow(
        row - 1, static_cast<uint8_t>((content.formatted ? 0x40 : 0) | (content.tall ? 0x20 : 0)));
    for (uint32_t column : content.columns) {
      part.sheetData += ts::XlsbRecord(2, ts::XlsbCellHead(column - 1, 0) + Le32(*ts::XlsbRk(1)));
    }
  }
  if (!sheet.notes.empty()) {
    std::vector<std::pair<uint32_t, uint32_t>> cells;
    for (const Cell& note : sheet.notes) cells.emplace_back(note.row - 1, note.column - 1);
    part.related.push_back({"comments", "xl/comments1.bin", ts::XlsbCommentsPart(cells)});
  }
  if (!sheet.table.empty()) {
    const auto [first, last] = ParseRange(sheet.table);
    part.related.push_back({"table", "xl/tables/table1.bin",
                            ts::XlsbTablePart(ts::XlsbRfx(first.row - 1, last.row - 1,
                                                          first.column - 1, last.column - 1))});
    part.afterData =
        ts::XlsbListParts({ts::AsciiUnits("rId" + std::to_string(part.related.size()))});
  }
  book.sheets = {part};
  return book.Zip();
}

class UsedRangeTest : public testing::TestWithParam<UsedRangeCase> {};

TEST_P(UsedRangeTest, EndsWhereExcelStampsTheDimension) {
  const UsedRangeCase& c = GetParam();
  const std::string stored = c.stored.empty() ? c.dimension : c.stored;
  const Cell expected = ParseRange(c.dimension).second;
  ts::TempDir dir;
  std::vector<std::string> files = {"book.xlsx", "book.xlsb"};
  ts::WriteBytes(dir / "book.xlsx", MakeXlsx(c.sheet, stored));
  ts::WriteBytes(dir / "book.xlsb", MakeXlsb(c.sheet, stored));
  if (c.sheet.table.empty()) {  // tables belong to the package workbooks
    files.push_back("book.xls");
    ts::WriteBytes(dir / "book.xls", MakeXls(c.sheet, stored));
  }
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    auto source = OpenWorkbookSource(dir / file);
    EXPECT_EQ(source->LastRow(), expected.row);
    EXPECT_EQ(source->LastColumn(), expected.column);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, UsedRangeTest,
    testing::Values(
        UsedRangeCase{"Empty", {}, ""},
        UsedRangeCase{"Values", {.values = {{2, 2}, {3, 4}}}, "B2:D3"},
        // MS-XLS 2.4.90 and MS-XLSB 2.4.858: row and column formats.
        UsedRangeCase{"RowFormatCountsInTheRowBoundsOnly",
                      {.values = {{2, 2}}, .formattedRows = {6}},
                      "B2:B6"},
        UsedRangeCase{"RowFormatAloneBringsTheFirstColumn", {.formattedRows = {4}}, "A4"},
        UsedRangeCase{"ColumnFormatCountsInTheColumnBoundsOnly",
                      {.values = {{2, 2}}, .formattedColumns = {{5, 5}}},
                      "B2:E2"},
        UsedRangeCase{
            "ColumnFormatAloneBringsTheFirstRow", {.formattedColumns = {{3, 4}}}, "C1:D1"},
        UsedRangeCase{"RowAndColumnFormatsEachGiveOneBound",
                      {.formattedRows = {7}, .formattedColumns = {{3, 3}}},
                      "C7"},
        UsedRangeCase{"WidthsAndPlainRowsDoNotCount",
                      {.values = {{2, 2}}, .plainRows = {9}, .widenedColumns = {{6, 8}}},
                      "B2"},
        // What Excel-saved files show Excel counts besides.
        UsedRangeCase{"RowHeightSetByHand", {.values = {{2, 2}}, .tallRows = {7}}, "B2:B7"},
        UsedRangeCase{"CellWithOnlyANote", {.values = {{2, 2}}, .notes = {{9, 4}}}, "B2:D9"},
        UsedRangeCase{"SheetWithOnlyNotes", {.notes = {{3, 3}, {5, 2}}}, "B3:C5"},
        UsedRangeCase{"TableWithEmptyRows", {.values = {{1, 1}}, .table = "A1:F12"}, "A1:F12"},
        // Other writers' dimensions, too large and too small.
        UsedRangeCase{"StoredDimensionTooLarge", {.values = {{2, 2}}}, "B2", "A1:Z100"},
        UsedRangeCase{"StoredDimensionTooSmall", {.values = {{5, 5}}}, "E5", "A1"}),
    [](const testing::TestParamInfo<UsedRangeCase>& p) { return std::string(p.param.name); });

// The trailing rows and columns reach the text grid (and so the CSV), in every format.
TEST(UsedRangeTest, TrailingNotesAndRowsGiveTheirEmptyLines) {
  const SheetFeatures sheet{.values = {{1, 1}}, .tallRows = {4}, .notes = {{2, 3}}};
  ts::TempDir dir;
  ts::WriteBytes(dir / "book.xlsx", MakeXlsx(sheet, ""));
  ts::WriteBytes(dir / "book.xls", MakeXls(sheet, ""));
  ts::WriteBytes(dir / "book.xlsb", MakeXlsb(sheet, ""));
  for (const char* file : {"book.xlsx", "book.xls", "book.xlsb"}) {
    SCOPED_TRACE(file);
    EXPECT_EQ(ts::ReadGrid(dir / file), "1||\n||\n||\n||");
  }
}

}  // namespace
}  // namespace cellverter
