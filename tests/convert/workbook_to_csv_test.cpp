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

// The amplifying workbook: 2 KB whose only cell, a styled blank at XFD1048576, makes a used
// range of 17,179,869,184 cells (16 GiB of separators).
std::string FarStyledBlank() {
  TestWorkbook book;
  book.cellXfs = {0, 0};
  book.sheets = {{"<row r=\"1048576\"><c r=\"XFD1048576\" s=\"1\"/></row>"}};
  return book.Zip();
}

TEST(ConvertExcelToCsvTest, AUsedRangeAboveMaxCellsIsRefusedBeforeAnythingIsWritten) {
  TempDir dir;
  WriteBytes(dir / "far.xlsx", FarStyledBlank());
  CsvOptions options;
  options.maxCells = 1'000'000;
  try {
    ConvertExcelToCSV(dir / "far.xlsx", dir / "far.csv", options);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot convert \"" + dir / "far.xlsx" +
                  "\": its used range A1:XFD1048576 has 17179869184 cells, more than the 1000000 "
                  "allowed (the file holds 1); nothing was written.");
  }
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"far.xlsx"});
}

// Answers from a script: cancels at a given row and writes down what it was told.
struct ScriptedMonitor : ConversionMonitor {
  long long cancelAtRow = -1;  // -1: never
  long long asked = 0;
  UsedRangeSize size;
  std::vector<long long> progress;
  bool CancelRequested() override { return asked++ == cancelAtRow; }
  void UsedRangeKnown(const UsedRangeSize& known) override { size = known; }
  void RowsWritten(long long row, long long lastRow) override {
    progress.push_back(row);
    EXPECT_EQ(lastRow, size.rows);
  }
};

TEST(ConvertExcelToCsvTest, ACancelledConversionLeavesNoFile) {
  TempDir dir;
  WriteBytes(dir / "far.xlsx", FarStyledBlank());
  // Before the first row, and after 40 rows (640 KB in the temporary file).
  for (const long long row : {0, 40}) {
    ScriptedMonitor monitor;
    monitor.cancelAtRow = row;
    EXPECT_THROW(ConvertExcelToCSV(dir / "far.xlsx", dir / "far.csv", {}, &monitor),
                 ConversionCancelled);
    EXPECT_EQ(monitor.size.rows, 1048576);
    EXPECT_EQ(monitor.size.columns, 16384);
    EXPECT_EQ(monitor.size.cellsHeld, 1);
    EXPECT_TRUE(monitor.size.FarLargerThanHeld());
    // A report every 4 rows (65,536 cells), none at the row where it stopped.
    const std::vector<long long> reported =
        row == 0 ? std::vector<long long>{0}
                 : std::vector<long long>{0, 4, 8, 12, 16, 20, 24, 28, 32, 36};
    EXPECT_EQ(monitor.progress, reported);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"far.xlsx"});
  }
}

TEST(ConvertExcelToCsvTest, ProgressEndsWithTheLastRow) {
  TempDir dir;
  WriteBytes(dir / "book.xlsx", Book("<row r=\"3\"><c r=\"A3\"><v>1</v></c></row>"));
  ScriptedMonitor monitor;
  ConvertExcelToCSV(dir / "book.xlsx", dir / "book.csv", {}, &monitor);
  EXPECT_EQ(monitor.progress, (std::vector<long long>{0, 3}));
  EXPECT_EQ(monitor.asked, 3);
  EXPECT_EQ(monitor.size.Address(), "A1:A3");
  EXPECT_FALSE(monitor.size.FarLargerThanHeld());
}

struct RangeCase {
  UsedRangeSize size;
  const char* address;
  bool farLarger;
};

TEST(UsedRangeSizeTest, AddressAndTheSparseRangeThreshold) {
  const RangeCase cases[] = {
      {{1, 1, 0}, "A1:A1", false},
      {{1048576, 16384, 1}, "A1:XFD1048576", true},
      {{10, 27, 5}, "A1:AA10", false},
      {{1000, 702, 0}, "A1:ZZ1000", false},        // 702,000 cells: below the size threshold
      {{1000, 703, 7030}, "A1:AAA1000", false},    // 703,000 cells
      {{1000, 1001, 10010}, "A1:ALM1000", false},  // exactly 100 times: not more
      {{1000, 1001, 10009}, "A1:ALM1000", true},
      {{1000001, 1, 0}, "A1:A1000001", true},
  };
  for (const RangeCase& c : cases) {
    EXPECT_EQ(c.size.Address(), c.address);
    EXPECT_EQ(c.size.FarLargerThanHeld(), c.farLarger) << c.address;
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
