// The .xlsb reader on what only its records can express: RK numbers, formulas' cached
// values, rich shared strings, the record layer's bounds and the damage of each part. What
// every reader shares runs in the reader contract suite.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "convert/workbook_to_csv.h"
#include "logical_workbook.h"
#include "platform/error.h"
#include "sheet_dump.h"
#include "spreadsheet/container/workbook_file.h"
#include "spreadsheet/container/zip_archive.h"
#include "spreadsheet/workbook_source.h"
#include "spreadsheet/xlsb/xlsb_reader.h"
#include "temp_dir.h"
#include "xlsb_builder.h"

namespace cellverter {
namespace {

namespace ts = testing_support;

constexpr uint32_t kExcelRows = 1048576;
using ts::Le16;
using ts::Le32;
using ts::XlsbCellHead;
using ts::XlsbRecord;
using ts::XlsbRow;

std::unique_ptr<WorkbookSource> OpenBytes(const ts::TempDir& dir, const std::string& bytes,
                                          const XlsxReaderOptions& limits = {}) {
  const std::string path = dir / "book.xlsb";
  ts::WriteBytes(path, bytes);
  return OpenXlsbWorkbook(path, std::make_unique<ZipArchive>(OpenWorkbookFile(path)), limits);
}

// The cells of the first sheet of a package of one worksheet with `sheetData`.
std::string DumpSheetData(const std::string& sheetData, ts::XlsbPackage book = {}) {
  book.sheets.push_back(ts::XlsbWorksheet("Data"));
  book.sheets[0].sheetData = sheetData;
  ts::TempDir dir;
  auto workbook = OpenBytes(dir, book.Zip());
  return ts::Dump(*workbook->OpenSheet(0));
}

// A formula's bytes after its cached value: grbitFlags, then a CellParsedFormula (a
// reference to A1) with no extra data; the reader skips them by the record's size.
const std::string kFormulaTail = Le16(0) + Le32(5) + "\x24" + Le32(0) + Le32(0);

struct RkCase {
  const char* name;
  uint32_t rk;
  double expected;
};

class RkNumbers : public testing::TestWithParam<RkCase> {};

// RkNumber: a 30-bit signed integer or the top 30 bits of a double, either optionally
// divided by 100.
TEST_P(RkNumbers, DecodeToTheNumberExcelShows) {
  const RkCase& c = GetParam();
  const std::string cell = XlsbRecord(2, XlsbCellHead(0, 0) + Le32(c.rk));
  SheetRow row;
  ts::XlsbPackage book;
  book.sheets.push_back(ts::XlsbWorksheet("Data"));
  book.sheets[0].sheetData = XlsbRow(0) + cell;
  ts::TempDir dir;
  auto workbook = OpenBytes(dir, book.Zip());
  auto sheet = workbook->OpenSheet(0);
  ASSERT_TRUE(sheet->NextRow(row));
  ASSERT_EQ(row.cells.size(), 1u);
  EXPECT_EQ(row.cells[0].value.kind, CellValue::Kind::Number);
  EXPECT_EQ(row.cells[0].value.number, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Xlsb, RkNumbers,
    testing::Values(RkCase{"IntegerZero", 0x00000002u, 0}, RkCase{"Integer", (5u << 2) | 2, 5},
                    RkCase{"NegativeInteger", static_cast<uint32_t>(-7 * 4) | 2, -7},
                    RkCase{"LargestInteger", ((1u << 29) - 1) << 2 | 2, (1 << 29) - 1},
                    RkCase{"SmallestInteger", 0x80000002u, -(1 << 29)},
                    RkCase{"IntegerHundredths", (12345u << 2) | 3, 123.45},
                    RkCase{"NegativeIntegerHundredths", static_cast<uint32_t>(-5 * 4) | 3, -0.05},
                    RkCase{"Double", 0x3FF80000u, 1.5}, RkCase{"NegativeDouble", 0xC0240000u, -10},
                    RkCase{"DoubleHundredths", 0x3FF80000u | 1, 0.015},
                    RkCase{"TinyDouble", 0x00100000u, std::ldexp(1.0, -1022)}),
    [](const testing::TestParamInfo<RkCase>& p) { return p.param.name; });

// The cached value of each kind of formula, the formula's bytes passed over (a value read
// whole means no formula is counted as lacking one); and a rich text cell, its runs passed over.
TEST(XlsbReader, FormulasAndRichTextCellsGiveTheirValues) {
  ts::XlsbPackage book;
  book.sheets.push_back(ts::XlsbWorksheet("Data"));
  book.sheets[0].sheetData =
      XlsbRow(0) + XlsbRecord(9, XlsbCellHead(0, 0) + ts::F64(2.5) + kFormulaTail) +
      XlsbRecord(8, XlsbCellHead(1, 0) + ts::XlsbWide(u"Σ total") + kFormulaTail) +
      XlsbRecord(10, XlsbCellHead(2, 0) + std::string(1, '\1') + kFormulaTail) +
      XlsbRecord(11, XlsbCellHead(3, 0) + std::string(1, '\x07') + kFormulaTail) +
      XlsbRecord(8, XlsbCellHead(4, 0) + ts::XlsbWide(u"") + kFormulaTail) +
      // BrtCellRString: a rich text of the cell itself, its runs after the text.
      XlsbRecord(62,
                 XlsbCellHead(5, 0) + '\x01' + ts::XlsbWide(u"rich") + Le32(1) + Le16(0) + Le16(1));
  ts::TempDir dir;
  auto workbook = OpenBytes(dir, book.Zip());
  auto sheet = workbook->OpenSheet(0);
  EXPECT_EQ(ts::Dump(*sheet),
            "R1C1=N2.5 R1C2=S'Σ total' R1C3=TRUE R1C4=E#DIV/0! R1C5=S'' R1C6=S'rich'");
  EXPECT_EQ(sheet->LastColumn(), 6u);
  EXPECT_EQ(sheet->Layout().formulasWithoutValue, 0u);
}

// The short cell records leave the column out: theirs follows the row's cell before, the first
// column at the start of a row.
TEST(XlsbReader, ShortCellsFollowTheCellBefore) {
  const std::string style = Le32(0);
  const std::string data =
      XlsbRow(0) + XlsbRecord(13, style + Le32((1u << 2) | 2)) +
      XlsbRecord(17, style + ts::XlsbWide(u"b")) + XlsbRecord(5, XlsbCellHead(4, 0) + ts::F64(5)) +
      XlsbRecord(16, style + ts::F64(0.5)) + XlsbRecord(12, Le32(1)) +
      XlsbRecord(15, style + '\1') + XlsbRow(1) + XlsbRecord(14, style + '\x2A') +
      XlsbRecord(18, style + Le32(0)) + XlsbRecord(12, style);
  ts::XlsbPackage book;
  book.sharedStrings = {ts::XlsbPackage::XlsbSharedString(u"shared")};
  EXPECT_EQ(DumpSheetData(data, book),
            "R1C1=N1 R1C2=S'b' R1C5=N5 R1C6=N0.5 R1C7=_ R1C8=TRUE R2C1=E#N/A R2C2=S'shared'");
}

// Rich strings carry runs and phonetic text after their text; the reader takes the text and
// skips the rest by the record's size, whatever the flags say.
TEST(XlsbReader, RichSharedStringsGiveTheirText) {
  ts::XlsbPackage book;
  const std::string runs = Le32(2) + Le16(0) + Le16(1) + Le16(3) + Le16(2);
  const std::string phonetic = Le16(1) + Le16(0) + Le16(0) + Le32(2) + ts::XlsbWide(u"ab");
  book.sharedStrings = {
      ts::XlsbPackage::XlsbSharedString(u"plain"),
      std::string(1, '\x01') + ts::XlsbWide(u"bold then not") + runs,
      std::string(1, '\x02') + ts::XlsbWide(u"日本") + phonetic,
      std::string(1, '\x03') + ts::XlsbWide(u"both \U0001F600") + runs + phonetic,
  };
  std::string data = XlsbRow(0);
  for (uint32_t i = 0; i < 4; ++i) data += XlsbRecord(7, XlsbCellHead(i, 0) + Le32(i));
  EXPECT_EQ(DumpSheetData(data, book),
            "R1C1=S'plain' R1C2=S'bold then not' R1C3=S'日本' R1C4=S'both \U0001F600'");
}

// A table large enough to be parsed beside the sheet's scan: its strings are served, and a
// missing one is an empty cell and a repair, as with a table parsed first.
TEST(XlsbReader, ATableParsedBesideTheScanServesItsStrings) {
  ts::XlsbPackage book;
  book.sharedStrings = {ts::XlsbPackage::XlsbSharedString(u"a"),
                        ts::XlsbPackage::XlsbSharedString(u"b"),
                        ts::XlsbPackage::XlsbSharedString(std::u16string(140000, u'p'))};
  book.sheets.push_back(ts::XlsbWorksheet("Data"));
  book.sheets[0].sheetData = XlsbRow(0) + XlsbRecord(7, XlsbCellHead(0, 0) + Le32(1)) +
                             XlsbRecord(7, XlsbCellHead(1, 0) + Le32(9)) +
                             XlsbRecord(7, XlsbCellHead(2, 0) + Le32(0));
  ts::TempDir dir;
  auto workbook = OpenBytes(dir, book.Zip());
  const std::unique_ptr<SheetSource> sheet = workbook->OpenSheet(0);
  EXPECT_EQ(ts::Dump(*sheet), "R1C1=S'b' R1C2=_ R1C3=S'a'");
  EXPECT_EQ(sheet->Repairs().Notes(), std::vector<std::string>{kMissingSharedStringRepair});
}

// Counts that Excel writes ahead of lists are never trusted: a file may claim billions.
TEST(XlsbReader, DeclaredCountsAreNotTrusted) {
  ts::XlsbPackage book;
  book.sheets.push_back(ts::XlsbWorksheet("Data"));
  book.sheets[0].sheetData = XlsbRow(0) + XlsbRecord(7, XlsbCellHead(0, 0) + Le32(0));
  book.sheets[0].afterData = XlsbRecord(177, Le32(0xFFFFFFFF)) + XlsbRecord(178);
  book.sharedStrings = {ts::XlsbPackage::XlsbSharedString(u"only")};
  std::map<std::string, std::string> parts = book.Parts();
  const std::string ownSst = XlsbRecord(159, Le32(1) + Le32(1));
  std::string& sst = parts["xl/sharedStrings.bin"];
  sst = XlsbRecord(159, Le32(0xFFFFFFFF) + Le32(0xFFFFFFFF)) + sst.substr(ownSst.size());
  ts::TempDir dir;
  auto workbook = OpenBytes(dir, ts::TestWorkbook::ZipParts(parts));
  auto sheet = workbook->OpenSheet(0);
  EXPECT_EQ(ts::Dump(*sheet), "R1C1=S'only'");
}

// Rows and cells out of order are served sorted, one row each, the later of two cells in one
// place standing, as in .xlsx; noted as a repair.
TEST(XlsbReader, RowsOutOfOrderAreServedSorted) {
  const std::string data = XlsbRow(2) + XlsbRecord(2, XlsbCellHead(1, 0) + Le32((3u << 2) | 2)) +
                           XlsbRecord(2, XlsbCellHead(0, 0) + Le32((2u << 2) | 2)) + XlsbRow(0) +
                           XlsbRecord(2, XlsbCellHead(0, 0) + Le32((1u << 2) | 2)) + XlsbRow(2) +
                           XlsbRecord(2, XlsbCellHead(1, 0) + Le32((9u << 2) | 2));
  ts::XlsbPackage book;
  book.sheets.push_back(ts::XlsbWorksheet("Data"));
  book.sheets[0].sheetData = data;
  ts::TempDir dir;
  auto workbook = OpenBytes(dir, book.Zip());
  auto sheet = workbook->OpenSheet(0);
  EXPECT_EQ(ts::Dump(*sheet), "R1C1=N1 R3C1=N2 R3C2=N9");
  EXPECT_EQ(sheet->Repairs().Notes(), std::vector<std::string>{kRowsOutOfOrderRepair});
}

// A sheet and a string table larger than the memory bounds move to temporary files and read
// back the same.
TEST(XlsbReader, SpooledBeyondTheMemoryBoundsReadsTheSame) {
  ts::XlsbPackage book;
  std::string data;
  std::string expected;
  for (uint32_t r = 0; r < 300; ++r) {
    const std::u16string text = u"text " + ts::AsciiUnits(std::to_string(r));
    book.sharedStrings.push_back(ts::XlsbPackage::XlsbSharedString(text));
    data += XlsbRow(r) + XlsbRecord(7, XlsbCellHead(0, 0) + Le32(r)) +
            XlsbRecord(5, XlsbCellHead(1, 0) + ts::F64(r + 0.25));
    expected += (r ? " R" : "R") + std::to_string(r + 1) + "C1=S'text " + std::to_string(r) +
                "' R" + std::to_string(r + 1) + "C2=N" + std::to_string(r) + ".25";
  }
  book.sheets.push_back(ts::XlsbWorksheet("Data"));
  book.sheets[0].sheetData = data;
  ts::TempDir dir;
  auto workbook = OpenBytes(dir, book.Zip(), XlsxReaderOptions{64, 64});
  auto sheet = workbook->OpenSheet(0);
  EXPECT_EQ(ts::Dump(*sheet), expected);
  sheet->Rewind();
  EXPECT_EQ(ts::Dump(*sheet), expected);
}

// What counts in the used range beside the cells, and the rows hidden by default.
struct LayoutCase {
  const char* name;
  std::string beforeData;
  std::string sheetData;
  uint32_t lastRow;
  uint32_t lastColumn;
  std::vector<LineSpan> hiddenRows;
};

class XlsbLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(XlsbLayout, FollowsTheRecords) {
  const LayoutCase& c = GetParam();
  ts::XlsbPackage book;
  book.sheets.push_back(ts::XlsbWorksheet("Data"));
  book.sheets[0].beforeData = c.beforeData;
  book.sheets[0].sheetData = c.sheetData;
  ts::TempDir dir;
  auto workbook = OpenBytes(dir, book.Zip());
  auto sheet = workbook->OpenSheet(0);
  EXPECT_EQ(sheet->LastRow(), c.lastRow);
  EXPECT_EQ(sheet->LastColumn(), c.lastColumn);
  EXPECT_EQ(sheet->Layout().hiddenRows, c.hiddenRows);
}

const std::string kOneCell = XlsbRow(0) + XlsbRecord(4, XlsbCellHead(0, 0) + '\1');
// BrtWsFmtInfo: default column width, its characters, default row height, flags.
std::string WsFmtInfo(uint16_t flags) {
  return XlsbRecord(485, Le32(0) + Le16(8) + Le16(300) + Le16(flags) + Le16(0));
}
std::string ColInfo(uint32_t first, uint32_t last, uint32_t style, uint16_t flags) {
  return XlsbRecord(60, Le32(first) + Le32(last) + Le32(2340) + Le32(style) + Le16(flags));
}

INSTANTIATE_TEST_SUITE_P(
    Xlsb, XlsbLayout,
    testing::Values(
        LayoutCase{"DimensionIsOnlyAHint",
                   XlsbRecord(148, Le32(0) + Le32(99) + Le32(0) + Le32(20)),
                   kOneCell,
                   1,
                   1,
                   {}},
        LayoutCase{"RowOfCustomHeight", "", kOneCell + XlsbRow(6, 0x20), 7, 1, {}},
        LayoutCase{"RowOfCustomFormat", "", kOneCell + XlsbRow(8, 0x40), 9, 1, {}},
        LayoutCase{"PlainRowWithoutCells", "", kOneCell + XlsbRow(8), 1, 1, {}},
        LayoutCase{"FormattedColumn", ColInfo(3, 5, 1, 0), kOneCell, 1, 6, {}},
        LayoutCase{
            "HiddenColumnsBeyondTheSheetAreCut", ColInfo(16380, 20000, 0, 1), kOneCell, 1, 1, {}},
        LayoutCase{"BlankOfTheDefaultFormatIsNotUsed",
                   "",
                   kOneCell + XlsbRecord(1, XlsbCellHead(4, 0)),
                   1,
                   1,
                   {}},
        LayoutCase{"RowsHiddenByDefault",
                   WsFmtInfo(0x0002),
                   kOneCell + XlsbRow(2),
                   1,
                   1,
                   {{2, 2}, {4, kExcelRows}}}),
    [](const testing::TestParamInfo<LayoutCase>& p) { return p.param.name; });

// The cell formats are those after BrtBeginCellXFs, the cell styles' are not; a format id
// without a BrtFmt is a built-in one.
TEST(XlsbReader, CellFormatsComeFromTheCellXfs) {
  ts::XlsbPackage book;
  book.numFmts = {ts::XlsbPackage::XlsbFmt(164, u"0.0 \"Ω\"")};
  book.cellXfs = {0, 10, 164};
  book.sheets.push_back(ts::XlsbWorksheet("Data"));
  book.sheets[0].sheetData = kOneCell;
  ts::TempDir dir;
  auto workbook = OpenBytes(dir, book.Zip());
  auto sheet = workbook->OpenSheet(0);
  EXPECT_EQ(sheet->CellFormat(0).builtInId, 0);
  EXPECT_EQ(sheet->CellFormat(1).builtInId, 10);
  EXPECT_EQ(sheet->CellFormat(1).code, "");
  EXPECT_EQ(sheet->CellFormat(2).code, "0.0 \"Ω\"");
  EXPECT_EQ(sheet->CellFormat(3).builtInId, 0);  // no such cell format: General
}

// ---- Written by another program -------------------------------------------------------------

// Files that SheetJS wrote (tests/data/xlsb/README.md), converted as a conversion writes them,
// against LibreOffice's CSV export of each.
struct SavedCase {
  const char* name;
  // Rows LibreOffice leaves out: SheetJS marks every row it writes as of a height set by hand,
  // which Excel counts in the used range; LibreOffice's export ends at the last text.
  std::string rowsBeyondTheText;
  std::vector<LineSpan> hiddenColumns;
  std::vector<CellArea> mergedAreas;
};

class SavedBySheetJs : public testing::TestWithParam<SavedCase> {};

TEST_P(SavedBySheetJs, ConvertsAsLibreOfficeShowsIt) {
  const SavedCase& c = GetParam();
  const std::string folder = CELLVERTER_TEST_DATA "/xlsb/";
  std::string expected;
  for (char ch : ts::ReadBytes(folder + c.name + ".libreoffice.csv")) {
    if (ch == '\n') expected += '\r';
    expected += ch;
  }
  ts::TempDir dir;
  CsvOptions options;
  options.encoding = CsvEncoding::Utf8;
  const std::string workbook = folder + c.name + ".xlsb";
  EXPECT_EQ(ts::ReadBytes(ConvertExcelToCSV(workbook, dir / "out.csv", options)),
            expected + c.rowsBeyondTheText);
  auto opened =
      OpenXlsbWorkbook(workbook, std::make_unique<ZipArchive>(OpenWorkbookFile(workbook)));
  auto sheet = opened->OpenSheet(0);
  EXPECT_EQ(sheet->Layout().hiddenColumns, c.hiddenColumns);
  EXPECT_EQ(sheet->Layout().mergedAreas, c.mergedAreas);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, SavedBySheetJs,
    testing::Values(SavedCase{"sheetjs-lo-formats", ",,,,\r\n,,,,\r\n", {}, {}},
                    SavedCase{"sheetjs-lo-layout", "", {{3, 3}}, {{3, 1, 4, 2}}}),
    [](const testing::TestParamInfo<SavedCase>& p) {
      std::string name;
      for (const char ch : std::string(p.param.name)) {
        if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
      }
      return name;
    });

// ---- Notes and tables ------------------------------------------------------------------------

// A sheet with one cell in A1, its notes and a table, damaged or not; the .xlsx of the same
// sheet must give the same used range or the same damage.
struct RelatedCase {
  const char* name;
  std::vector<std::pair<uint32_t, uint32_t>> notes{};  // 0-based row, column; rId1
  std::vector<uint32_t> table{};                       // rwFirst, rwLast, colFirst, colLast; rId2
  std::string listedId = "rId2";                       // the table the sheet lists
  bool dropComments = false;                           // the comments part is not there
  bool dropTable = false;                              // nor the table part
  bool tableIsComments = false;                        // the table part holds notes
  const char* expected = "";  // "rows x columns", or the cause of the damage
};

void PrintTo(const RelatedCase& c, std::ostream* os) { *os << c.name; }

std::string A1Of(uint32_t row, uint32_t column) {
  return ts::ColumnName(column + 1) + std::to_string(uint64_t{row} + 1);
}

std::string RelatedXlsx(const RelatedCase& c) {
  ts::TestWorkbook book;
  book.sheets = {{"<row r=\"1\"><c r=\"A1\" t=\"b\"><v>1</v></c></row>"}};
  ts::TestSheet& sheet = book.sheets[0];
  std::string comments = "<comments xmlns=\"" + ts::kMainNamespace +
                         "\"><authors><author>me</author></authors><commentList>";
  for (const auto& [row, column] : c.notes) {
    comments += "<comment ref=\"" + A1Of(row, column) +
                "\" authorId=\"0\"><text><r><t>note</t></r></text></comment>";
  }
  comments += "</commentList></comments>";
  sheet.related.push_back({"comments", "xl/comments1.xml", comments});
  if (!c.table.empty()) {
    const std::string ref = A1Of(c.table[0], c.table[2]) + ":" + A1Of(c.table[1], c.table[3]);
    sheet.related.push_back({"table", "xl/tables/table1.xml",
                             c.tableIsComments
                                 ? comments
                                 : "<table xmlns=\"" + ts::kMainNamespace +
                                       "\" id=\"1\" name=\"T\" displayName=\"T\" ref=\"" + ref +
                                       "\"><tableColumns count=\"1\"><tableColumn id=\"1\" "
                                       "name=\"c\"/></tableColumns></table>"});
    sheet.afterData =
        "<tableParts count=\"1\"><tablePart r:id=\"" + c.listedId + "\"/></tableParts>";
  }
  auto parts = book.Parts();
  if (c.dropComments) parts.erase("xl/comments1.xml");
  if (c.dropTable) parts.erase("xl/tables/table1.xml");
  return ts::TestWorkbook::ZipParts(parts);
}

std::string RelatedXlsb(const RelatedCase& c) {
  ts::XlsbPackage book;
  book.sheets.push_back(ts::XlsbWorksheet("Sheet1"));
  ts::XlsbSheetPart& sheet = book.sheets[0];
  sheet.sheetData = kOneCell;
  const std::string comments = ts::XlsbCommentsPart(c.notes);
  sheet.related.push_back({"comments", "xl/comments1.bin", comments});
  if (!c.table.empty()) {
    sheet.related.push_back(
        {"table", "xl/tables/table1.bin",
         c.tableIsComments
             ? comments
             : ts::XlsbTablePart(ts::XlsbRfx(c.table[0], c.table[1], c.table[2], c.table[3]))});
    sheet.afterData = ts::XlsbListParts({ts::AsciiUnits(c.listedId)});
  }
  auto parts = book.Parts();
  if (c.dropComments) parts.erase("xl/comments1.bin");
  if (c.dropTable) parts.erase("xl/tables/table1.bin");
  return ts::TestWorkbook::ZipParts(parts);
}

// The used range as "rows x columns", or the message of the damage with the file's name and
// the parts' extension made the same for both formats.
std::string Outcome(const std::string& path) {
  try {
    auto sheet = OpenWorkbookSource(path);
    return std::to_string(sheet->LastRow()) + " x " + std::to_string(sheet->LastColumn());
  } catch (const Error& e) {
    std::string message = e.what();
    for (const char* from : {".xlsb", ".xlsx", ".bin", ".xml"}) {
      for (size_t at = message.find(from); at != std::string::npos; at = message.find(from)) {
        message.replace(at, std::string_view(from).size(), ".ext");
      }
    }
    return message;
  }
}

class XlsbNotesAndTables : public testing::TestWithParam<RelatedCase> {};

TEST_P(XlsbNotesAndTables, WidenTheUsedRangeAsInXlsx) {
  const RelatedCase& c = GetParam();
  ts::TempDir dir;
  ts::WriteBytes(dir / "book.xlsx", RelatedXlsx(c));
  ts::WriteBytes(dir / "book.xlsb", RelatedXlsb(c));
  const std::string xlsb = Outcome(dir / "book.xlsb");
  EXPECT_NE(xlsb.find(c.expected), std::string::npos) << xlsb;
  EXPECT_EQ(xlsb, Outcome(dir / "book.xlsx"));
}

INSTANTIATE_TEST_SUITE_P(
    Xlsb, XlsbNotesAndTables,
    testing::Values(RelatedCase{.name = "NotesAndATable",
                                .notes = {{8, 1}, {2, 6}},
                                .table = {3, 11, 2, 4},
                                .expected = "12 x 7"},
                    RelatedCase{.name = "TableAtTheLastCell",
                                .table = {kExcelRows - 1, kExcelRows - 1, 16383, 16383},
                                .expected = "1048576 x 16384"},
                    RelatedCase{.name = "CommentsPartMissing",
                                .notes = {{8, 1}},
                                .dropComments = true,
                                .expected = "1 x 1"},
                    RelatedCase{.name = "NoteBeyondTheLastColumn",
                                .notes = {{0, 16384}},
                                .expected = "a comment's cell reference is invalid"},
                    RelatedCase{.name = "TableBeyondTheLastRow",
                                .table = {0, kExcelRows, 0, 0},
                                .expected = "a table's range is invalid"},
                    RelatedCase{.name = "TableListedWithoutItsRelationship",
                                .table = {0, 4, 0, 0},
                                .listedId = "rId9",
                                .expected = "a table has no part"},
                    RelatedCase{.name = "TableListedAsTheComments",
                                .table = {0, 4, 0, 0},
                                .listedId = "rId1",
                                .expected = "a table has no part"},
                    RelatedCase{.name = "TablePartMissing",
                                .table = {0, 4, 0, 0},
                                .dropTable = true,
                                .expected = "the part xl/tables/table1.ext is missing"},
                    RelatedCase{.name = "TablePartHoldsNotes",
                                .table = {0, 4, 0, 0},
                                .tableIsComments = true,
                                .expected = "a table part holds no table"}),
    [](const testing::TestParamInfo<RelatedCase>& p) { return std::string(p.param.name); });

// A sheet that lists more tables than a sheet can hold is damage, before any is read.
TEST(XlsbReader, TooManyTablesAreDamage) {
  ts::XlsbPackage book;
  book.sheets.push_back(ts::XlsbWorksheet("Sheet1"));
  book.sheets[0].sheetData = kOneCell;
  std::vector<std::u16string> ids(65537, u"rId1");
  book.sheets[0].afterData = ts::XlsbListParts(ids);
  ts::TempDir dir;
  ts::WriteBytes(dir / "book.xlsb", book.Zip());
  EXPECT_NE(Outcome(dir / "book.xlsb").find("there are too many tables"), std::string::npos);
}

// ---- Damage ----------------------------------------------------------------------------------

struct FailureCase {
  const char* name;
  std::function<void(std::map<std::string, std::string>&)> damage;
  ErrorKind kind;
  const char* cause;  // part of the message
};

class XlsbFailures : public testing::TestWithParam<FailureCase> {};

const char* const kSheetPart = "xl/worksheets/sheet1.bin";

// The sheet part of one worksheet whose data is `data`.
std::string SheetWithData(const std::string& data) {
  return XlsbRecord(129) + XlsbRecord(145) + data + XlsbRecord(146) + XlsbRecord(130);
}

// Replaces the sheet part.
std::function<void(std::map<std::string, std::string>&)> Sheet(const std::string& part) {
  return [part](std::map<std::string, std::string>& parts) { parts[kSheetPart] = part; };
}

TEST_P(XlsbFailures, GiveTheirKindAndCause) {
  const FailureCase& c = GetParam();
  ts::XlsbPackage book;
  book.sheets.push_back(ts::XlsbWorksheet("Data"));
  book.sheets[0].sheetData = kOneCell;
  std::map<std::string, std::string> parts = book.Parts();
  c.damage(parts);
  ts::TempDir dir;
  try {
    auto workbook = OpenBytes(dir, ts::TestWorkbook::ZipParts(parts));
    auto sheet = workbook->OpenSheet(0);
    ts::Dump(*sheet);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), c.kind) << e.what();
    EXPECT_NE(std::string(e.what()).find(c.cause), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("book.xlsb"), std::string::npos) << e.what();
  }
}

const std::string kRealCell = XlsbRecord(5, XlsbCellHead(0, 0) + ts::F64(1));

INSTANTIATE_TEST_SUITE_P(
    Xlsb, XlsbFailures,
    testing::Values(
        FailureCase{"RecordCutOff",
                    Sheet(XlsbRecord(129) + XlsbRecord(145) + XlsbRow(0) +
                          kRealCell.substr(0, kRealCell.size() - 3)),
                    ErrorKind::kDamaged, "a record is cut off"},
        FailureCase{"HeaderCutOff", Sheet(XlsbRecord(129) + XlsbRecord(145) + "\x81"),
                    ErrorKind::kDamaged, "a record is cut off"},
        FailureCase{"SizePastThePart",
                    Sheet(XlsbRecord(129) + XlsbRecord(145) + "\x05\xC0\x84\x01" + "abc"),
                    ErrorKind::kDamaged, "a record is cut off"},
        FailureCase{"SizeBeyondTheBound", Sheet(XlsbRecord(129) + "\x05\xFF\xFF\xFF\x7F"),
                    ErrorKind::kDamaged, "a record is too large"},
        FailureCase{"SizeOfFiveBytes", Sheet(XlsbRecord(129) + "\x05\xFF\xFF\xFF\xFF\x01"),
                    ErrorKind::kDamaged, "a record size is invalid"},
        FailureCase{"TypeOfThreeBytes", Sheet(XlsbRecord(129) + "\x81\x81\x01\x00"),
                    ErrorKind::kDamaged, "a record type is invalid"},
        FailureCase{"TextPastItsRecord",
                    Sheet(SheetWithData(XlsbRow(0) +
                                        XlsbRecord(6, XlsbCellHead(0, 0) + Le32(0x7FFFFFFF) +
                                                          std::string("a\0b\0", 4)))),
                    ErrorKind::kDamaged, "a text runs past the end of its record"},
        FailureCase{"CellShorterThanItsFields",
                    Sheet(SheetWithData(XlsbRow(0) + XlsbRecord(5, XlsbCellHead(0, 0) + "ab"))),
                    ErrorKind::kDamaged, "a record is shorter than its fields"},
        FailureCase{"CellOutsideARow", Sheet(SheetWithData(kRealCell)), ErrorKind::kDamaged,
                    "a cell lies outside a row"},
        FailureCase{"RowBeyondTheLast", Sheet(SheetWithData(XlsbRow(kExcelRows) + kRealCell)),
                    ErrorKind::kDamaged, "a row lies beyond the last row"},
        FailureCase{"ColumnBeyondTheLast",
                    Sheet(SheetWithData(XlsbRow(0) +
                                        XlsbRecord(5, XlsbCellHead(16384, 0) + ts::F64(1)))),
                    ErrorKind::kDamaged, "a cell lies beyond the last column"},
        FailureCase{"NumberThatIsNoNumber",
                    Sheet(SheetWithData(
                        XlsbRow(0) +
                        XlsbRecord(5, XlsbCellHead(0, 0) +
                                          ts::F64(std::numeric_limits<double>::quiet_NaN())))),
                    ErrorKind::kDamaged, "a number cell holds no number"},
        FailureCase{"SheetPartIsAChart", Sheet(XlsbRecord(0x1AB) + XlsbRecord(0x1AC)),
                    ErrorKind::kDamaged, "the first worksheet's part is not a worksheet"},
        FailureCase{"EmptySheetPart", Sheet(""), ErrorKind::kDamaged,
                    "the first worksheet's part is not a worksheet"},
        FailureCase{"SheetPartMissing",
                    [](std::map<std::string, std::string>& parts) { parts.erase(kSheetPart); },
                    ErrorKind::kDamaged, "the part xl/worksheets/sheet1.bin is missing"},
        FailureCase{"WorkbookPartMissing",
                    [](std::map<std::string, std::string>& parts) {
                      parts.erase("xl/workbook.bin");
                    },
                    ErrorKind::kDamaged, "the workbook part is missing"},
        FailureCase{"NoPackageRelationships",
                    [](std::map<std::string, std::string>& parts) { parts.erase("_rels/.rels"); },
                    ErrorKind::kDamaged, "the workbook part is missing"},
        FailureCase{"WorkbookPartIsNoBook",
                    [](std::map<std::string, std::string>& parts) {
                      parts["xl/workbook.bin"] = XlsbRecord(129) + XlsbRecord(130);
                    },
                    ErrorKind::kNotAWorkbook, "it is not a workbook (the formats read are"},
        FailureCase{"SheetNameCutOff",
                    [](std::map<std::string, std::string>& parts) {
                      parts["xl/workbook.bin"] =
                          XlsbRecord(131) +
                          XlsbRecord(156, Le32(0) + Le32(1) + ts::XlsbWide(u"rId10") + Le32(40) +
                                              "ab");
                    },
                    ErrorKind::kDamaged, "a text runs past the end of its record"},
        FailureCase{"SharedStringCutOff",
                    [](std::map<std::string, std::string>& parts) {
                      parts["xl/sharedStrings.bin"] =
                          XlsbRecord(159, Le32(1) + Le32(1)) + XlsbRecord(19, std::string("\0\x05", 2));
                    },
                    ErrorKind::kDamaged, "a record is shorter than its fields"}),
    [](const testing::TestParamInfo<FailureCase>& p) { return p.param.name; });

}  // namespace
}  // namespace cellverter
