// A sheet's layout as each reader finds it in what only its own format can say: rows hidden by
// default, lines beyond the sheet's edge, references given backwards, counts that overstate a
// record, formulas with and without a stored result; and in workbooks saved by LibreOffice.
// The layout of the same logical workbook through every reader is in the reader contract suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "spreadsheet/sheet_layout_builder.h"
#include "spreadsheet/workbook_source.h"
#include "temp_dir.h"
#include "xls_test_files.h"
#include "xlsx_builder.h"
#include "xlsx_test_support.h"

namespace cellverter {
namespace {

namespace ts = testing_support;

struct LayoutCase {
  const char* name;
  std::string file;  // the workbook's bytes
  std::vector<LineSpan> hiddenRows{};
  std::vector<LineSpan> hiddenColumns{};
  std::vector<CellArea> mergedAreas{};
  uint64_t formulasWithoutValue = 0;
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

SheetLayout LayoutOf(const std::string& path) {
  auto workbook = OpenWorkbook(path);
  auto sheet = workbook->OpenSheet(0);
  return sheet->Layout();
}

class SheetLayoutTest : public testing::TestWithParam<LayoutCase> {};

TEST_P(SheetLayoutTest, IsReadAsTheFileGivesIt) {
  const LayoutCase& c = GetParam();
  ts::TempDir dir;
  const std::string path = dir / "book";
  ts::WriteBytes(path, c.file);
  // From the workbook's sheet, and from the first worksheet opened on its own.
  for (const SheetLayout& layout : {LayoutOf(path), OpenWorkbookSource(path)->Layout()}) {
    EXPECT_EQ(layout.hiddenRows, c.hiddenRows);
    EXPECT_EQ(layout.hiddenColumns, c.hiddenColumns);
    EXPECT_EQ(layout.mergedAreas, c.mergedAreas);
    EXPECT_EQ(layout.formulasWithoutValue, c.formulasWithoutValue);
  }
}

std::string Xlsx(const std::string& beforeData, const std::string& sheetData,
                 const std::string& afterData = "") {
  ts::TestWorkbook book;
  ts::TestSheet sheet(sheetData);
  sheet.beforeData = beforeData;
  sheet.afterData = afterData;
  book.sheets = {sheet};
  return book.Zip();
}

std::string Xls(const std::string& records) {
  return ts::WriteCompoundFile(
             {{"Workbook", ts::WorkbookStream(ts::Xf(0), {{0, 0x10, 0, records}})}})
      .bytes;
}

// ROW (row, first and last column, height, reserved, unused, flags, format).
std::string RowRecord(uint32_t row, uint16_t flags) {
  return ts::Record(0x0208, ts::Le16(row - 1) + ts::Le16(0) + ts::Le16(1) + ts::Le16(255) +
                                ts::Le16(0) + ts::Le16(0) + ts::Le16(flags) + ts::Le16(15));
}
// COLINFO (first and last column, 0-based, width, format 15, flags, unused).
std::string ColInfo(uint32_t first, uint32_t last, uint16_t flags) {
  return ts::Record(0x007D, ts::Le16(first) + ts::Le16(last) + ts::Le16(2340) + ts::Le16(15) +
                                ts::Le16(flags) + ts::Le16(0));
}
// MERGEDCELLS with a count of its own and Ref8U entries (0-based rows and columns).
std::string MergedCells(uint16_t count, const std::vector<std::vector<uint16_t>>& refs) {
  std::string data = ts::Le16(count);
  for (const auto& ref : refs) {
    for (uint16_t value : ref) data += ts::Le16(value);  // rwFirst, rwLast, colFirst, colLast
  }
  return ts::Record(0x00E5, data);
}

constexpr uint32_t kXlsxRows = 1048576;
constexpr uint32_t kXlsRows = 65536;

INSTANTIATE_TEST_SUITE_P(
    Xlsx, SheetLayoutTest,
    testing::Values(
        // zeroHeight hides every row the file does not give as shown.
        LayoutCase{"RowsHiddenByDefault",
                   Xlsx("<sheetFormatPr defaultRowHeight=\"15\" zeroHeight=\"1\"/>",
                        "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"3\" hidden=\"0\"/>"
                        "<row r=\"4\" hidden=\"1\"><c r=\"A4\"><v>4</v></c></row>"),
                   {{2, 2}, {4, kXlsxRows}}},
        // Written backwards, given twice, and both ways round.
        LayoutCase{"RowsOutOfOrder",
                   Xlsx("",
                        "<row r=\"9\" hidden=\"true\"><c r=\"A9\"><v>9</v></c></row>"
                        "<row r=\"3\" hidden=\"1\"/><row r=\"2\" hidden=\"1\"/>"
                        "<row r=\"9\" hidden=\"1\"/><row r=\"5\" hidden=\"0\"/>"),
                   {{2, 3}, {9, 9}}},
        // Ranges are cut at the sheet's edge, zero counts as the first column, and ranges
        // that overlap or touch are joined.
        LayoutCase{"ColumnsWithinTheSheet",
                   Xlsx("<cols><col min=\"0\" max=\"2\" hidden=\"1\"/>"
                        "<col min=\"3\" max=\"3\" hidden=\"true\"/>"
                        "<col min=\"16380\" max=\"99999\" hidden=\"1\"/>"
                        "<col min=\"20000\" max=\"20001\" hidden=\"1\"/>"
                        "<col min=\"5\" max=\"2\" hidden=\"1\"/>"
                        "<col min=\"6\" max=\"7\" hidden=\"0\" width=\"0\"/>"
                        "<col min=\"x\" max=\"9\" hidden=\"1\"/></cols>",
                        ""),
                   {},
                   {{1, 3}, {16380, 16384}}},
        // Corners in any order and case; one cell or a reference to no block merges nothing.
        LayoutCase{"MergedAreaReferences",
                   Xlsx("", "",
                        "<mergeCells count=\"7\"><mergeCell ref=\"C3:A1\"/>"
                        "<mergeCell ref=\"B2:B2\"/><mergeCell ref=\"B2\"/>"
                        "<mergeCell ref=\"A0:B1\"/><mergeCell ref=\"A:B\"/>"
                        "<mergeCell ref=\"a5:xfd5\"/><mergeCell ref=\"A1:XFE2\"/></mergeCells>"),
                   {},
                   {},
                   {{1, 1, 3, 3}, {5, 1, 5, 16384}}},
        // An empty <v> is a value (the empty text of a text formula); a formula without any
        // <v>, shared formulas included, is not.
        LayoutCase{
            "FormulasWithAndWithoutValue",
            Xlsx("",
                 "<row r=\"1\"><c r=\"A1\"><f>1+1</f></c>"
                 "<c r=\"B1\" t=\"str\"><f>\"\"</f><v/></c>"
                 "<c r=\"C1\" t=\"str\"><f>C2</f><v></v></c>"
                 "<c r=\"D1\"><f>1</f><v>1</v></c>"
                 "<c r=\"E1\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>"
                 "<c r=\"F1\" s=\"0\"><f t=\"shared\" ref=\"F1:F2\" si=\"0\">A1</f></c></row>"
                 "<row r=\"2\"><c r=\"F2\"><f t=\"shared\" si=\"0\"/></c></row>"),
            {},
            {},
            {},
            3}),
    [](const testing::TestParamInfo<LayoutCase>& p) { return std::string(p.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Xls, SheetLayoutTest,
    testing::Values(
        // DEFAULTROWHEIGHT's fDyZero hides every row without a ROW record; a ROW record says
        // for its own row.
        LayoutCase{"RowsHiddenByDefault",
                   Xls(ts::Record(0x0225, ts::Le16(0x0002) + ts::Le16(0)) + RowRecord(1, 0) +
                       RowRecord(3, 0) + RowRecord(4, 0x0020) + ts::Number(0, 0, 1)),
                   {{2, 2}, {4, kXlsRows}}},
        LayoutCase{"RowsShownByDefault",
                   Xls(ts::Record(0x0225, ts::Le16(0) + ts::Le16(0)) + RowRecord(5, 0x0020) +
                       RowRecord(2, 0x0020 | 0x0040) + RowRecord(3, 0x0020) + RowRecord(7, 0)),
                   {{2, 3}, {5, 5}}},
        LayoutCase{"ColumnsWithinTheSheet",
                   Xls(ColInfo(0, 0, 1) + ColInfo(1, 2, 1) + ColInfo(249, 299, 1) +
                       ColInfo(300, 310, 1) + ColInfo(4, 4, 0) + ColInfo(6, 5, 1)),
                   {},
                   {{1, 3}, {250, 256}}},
        // A count beyond the record's end, reversed corners, a single cell, and a second
        // record, as Excel writes more than 1026 areas.
        LayoutCase{"MergedCellsRecords",
                   Xls(ts::Number(0, 0, 1) +
                       MergedCells(500, {{2, 0, 2, 0}, {1, 1, 1, 1}, {4, 5, 0, 300}}) +
                       MergedCells(1, {{9, 9, 0, 1}, {20, 21, 0, 0}})),
                   {},
                   {},
                   {{1, 1, 3, 3}, {5, 1, 6, 256}, {10, 1, 10, 2}}},
        // A text result comes in the STRING record after the formula, past a SHRFMLA; a
        // formula without one has no value (here followed by a cell, by a ROW record and
        // by the sheet's end). An empty text result is a value.
        LayoutCase{"FormulaTextWithoutStringRecord",
                   Xls(ts::Formula(0, 0, ts::FormulaSpecial(0, 0)) + ts::Number(0, 1, 4) +
                       ts::Formula(1, 0, ts::FormulaSpecial(0, 0)) +
                       ts::Record(0x04BC, std::string(10, '\0')) +
                       ts::Record(0x0207, ts::Le16(1) + '\0' + "x") +
                       ts::Formula(2, 0, ts::FormulaSpecial(3, 0)) + ts::Formula(3, 0, ts::F64(1)) +
                       ts::Formula(4, 0, ts::FormulaSpecial(0, 0)) + RowRecord(6, 0) +
                       ts::Formula(5, 0, ts::FormulaSpecial(0, 0))),
                   {},
                   {},
                   {},
                   3}),
    [](const testing::TestParamInfo<LayoutCase>& p) { return std::string(p.param.name); });

// Saved by LibreOffice from tests/data/xlsx/lo-layout.fods (see the README beside it): row 2
// and column C hidden, A3:B4 merged.
INSTANTIATE_TEST_SUITE_P(
    SavedByLibreOffice, SheetLayoutTest,
    testing::Values(LayoutCase{"Xlsx",
                               ts::ReadBytes(CELLVERTER_TEST_DATA "/xlsx/lo-layout.xlsx"),
                               {{2, 2}},
                               {{3, 3}},
                               {{3, 1, 4, 2}}},
                    // The same saved as a template and as a macro-enabled workbook: opened by
                    // the content type of their main part.
                    LayoutCase{"Xltx",
                               ts::ReadBytes(CELLVERTER_TEST_DATA "/xlsx/lo-layout.xltx"),
                               {{2, 2}},
                               {{3, 3}},
                               {{3, 1, 4, 2}}},
                    LayoutCase{"Xlsm",
                               ts::ReadBytes(CELLVERTER_TEST_DATA "/xlsx/lo-layout.xlsm"),
                               {{2, 2}},
                               {{3, 3}},
                               {{3, 1, 4, 2}}},
                    LayoutCase{"Xls",
                               ts::ReadBytes(CELLVERTER_TEST_DATA "/xls/libreoffice-layout.xls"),
                               {{2, 2}},
                               {{3, 3}},
                               {{3, 1, 4, 2}}}),
    [](const testing::TestParamInfo<LayoutCase>& p) { return std::string(p.param.name); });

// A file may list two rows by turns without end (each a line of XML): what is kept stays
// within the bound at which the list is sorted and joined.
TEST(LineSpansTest, LinesGivenByTurnsStayBounded) {
  std::vector<LineSpan> spans;
  size_t most = 0;
  for (uint32_t i = 0; i < 3'000'000; ++i) {
    const uint32_t line = i % 2 == 0 ? 1 : 3;
    AddLineSpan(spans, line, line);
    most = std::max(most, spans.size());
  }
  EXPECT_LE(most, (size_t{1} << 20) + 1);
  NormaliseLineSpans(spans);
  EXPECT_EQ(spans, (std::vector<LineSpan>{{1, 1}, {3, 3}}));
}

}  // namespace
}  // namespace cellverter
