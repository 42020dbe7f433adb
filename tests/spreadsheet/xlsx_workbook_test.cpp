#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "platform/error.h"
#include "sheet_dump.h"
#include "spreadsheet/xlsx/xlsx_reader.h"
#include "temp_dir.h"
#include "xlsx_builder.h"

namespace cellverter {
namespace {

using testing_support::Dump;
using testing_support::RelatedPart;
using testing_support::TempDir;
using testing_support::TestSheet;
using testing_support::TestWorkbook;
using testing_support::WriteBytes;
using testing_support::ZipOptions;

TestSheet Named(std::string name, TestSheet sheet) {
  sheet.name = std::move(name);
  return sheet;
}

// Eight sheets of every kind and visibility. Shared strings are read once for all of them;
// sheet 2 has a note and sheet 5 a table, each of which widens only its own sheet.
TestWorkbook EveryKindOfSheet() {
  TestWorkbook book;
  book.sharedStrings = {"<t>shared</t>"};
  TestSheet second = Named(
      "B &amp; C &lt;Übersicht&gt;",
      TestSheet("<row r=\"2\"><c r=\"B2\" t=\"s\"><v>0</v></c></row>", "worksheet", "hidden"));
  second.related = {{"comments", "xl/comments7.xml",
                     "<comments xmlns=\"" + testing_support::kMainNamespace +
                         "\"><commentList><comment ref=\"D5\"/></commentList></comments>"}};
  TestSheet fifth = Named("数据", TestSheet("<row r=\"3\"><c r=\"C3\" t=\"b\"><v>1</v></c>"
                                            "<c r=\"D3\" t=\"s\"><v>0</v></c></row>",
                                            "worksheet", "veryHidden"));
  fifth.afterData = "<tableParts count=\"1\"><tablePart r:id=\"rId1\"/></tableParts>";
  fifth.related = {{"table", "xl/tables/table9.xml",
                    "<table xmlns=\"" + testing_support::kMainNamespace + "\" ref=\"A1:F9\"/>"}};
  book.sheets = {
      Named("Alpha", TestSheet("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>")),
      second,
      Named("Chart1", TestSheet("", "chartsheet")),
      Named("Dialog1", TestSheet("", "dialogsheet", "hidden")),
      fifth,
      Named("Macro1", TestSheet("", "macrosheet")),
      Named("Intl1", TestSheet("", "xlIntlMacrosheet", "veryHidden")),
      Named("Future1", TestSheet("", "futuresheet")),
  };
  return book;
}

std::string Describe(const SheetEntry& entry) {
  static const char* const kinds[] = {"worksheet", "chart", "dialog", "macro"};
  static const char* const visibilities[] = {"visible", "hidden", "veryhidden"};
  return entry.name + "|" + kinds[static_cast<int>(entry.kind)] + "|" +
         visibilities[static_cast<int>(entry.visibility)];
}

std::string Written(const TempDir& dir, const std::string& bytes) {
  const std::string path = dir / "book.xlsx";
  WriteBytes(path, bytes);
  return path;
}

TEST(XlsxWorkbookTest, ListsEverySheetInOrderWithItsNameKindAndVisibility) {
  TempDir dir;
  auto workbook = OpenXlsxWorkbook(Written(dir, EveryKindOfSheet().Zip()));
  std::vector<std::string> listed;
  for (const SheetEntry& entry : workbook->Sheets()) listed.push_back(Describe(entry));
  // A relationship type of no known sheet kind is listed as a worksheet (xlsx_reader.h).
  EXPECT_EQ(listed, (std::vector<std::string>{
                        "Alpha|worksheet|visible",
                        "B & C <Übersicht>|worksheet|hidden",
                        "Chart1|chart|visible",
                        "Dialog1|dialog|hidden",
                        "数据|worksheet|veryhidden",
                        "Macro1|macro|visible",
                        "Intl1|macro|veryhidden",
                        "Future1|worksheet|visible",
                    }));
}

TEST(XlsxWorkbookTest, OpensEachWorksheetWithItsOwnCellsAndUsedRange) {
  TempDir dir;
  const std::string path = Written(dir, EveryKindOfSheet().Zip());
  auto workbook = OpenXlsxWorkbook(path);
  struct Expected {
    size_t position;
    std::string cells;
    uint32_t lastRow;
    uint32_t lastColumn;
  };
  // One after the other from the one workbook, and the first again at the end.
  const std::vector<Expected> sheets = {
      {0, "R1C1=N1", 1, 1},
      {1, "R2C2=S'shared'", 5, 4},
      {4, "R3C3=TRUE R3C4=S'shared'", 9, 6},
      {0, "R1C1=N1", 1, 1},
  };
  for (const Expected& expected : sheets) {
    SCOPED_TRACE(expected.position);
    auto sheet = workbook->OpenSheet(expected.position);
    EXPECT_EQ(Dump(*sheet), expected.cells);
    EXPECT_EQ(sheet->LastRow(), expected.lastRow);
    EXPECT_EQ(sheet->LastColumn(), expected.lastColumn);
    sheet->Rewind();
    EXPECT_EQ(Dump(*sheet), expected.cells);
  }
  // The first-worksheet path reads sheet 1 alone.
  auto first = OpenXlsxSource(path);
  EXPECT_EQ(Dump(*first), "R1C1=N1");
  EXPECT_EQ(first->LastRow(), 1u);
  EXPECT_EQ(first->LastColumn(), 1u);
}

// Asking for a sheet that is not a worksheet is the caller's mistake, told apart by its kind;
// a sheet whose part is not what its relationship says is damage.
TEST(XlsxWorkbookTest, OpeningWhatIsNoWorksheetFailsWithItsKind) {
  TempDir dir;
  const std::string path = Written(dir, EveryKindOfSheet().Zip());
  auto workbook = OpenXlsxWorkbook(path);
  struct Case {
    size_t position;
    std::string cause;
    ErrorKind kind;
  };
  const std::vector<Case> cases = {
      {2, "the sheet \"Chart1\" is not a worksheet", ErrorKind::kNoSuchSheet},
      {5, "the sheet \"Macro1\" is not a worksheet", ErrorKind::kNoSuchSheet},
      {8, "the workbook holds no sheet number 9", ErrorKind::kNoSuchSheet},
      {7, "the file is damaged (the worksheet's part is not a worksheet)", ErrorKind::kDamaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    try {
      workbook->OpenSheet(c.position);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot open \"" + path + "\": " + c.cause + ".");
      EXPECT_EQ(e.Kind(), c.kind);
    }
  }
  // The workbook still serves its worksheets after those failures.
  EXPECT_EQ(Dump(*workbook->OpenSheet(0)), "R1C1=N1");
}

// A sheet without its relationship spoils only itself.
TEST(XlsxWorkbookTest, ASheetWithoutItsRelationshipFailsOnlyWhenOpened) {
  TestWorkbook book;
  book.sheets = {TestSheet("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"),
                 TestSheet("<row r=\"1\"><c r=\"A1\"><v>2</v></c></row>")};
  auto parts = book.Parts();
  std::string& rels = parts["xl/_rels/workbook.xml.rels"];
  rels = std::regex_replace(rels, std::regex("<Relationship Id=\"rId11\"[^>]*/>"), "");
  TempDir dir;
  const std::string path = Written(dir, TestWorkbook::ZipParts(parts));
  auto workbook = OpenXlsxWorkbook(path);
  ASSERT_EQ(workbook->Sheets().size(), 2u);
  EXPECT_EQ(Dump(*workbook->OpenSheet(0)), "R1C1=N1");
  try {
    workbook->OpenSheet(1);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open \"" + path + "\": the file is damaged (a sheet has no part).");
    EXPECT_EQ(e.Kind(), ErrorKind::kDamaged);
  }
}

// Bounds on the sheet list: past them the file is damaged, at them it opens.
TEST(XlsxWorkbookTest, SheetListBeyondItsBoundsIsDamage) {
  struct Case {
    const char* name;
    std::function<void(std::map<std::string, std::string>&)> change;
    std::string cause;  // "" when the workbook opens
  };
  // A name of exactly `bytes` bytes, ending in a two-byte character.
  auto nameOfBytes = [](size_t bytes) {
    return [bytes](std::map<std::string, std::string>& parts) {
      std::string& workbook = parts["xl/workbook.xml"];
      const std::string from = "name=\"Sheet1\"";
      workbook.replace(workbook.find(from), from.size(),
                       "name=\"" + std::string(bytes - 2, 'x') + "\xC3\xA9\"");
    };
  };
  auto sheetsInList = [](size_t count) {
    return [count](std::map<std::string, std::string>& parts) {
      std::string sheets;
      for (size_t i = 0; i < count; ++i)
        sheets += "<sheet name=\"s\" sheetId=\"1\" r:id=\"rId10\"/>";
      std::string& workbook = parts["xl/workbook.xml"];
      workbook.insert(workbook.find("</sheets>"), sheets);
    };
  };
  const std::vector<Case> cases = {
      {"LongestName", nameOfBytes(kMaxSheetNameBytes), ""},
      {"NameTooLong", nameOfBytes(kMaxSheetNameBytes + 1), "a sheet's name is too long"},
      {"MostSheets", sheetsInList(65535), ""},
      {"TooManySheets", sheetsInList(65536), "there are too many sheets"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestWorkbook book;
    book.sheets = {TestSheet("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>")};
    auto parts = book.Parts();
    c.change(parts);
    TempDir dir;
    const std::string path = Written(dir, TestWorkbook::ZipParts(parts));
    try {
      auto workbook = OpenXlsxWorkbook(path);
      EXPECT_EQ(c.cause, "") << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()),
                "Cannot open \"" + path + "\": the file is damaged (" + c.cause + ").");
      EXPECT_EQ(e.Kind(), ErrorKind::kDamaged);
    }
  }
}

