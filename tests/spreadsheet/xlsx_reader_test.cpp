#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/error.h"
#include "scoped_environment.h"
#include "spreadsheet/automation.h"
#include "spreadsheet/workbook_source.h"
#include "spreadsheet/xlsx/sheet_spool.h"
#include "spreadsheet/xlsx/xlsx_reader.h"
#include "temp_dir.h"
#include "xlsx_builder.h"
#include "xlsx_test_support.h"

namespace cellverter {
namespace {

using testing_support::BuildZip;
using testing_support::ReadGrid;
using testing_support::ScopedEnvironment;
using testing_support::TempDir;
using testing_support::TestSheet;
using testing_support::TestWorkbook;
using testing_support::WriteBytes;
using testing_support::ZipOptions;

std::string Cell(const std::string& ref, const std::string& inner, const std::string& attrs = "") {
  return "<c r=\"" + ref + "\"" + attrs + ">" + inner + "</c>";
}

// ---- What the cells of the first worksheet show --------------------------------------------

struct CellCase {
  CellCase(const char* caseName, std::string data, std::string grid,
           std::vector<std::string> strings = {})
      : name(caseName),
        sheetData(std::move(data)),
        expected(std::move(grid)),
        sharedStrings(std::move(strings)) {}
  const char* name;
  std::string sheetData;
  std::string expected;  // fields joined by "|", rows by "\n"
  std::vector<std::string> sharedStrings;
};

void PrintTo(const CellCase& c, std::ostream* os) { *os << c.name; }

class XlsxCellsTest : public testing::TestWithParam<CellCase> {};

TEST_P(XlsxCellsTest, ShowsTheCellsFromA1ToTheLastUsedCell) {
  const CellCase& c = GetParam();
  TestWorkbook book;
  book.sheets = {{c.sheetData}};
  book.sharedStrings = c.sharedStrings;
  book.cellXfs = {0, 0};  // style 1: General, only to mark cells as used
  TempDir dir;
  WriteBytes(dir / "book.xlsx", book.Zip());
  EXPECT_EQ(ReadGrid(dir / "book.xlsx"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, XlsxCellsTest,
    testing::Values(
        CellCase{
            "SharedStringsAndRichTextRuns",
            "<row r=\"1\">" + Cell("A1", "<v>0</v>", " t=\"s\"") +
                Cell("B1", "<v>1</v>", " t=\"s\"") + "</row>",
            "plain|bold and italic",
            {"<t>plain</t>",
             "<r><rPr><b/></rPr><t>bold</t></r><r><t xml:space=\"preserve\"> and italic</t></r>"}},
        CellCase{
            "PhoneticRunsAreLeftOut",
            "<row r=\"1\">" + Cell("A1", "<v>0</v>", " t=\"s\"") +
                Cell("B1", "<is><t>東京</t><rPh sb=\"0\" eb=\"2\"><t>トウキョウ</t></rPh></is>",
                     " t=\"inlineStr\"") +
                "</row>",
            "漢字|東京",
            {"<t>漢字</t><rPh sb=\"0\" eb=\"2\"><t>カンジ</t></rPh><phoneticPr fontId=\"1\"/>"}},
        CellCase{"InlineStringsEntitiesAndEscapes",
                 "<row r=\"1\">" +
                     Cell("A1", "<is><t>a &amp; b &lt;c&gt; &#x263A;&#65;</t></is>",
                          " t=\"inlineStr\"") +
                     Cell("B1", "<is><r><t>x_x000D_y</t></r><r><t>_x005F_x0041_</t></r></is>",
                          " t=\"inlineStr\"") +
                     Cell("C1", "<is><t>_xD83D__xDE00_ _xD800_</t></is>", " t=\"inlineStr\"") +
                     "</row>",
                 "a & b <c> \xE2\x98\xBA"
                 "A|x\ry_x0041_|\xF0\x9F\x98\x80 \xEF\xBF\xBD"},
        CellCase{"FormulaResultsOfEveryType",
                 "<row r=\"1\">" + Cell("A1", "<f>\"a\"&amp;\"b\"</f><v>ab</v>", " t=\"str\"") +
                     Cell("B1", "<f>1+1</f><v>2</v>") +
                     Cell("C1", "<f>TRUE()</f><v>1</v>", " t=\"b\"") +
                     Cell("D1", "<f>1/0</f><v>#DIV/0!</v>", " t=\"e\"") +
                     Cell("E1", "<f>\"\"</f><v></v>", " t=\"str\"") + "</row>",
                 "ab|2|TRUE|#DIV/0!|"},
        CellCase{"ReferencesInEitherCaseWithLeadingZerosOrNoRow",
                 "<row r=\"1\"><c r=\"b0001\"><v>1</v></c><c r=\"c\"><v>2</v></c>"
                 "<c r=\"D000000000000000000001\"><v>3</v></c></row>",
                 "|1|2|3"},
        CellCase{"CellsAndRowsWithoutReferences",
                 "<row><c><v>1</v></c><c t=\"inlineStr\"><is><t>b</t></is></c></row>"
                 "<row><c r=\"c2\"><v>3</v></c><c><v>4</v></c></row>",
                 "1|b||\n||3|4"},
        CellCase{"StyledEmptyCellsCountForTheLastCell",
                 "<row r=\"1\">" + Cell("A1", "<v>7</v>") +
                     "</row><row r=\"3\"><c r=\"C3\" s=\"1\"/></row>"
                     "<row r=\"5\"><c r=\"E5\"/><c r=\"F5\" s=\"0\"/></row>",
                 "7||\n||\n||"},
        CellCase{"AFormulaWithoutSavedResultTakesItsPlace",
                 "<row r=\"1\">" + Cell("A1", "<v>1</v>") + "</row><row r=\"2\">" +
                     Cell("C2", "<f>A1*2</f>") + "</row>",
                 "1||\n||"},
        CellCase{"IsoDatesBecomeSerialNumbers",
                 "<row r=\"1\">" + Cell("A1", "<v>2024-03-01</v>", " t=\"d\"") +
                     Cell("B1", "<v>1900-01-01T12:00:00Z</v>", " t=\"d\"") +
                     Cell("C1", "<v>1900-03-01</v>", " t=\"d\"") + "</row>",
                 "45352|1.5|61"},
        // Excel's Strict Open XML: times as durations; 1899-12-31 is the day shown as 1/0/1900.
        CellCase{"IsoDurationsBecomeTimesOfDay",
                 "<row r=\"1\">" + Cell("A1", "<v>PT0H0M0.000S</v>", " t=\"d\"") +
                     Cell("B1", "<v>PT13H20M1.5S</v>", " t=\"d\"") +
                     Cell("C1", "<v>P1DT12H</v>", " t=\"d\"") +
                     Cell("D1", "<v>1899-12-31</v>", " t=\"d\"") +
                     Cell("E1", "<v>1899-12-31T06:00:00</v>", " t=\"d\"") + "</row>",
                 "0|0.555572917|1.5|0|0.25"},
        CellCase{"OutOfOrderCellsAreSortedAndTheLastOfTwinsStands",
                 "<row r=\"1\">" + Cell("C1", "<v>3</v>") + Cell("A1", "<v>1</v>") +
                     Cell("C1", "<v>33</v>") + "</row>",
                 "1||33"},
        CellCase{"ANumberWithSpacesAroundKeepsItsValue",
                 "<row r=\"1\">" + Cell("A1", "<v> 42 </v>") + "</row>", "42"}),
    [](const testing::TestParamInfo<CellCase>& p) { return std::string(p.param.name); });

// ---- The date system ------------------------------------------------------------------------

TEST(XlsxWorkbookTest, Date1904ShiftsIsoDates) {
  TestWorkbook book;
  book.sheets = {{"<row r=\"1\"><c r=\"A1\" t=\"d\"><v>1904-01-02</v></c></row>"}};
  book.date1904 = true;
  TempDir dir;
  WriteBytes(dir / "book.xlsx", book.Zip());
  EXPECT_EQ(ReadGrid(dir / "book.xlsx"), "1");
  EXPECT_TRUE(OpenWorkbookSource(dir / "book.xlsx")->Date1904());
}

// ---- Every part matched by namespace -------------------------------------------------------

// A 1904 workbook whose B1 holds 9/1/2023 (1904 serial 43708; in the 1900 system the same
// number is 8/31/2019). Each case changes one part the way some producer writes it.
struct NamespaceCase {
  const char* name;
  std::function<void(TestWorkbook&)> changeBook;
  std::function<void(std::map<std::string, std::string>&)> changeParts;
  std::string expected;
};

void PrintTo(const NamespaceCase& c, std::ostream* os) { *os << c.name; }

class XlsxNamespaceTest : public testing::TestWithParam<NamespaceCase> {};

TEST_P(XlsxNamespaceTest, OnlyElementsOfTheSpreadsheetNamespaceCount) {
  const NamespaceCase& c = GetParam();
  TestWorkbook book;
  book.date1904 = true;
  book.sheets = {
      {"<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" s=\"1\"><v>43708</v></c></row>"}};
  book.sharedStrings = {"<t>a</t>"};
  book.numFmts = "<numFmt numFmtId=\"164\" formatCode=\"yyyy\\-mm\\-dd\"/>";
  book.cellXfs = {0, 164};
  if (c.changeBook) c.changeBook(book);
  auto parts = book.Parts();
  if (c.changeParts) c.changeParts(parts);
  TempDir dir;
  WriteBytes(dir / "book.xlsx", TestWorkbook::ZipParts(parts));
  EXPECT_EQ(ReadGrid(dir / "book.xlsx"), c.expected);
}

// Inserts `text` after the first occurrence of `anchor` in `part`.
void InsertAfter(std::string& part, const std::string& anchor, const std::string& text) {
  const size_t at = part.find(anchor);
  ASSERT_NE(at, std::string::npos) << anchor;
  part.insert(at + anchor.size(), text);
}

INSTANTIATE_TEST_SUITE_P(
    Parts, XlsxNamespaceTest,
    testing::Values(
        NamespaceCase{"Plain", nullptr, nullptr, "a|2023-09-01"},
        NamespaceCase{"WorkbookExtensionOfTheSameLocalName",
                      [](TestWorkbook& book) {
                        book.workbookEnd = testing_support::kExcelWorkbookExtensions;
                      },
                      nullptr, "a|2023-09-01"},
        NamespaceCase{"StrictWithTheSameExtension",
                      [](TestWorkbook& book) {
                        book.strict = true;
                        book.workbookEnd = testing_support::kExcelWorkbookExtensions;
                      },
                      nullptr, "a|2023-09-01"},
        NamespaceCase{"AnExtensionDoesNotSwitchTo1904",
                      [](TestWorkbook& book) {
                        book.date1904 = false;
                        book.workbookEnd =
                            "<extLst><ext uri=\"u\" xmlns:e=\"urn:example\"><e:workbookPr "
                            "date1904=\"1\"/></ext></extLst>";
                      },
                      nullptr, "a|2019-08-31"},
        NamespaceCase{
            "AnyPrefix", nullptr,
            [](std::map<std::string, std::string>& parts) {
              const std::string rel =
                  "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
              parts["xl/workbook.xml"] =
                  "<x:workbook xmlns:x=\"" + testing_support::kMainNamespace + "\" xmlns:rel=\"" +
                  rel +
                  "\"><x:workbookPr date1904=\"true\"/><x:sheets><x:sheet name=\"S\" "
                  "sheetId=\"1\" rel:id=\"rId10\"/></x:sheets></x:workbook>";
              parts["xl/worksheets/sheet1.xml"] =
                  "<x:worksheet xmlns:x=\"" + testing_support::kMainNamespace +
                  "\"><x:sheetData><x:row r=\"1\"><x:c r=\"A1\" t=\"s\"><x:v>0</x:v></x:c>"
                  "<x:c r=\"B1\" s=\"1\"><x:v>43708</x:v></x:c></x:row></x:sheetData>"
                  "</x:worksheet>";
            },
            "a|2023-09-01"},
        NamespaceCase{"ConditionalFormatsKeepTheirOwnNumberFormats", nullptr,
                      [](std::map<std::string, std::string>& parts) {
                        InsertAfter(parts["xl/styles.xml"], "</cellXfs>",
                                    "<dxfs count=\"1\"><dxf><numFmt numFmtId=\"164\" "
                                    "formatCode=\"0.00\"/></dxf></dxfs>");
                      },
                      "a|2023-09-01"},
        NamespaceCase{"ForeignTextInASharedString", nullptr,
                      [](std::map<std::string, std::string>& parts) {
                        InsertAfter(parts["xl/sharedStrings.xml"], "<t>a</t>",
                                    "<e:t xmlns:e=\"urn:example\">zzz</e:t>");
                      },
                      "a|2023-09-01"},
        NamespaceCase{"ForeignValueInACellExtension", nullptr,
                      [](std::map<std::string, std::string>& parts) {
                        InsertAfter(parts["xl/worksheets/sheet1.xml"], "<v>43708</v>",
                                    "<extLst><ext uri=\"u\" xmlns:e=\"urn:example\">"
                                    "<e:v>1</e:v></ext></extLst>");
                      },
                      "a|2023-09-01"},
        NamespaceCase{"ForeignRelationshipWithTheSameId", nullptr,
                      [](std::map<std::string, std::string>& parts) {
                        InsertAfter(parts["xl/_rels/workbook.xml.rels"], "relationships\">",
                                    "<o:Relationship xmlns:o=\"urn:example\" Id=\"rId10\" "
                                    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                                    "relationships/worksheet\" Target=\"missing.xml\"/>");
                      },
                      "a|2023-09-01"}),
    [](const testing::TestParamInfo<NamespaceCase>& p) { return std::string(p.param.name); });

TEST(XlsxWorkbookTest, CellFormatsPointAtCustomAndBuiltInNumberFormats) {
  TestWorkbook book;
  book.sheets = {{"<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"}};
  book.numFmts = "<numFmt numFmtId=\"164\" formatCode=\"0.00&quot; kg&quot;;[Red]-0\"/>";
  book.cellXfs = {0, 164, 14, 200};
  TempDir dir;
  WriteBytes(dir / "book.xlsx", book.Zip());
  auto source = OpenWorkbookSource(dir / "book.xlsx");
  EXPECT_EQ(source->CellFormat(1).code, "0.00\" kg\";[Red]-0");
  EXPECT_EQ(source->CellFormat(2).builtInId, 14);
  EXPECT_EQ(source->CellFormat(2).code, "");
  EXPECT_EQ(source->CellFormat(3).builtInId, 200);  // an id without a record
  EXPECT_EQ(source->CellFormat(99).builtInId, 0);   // an unknown cell format: General
  EXPECT_EQ(source->CellFormat(99).code, "");
}

// The same workbook in the container and namespace variants that producers write.
struct PackageCase {
  const char* name;
  bool strict;
  ZipOptions zip;
  bool upperCaseNames;
  bool stored;
};

void PrintTo(const PackageCase& c, std::ostream* os) { *os << c.name; }

class XlsxPackageTest : public testing::TestWithParam<PackageCase> {};

TEST_P(XlsxPackageTest, ReadsTheSameCells) {
  const PackageCase& c = GetParam();
  TestWorkbook book;
  book.strict = c.strict;
  book.sheets = {{"<row r=\"2\"><c r=\"B2\" t=\"s\"><v>0</v></c></row>"}};
  book.sharedStrings = {"<t>hello</t>"};
  std::vector<testing_support::ZipPart> parts;
  for (const auto& [name, data] : book.Parts()) {
    std::string stored = name;
    if (c.upperCaseNames) {
      for (char& ch : stored) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    parts.push_back({stored, data, !c.stored});
  }
  TempDir dir;
  WriteBytes(dir / "book.xlsx", BuildZip(parts, c.zip));
  EXPECT_EQ(ReadGrid(dir / "book.xlsx"), "|\n|hello");
}

INSTANTIATE_TEST_SUITE_P(
    Packages, XlsxPackageTest,
    testing::Values(PackageCase{"Transitional", false, {}, false, false},
                    PackageCase{"Strict", true, {}, false, false},
                    PackageCase{"DataDescriptors", false, {true, false}, false, false},
                    PackageCase{"Zip64", false, {false, true}, false, false},
                    PackageCase{"Zip64WithDataDescriptors", false, {true, true}, false, false},
                    PackageCase{"StoredEntries", false, {}, false, true},
                    PackageCase{"NamesInAnotherCase", false, {}, true, false}),
    [](const testing::TestParamInfo<PackageCase>& p) { return std::string(p.param.name); });

// ---- Reading order and far cells -------------------------------------------------------------

TEST(XlsxWorksheetTest, CellsCanBeReadInAnyOrder) {
  TestWorkbook book;
  book.sheets = {
      {"<row r=\"2\"><c r=\"A2\"><v>2</v></c><c r=\"C2\"><v>6</v></c></row>"
       "<row r=\"5\"><c r=\"B5\"><v>10</v></c></row>"}};
  TempDir dir;
  WriteBytes(dir / "book.xlsx", book.Zip());
  auto excel = CreateAutomationObject("Excel.Application");
  ExcelWorksheet& sheet = excel->Workbooks().Open(dir / "book.xlsx", false, true).Worksheets(1);
  EXPECT_EQ(sheet.Cells(5, 2).Text(), "10");
  EXPECT_EQ(sheet.Cells(2, 3).Text(), "6");  // an earlier row: rewinds
  EXPECT_EQ(sheet.Cells(2, 1).Text(), "2");  // an earlier column of the same row
  EXPECT_EQ(sheet.Cells(3, 1).Text(), "");   // a row without cells
  EXPECT_EQ(sheet.Cells(5, 2).Text(), "10");
  EXPECT_EQ(sheet.Cells(9, 9).Text(), "");  // beyond the last row
  EXPECT_THROW(sheet.Cells(0, 1), Error);
  EXPECT_THROW(sheet.Cells(1, 16385), Error);
}

TEST(XlsxWorksheetTest, AStyledCellAtTheLastPlaceOfTheSheetSetsTheLastCell) {
  TestWorkbook book;
  book.cellXfs = {0, 0};
  book.sheets = {
      {"<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"
       "<row r=\"1048576\"><c r=\"XFD1048576\" s=\"1\"/></row>"}};
  TempDir dir;
  WriteBytes(dir / "book.xlsx", book.Zip());
  auto excel = CreateAutomationObject("Excel.Application");
  ExcelWorksheet& sheet = excel->Workbooks().Open(dir / "book.xlsx", false, true).Worksheets(1);
  EXPECT_EQ(sheet.UsedRange().SpecialCells(kXlCellTypeLastCell).Row(), 1048576);
  EXPECT_EQ(sheet.UsedRange().SpecialCells(kXlCellTypeLastCell).Column(), 16384);
  EXPECT_EQ(sheet.Cells(1048576, 16384).Text(), "");
  EXPECT_EQ(sheet.Cells(1, 1).Text(), "1");
  EXPECT_EQ(sheet.CellsHeld(), 2u);
}

TEST(XlsxWorksheetTest, CountACountsCellsWithValuesInTheRange) {
  TestWorkbook book;
  book.cellXfs = {0, 0};
  book.sheets = {
      {"<row r=\"2\"><c r=\"B2\" s=\"1\"/><c r=\"D2\"><v>0</v></c></row>"
       "<row r=\"4\"><c r=\"A4\" t=\"inlineStr\"><is><t></t></is></c>"
       "<c r=\"C4\" t=\"b\"><v>0</v></c></row><row r=\"9\"><c r=\"A9\"><v>1</v></c></row>"}};
  TempDir dir;
  WriteBytes(dir / "book.xlsx", book.Zip());
  auto excel = CreateAutomationObject("Excel.Application");
  ExcelWorksheet& sheet = excel->Workbooks().Open(dir / "book.xlsx", false, true).Worksheets(1);
  auto countA = [&](int r1, int c1, int r2, int c2) {
    return excel->WorksheetFunction().CountA(sheet.Range(sheet.Cells(r1, c1), sheet.Cells(r2, c2)));
  };
  EXPECT_EQ(countA(1, 1, 1, 4), 0u);
  EXPECT_EQ(countA(2, 1, 2, 3), 0u);  // a styled empty cell holds no value
  EXPECT_EQ(countA(2, 1, 2, 4), 1u);
  EXPECT_EQ(countA(4, 1, 4, 4), 2u);  // an empty string and FALSE are values
  EXPECT_EQ(countA(1, 1, 9, 4), 4u);
  EXPECT_EQ(countA(5, 1, 8, 16384), 0u);
  EXPECT_EQ(countA(9, 2, 9, 4), 0u);
  EXPECT_EQ(sheet.Cells(4, 3).Text(), "FALSE");  // reading goes on after counting
  EXPECT_EQ(sheet.CellsHeld(), 5u);              // the styled empty B2 too
  // What a worksheet without a count of its own answers: COUNTA over the used range.
  EXPECT_EQ(sheet.ExcelWorksheet::CellsHeld(), 4u);
}

TEST(XlsxWorksheetTest, ALargeSheetReadsWholeAcrossEveryBufferEdge) {
  // About 4 MB of sheet XML: several chunks of the inflating thread and of the scanner.
  TestWorkbook book;
  book.sharedStrings = {"<t>shared &amp; text</t>"};
  std::string data;
  for (int r = 1; r <= 40000; ++r) {
    const std::string n = std::to_string(r);
    data += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c><c r=\"B" + n +
            "\" t=\"s\"><v>0</v></c><c r=\"C" + n + "\" t=\"inlineStr\"><is><t>x&lt;" + n +
            "&gt;</t></is></c></row>";
  }
  book.sheets = {{data}};
  TempDir dir;
  WriteBytes(dir / "book.xlsx", book.Zip());
  auto excel = CreateAutomationObject("Excel.Application");
  ExcelWorksheet& sheet = excel->Workbooks().Open(dir / "book.xlsx", false, true).Worksheets(1);
  EXPECT_EQ(sheet.UsedRange().SpecialCells(kXlCellTypeLastCell).Row(), 40000);
  EXPECT_EQ(
      excel->WorksheetFunction().CountA(sheet.Range(sheet.Cells(1, 1), sheet.Cells(40000, 3))),
      120000u);
  for (int r = 1; r <= 40000; r += 997) {
    ASSERT_EQ(sheet.Cells(r, 1).Text(), std::to_string(r));
    ASSERT_EQ(sheet.Cells(r, 2).Text(), "shared & text");
    ASSERT_EQ(sheet.Cells(r, 3).Text(), "x<" + std::to_string(r) + ">");
  }
  EXPECT_EQ(sheet.Cells(40000, 3).Text(), "x<40000>");
}

TEST(XlsxWorksheetTest, MembersFailAfterQuit) {
  auto excel = CreateAutomationObject("Excel.Application");
  excel->Quit();
  EXPECT_THROW(excel->Workbooks(), Error);
  EXPECT_THROW(CreateAutomationObject("Word.Application"), Error);
}

// Files this process holds open in `folder`, unlinked ones included.
int OpenFilesIn(const std::filesystem::path& folder) {
  int count = 0;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
    if (!error && target.rfind(folder.string() + "/", 0) == 0) ++count;
  }
  return count;
}

// Opens `book` with the default bound of `limit` and with `small`, which spills to an unlinked
// file in a folder of its own, and reads it twice (a Rewind between) with `checkRows`.
void ReadWithinAndBeyondTheBound(const TestWorkbook& book, size_t XlsxReaderOptions::*limit,
                                 size_t small, const std::function<void(SheetSource&)>& checkRows) {
  TempDir dir;
  WriteBytes(dir / "book.xlsx", book.Zip());
  TempDir spillFolder;
  ScopedEnvironment environment;
  environment.Set("TMPDIR", spillFolder.path().c_str());
  for (const size_t bound : {XlsxReaderOptions{}.*limit, small}) {
    SCOPED_TRACE(bound);
    XlsxReaderOptions limits;
    limits.*limit = bound;
    auto source = OpenXlsxSource(dir / "book.xlsx", -1, limits);
    EXPECT_EQ(OpenFilesIn(spillFolder.path()), bound < (1 << 20) ? 1 : 0);
    EXPECT_TRUE(spillFolder.Names().empty());
    for (int pass = 0; pass < 2; ++pass) {
      checkRows(*source);
      source->Rewind();
    }
  }
}

TEST(XlsxSharedStringsTest, TableBeyondTheMemoryBoundIsReadFromATemporaryFile) {
  constexpr int kStrings = 2000;  // about 260 KB of text
  auto text = [](int i) {
    return "string " + std::to_string(i) + " " +
           std::string(100 + i % 50, static_cast<char>('a' + i % 26));
  };
  TestWorkbook book;
  std::string data;
  for (int i = 0; i < kStrings; ++i) {
    book.sharedStrings.push_back("<t>" + text(i) + "</t>");
    const std::string r = std::to_string(i + 1);
    data += "<row r=\"" + r + "\">" +
            Cell("A" + r, "<v>" + std::to_string(i * 7 % kStrings) + "</v>", " t=\"s\"") + "</row>";
  }
  book.sheets = {{data}};
  ReadWithinAndBeyondTheBound(
      book, &XlsxReaderOptions::sharedStrings, size_t{16} << 10, [&](SheetSource& source) {
        SheetRow row;
        int rows = 0;
        while (source.NextRow(row)) {
          ASSERT_EQ(row.row, static_cast<uint32_t>(++rows));
          ASSERT_EQ(row.cells.size(), 1u);
          ASSERT_EQ(row.cells[0].value.text, text((rows - 1) * 7 % kStrings));
        }
        EXPECT_EQ(rows, kStrings);
      });
}

TEST(XlsxRowOrderTest, RowsOutOfOrderComeSortedFromMemoryAndFromATemporaryFile) {
  // 300 rows in order, then 600 down to 301, then row 5 again with a second cell.
  auto value = [](int row) { return "row " + std::to_string(row) + std::string(40, 'x'); };
  std::string data;
  auto addRow = [&](int row, const std::string& column) {
    const std::string r = std::to_string(row);
    data += "<row r=\"" + r + "\">" +
            Cell(column + r, "<is><t>" + value(row) + column + "</t></is>", " t=\"inlineStr\"") +
            "</row>";
  };
  for (int row = 1; row <= 300; ++row) addRow(row, "A");
  for (int row = 600; row > 300; --row) addRow(row, "A");
  addRow(5, "B");
  TestWorkbook book;
  book.sheets = {{data}};
  ReadWithinAndBeyondTheBound(
      book, &XlsxReaderOptions::sheetSpool, size_t{4} << 10, [&](SheetSource& source) {
        EXPECT_EQ(source.Repairs().Notes(), std::vector<std::string>{kRowsOutOfOrderRepair});
        SheetRow row;
        int rows = 0;
        while (source.NextRow(row)) {
          ASSERT_EQ(row.row, static_cast<uint32_t>(++rows));
          ASSERT_EQ(row.cells.size(), rows == 5 ? 2u : 1u);
          ASSERT_EQ(row.cells[0].value.text, value(rows) + "A");
          if (rows == 5) {
            ASSERT_EQ(row.cells[1].value.text, value(rows) + "B");
          }
        }
        EXPECT_EQ(rows, 600);
      });
}

TEST(SheetSpoolTest, ReadsBackAcrossTheSpillToDiskAndRewinds) {
  for (size_t limit : {size_t{1} << 20, size_t{7}}) {
    SheetSpool spool(limit);
    std::string expected;
    for (uint64_t i = 0; i < 5000; ++i) {
      std::string record;
      AppendVarint(i * 977, record);
      record += std::string(i % 13, static_cast<char>('a' + i % 26));
      spool.Append(record);
    }
    spool.FinishWriting();
    EXPECT_EQ(spool.spilled(), limit < 100);
    for (int pass = 0; pass < 2; ++pass) {
      for (uint64_t i = 0; i < 5000; ++i) {
        ASSERT_EQ(spool.ReadVarint(), i * 977);
        std::string text;
        spool.ReadBytes(i % 13, text);
        ASSERT_EQ(text, std::string(i % 13, static_cast<char>('a' + i % 26)));
      }
      EXPECT_TRUE(spool.AtEnd());
      spool.Rewind();
    }
  }
}

// The short copies load and store overlapping words: every length lands whole, and nothing
// past it is touched.
TEST(SheetSpoolTest, PutBytesCopiesEveryLengthAndNoMore) {
  const std::string source = "-0123456789abcdefghijklmnopqrstuvwxyz";
  for (size_t size = 0; size + 1 <= source.size(); ++size) {
    const std::string_view bytes = std::string_view(source).substr(1, size);
    std::string to(source.size() + 1, '#');
    const char* end = PutBytes(bytes, to.data() + 1);
    EXPECT_EQ(end, to.data() + 1 + size);
    EXPECT_EQ(to, "#" + std::string(bytes) + std::string(source.size() - size, '#')) << size;
  }
}

}  // namespace
}  // namespace cellverter
