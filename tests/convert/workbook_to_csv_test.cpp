#include "convert/workbook_to_csv.h"

#include <gtest/gtest.h>

#include <string>

#include "../spreadsheet/xlsx_builder.h"
#include "platform/error.h"
#include "temp_dir.h"

namespace cellverter {
namespace {

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::TestWorkbook;
using testing_support::WriteBytes;

std::string Book(const std::string& sheetData, std::vector<std::string> sharedStrings = {}) {
  TestWorkbook book;
  book.sheets = {{sheetData}};
  book.sharedStrings = std::move(sharedStrings);
  book.numFmts = "<numFmt numFmtId=\"164\" formatCode=\"#,##0.00\"/>";
  book.cellXfs = {0, 14, 10, 164};
  return book.Zip();
}

TEST(ConvertExcelToCsvTest, WritesEveryCellFromA1ToTheLastCellAsDisplayed) {
  TempDir dir;
  WriteBytes(
      dir / "book.xlsx",
      Book("<row r=\"3\"><c r=\"C3\" t=\"s\"><v>0</v></c><c r=\"D3\" s=\"1\"><v>45352</v></c>"
           "</row><row r=\"4\"><c r=\"C4\" s=\"2\"><v>0.125</v></c>"
           "<c r=\"D4\" s=\"3\"><v>1234.5</v></c></row>",
           {"<t>a, \"b\"\nc</t>"}));
  const std::string written = ConvertExcelToCSV(dir / "book.xlsx", dir / "book.csv", {});
  EXPECT_EQ(written, dir / "book.csv");
  EXPECT_EQ(ReadBytes(written),
            ",,,\r\n"
            ",,,\r\n"
            ",,\"a, \"\"b\"\" c\",3/1/2024\r\n"
            ",,12.50%,\"1,234.50\"\r\n");
}

TEST(ConvertExcelToCsvTest, AnEmptyWorksheetGivesOneEmptyLine) {
  TempDir dir;
  WriteBytes(dir / "book.xlsx", Book(""));
  ConvertExcelToCSV(dir / "book.xlsx", dir / "book.csv", {});
  EXPECT_EQ(ReadBytes(dir / "book.csv"), "\r\n");
}

TEST(ConvertExcelToCsvTest, UsesTheSeparatorAndEncodingOfTheRun) {
  TempDir dir;
  WriteBytes(dir / "book.xlsx",
             Book("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>x;y</t></is></c>"
                  "<c r=\"B1\" t=\"inlineStr\"><is><t>é</t></is></c></row>"));
  ConvertExcelToCSV(dir / "book.xlsx", dir / "book.csv", {";", CsvEncoding::Utf16LeBom, 1252});
  EXPECT_EQ(ReadBytes(dir / "book.csv"),
            std::string("\xFF\xFE\"\0x\0;\0y\0\"\0;\0\xE9\0\r\0\n\0", 20));
}

TEST(ConvertExcelToCsvTest, EmptyRowsGetTheWholeSeparatorBetweenEmptyFields) {
  TempDir dir;
  WriteBytes(dir / "book.xlsx", Book("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"
                                     "<row r=\"3\"><c r=\"C3\" s=\"1\"/></row>"));
  ConvertExcelToCSV(dir / "book.xlsx", dir / "book.csv", {" | ", CsvEncoding::Utf8, 1252});
  EXPECT_EQ(ReadBytes(dir / "book.csv"), "1 |  | \r\n |  | \r\n |  | \r\n");
}

TEST(ConvertExcelToCsvTest, TakesTheNextFreeNameWhenTheNameWasTakenMeanwhile) {
  TempDir dir;
  WriteBytes(dir / "book.xlsx", Book("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"));
  WriteBytes(dir / "book.csv", "someone else's");
  const std::string written = ConvertExcelToCSV(dir / "book.xlsx", dir / "book.csv", {});
  EXPECT_NE(written, dir / "book.csv");
  EXPECT_EQ(ReadBytes(written), "1\r\n");
  EXPECT_EQ(ReadBytes(dir / "book.csv"), "someone else's");
}

TEST(ConvertExcelToCsvTest, AWorkbookThatFailsLeavesNoFileBehind) {
  TempDir dir;
  // Damage found late: the sheet breaks off after many good rows.
  std::string rows;
  for (int r = 1; r <= 2000; ++r) {
    rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) + "\"><v>" +
            std::to_string(r) + "</v></c></row>";
  }
  TestWorkbook book;
  book.sheets = {{""}};
  auto parts = book.Parts();
  parts["xl/worksheets/sheet1.xml"] =
      testing_support::kWorksheetStart + "<sheetData>" + rows + "<row r=\"5\"/>";
  WriteBytes(dir / "late.xlsx", TestWorkbook::ZipParts(parts));
  WriteBytes(dir / "text.xlsx", "not a workbook");

  for (const char* name : {"late.xlsx", "text.xlsx", "missing.xlsx"}) {
    SCOPED_TRACE(name);
    const std::string path = dir / name;
    try {
      ConvertExcelToCSV(path, dir / "out.csv", {});
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Cannot open \"" + path + "\": ", 0), 0u) << e.what();
    }
  }
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"late.xlsx", "text.xlsx"}));
}

TEST(ConvertExcelToCsvTest, AFailedWriteReportsTheCsvFile) {
  TempDir dir;
  WriteBytes(dir / "book.xlsx", Book("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"));
  try {
    ConvertExcelToCSV(dir / "book.xlsx", dir / "no-such-folder/book.csv", {});
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(dir / "no-such-folder/book.csv"), std::string::npos);
  }
}

// Workbooks saved by LibreOffice Calc (see tests/data/xlsx/README.md).
struct SavedWorkbookCase {
  const char* file;
  std::string csv;
};

void PrintTo(const SavedWorkbookCase& c, std::ostream* os) { *os << c.file; }

class SavedWorkbookTest : public testing::TestWithParam<SavedWorkbookCase> {};

TEST_P(SavedWorkbookTest, ConvertsAsDisplayed) {
  TempDir dir;
  const std::string written = ConvertExcelToCSV(
      std::string(CELLVERTER_TEST_DATA) + "/xlsx/" + GetParam().file, dir / "out.csv", {});
  EXPECT_EQ(ReadBytes(written), GetParam().csv);
}

INSTANTIATE_TEST_SUITE_P(
    LibreOffice, SavedWorkbookTest,
    testing::Values(SavedWorkbookCase{"lo-formats.xlsx",
                                      ",,,,,,\r\n"
                                      ",,,,,,\r\n"
                                      ",,\"a, \"\"b\"\"\",\"1,234.50\",12.5%,,\r\n"
                                      ",,03/01/2024,#DIV/0!,xy,,\r\n"
                                      ",,,,,,\r\n"
                                      ",,,,,,\r\n"},
                    SavedWorkbookCase{"lo-1904.xlsx", "2024-03-01,2.5,1\r\n"}));

}  // namespace
}  // namespace cellverter
