#include "spreadsheet/xls/xls_reader.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <functional>

#include "platform/error.h"
#include "sheet_dump.h"
#include "temp_dir.h"
#include "xls_test_files.h"

namespace cellverter {
namespace {

using namespace testing_support;

std::string Sheet(const std::string& records) {
  return WorkbookStream("", {{0, 0x10, 0, records}});
}

// Opens `stream` stored as `streamName` in a fresh compound file.
std::unique_ptr<SheetSource> OpenStream(const TempDir& dir, const std::string& stream,
                                        const std::string& streamName = "Workbook") {
  WriteBytes(dir / "book.xls", WriteCompoundFile({{streamName, stream}}).bytes);
  return OpenXlsSource(dir / "book.xls");
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& error) {
    return error.what();
  }
  return "<no error>";
}

// ---------------------------------------------------------------------------------------
// One table per kind of cell record.

struct CellCase {
  const char* name;
  std::string globals;  // between the globals' BOF and the sheet list
  std::string records;  // the worksheet's records
  const char* expected;
};

class CellRecords : public ::testing::TestWithParam<CellCase> {};

TEST_P(CellRecords, GiveTheirValues) {
  const CellCase& c = GetParam();
  TempDir dir;
  auto source = OpenStream(dir, WorkbookStream(c.globals, {{0, 0x10, 0, c.records}}));
  EXPECT_EQ(Dump(*source), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, CellRecords,
    ::testing::Values(CellCase{"RkInteger", "",
                               Rk(0, 0, 5u << 2 | 2) + Rk(0, 1, static_cast<uint32_t>(-3 << 2) | 2),
                               "R1C1=N5 R1C2=N-3"},
                      CellCase{"RkIntegerHundredths", "", Rk(0, 0, 1234u << 2 | 3), "R1C1=N12.34"},
                      CellCase{"RkDouble", "", Rk(0, 0, 0x3FF80000) + Rk(0, 1, 0x3FF80000 | 1),
                               "R1C1=N1.5 R1C2=N0.015"},
                      CellCase{"MulRk", "",
                               Record(0x00BD, Le16(2) + Le16(1) + Le16(15) + Le32(7u << 2 | 2) +
                                                  Le16(16) + Le32(0x3FF80000) + Le16(15) +
                                                  Le32(150u << 2 | 3) + Le16(3)),
                               "R3C2=N7 R3C3=N1.5 R3C4=N1.5"}),
    [](const auto& testInfo) { return testInfo.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Texts, CellRecords,
    ::testing::Values(
        CellCase{
            "RStringRunsIgnored", "",
            Record(0x00D6, CellHead(0, 0, 0) + Compressed("rich") + Le16(1) + Le16(0) + Le16(1)),
            "R1C1=S'rich'"},
        // A count that the strings do not back reserves nothing and reads what is there.
        CellCase{"SharedStringCountLargerThanItsStrings",
                 Record(0x00FC, Le32(0xFFFFFFFF) + Le32(0xFFFFFFFF) + Compressed("only")),
                 LabelSst(0, 0, 0), "R1C1=S'only'"}),
    [](const auto& testInfo) { return testInfo.param.name; });

INSTANTIATE_TEST_SUITE_P(Blanks, CellRecords,
                         ::testing::Values(CellCase{
                             "BlankAndMulBlank", "",
                             Blank(0, 3) + Record(0x00BE, Le16(1) + Le16(0) + Le16(15) + Le16(16) +
                                                              Le16(17) + Le16(2)),
                             "R1C4=_ R2C1=_ R2C2=_ R2C3=_"}),
                         [](const auto& testInfo) { return testInfo.param.name; });

const std::string kShrFmla = Record(0x04BC, std::string(10, '\0'));

INSTANTIATE_TEST_SUITE_P(
    FormulaResults, CellRecords,
    ::testing::Values(
        CellCase{"Number", "", Formula(0, 0, F64(2.25)), "R1C1=N2.25"},
        CellCase{"TextFromStringRecord", "",
                 Formula(0, 0, FormulaSpecial(0, 0)) + kShrFmla +
                     Record(0x0207, Compressed("result")) + Number(0, 1, 1),
                 "R1C1=S'result' R1C2=N1"},
        CellCase{"TextContinuedWithWiderCharacters", "",
                 Formula(0, 0, FormulaSpecial(0, 0)) + Record(0x0207, Le16(4) + '\0' + "ab") +
                     Record(0x003C, '\1' + Le16(u'γ') + Le16(u'δ')),
                 "R1C1=S'abγδ'"},
        CellCase{"Boolean", "",
                 Formula(0, 0, FormulaSpecial(1, 1)) + Formula(0, 1, FormulaSpecial(1, 0)),
                 "R1C1=TRUE R1C2=FALSE"},
        CellCase{"Error", "", Formula(0, 0, FormulaSpecial(2, 0x2A)), "R1C1=E#N/A"},
        CellCase{"EmptyText", "", Formula(0, 0, FormulaSpecial(3, 0)), "R1C1=S''"},
        CellCase{"TextWithoutStringRecord", "",
                 Formula(0, 0, FormulaSpecial(0, 0)) + Number(0, 1, 4), "R1C1=S'' R1C2=N4"}),
    [](const auto& testInfo) { return testInfo.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Order, CellRecords,
    ::testing::Values(
        // Rows and columns out of order (some writers do this) come out sorted; a cell
        // written twice keeps its last value.
        CellCase{"RowsOutOfOrder", "",
                 Number(4, 0, 5) + Number(0, 1, 1) + Number(4, 1, 6) + Number(0, 0, 0),
                 "R1C1=N0 R1C2=N1 R5C1=N5 R5C2=N6"},
        CellCase{"ColumnsOutOfOrderAndDuplicate", "",
                 Number(0, 2, 3) + Number(0, 0, 1) + Number(0, 2, 4), "R1C1=N1 R1C3=N4"},
        CellCase{"FormulaTextOutOfRowOrder", "",
                 Formula(3, 0, FormulaSpecial(0, 0)) + Record(0x0207, Compressed("late")) +
                     Number(0, 0, 1),
                 "R1C1=N1 R4C1=S'late'"},
        // An embedded chart's substream sits inside the worksheet; its records are not cells.
        CellCase{"EmbeddedChartSkipped", "",
                 Number(0, 0, 1) + Bof(0x0020) + Number(0, 5, 99) + Eof() + Number(1, 0, 2),
                 "R1C1=N1 R2C1=N2"}),
    [](const auto& testInfo) { return testInfo.param.name; });

// ---------------------------------------------------------------------------------------
// Shared strings whose records are split by CONTINUE records at every kind of place.

struct SstCase {
  const char* name;
  std::vector<std::string> records;  // SST body after its counts, then each CONTINUE body
  uint32_t count;
  const char* expected;
};

class SharedStrings : public ::testing::TestWithParam<SstCase> {};

TEST_P(SharedStrings, AreJoinedAcrossContinueRecords) {
  const SstCase& c = GetParam();
  std::string globals = Record(0x00FC, Le32(c.count) + Le32(c.count) + c.records[0]);
  for (size_t i = 1; i < c.records.size(); ++i) globals += Record(0x003C, c.records[i]);
  std::string cells;
  for (uint32_t i = 0; i < c.count; ++i) cells += LabelSst(0, static_cast<uint16_t>(i), i);
  TempDir dir;
  auto source = OpenStream(dir, WorkbookStream(globals, {{0, 0x10, 0, cells}}));
  EXPECT_EQ(Dump(*source), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Splits, SharedStrings,
    ::testing::Values(SstCase{"CompressedThenUtf16",
                              {Le16(6) + '\0' + "abc", '\1' + Le16(u'd') + Le16(u'é') + Le16(u'ƒ')},
                              1,
                              "R1C1=S'abcdéƒ'"},
                      SstCase{"Utf16ThenCompressed",
                              {Le16(4) + '\1' + Le16(u'Ω') + Le16(u'x'), std::string("\0yz", 3)},
                              1,
                              "R1C1=S'Ωxyz'"},
                      SstCase{"SurrogatePairAcrossRecords",
                              {Le16(2) + '\1' + Le16(0xD83D), '\1' + Le16(0xDE00)},
                              1,
                              "R1C1=S'😀'"},
                      SstCase{"NextStringStartsInContinueWithoutOptionByte",
                              {Compressed("one"), Compressed("two")},
                              2,
                              "R1C1=S'one' R1C2=S'two'"},
                      SstCase{"HeaderEndsAtRecordEnd",
                              {Compressed("one") + Le16(3) + '\1', '\0' + std::string("two")},
                              2,
                              "R1C1=S'one' R1C2=S'two'"},
                      SstCase{"RichRunsAndPhoneticBlockSkipped",
                              {Le16(3) + '\x0C' + Le16(2) + Le32(6) + "abc" + std::string(8, 'r') +
                               std::string(6, 'p') + Compressed("next")},
                              2,
                              "R1C1=S'abc' R1C2=S'next'"},
                      SstCase{"RunsSplitAcrossRecords",
                              {Le16(3) + '\x08' + Le16(2) + "abc" + std::string(5, 'r'),
                               std::string(3, 'r') + Compressed("next")},
                              2,
                              "R1C1=S'abc' R1C2=S'next'"}),
    [](const auto& testInfo) { return testInfo.param.name; });

// ---------------------------------------------------------------------------------------
// Which sheet is the first worksheet.

const SheetSpec kWorksheet{0, 0x10, 0, Number(0, 0, 1)};
const SheetSpec kChart{2, 0x20, 0, Number(0, 0, 2)};
const SheetSpec kDialog{0, 0x10, 0, WsBool(true) + Number(0, 0, 4)};

// The sheet list says worksheet, the substream's BOF says chart: the BOF decides. (Sheet kinds,
// visibility and order in both formats: reader_contract_test.cpp.)
TEST(SheetChoice, AChartSubstreamListedAsAWorksheetIsSkipped) {
  TempDir dir;
  auto source = OpenStream(dir, WorkbookStream("", {{0, 0x20, 0, Number(0, 0, 6)}, kWorksheet}));
  EXPECT_EQ(Dump(*source), "R1C1=N1");
}

// ---------------------------------------------------------------------------------------
// The sheet list, and each worksheet opened from it.

std::unique_ptr<WorkbookSource> OpenBook(const TempDir& dir, const std::string& stream,
                                         const std::string& streamName = "Workbook") {
  WriteBytes(dir / "book.xls", WriteCompoundFile({{streamName, stream}}).bytes);
  return OpenXlsWorkbook(dir / "book.xls");
}

std::string ListOf(const WorkbookSource& workbook) {
  std::string out;
  for (const SheetEntry& sheet : workbook.Sheets()) {
    const char* kinds[] = {"worksheet", "chart", "dialog", "macro"};
    const char* visibilities[] = {"visible", "hidden", "veryhidden"};
    out += sheet.name + "/" + kinds[static_cast<int>(sheet.kind)] + "/" +
           visibilities[static_cast<int>(sheet.visibility)] + " ";
  }
  return out;
}

ErrorKind KindOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& error) {
    return error.Kind();
  }
  return ErrorKind::kOther;
}

// Every kind of sheet, in an order that puts worksheets behind each other kind; the last
// worksheet's cells are out of row order.
std::vector<SheetSpec> EveryKindOfSheet() {
  std::vector<SheetSpec> sheets = {
      {0, 0x10, 0, Number(0, 0, 1), "Alpha"},
      {2, 0x20, 0, Number(0, 0, 90), "Chart"},
      {6, 0x06, 0, "", "Module"},
      {0, 0x10, 1, Number(2, 3, 2), "", u"Бета Ω"},
      {0, 0x10, 0, WsBool(true) + Number(0, 0, 91), "Dialog"},
      {1, 0x40, 1, Number(0, 0, 92), "Macro"},
      {0, 0x10, 2, WsBool(false) + Number(4, 1, 4) + Number(0, 0, 3), "Gamma \xE9t\xE9"},
  };
  return sheets;
}

TEST(SheetList, GivesEverySheetButModulesWithNameKindAndVisibility) {
  TempDir dir;
  auto workbook = OpenBook(dir, WorkbookStream("", EveryKindOfSheet()));
  EXPECT_EQ(ListOf(*workbook),
            "Alpha/worksheet/visible Chart/chart/visible Бета Ω/worksheet/hidden "
            "Dialog/dialog/visible Macro/macro/hidden Gamma été/worksheet/veryhidden ");
}

// BIFF5 names are the code page's bytes, whether CODEPAGE comes before the sheet list (as
// Excel writes it) or after it.
TEST(SheetList, Biff5NamesAreReadInTheWorkbookCodePage) {
  const std::string codePage = Record(0x0042, Le16(1251));
  const std::vector<SheetSpec> sheets = {{0, 0x10, 0, Number(0, 0, 1), "\xCF\xF0\xE8\xE2\xE5\xF2"},
                                         {2, 0x20, 0, "", "Chart"}};
  for (bool codePageFirst : {true, false}) {
    TempDir dir;
    auto workbook = OpenBook(
        dir,
        WorkbookStream(codePageFirst ? codePage : "", sheets, false, codePageFirst ? "" : codePage),
        "Book");
    EXPECT_EQ(ListOf(*workbook), "Привет/worksheet/visible Chart/chart/visible ") << codePageFirst;
  }
}

// One workbook serves its worksheets one after the other, each with its own cells, used
// range and order, whichever was read before.
TEST(SheetList, OpensEachWorksheetWithItsOwnCells) {
  TempDir dir;
  auto workbook = OpenBook(dir, WorkbookStream("", EveryKindOfSheet()));
  struct Expectation {
    size_t position;
    uint32_t lastRow, lastColumn;
    const char* cells;
  };
  for (const Expectation& e :
       {Expectation{5, 5, 2, "R1C1=N3 R5C2=N4"}, Expectation{0, 1, 1, "R1C1=N1"},
        Expectation{2, 3, 4, "R3C4=N2"}, Expectation{5, 5, 2, "R1C1=N3 R5C2=N4"}}) {
    auto sheet = workbook->OpenSheet(e.position);
    EXPECT_EQ(sheet->LastRow(), e.lastRow) << e.position;
    EXPECT_EQ(sheet->LastColumn(), e.lastColumn) << e.position;
    EXPECT_EQ(Dump(*sheet), e.cells) << e.position;
  }
}

// Opening a sheet moves the reader the sheets share, whether the opening ends well or in
// damage: the sheet opened before tells so rather than serve the other's records, and a
// rewind takes it up again.
TEST(SheetList, ASheetReadAfterAnotherWasOpenedMustRewind) {
  TempDir dir;
  auto workbook = OpenBook(
      dir, WorkbookStream("", {{0, 0x10, 0, Number(0, 0, 1) + Number(1, 0, 2), "First"},
                               {0, 0x10, 0, Number(5, 5, 6), "Good"},
                               {0, 0x10, 0, Number(5, 5, 7) + Record(0x0203, Le16(0)), "Bad"}}));
  for (size_t other : {1, 2}) {
    auto first = workbook->OpenSheet(0);
    SheetRow row;
    ASSERT_TRUE(first->NextRow(row));
    try {
      workbook->OpenSheet(other);
    } catch (const Error&) {
    }
    EXPECT_THROW(first->NextRow(row), Error) << other;
    first->Rewind();
    EXPECT_EQ(Dump(*first), "R1C1=N1 R2C1=N2") << other;
  }
}

TEST(SheetList, OpeningWhatIsNoWorksheetIsRefused) {
  TempDir dir;
  auto workbook = OpenBook(dir, WorkbookStream("", EveryKindOfSheet()));
  for (size_t position : {size_t{1}, size_t{3}, size_t{4}, size_t{6}, size_t{1000}}) {
    EXPECT_EQ(KindOf([&] { workbook->OpenSheet(position); }), ErrorKind::kNoSuchSheet) << position;
  }
}

// Repairs of the globals are the workbook's and start each sheet's list; a sheet's own stay
// with it.
TEST(SheetList, EachSheetStartsWithTheWorkbookRepairs) {
  const std::string globals = Xf(0) + Record(0x00FC, Le32(5) + Le32(5) + Compressed("only"));
  TempDir dir;
  auto workbook = OpenBook(dir, WorkbookStream(globals, {{0, 0x10, 0, Number(0, 0, 1, 7), "A"},
                                                         {0, 0x10, 0, Number(0, 0, 2), "B"}}));
  EXPECT_EQ(workbook->Repairs().Notes(), std::vector<std::string>{kSharedStringCountRepair});
  auto first = workbook->OpenSheet(0);
  EXPECT_EQ(first->Repairs().Notes(),
            (std::vector<std::string>{kSharedStringCountRepair, kMissingCellFormatRepair}));
  auto second = workbook->OpenSheet(1);
  EXPECT_EQ(second->Repairs().Notes(), std::vector<std::string>{kSharedStringCountRepair});
}

// A damaged sheet list stops the workbook; a sheet that lies outside the stream stops only
// the opening of that sheet.
TEST(SheetList, DamageIsTold) {
  struct Case {
    const char* name;
    std::string stream;
    bool biff8;
  };
  std::string longBiff8 = WorkbookStream("", {kWorksheet});
  longBiff8[longBiff8.find(std::string("\x85\x00", 2)) + 10] = '\x7F';
  std::string longBiff5 = WorkbookStream("", {kWorksheet}, false);
  longBiff5[longBiff5.find(std::string("\x85\x00", 2)) + 10] = '\x7F';
  const std::vector<Case> cases = {
      {"Biff8NameLongerThanItsRecord", longBiff8, true},
      {"Biff5NameLongerThanItsRecord", longBiff5, false},
      {"TooManySheets", WorkbookStream("", std::vector<SheetSpec>(0x10000, {2, 0x20, 0, "", "C"})),
       true},
  };
  for (const Case& c : cases) {
    TempDir dir;
    EXPECT_EQ(KindOf([&] { OpenBook(dir, c.stream, c.biff8 ? "Workbook" : "Book"); }),
              ErrorKind::kDamaged)
        << c.name;
  }

  std::string stream = WorkbookStream("", {kWorksheet, kWorksheet});
  const size_t second =
      stream.find(std::string("\x85\x00", 2), stream.find(std::string("\x85\x00", 2)) + 1);
  Put32(stream, second + 4, 0x7FFFFFF0);
  TempDir dir;
  auto workbook = OpenBook(dir, stream);
  ASSERT_EQ(workbook->Sheets().size(), 2u);
  EXPECT_EQ(Dump(*workbook->OpenSheet(0)), "R1C1=N1");
  EXPECT_EQ(KindOf([&] { workbook->OpenSheet(1); }), ErrorKind::kDamaged);
}

// ---------------------------------------------------------------------------------------
// The last used cell.

struct LastCellCase {
  const char* name;
  std::string records;
  uint32_t lastRow, lastColumn;
  uint64_t cellsHeld;
};

class LastCell : public ::testing::TestWithParam<LastCellCase> {};

TEST_P(LastCell, CountsValuesAndStyledBlanks) {
  TempDir dir;
  auto source = OpenStream(dir, Sheet(GetParam().records));
  EXPECT_EQ(source->LastRow(), GetParam().lastRow);
  EXPECT_EQ(source->LastColumn(), GetParam().lastColumn);
  EXPECT_EQ(source->CellsHeld(), GetParam().cellsHeld);
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, LastCell,
    ::testing::Values(
        LastCellCase{
            "MulBlankWidensColumns",
            Number(4, 0, 1) + Record(0x00BE, Le16(1) + Le16(2) + Le16(15) + Le16(15) + Le16(3)), 5,
            4, 3},
        // DIMENSION is only what the writer claims; the cells decide.
        LastCellCase{
            "DimensionIgnored",
            Record(0x0200, Le32(0) + Le32(100) + Le16(0) + Le16(50) + Le16(0)) + Number(1, 1, 1), 2,
            2, 1},
        LastCellCase{"LastPossibleCell", Number(65535, 255, 1), 65536, 256, 1},
        LastCellCase{"ChartCellsNotCounted",
                     Number(0, 0, 1) + Bof(0x0020) + Number(90, 90, 1) + Eof(), 1, 1, 1}),
    [](const auto& testInfo) { return testInfo.param.name; });

// ---------------------------------------------------------------------------------------
// Cell formats and the date system.

TEST(XlsFormats, XfRecordsGiveTheNumberFormatOfEachCell) {
  const std::string globals = Record(0x0022, Le16(1)) + Format8(164, "0.000") +
                              Format8(14, "yyyy") + Record(0x041E, Le16(5) + Utf16(u"\"€\"#,##0")) +
                              Record(0x041E, Le16(31) + Utf16(u"yyyy年m月d日")) + Xf(0) + Xf(164) +
                              Xf(14) + Xf(5) + Xf(10) + Xf(200) + Xf(31);
  TempDir dir;
  auto source = OpenStream(dir, WorkbookStream(globals, {{0, 0x10, 0, Number(0, 0, 1, 1)}}));
  EXPECT_TRUE(source->Date1904());
  struct Expectation {
    uint32_t style;
    int builtInId;
    std::string code;
  };
  // 14 (the short date) stays built-in so that it follows the user's locale; 5 (currency)
  // and 31 (an East Asian date) take the file's code; 200 has no FORMAT record and stays a
  // bare id.
  for (const Expectation& e : std::vector<Expectation>{{0, 0, ""},
                                                       {1, 0, "0.000"},
                                                       {2, 14, ""},
                                                       {3, 0, "\"€\"#,##0"},
                                                       {4, 10, ""},
                                                       {5, 200, ""},
                                                       {6, 0, "yyyy年m月d日"},
                                                       {99, 0, ""}}) {
    const NumberFormatRef format = source->CellFormat(e.style);
    EXPECT_EQ(format.builtInId, e.builtInId) << e.style;
    EXPECT_EQ(format.code, e.code) << e.style;
  }
  SheetRow row;
  ASSERT_TRUE(source->NextRow(row));
  EXPECT_EQ(row.cells.at(0).styleIndex, 1u);
}

// ---------------------------------------------------------------------------------------
// Excel 5/95 workbooks: 8-bit text in the workbook's code page.

TEST(XlsBiff5, ReadsBookStreamInItsCodePage) {
  const std::string cyrillic = "\xCF\xF0\xE8\xE2\xE5\xF2";  // "Привет" in windows-1251
  const std::string globals = Record(0x0042, Le16(1251)) +
                              Record(0x041E, Le16(164) + '\x05' +
                                                 "0.0\xB0"
                                                 "C") +
                              Record(0x00E0, Le16(0) + Le16(164) + std::string(12, '\0'));
  const std::string records = Record(0x0204, CellHead(0, 0, 0) + Le16(6) + cyrillic) +
                              Number(0, 1, 21.5) + Formula(0, 2, FormulaSpecial(0, 0)) +
                              Record(0x0207, Le16(3) + "\xE4\xE0!");
  TempDir dir;
  auto source = OpenStream(dir, WorkbookStream(globals, {{0, 0x10, 0, records}}, false), "Book");
  EXPECT_EQ(Dump(*source), "R1C1=S'Привет' R1C2=N21.5 R1C3=S'да!'");
  EXPECT_EQ(source->CellFormat(0).code, "0.0°C");
}

TEST(XlsBiff5, WithoutCodePageRecordReadsWindows1252) {
  TempDir dir;
  auto source = OpenStream(
      dir,
      WorkbookStream(
          "", {{0, 0x10, 0, Record(0x0204, CellHead(0, 0, 0) + Le16(4) + "\x80 \xE9\x9C")}}, false),
      "Book");
  EXPECT_EQ(Dump(*source), "R1C1=S'€ éœ'");
}

// ---------------------------------------------------------------------------------------
// Reading again.

TEST(XlsReader, RewindServesTheSameRowsAgain) {
  TempDir dir;
  // Cells in row order, and out of it.
  for (const std::string& records : {Number(0, 0, 1) + Number(2, 0, 3) + Number(2, 1, 2),
                                     Number(2, 1, 2) + Number(0, 0, 1) + Number(2, 0, 3)}) {
    auto source = OpenStream(dir, Sheet(records));
    EXPECT_EQ(Dump(*source), "R1C1=N1 R3C1=N3 R3C2=N2");
    source->Rewind();
    EXPECT_EQ(Dump(*source), "R1C1=N1 R3C1=N3 R3C2=N2");
  }
}

// ---------------------------------------------------------------------------------------
// Failures: each names the file and says what is wrong.

struct FailureCase {
  const char* name;
  std::function<std::string()> file;  // the bytes of the file
  const char* cause;
  ErrorKind kind;
};

class XlsFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(XlsFailures, GiveAClearError) {
  TempDir dir;
  const std::string path = dir / "broken.xls";
  WriteBytes(path, GetParam().file());
  std::string message = "<no error>";
  ErrorKind kind = ErrorKind::kOther;
  try {
    auto source = OpenXlsSource(path);
    SheetRow row;
    while (source->NextRow(row)) {
    }
  } catch (const Error& error) {
    message = error.what();
    kind = error.Kind();
  }
  EXPECT_EQ(message.find("Cannot open \"" + path + "\": "), 0u) << message;
  EXPECT_NE(message.find(GetParam().cause), std::string::npos) << message;
  EXPECT_EQ(kind, GetParam().kind) << message;
}

std::string InCompoundFile(const std::string& stream, const std::string& name = "Workbook") {
  return WriteCompoundFile({{name, stream}}).bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, XlsFailures,
    ::testing::Values(
        FailureCase{"PasswordProtected",
                    [] {
                      return InCompoundFile(
                          WorkbookStream(Record(0x002F, std::string(54, '\1')), {kWorksheet}));
                    },
                    "the workbook is protected by a password", ErrorKind::kPasswordProtected},
        FailureCase{
            "EncryptedPackage",
            [] {
              return WriteCompoundFile({{"EncryptionInfo", "x"}, {"EncryptedPackage", "y"}}).bytes;
            },
            "the workbook is protected by a password", ErrorKind::kPasswordProtected},
        FailureCase{"Biff4File",
                    [] { return Record(0x0409, Le16(0) + Le16(0x10) + Le16(0)) + Eof(); },
                    "Excel 2.x-4.x workbooks are not supported", ErrorKind::kUnsupportedVersion},
        FailureCase{"Biff2File", [] { return Record(0x0009, Le16(2) + Le16(0x10)) + Eof(); },
                    "Excel 2.x-4.x workbooks are not supported", ErrorKind::kUnsupportedVersion},
        // Only a bare BIFF8 stream is read without its compound file.
        FailureCase{"BareBiff5Stream", [] { return WorkbookStream("", {kWorksheet}, false); },
                    "it is not a workbook (the formats read are", ErrorKind::kNotAWorkbook},
        FailureCase{"Biff4InCompoundFile",
                    [] {
                      return InCompoundFile(Record(0x0409, Le16(0) + Le16(0x100) + Le16(0)) + Eof(),
                                            "Book");
                    },
                    "Excel 2.x-4.x workbooks are not supported", ErrorKind::kUnsupportedVersion},
        FailureCase{"NoWorksheet",
                    [] {
                      return InCompoundFile(WorkbookStream("", {kChart, kDialog}));
                    },
                    "the workbook holds no worksheet", ErrorKind::kNoSuchSheet},
        FailureCase{"NoWorkbookStream",
                    [] {
                      return WriteCompoundFile({{"Other", "x"}}).bytes;
                    },
                    "it is not a workbook (the formats read are", ErrorKind::kNotAWorkbook},
        FailureCase{"NotAWorkbookAtAll", [] { return std::string("plain text, not a workbook\n"); },
                    "it is not a workbook (the formats read are", ErrorKind::kNotAWorkbook},
        FailureCase{"RecordCutOff",
                    [] {
                      const std::string stream = Sheet(Number(0, 0, 1));
                      return InCompoundFile(stream.substr(0, stream.size() - 10));
                    },
                    "a record is cut off", ErrorKind::kDamaged},
        FailureCase{"SheetWithoutEnd",
                    [] {
                      const std::string stream = Sheet(Number(0, 0, 1));
                      return InCompoundFile(stream.substr(0, stream.size() - 4));
                    },
                    "the worksheet has no end", ErrorKind::kDamaged},
        FailureCase{"SheetOffsetOutsideStream",
                    [] {
                      std::string stream = Sheet("");
                      Put32(stream, stream.find(std::string("\x85\x00", 2)) + 4, 0x7FFFFFF0);
                      return InCompoundFile(stream);
                    },
                    "damaged", ErrorKind::kDamaged},
        FailureCase{"CellRecordTooShort",
                    [] { return InCompoundFile(Sheet(Record(0x0203, Le16(0) + Le16(0)))); },
                    "damaged", ErrorKind::kDamaged},
        FailureCase{"MulRkWithWrongLength",
                    [] { return InCompoundFile(Sheet(Record(0x00BD, std::string(9, '\0')))); },
                    "damaged", ErrorKind::kDamaged},
        // MERGEDCELLS records of 1000 areas each (A1:B1), one area past the bound.
        FailureCase{"TooManyMergedAreas",
                    [] {
                      std::string area = Le16(0) + Le16(0) + Le16(0) + Le16(1);
                      std::string record = Le16(1000);
                      for (int i = 0; i < 1000; ++i) record += area;
                      std::string records;
                      for (size_t written = 0; written <= kMaxMergedAreas; written += 1000) {
                        records += Record(0x00E5, record);
                      }
                      return InCompoundFile(Sheet(records));
                    },
                    "the file is damaged (there are too many merged areas)", ErrorKind::kDamaged}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST(XlsFailures, MissingFileIsNamed) {
  TempDir dir;
  EXPECT_EQ(ErrorOf([&] { OpenXlsSource(dir / "none.xls"); }),
            "Cannot open \"" + (dir / "none.xls") + "\": the file does not exist.");
}

// ---------------------------------------------------------------------------------------
// Files saved by spreadsheet applications (see tests/data/xls/README.md).

struct RealFileCase {
  const char* file;
  uint32_t lastRow, lastColumn;
  const char* expected;
};

class RealFiles : public ::testing::TestWithParam<RealFileCase> {};

TEST_P(RealFiles, ReadAsTheApplicationSavedThem) {
  auto source = OpenXlsSource(std::string(CELLVERTER_TEST_DATA "/xls/") + GetParam().file);
  EXPECT_EQ(source->LastRow(), GetParam().lastRow);
  EXPECT_EQ(source->LastColumn(), GetParam().lastColumn);
  EXPECT_EQ(Dump(*source), GetParam().expected);
}

// The hidden first sheet of mixed.fods, as each application wrote it. LibreOffice stores
// booleans as numbers; it also saved the text formula in F2 without its result. Gnumeric
// gives every column its default style (XF 26, not Excel's 15) as a column format, which
// brings the used range to the last column, IV.
#define MIXED_ROWS(textFormula)                                                                \
  "R1C1=S'Name' R1C2=S'Value' R1C3=S'Date' R1C4=S'Flag' R1C5=S'Formula' R1C6=S'Text formula' " \
  "R2C1=S'Ünïcödé café' R2C2=N1.5 R2C3=N45351 R2C4=N1 R2C5=N3 R2C6=" textFormula               \
  " R3C1=S'-12345678' R3C2=N0.25 R3C3=N-12345678 R3C4=N0 R3C5=E#DIV/0! R3C6=S'' "              \
  "R4C1=N10 R4C2=N20.5 R4C3=N-30 R4C4=N0.01 R6C8=_"

INSTANTIATE_TEST_SUITE_P(
    Applications, RealFiles,
    ::testing::Values(RealFileCase{"libreoffice-mixed.xls", 6, 8, MIXED_ROWS("N0")},
                      RealFileCase{"gnumeric-mixed.xls", 6, 256, MIXED_ROWS("S'Ünïcödé café!'")},
                      RealFileCase{"gnumeric-mixed-biff7.xls", 6, 256,
                                   MIXED_ROWS("S'Ünïcödé café!'")}),
    [](const auto& testInfo) {
      std::string name;
      for (char c : std::string(testInfo.param.file)) {
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
      }
      return name;
    });

TEST(RealFiles, XlwtWorkbookWithContinuedSharedStrings) {
  auto source = OpenXlsSource(CELLVERTER_TEST_DATA "/xls/xlwt-cells.xls");
  EXPECT_TRUE(source->Date1904());
  EXPECT_EQ(source->LastRow(), 174u);
  EXPECT_EQ(source->LastColumn(), 6u);
  SheetRow row;
  std::vector<std::string> rows;
  while (source->NextRow(row)) {
    std::string line;
    for (const SheetCell& cell : row.cells)
      line += "C" + std::to_string(cell.column) + "=" + Show(cell.value) + " ";
    rows.push_back(line);
    if (row.row == 2) {
      EXPECT_EQ(source->CellFormat(row.cells.at(0).styleIndex).code, "dd/mm/yyyy hh:mm");
      EXPECT_EQ(source->CellFormat(row.cells.at(1).styleIndex).code, "#,##0.00 [$EUR]");
    }
  }
  ASSERT_EQ(rows.size(), 173u);
  EXPECT_EQ(rows[0], "C1=S'text' C2=N42 C3=N-0.125 C4=TRUE C5=FALSE ");
  // xlwt leaves formulas without a computed result.
  EXPECT_EQ(rows[1], "C1=N35463.1701388889 C2=N1234.5 C3=S'' C4=E#N/A C5=E#DIV/0! ");
  EXPECT_EQ(rows[2], "C3=_ C4=_ C5=_ C6=_ ");
  for (int i = 0; i < 170; ++i) {
    char expected[200];
    if (i % 2) {
      std::snprintf(expected, sizeof expected, "Zeile %d äöü Zeile %d äöü Zeile %d äöü ", i, i, i);
    } else {
      std::snprintf(expected, sizeof expected, "Στήλη %d αβγ Στήλη %d αβγ Στήλη %d αβγ ", i, i, i);
    }
    EXPECT_EQ(rows[3 + i], "C1=S'" + std::string(expected) + "' ") << i;
  }
}

// Both sector sizes, with the workbook stream in the mini stream (under 4096 bytes) and in
// regular sectors (padded after its last record, as writers do).
TEST(XlsContainer, ReadsWorkbookInEveryStreamLayout) {
  const std::string small = Sheet(Number(0, 0, 1) + Number(1, 1, 2));
  for (int shift : {9, 12}) {
    for (const std::string& stream : {small, small + std::string(9000, '\0')}) {
      TempDir dir;
      WriteBytes(dir / "f.xls", WriteCompoundFile({{"Workbook", stream}}, shift).bytes);
      EXPECT_EQ(Dump(*OpenXlsSource(dir / "f.xls")), "R1C1=N1 R2C2=N2")
          << shift << " " << stream.size();
    }
  }
}

}  // namespace
}  // namespace cellverter
