// The OpenDocument spreadsheet reader: .ods packages and flat .fods documents written here or
// by LibreOffice, their repeats, spans, value types and styles, and the files it refuses.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "convert/workbook_to_csv.h"
#include "ods_builder.h"
#include "platform/error.h"
#include "sheet_dump.h"
#include "spreadsheet/container/workbook_file.h"
#include "spreadsheet/container/zip_archive.h"
#include "spreadsheet/ods/ods_reader.h"
#include "spreadsheet/workbook_source.h"
#include "temp_dir.h"
#include "xlsx_test_support.h"

namespace cellverter {
namespace {

using namespace testing_support;

std::unique_ptr<WorkbookSource> OpenOds(const std::string& path) {
  return OpenOdsWorkbook(path, std::make_unique<ZipArchive>(OpenWorkbookFile(path)));
}
std::unique_ptr<WorkbookSource> OpenFods(const std::string& path) {
  return OpenFlatOdsWorkbook(path, OpenWorkbookFile(path));
}

// A sheet of the given rows.
std::string Table(const std::string& rows, const std::string& name = "Sheet1",
                  const std::string& attributes = "") {
  return "<table:table table:name=\"" + name + "\"" + attributes + ">" + rows + "</table:table>";
}
std::string Row(const std::string& cells, const std::string& attributes = "") {
  return "<table:table-row" + attributes + ">" + cells + "</table:table-row>";
}

// The document written as a package and as a flat document, each read back: the same result.
class OdsFiles {
 public:
  explicit OdsFiles(const OdsDocument& document) {
    WriteBytes(dir_ / "book.ods", document.Zip());
    WriteBytes(dir_ / "book.fods", document.Flat());
  }
  std::string Ods() const { return dir_ / "book.ods"; }
  std::string Fods() const { return dir_ / "book.fods"; }