// The workbook's repairs start each sheet's list; a sheet's own repairs stay with it.
TEST(XlsxWorkbookTest, EachSheetStartsWithTheWorkbooksRepairsAndKeepsItsOwn) {
  TestWorkbook book;
  book.sheets = {TestSheet("<row r=\"2\"><c r=\"A2\"><v>2</v></c></row>"
                           "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"),
                 TestSheet("<row r=\"1\"><c r=\"A1\"><v>3</v></c></row>")};
  ZipOptions options;
  options.wrongLocalSizes = true;
  TempDir dir;
  auto workbook = OpenXlsxWorkbook(Written(dir, book.Zip(options)));
  EXPECT_EQ(workbook->Repairs().Notes(), std::vector<std::string>{kZipLocalSizesRepair});
  auto first = workbook->OpenSheet(0);
  EXPECT_EQ(Dump(*first), "R1C1=N1 R2C1=N2");
  EXPECT_EQ(first->Repairs().Notes(),
            (std::vector<std::string>{kZipLocalSizesRepair, kRowsOutOfOrderRepair}));
  first.reset();
  auto second = workbook->OpenSheet(1);
  EXPECT_EQ(Dump(*second), "R1C1=N3");
  EXPECT_EQ(second->Repairs().Notes(), std::vector<std::string>{kZipLocalSizesRepair});
}

}  // namespace
}  // namespace cellverter
