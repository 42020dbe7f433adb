// Files that their writers left slightly wrong, which Excel and LibreOffice open: each is
// read as far as it can be read soundly, and the repair is told. One row per repair: the
// fixture, the displayed texts ("|" between fields, "\n" between rows) and the repair told.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "spreadsheet/sheet_source.h"
#include "temp_dir.h"
#include "xls_test_files.h"
#include "xlsx_builder.h"
#include "xlsx_test_support.h"

namespace cellverter {
namespace {

namespace ts = testing_support;

struct RepairCase {
  const char* name;
  std::function<std::string()> bytes;
  const char* extension;
  std::string grid;
  std::vector<std::string> repairs;
};

void PrintTo(const RepairCase& c, std::ostream* os) { *os << c.name; }
std::string RepairCaseName(const ::testing::TestParamInfo<RepairCase>& param) {
  return param.param.name;
}

class Repairs : public ::testing::TestWithParam<RepairCase> {};

TEST_P(Repairs, ReadsWhatCanBeReadAndTellsTheRepair) {
  ts::TempDir dir;
  const std::string path = dir / (std::string("book.") + GetParam().extension);
  ts::WriteBytes(path, GetParam().bytes());
  const ts::ReadWorkbook read = ts::ReadGridAndRepairs(path);
  EXPECT_EQ(read.grid, GetParam().grid);
  EXPECT_EQ(read.repairs, GetParam().repairs);
}

std::string XlsxSheet(const std::string& sheetData, std::vector<std::string> sharedStrings = {}) {
  ts::TestWorkbook book;
  book.sharedStrings = std::move(sharedStrings);
  book.sheets = {{sheetData}};
  return book.Zip();
}

std::string XlsInCompoundFile(const std::string& globals, const std::string& cells) {
  return ts::WriteCompoundFile(
             {{"Workbook", ts::WorkbookStream(globals, {ts::SheetSpec{0, 0x10, 0, cells}})}})
      .bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, Repairs,
    ::testing::Values(
        RepairCase{"XlsxSharedStringIndexOutOfRange",
                   [] {
                     return XlsxSheet(
                         "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>7</v>"
                         "</c><c r=\"C1\" t=\"s\"><v>0</v></c></row>"
                         "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>9</v></c></row>",
                         {"<t>kept</t>"});
                   },
                   "xlsx",
                   "kept||kept\n||",
                   {kMissingSharedStringRepair}},
        RepairCase{"XlsSharedStringIndexOutOfRange",
                   [] {
                     return XlsInCompoundFile(ts::Sst({ts::Compressed("kept")}),
                                              ts::LabelSst(0, 0, 0) + ts::LabelSst(0, 1, 7) +
                                                  ts::LabelSst(0, 2, 0) + ts::LabelSst(1, 0, 9));
                   },
                   "xls",
                   "kept||kept\n||",
                   {kMissingSharedStringRepair}},
        RepairCase{"NothingToRepair",
                   [] { return XlsxSheet("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"); },
                   "xlsx",
                   "1",
                   {}}),
    RepairCaseName);

const std::string kTwoStringsCells = ts::LabelSst(0, 0, 0) + ts::LabelSst(0, 1, 1);

// An SST record whose counts say `count` strings, holding `bodies`.
std::string SstCounting(uint32_t count, const std::vector<std::string>& bodies) {
  std::string data = ts::Le32(count) + ts::Le32(count);
  for (const std::string& body : bodies) data += body;
  return ts::Record(0x00FC, data);
}

// A workbook of 2,000 rows in regular sectors, cut off `keep` bytes after its start.
std::string CutOffXls(size_t keep) {
  std::string cells;
  for (uint16_t r = 0; r < 2000; ++r) cells += ts::Number(r, 0, r + 1);
  return XlsInCompoundFile("", cells).substr(0, keep);
}

std::string Rows(int from, int to) {
  std::string rows;
  for (int r = from; r <= to; ++r) rows += (r > from ? "\n" : "") + std::to_string(r);
  return rows;
}

// The sheet's BOF record taken out; the sheet list points where it was.
std::string XlsSheetWithoutBof() {
  std::string stream = ts::WorkbookStream(
      "", {ts::SheetSpec{0, 0x10, 0, ts::Number(0, 0, 7) + ts::Number(1, 1, 8)}});
  stream.erase(stream.rfind(ts::Bof(0x10)), ts::Bof(0x10).size());
  return ts::WriteCompoundFile({{"Workbook", stream}}).bytes;
}

// A workbook LibreOffice saved, cut off inside its last sector, a directory sector (LibreOffice
// writes the directory last), keeping three of its four entries or none: it reads as the whole
// file.
TEST(XlsRepairs, LibreOfficeWorkbookCutOffReadsAsTheWholeFile) {
  std::ifstream in(CELLVERTER_TEST_DATA "/xls/libreoffice-mixed.xls", std::ios::binary);
  const std::string whole{std::istreambuf_iterator<char>(in), {}};
  ts::TempDir dir;
  ts::WriteBytes(dir / "whole.xls", whole);
  const ts::ReadWorkbook expected = ts::ReadGridAndRepairs(dir / "whole.xls");
  ASSERT_TRUE(expected.repairs.empty());
  for (const size_t cut : {416u, 84u}) {
    ts::WriteBytes(dir / "cut.xls", whole.substr(0, whole.size() - cut));
    const ts::ReadWorkbook read = ts::ReadGridAndRepairs(dir / "cut.xls");
    EXPECT_EQ(read.grid, expected.grid) << cut;
    EXPECT_EQ(read.repairs, std::vector<std::string>{kTruncatedFileRepair}) << cut;
  }
}

// The texts are what LibreOffice shows, but where the reasons say otherwise.
INSTANTIATE_TEST_SUITE_P(
    XlsFiles, Repairs,
    ::testing::Values(
        RepairCase{"WorkbookStreamWithoutCompoundFile",
                   [] {
                     return ts::WorkbookStream(
                         ts::Sst({ts::Compressed("kept")}),
                         {ts::SheetSpec{0, 0x10, 0,
                                        ts::LabelSst(0, 0, 0) + ts::Number(1, 1, 2.5)}});
                   },
                   "xls",
                   "kept|\n|2.5",
                   {kBareWorkbookStreamRepair}},
        // LibreOffice takes the count at its word and shows these cells empty; Excel reads
        // the strings that are there.
        RepairCase{"SharedStringCountZero",
                   [] {
                     return XlsInCompoundFile(
                         SstCounting(0, {ts::Compressed("one"), ts::Utf16(u"twö")}),
                         kTwoStringsCells);
                   },
                   "xls",
                   "one|twö",
                   {kSharedStringCountRepair}},
        RepairCase{"SharedStringCountTooLow",
                   [] {
                     return XlsInCompoundFile(
                         SstCounting(1, {ts::Compressed("one"), ts::Compressed("two")}),
                         kTwoStringsCells);
                   },
                   "xls",
                   "one|two",
                   {kSharedStringCountRepair}},
        RepairCase{"SharedStringCountTooHigh",
                   [] {
                     return XlsInCompoundFile(SstCounting(5, {ts::Compressed("one")}),
                                              kTwoStringsCells);
                   },
                   "xls",
                   "one|",
                   {kSharedStringCountRepair, kMissingSharedStringRepair}},
        RepairCase{"SharedStringCutOff",
                   [] {
                     return XlsInCompoundFile(
                         ts::Sst({ts::Compressed("one"), ts::Le16(50) + '\0' + "short"}),
                         kTwoStringsCells);
                   },
                   "xls",
                   "one|short",
                   {kSharedStringCutOffRepair}},
        RepairCase{"SharedStringCutOffInsideACharacter",
                   [] {
                     std::string sst = ts::Sst({ts::Utf16(u"ab")});
                     sst.pop_back();
                     sst.replace(2, 2, ts::Le16(static_cast<uint32_t>(sst.size() - 4)));
                     return XlsInCompoundFile(sst, kTwoStringsCells);
                   },
                   "xls",
                   "a|",
                   {kSharedStringCutOffRepair, kMissingSharedStringRepair}},
        // LibreOffice does not open a compound file cut off; the issue asks for the records
        // that are whole.
        RepairCase{"CompoundFileCutOffInsideTheWorkbookStream",
                   [] { return CutOffXls(20011); },
                   "xls",
                   Rows(1, 1023),
                   {kTruncatedFileRepair}},
        RepairCase{"CompoundFileCutOffAtASectorEnd",
                   [] { return CutOffXls(20480); },
                   "xls",
                   Rows(1, 1049),
                   {kTruncatedFileRepair}},
        // LibreOffice reads such a sheet when its BOF lies before where the sheet list points,
        // and shows it empty when there is none; its records are read in both cases.
        RepairCase{"SheetWithoutBof",
                   [] { return XlsSheetWithoutBof(); },
                   "xls",
                   "7|\n|8",
                   {kSheetWithoutBofRepair}},
        RepairCase{"CellFormatPastTheTable",
                   [] {
                     // Two cell formats, "0.00" and General; a MULRK cell past them too.
                     return XlsInCompoundFile(
                         ts::Xf(2) + ts::Xf(0),
                         ts::Number(0, 0, 1.5, 0) + ts::Number(0, 1, 1.5, 40) +
                             ts::Record(0x00BD, ts::CellHead(0, 2, 0) + ts::Le32(0x3FF80000) +
                                                    ts::Le16(41) + ts::Le32(0x3FF80000) +
                                                    ts::Le16(3)));
                   },
                   "xls",
                   "1.50|1.5|1.50|1.5",
                   {kMissingCellFormatRepair}},
        // The reader never follows INDEX and DBCELL offsets, so wrong ones change nothing.
        RepairCase{"RowMapWithWrongOffsets",
                   [] {
                     return XlsInCompoundFile(
                         "", ts::Record(0x020B, ts::Le32(0) + ts::Le32(0) + ts::Le32(2) +
                                                    ts::Le32(0) + ts::Le32(0x7FFFFFF0)) +
                                 ts::Number(0, 0, 1) + ts::Number(1, 0, 2) +
                                 ts::Record(0x00D7, ts::Le32(0x7FFFFFF0) + ts::Le16(0x1234)));
                   },
                   "xls",
                   "1\n2",
                   {}}),
    RepairCaseName);

std::string XlsxZipped(const std::string& sheetData, ts::ZipOptions options) {
  ts::TestWorkbook book;
  book.sheets = {{sheetData}};
  return book.Zip(options);
}

// The rows and cells as LibreOffice reads them (soffice --convert-to csv gives the same grid).
INSTANTIATE_TEST_SUITE_P(
    XlsxFiles, Repairs,
    ::testing::Values(
        RepairCase{"RowsOutOfOrder",
                   [] {
                     // A row without r follows the row before it in the file.
                     return XlsxSheet(
                         "<row r=\"5\"><c r=\"A5\"><v>5</v></c></row>"
                         "<row r=\"3\"><c r=\"A3\"><v>3</v></c></row>"
                         "<row><c r=\"A4\"><v>4</v></c></row>"
                         "<row r=\"1\"><c r=\"B1\"><v>1</v></c></row>");
                   },
                   "xlsx",
                   "|1\n|\n3|\n4|\n5|",
                   {kRowsOutOfOrderRepair}},
        RepairCase{"RowGivenTwice",
                   [] {
                     // One row: the later of two cells in one place stands.
                     return XlsxSheet(
                         "<row r=\"3\"><c r=\"A3\"><v>1</v></c><c r=\"B3\"><v>2</v></c></row>"
                         "<row r=\"1\"><c r=\"A1\"><v>7</v></c></row>"
                         "<row r=\"3\"><c r=\"B3\"><v>22</v></c><c r=\"C3\" t=\"s\"><v>0</v></c>"
                         "</row>",
                         {"<t>s</t>"});
                   },
                   "xlsx",
                   "7||\n||\n1|22|s",
                   {kRowsOutOfOrderRepair}},
        RepairCase{"RowGivenTwiceInOrder",
                   [] {
                     return XlsxSheet(
                         "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><v>2</v></c></row>"
                         "<row r=\"1\"><c r=\"B1\"><v>22</v></c><c r=\"C1\"><v>33</v></c></row>"
                         "<row r=\"2\"><c r=\"A2\"><v>4</v></c></row>");
                   },
                   "xlsx",
                   "1|22|33\n4||",
                   {kRowsOutOfOrderRepair}},
        RepairCase{"RowGivenFourTimes",
                   [] {
                     return XlsxSheet(
                         "<row r=\"2\"><c r=\"A2\"><v>1</v></c><c r=\"B2\"><v>2</v></c></row>"
                         "<row r=\"2\"><c r=\"B2\"><v>22</v></c></row>"
                         "<row r=\"2\"><c r=\"C2\"><v>33</v></c></row>"
                         "<row r=\"1\"><c r=\"D1\"><v>4</v></c></row>"
                         "<row r=\"2\"><c r=\"A2\"><v>11</v></c></row>");
                   },
                   "xlsx",
                   "|||4\n11|22|33|",
                   {kRowsOutOfOrderRepair}},
        RepairCase{"CellsOutOfOrderInARow",
                   [] {
                     // Read as before, and as LibreOffice reads them: sorted, the later of two
                     // cells in one place standing, a cell without r after the one before it.
                     return XlsxSheet(
                         "<row r=\"1\"><c r=\"C1\"><v>3</v></c><c r=\"A1\"><v>1</v></c>"
                         "<c r=\"A1\"><v>11</v></c><c><v>99</v></c></row>");
                   },
                   "xlsx",
                   "11|99|3",
                   {}},
        RepairCase{"ZipLocalSizesDisagreeWithDataDescriptor",
                   [] {
                     return XlsxZipped("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>",
                                       {.dataDescriptors = true, .wrongLocalSizes = true});
                   },
                   "xlsx",
                   "1",
                   {kZipLocalSizesRepair}},
        RepairCase{"ZipLocalSizesDisagreeWithoutDataDescriptor",
                   [] {
                     // LibreOffice reads this too; the directory's sizes and CRC still check
                     // every inflated byte.
                     return XlsxZipped("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>",
                                       {.wrongLocalSizes = true});
                   },
                   "xlsx",
                   "1",
                   {kZipLocalSizesRepair}},
        RepairCase{"ZipSizesOnlyInDataDescriptors",
                   [] {
                     return XlsxZipped("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>",
                                       {.dataDescriptors = true, .zip64 = true});
                   },
                   "xlsx",
                   "1",
                   {}}),
    RepairCaseName);

}  // namespace
}  // namespace cellverter
