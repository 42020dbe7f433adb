// A large shared strings part is parsed on a thread of its own, beside the sheet's scan; what
// depends on the table (a string that does not exist, the text a row repeats, the table's own
// damage) must come out as when the table is parsed first. Each case runs with the table
// small, parsed as the workbook opens, and padded beyond kSharedStringsBesideSheet.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/error.h"
#include "sheet_dump.h"
#include "spreadsheet/sheet_source.h"
#include "spreadsheet/workbook_source.h"
#include "spreadsheet/xlsx/package_globals.h"
#include "temp_dir.h"
#include "xlsx_builder.h"

namespace cellverter {
namespace {

namespace ts = testing_support;

// The workbook of `sheetData` and `strings`; `large` appends one string that takes the part
// beyond the bound (its index, strings.size(), is never referred to by the cases).
std::string Book(const std::string& sheetData, std::vector<std::string> strings, bool large) {
  if (large) {
    std::string pad;
    for (int i = 0; pad.size() <= kSharedStringsBesideSheet; ++i) pad += std::to_string(i);
    strings.push_back("<t>" + pad + "</t>");
  }
  ts::TestWorkbook book;
  book.sharedStrings = std::move(strings);
  book.sheets = {{sheetData}};
  return book.Zip();
}

// That workbook written into `dir`; its path.
std::string WriteBook(const ts::TempDir& dir, const std::string& sheetData,
                      const std::vector<std::string>& strings, bool large) {
  const std::string path = dir / "book.xlsx";
  ts::WriteBytes(path, Book(sheetData, strings, large));
  return path;
}

struct ReadCase {
  const char* name;
  std::string sheetData;
  std::vector<std::string> strings;
  std::string cells;  // as ts::Dump gives them
  std::vector<std::string> repairs;
};

class SharedStringsBeside : public ::testing::TestWithParam<std::tuple<ReadCase, bool>> {};

TEST_P(SharedStringsBeside, ServesTheCellsAndRepairsOfATableReadFirst) {
  const auto& [c, large] = GetParam();
  ts::TempDir dir;
  const std::string path = WriteBook(dir, c.sheetData, c.strings, large);
  const std::unique_ptr<SheetSource> sheet = OpenWorkbookSource(path);
  EXPECT_EQ(ts::Dump(*sheet), c.cells);
  // Served again, as the trim option reads them: the same cells, the repair noted once.
  sheet->Rewind();
  EXPECT_EQ(ts::Dump(*sheet), c.cells);
  EXPECT_EQ(sheet->Repairs().Notes(), c.repairs);
}

const ReadCase kReadCases[] = {
    {"MissingStrings",
     "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>7</v></c>"
     "<c r=\"C1\" t=\"s\"><v>1</v></c></row><row r=\"2\"><c r=\"A2\" t=\"s\"><v>9</v></c></row>",
     {"<t>a</t>", "<t>b</t>"},
     "R1C1=S'a' R1C2=_ R1C3=S'b' R2C1=_",
     {kMissingSharedStringRepair}},
    // The repair takes its place among the others as when it was met.
    {"MissingStringBeforeRowsOutOfOrder",
     "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>9</v></c></row>"
     "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>",
     {"<t>a</t>"},
     "R1C1=S'a' R2C1=_",
     {kMissingSharedStringRepair, kRowsOutOfOrderRepair}},
    {"MissingStringAfterRowsOutOfOrder",
     "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>0</v></c></row>"
     "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>"
     "<row r=\"3\"><c r=\"A3\" t=\"s\"><v>0</v></c><c r=\"B3\" t=\"s\"><v>4</v></c></row>",
     {"<t>a</t>"},
     "R1C1=S'a' R2C1=S'a' R3C1=S'a' R3C2=_",
     {kRowsOutOfOrderRepair, kMissingSharedStringRepair}},
    // A row given twice is merged; the later cell of a place stands, even one that is missing.
    {"MissingStringInARowGivenTwice",
     "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>"
     "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>5</v></c><c r=\"B1\" t=\"s\"><v>0</v></c></row>",
     {"<t>a</t>"},
     "R1C1=_ R1C2=S'a'",
     {kRowsOutOfOrderRepair, kMissingSharedStringRepair}},
};

INSTANTIATE_TEST_SUITE_P(Cases, SharedStringsBeside,
                         ::testing::Combine(::testing::ValuesIn(kReadCases), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<ReadCase, bool>>& param) {
                           return std::string(std::get<0>(param.param).name) +
                                  (std::get<1>(param.param) ? "Beside" : "First");
                         });

struct FailCase {
  const char* name;
  std::string sheetData;
  std::vector<std::string> strings;
  std::string cause;  // what follows `Cannot open "<path>": `
};

class SharedStringsBesideFailure : public ::testing::TestWithParam<std::tuple<FailCase, bool>> {};

TEST_P(SharedStringsBesideFailure, FailsTheWorkbookAsATableReadFirst) {
  const auto& [c, large] = GetParam();
  ts::TempDir dir;
  const std::string path = WriteBook(dir, c.sheetData, c.strings, large);
  try {
    OpenWorkbookSource(path);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open \"" + path + "\": " + c.cause);
    EXPECT_EQ(e.Kind(), ErrorKind::kDamaged);
  }
}

const std::string kMegabyte = "<t>" + std::string(1000000, 'x') + "</t>";

std::string RowOf(int cells, bool onePlace) {
  std::string row = "<row r=\"1\">";
  for (int c = 0; c < cells; ++c) {
    row += std::string("<c r=\"") + (onePlace ? 'A' : static_cast<char>('A' + c % 26)) +
           std::to_string(1) + "\" t=\"s\"><v>0</v></c>";
  }
  return row + "</row>";
}

const FailCase kFailCases[] = {
    {"DamagedTable",
     "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>",
     {"<t>a</t>", "<t>b</u>"},
     "the file is damaged (the shared strings XML is malformed: mismatched end tag)."},
    // The table's damage comes first, as the table is read before the sheet.
    {"DamagedTableAndSheet",
     "<row r=\"1\"><c r=\"A1\" t=\"q\"><v>0</v></c></row>",
     {"<t>a</t>", "<t>b</u>"},
     "the file is damaged (the shared strings XML is malformed: mismatched end tag)."},
    // 70 references to one 1 MB string, given in one place: 70 MB of text for one row, though
    // one cell stands.
    {"RowRepeatingALongStringInOnePlace",
     RowOf(70, true),
     {kMegabyte},
     "the file is damaged (a row holds too much text)."},
    // Rows after the one over the bound are still read, whatever they hold.
    {"RowRepeatingALongStringThenOthers",
     RowOf(70, false) + "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>9</v></c></row>",
     {kMegabyte},
     "the file is damaged (a row holds too much text)."},
};

INSTANTIATE_TEST_SUITE_P(Cases, SharedStringsBesideFailure,
                         ::testing::Combine(::testing::ValuesIn(kFailCases), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<FailCase, bool>>& param) {
                           return std::string(std::get<0>(param.param).name) +
                                  (std::get<1>(param.param) ? "Beside" : "First");
                         });

}  // namespace
}  // namespace cellverter
