// Excel 2.x-4.x files (BIFF2, BIFF3, BIFF4 worksheets and BIFF4W workbooks) through the
// .xls reader: sheet lists, cells, formats, layout and damage.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "old_biff_test_files.h"
#include "platform/error.h"
#include "sheet_dump.h"
#include "spreadsheet/workbook_source.h"
#include "spreadsheet/xls/xls_reader.h"
#include "temp_dir.h"

namespace cellverter {
namespace {

using namespace testing_support;

const std::string kData = CELLVERTER_TEST_DATA "/xls/";

struct Fixture {
  const char* file;
  std::function<std::string()> write;
};

const std::vector<Fixture>& Fixtures() {
  static const std::vector<Fixture> fixtures = {
      {"old-biff2.xls", [] { return OldBiffWorksheet(2); }},
      {"old-biff3.xls", [] { return OldBiffWorksheet(3); }},
      {"old-biff4.xls", [] { return OldBiffWorksheet(4); }},
      {"old-biff4w.xls", [] { return OldBiffWorkbook(); }},
  };
  return fixtures;
}

// The committed fixtures are what the writer makes; CELLVERTER_WRITE_FIXTURES=1 writes them
// again after a change of the writer.
TEST(OldBiffFixtures, AreWhatTheWriterMakes) {
  const bool write = std::getenv("CELLVERTER_WRITE_FIXTURES") != nullptr;
  for (const Fixture& fixture : Fixtures()) {
    if (write) WriteBytes(kData + fixture.file, fixture.write());
    EXPECT_EQ(ReadBytes(kData + fixture.file), fixture.write()) << fixture.file;
  }
}

std::unique_ptr<WorkbookSource> OpenFile(const TempDir& dir, const std::string& name,
                                         const std::string& bytes) {
  WriteBytes(dir / name, bytes);
  return OpenXlsWorkbook(dir / name);
}

// The cells of the worksheet fixture, as every version reads them: BIFF2 has INTEGER where
// the others have RK, and its percentage is a NUMBER.
class OldBiffVersions : public ::testing::TestWithParam<int> {};

TEST_P(OldBiffVersions, ServeTheCellsWithTheirFormatsAndLayout) {
  const int version = GetParam();
  TempDir dir;
  auto workbook = OpenFile(dir, "Report 1.xls", OldBiffWorksheet(version));
  // Excel names a worksheet file's one sheet after the file.
  EXPECT_EQ(ListOf(*workbook), "Report 1/worksheet/visible ");
  auto sheet = workbook->OpenSheet(0);
  EXPECT_FALSE(sheet->Date1904());
  EXPECT_EQ(sheet->LastRow(), 6u);
  EXPECT_EQ(sheet->LastColumn(), 4u);
  const std::string percent = version == 2 ? "N0.125" : "N12.5";
  EXPECT_EQ(Dump(*sheet),
            "R1C1=S'Name' R1C2=S'Value' R1C3=S'Formula' R1C4=S'Hidden column' "
            "R2C1=S'Привет' R2C2=N1.5 R2C3=N3.25 R2C4=N7 "
            "R3C1=S'date' R3C2=N40000.25 R3C3=S'text result' "
            "R4C1=S'hidden row' R4C2=N42 R4C3=TRUE "
            "R5C1=S'flags' R5C2=FALSE R5C3=E#DIV/0! R5C4=E#N/A "
            "R6C1=S'percent' R6C2=" +
                percent + " R6C3=_");
  // The formats by the position of their FORMAT records; a cell's format index points there.
  sheet->Rewind();
  SheetRow row;
  std::vector<std::string> codes;
  while (sheet->NextRow(row)) {
    for (const SheetCell& cell : row.cells) {
      if (cell.column == 2) codes.push_back(sheet->CellFormat(cell.styleIndex).code);
    }
  }
  EXPECT_EQ(codes, (std::vector<std::string>{"General", "0.000", "dd/mm/yyyy", "General", "General",
                                             "0.0%"}));
  EXPECT_EQ(sheet->Layout().hiddenRows, (std::vector<LineSpan>{{4, 4}}));
  EXPECT_EQ(sheet->Layout().hiddenColumns, (std::vector<LineSpan>{{4, 4}}));
  // The text formula's STRING record was found where it belongs.
  EXPECT_EQ(sheet->Layout().formulasWithoutValue, 0u);
  EXPECT_TRUE(workbook->Repairs().Notes().empty());
}

INSTANTIATE_TEST_SUITE_P(Worksheets, OldBiffVersions, ::testing::Values(2, 3, 4),
                         [](const auto& testInfo) {
                           return "Biff" + std::to_string(testInfo.param);
                         });

// A BIFF4W workbook lists its sheets by the names its globals give them, with the kind their
// own BOF says; each worksheet is served with its own cells and formats.
TEST(OldBiffWorkbook, ListsItsSheetsAndOpensEachWorksheet) {
  TempDir dir;
  auto workbook = OpenFile(dir, "book.xls", OldBiffWorkbook());
  EXPECT_EQ(ListOf(*workbook),
            "Data/worksheet/visible Macro1/macro/visible Chart1/chart/visible "
            "Раз/worksheet/visible ");
  auto second = workbook->OpenSheet(3);
  EXPECT_EQ(Dump(*second), "R1C1=S'second' R1C2=N2");
  SheetRow row;
  second->Rewind();
  ASSERT_TRUE(second->NextRow(row));
  EXPECT_EQ(second->CellFormat(row.cells[1].styleIndex).code, "0.00");
  auto first = workbook->OpenSheet(0);
  EXPECT_EQ(first->LastRow(), 6u);
  EXPECT_EQ(first->Layout().hiddenRows, (std::vector<LineSpan>{{4, 4}}));
}

// Sheets without a name record (or with one cut short) are named by position; a substream of
// no sheet kind is left out; sheets may follow the globals' EOF as well as lie inside them,
// and a chart embedded in a sheet is no sheet of its own.
TEST(OldBiffWorkbook, NamesUnnamedSheetsAndFindsSheetsAfterTheGlobals) {
  OldBiffWriter w(4);
  const std::string sheet = w.Bof(0x0010) + w.Number(0, 0, 1) + Eof();
  const std::string module = w.Bof(0x0006) + Eof();
  // A worksheet with an embedded chart's substream, which is no sheet of the workbook.
  const std::string withChart = w.Bof(0x0010) + w.Number(0, 0, 1) + w.Bof(0x0020) + Eof() + Eof();
  TempDir dir;
  auto workbook = OpenFile(dir, "book.xls",
                           w.Bof(0x0100) + sheet +
                               Record(0x008F, std::string("\x09"
                                                          "cut",
                                                          4)) +
                               module + Eof() + Record(0x008F, OldBiffWriter::ByteString("After")) +
                               withChart + sheet);
  EXPECT_EQ(ListOf(*workbook),
            "Sheet1/worksheet/visible After/worksheet/visible Sheet3/worksheet/visible ");
  EXPECT_EQ(Dump(*workbook->OpenSheet(2)), "R1C1=N1");
}

// BIFF2 details: the cell's own format position (whatever its XF index says, so an XF index
// of 63 with its IXFE record still finds it), the 1904 date system, a format past the
// FORMAT records (General, as LibreOffice shows it), text formulas' one-byte STRING length.
struct Biff2Case {
  const char* name;
  std::string records;
  const char* cells;
  const char* format;  // of the cell in row 1, column 1
};

class Biff2Cells : public ::testing::TestWithParam<Biff2Case> {};

TEST_P(Biff2Cells, AreReadWithTheirOwnFormat) {
  OldBiffWriter w(2);
  TempDir dir;
  auto workbook =
      OpenFile(dir, "old.xls",
               w.Bof(0x0010) + w.Format("General") + w.Format("0.0") + GetParam().records + Eof());
  auto sheet = workbook->OpenSheet(0);
  EXPECT_EQ(Dump(*sheet), GetParam().cells);
  sheet->Rewind();
  SheetRow row;
  ASSERT_TRUE(sheet->NextRow(row));
  EXPECT_EQ(sheet->CellFormat(row.cells[0].styleIndex).code, GetParam().format);
}

INSTANTIATE_TEST_SUITE_P(
    Records, Biff2Cells,
    ::testing::Values(
        Biff2Case{
            "IxfeBeforeTheCell",
            Record(0x0044, Le16(70)) +
                Record(0x0003, Le16(0) + Le16(0) + std::string{'\x3F', '\x01', '\0'} + F64(2.5)),
            "R1C1=N2.5", "0.0"},
        Biff2Case{"FormatPastTheRecords", OldBiffWriter::Integer(0, 0, 65535, 9), "R1C1=N65535",
                  ""},
        Biff2Case{"TextFormulaThenBlank",
                  OldBiffWriter(2).FormulaText(0, 0, "ab", 1) + OldBiffWriter(2).Blank(0, 1),
                  "R1C1=S'ab' R1C2=_", "0.0"},
        Biff2Case{"RowsOutOfOrder",
                  OldBiffWriter(2).Number(1, 0, 2) + OldBiffWriter(2).Number(0, 0, 1, 1),
                  "R1C1=N1 R2C1=N2", "0.0"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(OldBiff, DateModeGivesThe1904System) {
  OldBiffWriter w(3);
  TempDir dir;
  auto workbook = OpenFile(
      dir, "old.xls", w.Bof(0x0010) + OldBiffWriter::DateMode(true) + w.Number(0, 0, 1) + Eof());
  EXPECT_TRUE(workbook->OpenSheet(0)->Date1904());
}

// The dispatcher sends bare old files to the .xls reader whatever their name.
TEST(OldBiff, OpensThroughTheDispatcherByContent) {
  TempDir dir;
  WriteBytes(dir / "old.xlsx", OldBiffWorksheet(4));
  auto source = OpenWorkbookSource(dir / "old.xlsx");
  EXPECT_EQ(source->LastRow(), 6u);
}

// ---------------------------------------------------------------------------------------

struct FailureCase {
  const char* name;
  std::function<std::string()> bytes;
  const char* cause;
  ErrorKind kind;
};

class OldBiffFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(OldBiffFailures, GiveAClearError) {
  TempDir dir;
  WriteBytes(dir / "old.xls", GetParam().bytes());
  std::string message = "<no error>";
  ErrorKind kind = ErrorKind::kOther;
  try {
    auto workbook = OpenXlsWorkbook(dir / "old.xls");
    auto sheet = workbook->OpenSheet(0);
    SheetRow row;
    while (sheet->NextRow(row)) {
    }
  } catch (const Error& error) {
    message = error.what();
    kind = error.Kind();
  }
  EXPECT_NE(message.find(GetParam().cause), std::string::npos) << message;
  EXPECT_EQ(kind, GetParam().kind) << message;
}

std::string Worksheet(int version, const std::string& records) {
  return OldBiffWriter(version).Bof(0x0010) + records + Eof();
}

INSTANTIATE_TEST_SUITE_P(
    Files, OldBiffFailures,
    ::testing::Values(
        FailureCase{"FilePass",
                    [] {
                      return Worksheet(
                          4, OldBiffWriter::FilePass() + OldBiffWriter(4).Number(0, 0, 1));
                    },
                    "the workbook is protected by a password", ErrorKind::kPasswordProtected},
        FailureCase{"FilePassInWorkbookGlobals",
                    [] {
                      OldBiffWriter w(4);
                      return w.Bof(0x0100) + OldBiffWriter::FilePass() + Worksheet(4, "") + Eof();
                    },
                    "the workbook is protected by a password", ErrorKind::kPasswordProtected},
        FailureCase{"UnknownBofType", [] { return OldBiffWriter(3).Bof(0x0100) + Eof(); },
                    "a BOF record of an unknown type", ErrorKind::kDamaged},
        // Bare, such a file is no workbook at all; in a compound file it is a damaged one.
        FailureCase{"BofTooShort",
                    [] {
                      return WriteCompoundFile({{"Book", Record(0x0209, Le16(0)) + Eof()}}).bytes;
                    },
                    "does not start with a BOF record", ErrorKind::kDamaged},
        FailureCase{"RecordCutOff",
                    [] {
                      const std::string file = OldBiffWorksheet(3);
                      return file.substr(0, file.size() - 6);
                    },
                    "a record is cut off", ErrorKind::kDamaged},
        FailureCase{"NoEnd",
                    [] {
                      const std::string file = OldBiffWorksheet(2);
                      return file.substr(0, file.size() - 4);
                    },
                    "have no end", ErrorKind::kDamaged},
        FailureCase{"LabelLongerThanItsRecord",
                    [] {
                      return Worksheet(2, Record(0x0004, Le16(0) + Le16(0) + std::string(3, '\0') +
                                                             "\xFF" + "abc"));
                    },
                    "a cell record is too short", ErrorKind::kDamaged},
        FailureCase{"Biff3LabelLongerThanItsRecord",
                    [] {
                      return Worksheet(
                          3, Record(0x0204, Le16(0) + Le16(0) + Le16(0) + Le16(0xFFFF) + "abc"));
                    },
                    "a text cell is too short", ErrorKind::kDamaged},
        FailureCase{"Biff2CellTooShort",
                    [] { return Worksheet(2, Record(0x0003, Le16(0) + Le16(0) + "\0\0\0")); },
                    "a cell record is too short", ErrorKind::kDamaged},
        FailureCase{"FormatLongerThanItsRecord",
                    [] { return Worksheet(4, Record(0x041E, Le16(0) + "\xF0" + "0.0")); },
                    "a FORMAT record is too short", ErrorKind::kDamaged},
        FailureCase{"StringLongerThanItsRecord",
                    [] {
                      OldBiffWriter w(2);
                      std::string records = w.FormulaText(0, 0, "abc");
                      records[records.size() - 4] = '\x7F';  // the STRING's length byte
                      return Worksheet(2, records);
                    },
                    "a formula's text is cut off", ErrorKind::kDamaged},
        FailureCase{"NestedTooDeeply",
                    [] {
                      std::string bytes;
                      for (int i = 0; i < 70; ++i) bytes += OldBiffWriter(4).Bof(0x0010);
                      return bytes;
                    },
                    "nested too deeply", ErrorKind::kDamaged},
        FailureCase{"ChartFileHasNoWorksheet", [] { return OldBiffWriter(4).Bof(0x0020) + Eof(); },
                    "is not a worksheet", ErrorKind::kNoSuchSheet}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace cellverter