 private:
  TempDir dir_;
};

// ---- LibreOffice's files, through the whole conversion -----------------------------------------

// The reference is LibreOffice's own CSV export of the same file (cell contents as shown),
// with the lines ended as a conversion ends them, and the line break inside a cell written as
// a space, as a conversion writes it for every format.
TEST(OdsConversion, WritesWhatLibreOfficeExports) {
  const std::string expected =
      "Kind,Hidden column,Value,\r\n"
      "number,,\"-1,234,567.89\",0.1\r\n"
      "percentage,,12.5%,\r\n"
      "currency,,\"-1,234.50 €\",99.00 €\r\n"
      "hidden row,,,\r\n"
      "date,,2024-02-29,1900-01-15\r\n"
      "time,,13:20:05,\r\n"
      "boolean,,TRUE,FALSE\r\n"
      "text,,\"two  spaces, \"\"quoted\"\" second line\",Ωmega\r\n"
      "formula,,#DIV/0!,-2469135.782\r\n"
      "merged,,merged area,\r\n"
      ",,,\r\n"
      "repeated,,7,\r\n"
      "repeated,,7,\r\n"
      "repeated,,7,\r\n";
  for (const char* file : {"mixed.fods", "mixed.ods"}) {
    SCOPED_TRACE(file);
    TempDir dir;
    const std::string written = ConvertExcelToCSV(std::string(CELLVERTER_TEST_DATA "/ods/") + file,
                                                  dir / "out.csv", {",", CsvEncoding::Utf8, 1252});
    EXPECT_EQ(ReadBytes(written), expected);
  }
}

TEST(OdsReader, ReadsLibreOfficesSheetListAndLayout) {
  auto workbook = OpenOds(CELLVERTER_TEST_DATA "/ods/mixed.ods");
  ASSERT_EQ(workbook->Sheets().size(), 2u);
  EXPECT_EQ(workbook->Sheets()[0].name, "Data");
  EXPECT_EQ(workbook->Sheets()[1].name, "Second");
  auto sheet = workbook->OpenSheet(0);
  EXPECT_EQ(sheet->LastRow(), 15u);
  EXPECT_EQ(sheet->LastColumn(), 4u);
  const SheetLayout& layout = sheet->Layout();
  EXPECT_EQ(layout.hiddenRows, (std::vector<LineSpan>{{5, 5}}));
  EXPECT_EQ(layout.hiddenColumns, (std::vector<LineSpan>{{2, 2}}));
  EXPECT_EQ(layout.mergedAreas, (std::vector<CellArea>{{11, 3, 12, 4}}));
  EXPECT_TRUE(sheet->Repairs().Notes().empty());
  EXPECT_EQ(Dump(*workbook->OpenSheet(1)), "R1C1=S'second sheet'");
}

// ---- Values ------------------------------------------------------------------------------------

struct ValueCase {
  const char* name;
  std::string cell;   // a <table:table-cell> element
  std::string shown;  // the value served, as Show() writes it
};

TEST(OdsReader, ReadsEveryValueType) {
  const std::vector<ValueCase> cases = {
      {"float", R"(<table:table-cell office:value-type="float" office:value="-1.5"/>)", "N-1.5"},
      {"percentage", R"(<table:table-cell office:value-type="percentage" office:value="0.25"/>)",
       "N0.25"},
      {"currency",
       R"(<table:table-cell office:value-type="currency" office:currency="EUR" office:value="3"/>)",
       "N3"},
      // ODF's null date 1899-12-30 and Excel's 1900 serials agree from March 1900; before,
      // the date stays the date: Excel's serial of it.
      {"date", R"(<table:table-cell office:value-type="date" office:date-value="2024-02-29"/>)",
       "N45351"},
      {"early date",
       R"(<table:table-cell office:value-type="date" office:date-value="1900-01-01"/>)", "N1"},
      {"date and time",
       R"(<table:table-cell office:value-type="date" office:date-value="2024-02-29T18:00:00"/>)",
       "N45351.75"},
      {"time", R"(<table:table-cell office:value-type="time" office:time-value="PT13H30M"/>)",
       "N0.5625"},
      {"long duration",
       R"(<table:table-cell office:value-type="time" office:time-value="PT36H00M00S"/>)", "N1.5"},
      {"negative duration",
       R"(<table:table-cell office:value-type="time" office:time-value="-PT06H"/>)", "N-0.25"},
      {"true", R"(<table:table-cell office:value-type="boolean" office:boolean-value="true"/>)",
       "TRUE"},
      {"false", R"(<table:table-cell office:value-type="boolean" office:boolean-value="false"/>)",
       "FALSE"},
      // As LibreOffice saves =FALSE() from an .xlsx: a float its text shows as a logical.
      {"logical formula result",
       R"x(<table:table-cell table:formula="of:=FALSE()" office:value-type="float" office:value="0"><text:p>FALSE</text:p></table:table-cell>)x",
       "FALSE"},
      {"number formula result that reads TRUE elsewhere",
       R"(<table:table-cell table:formula="of:=2" office:value-type="float" office:value="2"><text:p>TRUE</text:p></table:table-cell>)",
       "N2"},
      {"string",
       R"(<table:table-cell office:value-type="string"><text:p>abc</text:p></table:table-cell>)",
       "S'abc'"},
      {"string value",
       R"(<table:table-cell office:value-type="string" office:string-value="value"><text:p>shown</text:p></table:table-cell>)",
       "S'value'"},
      {"paragraphs and breaks",
       R"(<table:table-cell office:value-type="string"><text:p>one<text:line-break/>two</text:p><text:p/><text:p>four</text:p></table:table-cell>)",
       "S'one\ntwo\n\nfour'"},
      {"spans, links, spaces and tabs",
       R"(<table:table-cell office:value-type="string"><text:p><text:s/>a<text:s text:c="3"/><text:span text:style-name="T1">b</text:span><text:tab/><text:a xlink:href="http://x">c</text:a></text:p></table:table-cell>)",
       "S' a   b\tc'"},
      // Blanks stand as they are written, as LibreOffice writes and reads them.
      {"blanks as written",
       "<table:table-cell office:value-type=\"string\"><text:p>\n  a \t\n b "
       "</text:p></table:table-cell>",
       "S'\n  a \t\n b '"},
      {"note left out",
       R"(<table:table-cell office:value-type="string"><office:annotation><text:p>note</text:p></office:annotation><text:p>text</text:p></table:table-cell>)",
       "S'text'"},
      {"shape anchored to the cell left out",
       R"(<table:table-cell office:value-type="string"><draw:frame><draw:text-box><text:p>shape</text:p></draw:text-box></draw:frame><text:p>cell</text:p></table:table-cell>)",
       "S'cell'"},
      {"no value type", R"(<table:table-cell><text:p>plain</text:p></table:table-cell>)",
       "S'plain'"},
      {"error as LibreOffice writes it",
       R"(<table:table-cell table:formula="of:=1/0" office:value-type="string" office:string-value="" calcext:value-type="error"><text:p>#DIV/0!</text:p></table:table-cell>)",
       "E#DIV/0!"},
      {"error text of a formula",
       R"(<table:table-cell table:formula="of:=[.Z1]" office:value-type="string"><text:p>#N/A</text:p></table:table-cell>)",
       "E#N/A"},
      // LibreOffice's own error codes have no Excel value: they stay its text.
      {"LibreOffice error",
       R"(<table:table-cell table:formula="of:=X(" office:value-type="string"><text:p>Err:502</text:p></table:table-cell>)",
       "S'Err:502'"},
      {"error text typed in",
       R"(<table:table-cell office:value-type="string"><text:p>#N/A</text:p></table:table-cell>)",
       "S'#N/A'"},
  };
  std::string rows;
  std::string expected;
  for (size_t i = 0; i < cases.size(); ++i) {
    rows += Row(cases[i].cell);
    if (!expected.empty()) expected += ' ';
    expected += "R" + std::to_string(i + 1) + "C1=" + cases[i].shown;
  }
  OdsDocument document;
  document.spreadsheet = Table(rows);
  // xlink is declared where it is used: namespaces are resolved, not matched by prefix.
  document.spreadsheet.insert(document.spreadsheet.find('>'),
                              " xmlns:xlink=\"http://www.w3.org/1999/xlink\""
                              " xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\"");
  OdsFiles files(document);
  EXPECT_EQ(Dump(*OpenOds(files.Ods())->OpenSheet(0)), expected);
  EXPECT_EQ(Dump(*OpenFods(files.Fods())->OpenSheet(0)), expected);
}

// ---- Repeats -----------------------------------------------------------------------------------

struct RepeatCase {
  const char* name;
  std::string rows;
  uint32_t lastRow;
  uint32_t lastColumn;
  uint64_t cellsHeld;
  std::string cells;  // Dump(); "" for too many to list
};

class OdsRepeats : public testing::TestWithParam<RepeatCase> {};

TEST_P(OdsRepeats, CostWhatTheyHoldAndSetTheUsedRange) {
  const RepeatCase& c = GetParam();
  OdsDocument document;
  document.automaticStyles =
      R"(<style:style style:name="ce1" style:family="table-cell" style:parent-style-name="Default"/>)";
  document.spreadsheet = Table(c.rows);
  OdsFiles files(document);
  auto workbook = OpenOds(files.Ods());
  auto sheet = workbook->OpenSheet(0);
  EXPECT_EQ(sheet->LastRow(), c.lastRow);
  EXPECT_EQ(sheet->LastColumn(), c.lastColumn);
  EXPECT_EQ(sheet->CellsHeld(), c.cellsHeld);
  if (!c.cells.empty()) {
    EXPECT_EQ(Dump(*sheet), c.cells);
  }
}

const std::string kOne = R"(<table:table-cell office:value-type="float" office:value="1"/>)";
const std::string kMillionEmptyRows =
    R"(<table:table-row table:number-rows-repeated="1048575"><table:table-cell table:number-columns-repeated="16384"/></table:table-row>)";

INSTANTIATE_TEST_SUITE_P(
    Sheets, OdsRepeats,
    testing::Values(
        // LibreOffice's filling of the sheet to its edges is no used cell.
        RepeatCase{"MillionTrailingEmptyRows",
                   Row(kOne + R"(<table:table-cell table:number-columns-repeated="16383"/>)") +
                       kMillionEmptyRows,
                   1, 1, 1, "R1C1=N1"},
        RepeatCase{
            "RepeatedRowRepeatsItsCells",
            Row(kOne) +
                Row(R"(<table:table-cell table:number-columns-repeated="2" office:value-type="string"><text:p>x</text:p></table:table-cell>)",
                    R"( table:number-rows-repeated="2")"),
            3, 2, 5, "R1C1=N1 R2C1=S'x' R2C2=S'x' R3C1=S'x' R3C2=S'x'"},
        // A styled blank between values is used; a run of them that repeats to the row's end
        // is the row's filling.
        RepeatCase{
            "StyledBlanksInsideAndAtTheEnd",
            Row(kOne +
                R"(<table:table-cell table:style-name="ce1" table:number-columns-repeated="2"/>)" +
                kOne +
                R"(<table:table-cell table:style-name="ce1" table:number-columns-repeated="1020"/>)"),
            1, 4, 4, "R1C1=N1 R1C2=_ R1C3=_ R1C4=N1"},
        RepeatCase{"OneStyledBlankAtTheEndIsUsed",
                   Row(kOne + R"(<table:table-cell table:style-name="ce1"/>)"), 1, 2, 2,
                   "R1C1=N1 R1C2=_"},
        RepeatCase{"RowsOfStyledBlanksBeforeAValueAreUsed",
                   Row(kOne) +
                       Row(R"(<table:table-cell table:style-name="ce1"/>)",
                           R"( table:number-rows-repeated="2")") +
                       Row(kOne),
                   4, 1, 4, "R1C1=N1 R2C1=_ R3C1=_ R4C1=N1"},
        RepeatCase{"RowsOfStyledBlanksAtTheEndAreNot",
                   Row(kOne) + Row(R"(<table:table-cell table:style-name="ce1"/>)",
                                   R"( table:number-rows-repeated="1048575")"),
                   1, 1, 1, "R1C1=N1"},
        // Rows and columns beyond the sheet's edge are clipped as LibreOffice clips them.
        RepeatCase{"RowsPastTheLastRowAreClipped",
                   Row(kOne, R"( table:number-rows-repeated="1048570")") +
                       Row(kOne, R"( table:number-rows-repeated="10")"),
                   1048576, 1, 1048576, ""},
        RepeatCase{
            "CellsPastTheLastColumnAreClipped",
            Row(R"(<table:table-cell table:number-columns-repeated="16383"/>)" +
                std::string(
                    R"(<table:table-cell table:number-columns-repeated="3" office:value-type="float" office:value="2"/>)")),
            1, 16384, 1, "R1C16384=N2"}),
    [](const testing::TestParamInfo<RepeatCase>& p) { return std::string(p.param.name); });

TEST(OdsReader, ClippingIsNoted) {
  OdsDocument document;
  document.spreadsheet = Table(Row(kOne, R"( table:number-rows-repeated="1048577")"));
  OdsFiles files(document);
  auto workbook = OpenOds(files.Ods());
  auto sheet = workbook->OpenSheet(0);
  EXPECT_EQ(sheet->LastRow(), 1048576u);
  ASSERT_EQ(sheet->Repairs().Notes().size(), 1u);
  EXPECT_NE(sheet->Repairs().Notes()[0].find("1,048,576 rows"), std::string::npos);
  // Served as the rows they are, each of them.
  SheetRow row;
  uint32_t rows = 0;
  while (sheet->NextRow(row)) ++rows;
  EXPECT_EQ(rows, 1048576u);
  EXPECT_EQ(row.row, 1048576u);
  sheet->Rewind();
  ASSERT_TRUE(sheet->NextRow(row));
  EXPECT_EQ(row.row, 1u);
}

// ---- Spans, visibility, styles -----------------------------------------------------------------

TEST(OdsReader, SpansAreMergedAreasAndCoveredCellsKeepTheirValues) {
  OdsDocument document;
  document.spreadsheet = Table(
      Row(R"(<table:table-cell table:number-columns-spanned="2" table:number-rows-spanned="3" office:value-type="string"><text:p>a</text:p></table:table-cell><table:covered-table-cell office:value-type="float" office:value="5"/>)") +
      Row(R"(<table:covered-table-cell table:number-columns-repeated="2"/><table:table-cell table:number-columns-spanned="3"/>)") +
      Row(R"(<table:covered-table-cell table:number-columns-repeated="2"/>)"));
  OdsFiles files(document);
  auto workbook = OpenOds(files.Ods());
  auto sheet = workbook->OpenSheet(0);
  EXPECT_EQ(sheet->Layout().mergedAreas, (std::vector<CellArea>{{1, 1, 3, 2}, {2, 3, 2, 5}}));
  EXPECT_EQ(Dump(*sheet), "R1C1=S'a' R1C2=N5");
}

TEST(OdsReader, HiddenSheetsRowsAndColumns) {
  OdsDocument document;
  document.automaticStyles =
      R"(<style:style style:name="ta1" style:family="table"><style:table-properties table:display="false"/></style:style>)"
      R"(<style:style style:name="ta2" style:family="table"><style:table-properties table:display="true"/></style:style>)";
  document.spreadsheet =
      Table(
          R"(<table:table-column table:visibility="collapse" table:number-columns-repeated="2"/><table:table-column/><table:table-column table:visibility="filter"/>)" +
              Row(kOne, R"( table:visibility="filter")") + Row(kOne) +
              Row(kOne, R"( table:visibility="collapse" table:number-rows-repeated="3")") +
              Row("<table:table-cell/>",
                  R"( table:visibility="collapse" table:number-rows-repeated="1048570")"),
          "Hidden", R"( table:style-name="ta1")") +
      Table(Row(kOne), "Shown", R"( table:style-name="ta2")");
  OdsFiles files(document);
  auto workbook = OpenFods(files.Fods());
  ASSERT_EQ(workbook->Sheets().size(), 2u);
  EXPECT_EQ(workbook->Sheets()[0].visibility, SheetVisibility::kHidden);
  EXPECT_EQ(workbook->Sheets()[1].visibility, SheetVisibility::kVisible);
  auto sheet = workbook->OpenSheet(0);
  EXPECT_EQ(sheet->LastRow(), 5u);
  EXPECT_EQ(sheet->Layout().hiddenRows, (std::vector<LineSpan>{{1, 1}, {3, 1048575}}));
  EXPECT_EQ(sheet->Layout().hiddenColumns, (std::vector<LineSpan>{{1, 2}, {4, 4}}));
}

// Cell styles in styles.xml and content.xml, inherited from a parent, from the column's
// default; a data style no format code says shows the text the file stores.
TEST(OdsReader, CellsTakeTheDataStyleOfTheirStyle) {
  OdsDocument document;
  document.styles =
      R"(<number:number-style style:name="N1"><number:number number:decimal-places="2" number:min-integer-digits="1"/></number:number-style>)"
      R"(<style:style style:name="Fixed" style:family="table-cell" style:data-style-name="N1"/>)";
  document.automaticStyles =
      R"(<number:date-style style:name="N2"><number:year number:style="long"/><number:text>/</number:text><number:quarter/></number:date-style>)"
      R"(<number:percentage-style style:name="N3"><number:number number:decimal-places="0" number:min-integer-digits="1"/><number:text>%</number:text></number:percentage-style>)"
      R"(<style:style style:name="ce1" style:family="table-cell" style:parent-style-name="Fixed"/>)"
      R"(<style:style style:name="ce2" style:family="table-cell" style:data-style-name="N2"/>)"
      R"(<style:style style:name="ce3" style:family="table-cell" style:data-style-name="N3"/>)";
  document.spreadsheet = Table(
      R"(<table:table-column/><table:table-column table:default-cell-style-name="ce3"/>)" +
      Row(R"(<table:table-cell table:style-name="ce1" office:value-type="float" office:value="2"/>)"
          R"(<table:table-cell office:value-type="percentage" office:value="0.5"/>)"
          R"(<table:table-cell table:style-name="ce2" office:value-type="date" office:date-value="2024-05-01"><text:p>2024/Q2</text:p></table:table-cell>)"
          R"(<table:table-cell office:value-type="date" office:date-value="2024-05-01"/>)"));
  OdsFiles files(document);
  for (const std::string& path : {files.Ods(), files.Fods()}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(ReadGrid(path), "2.00|50%|2024/Q2|5/1/2024");
  }
}

TEST(OdsReader, NullDateOf1904IsThe1904DateSystem) {
  OdsDocument document;
  document.spreadsheet =
      R"(<table:calculation-settings><table:null-date table:date-value="1904-01-01"/></table:calculation-settings>)" +
      Table(Row(R"(<table:table-cell office:value-type="date" office:date-value="1904-01-02"/>)"));
  OdsFiles files(document);
  auto workbook = OpenOds(files.Ods());
  auto sheet = workbook->OpenSheet(0);
  EXPECT_TRUE(sheet->Date1904());
  EXPECT_EQ(Dump(*sheet), "R1C1=N1");
}

// ---- What is refused ---------------------------------------------------------------------------

struct FailureCase {
  const char* name;
  std::string bytes;
  bool flat;
  ErrorKind kind;
  std::string cause;
};

class OdsFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(OdsFailure, NamesTheCause) {
  const FailureCase& c = GetParam();
  TempDir dir;
  const std::string path = dir / "book";
  WriteBytes(path, c.bytes);
  try {
    auto workbook = c.flat ? OpenFods(path) : OpenOds(path);
    for (size_t i = 0; i < workbook->Sheets().size(); ++i) workbook->OpenSheet(i);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), c.kind);
    EXPECT_EQ(std::string(e.what()), "Cannot open \"" + path + "\": " + c.cause + ".");
  }
}

OdsDocument WithSheet(const std::string& rows) {
  OdsDocument document;
  document.spreadsheet = Table(rows);
  return document;
}

std::vector<FailureCase> FailureCases() {
  OdsDocument encrypted = WithSheet(Row(kOne));
  encrypted.manifestEntries =
      R"(<manifest:file-entry manifest:full-path="styles.xml" manifest:media-type="text/xml"/>)"
      R"(<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"><manifest:encryption-data manifest:checksum-type="SHA1/1K" manifest:checksum="x"><manifest:algorithm manifest:algorithm-name="Blowfish CFB" manifest:initialisation-vector="x"/></manifest:encryption-data></manifest:file-entry>)";
  OdsDocument text;
  text.mimetype = "application/vnd.oasis.opendocument.text";
  OdsDocument textBody;
  std::string flatText = textBody.Flat();
  flatText.replace(flatText.find("<office:spreadsheet>"), 20, "<office:text>");
  flatText.replace(flatText.find("</office:spreadsheet>"), 21, "</office:text>");
  // Cut off where the sheet should end.
  std::string cutContent = WithSheet(Row(kOne)).ContentXml();
  cutContent.resize(cutContent.find("</table:table>"));
  std::string cutFlat = WithSheet(Row(kOne)).Flat();
  cutFlat.resize(cutFlat.find("</table:table>"));
  const std::string hugeSpaces = Row(
      R"(<table:table-cell office:value-type="string"><text:p><text:s text:c="4000000000"/></text:p></table:table-cell>)");
  return {
      {"PasswordProtected", encrypted.Zip(), false, ErrorKind::kPasswordProtected,
       "the workbook is protected by a password"},
      {"TextDocument", text.Zip(), false, ErrorKind::kNotAWorkbook, kNotAWorkbookCause},
      {"FlatTextDocument", flatText, true, ErrorKind::kNotAWorkbook, kNotAWorkbookCause},
      {"FlatOtherXml", "<?xml version=\"1.0\"?><html/>", true, ErrorKind::kNotAWorkbook,
       kNotAWorkbookCause},
      {"NoContent",
       BuildZip({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet", false}}), false,
       ErrorKind::kDamaged, "the file is damaged (the part content.xml is missing)"},
      {"ContentCutOff",
       BuildZip({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet", false},
                 {"content.xml", cutContent}}),
       false, ErrorKind::kDamaged,
       "the file is damaged (the content XML is malformed: the part ends inside an element)"},
      {"FlatCutOff", cutFlat, true, ErrorKind::kDamaged,
       "the file is damaged (the document XML is malformed: the part ends inside an element)"},
      {"NumberWithoutNumber",
       WithSheet(Row(R"(<table:table-cell office:value-type="float" office:value="x"/>)")).Zip(),
       false, ErrorKind::kDamaged, "the file is damaged (a number cell holds no number)"},
      {"DateWithoutDate",
       WithSheet(
           Row(R"(<table:table-cell office:value-type="date" office:date-value="2024-13-01"/>)"))
           .Zip(),
       false, ErrorKind::kDamaged, "the file is damaged (a date cell holds no date)"},
      {"TooManySpaces", WithSheet(hugeSpaces).Zip(), false, ErrorKind::kDamaged,
       "the file is damaged (a cell's text is too long)"},
      {"SheetInSheet", WithSheet(Table(Row(kOne))).Zip(), false, ErrorKind::kDamaged,
       "the file is damaged (a sheet holds a sheet)"},
  };
}

INSTANTIATE_TEST_SUITE_P(Files, OdsFailure, testing::ValuesIn(FailureCases()),
                         [](const testing::TestParamInfo<FailureCase>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
}  // namespace cellverter
