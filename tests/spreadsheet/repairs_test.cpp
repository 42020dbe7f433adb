// Files that their writers left slightly wrong, which Excel and LibreOffice open: each is
// read as far as it can be read soundly, and the repair is told. One row per repair: the
// fixture, the displayed texts ("|" between fields, "\n" between rows) and the repair told.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../convert/temp_dir.h"
#include "spreadsheet/sheet_source.h"
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

std::string XlsInCompoundFile(const std::string& sst, const std::string& cells) {
  return ts::WriteCompoundFile(
             {{"Workbook", ts::WorkbookStream(sst, {ts::SheetSpec{0, 0x10, 0, cells}})}})
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
    [](const ::testing::TestParamInfo<RepairCase>& param) {
      return std::string(param.param.name);
    });

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
    [](const ::testing::TestParamInfo<RepairCase>& param) {
      return std::string(param.param.name);
    });

}  // namespace
}  // namespace cellverter
