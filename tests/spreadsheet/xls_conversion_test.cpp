// .xls workbooks through the whole conversion: chosen by content, read, displayed with
// their number formats and written as CSV.
#include <gtest/gtest.h>

#include "convert/workbook_to_csv.h"
#include "platform/error.h"
#include "spreadsheet/workbook_source.h"
#include "temp_dir.h"
#include "xls_test_files.h"

namespace cellverter {
namespace {

using namespace testing_support;

std::string Convert(const std::string& workbook, const TempDir& dir) {
  const std::string written =
      ConvertExcelToCSV(workbook, dir / "out.csv", {",", CsvEncoding::Utf8, 1252});
  return ReadBytes(written);
}

struct ConversionCase {
  const char* file;
  const char* csv;
  size_t emptyColumnsAfter = 0;  // empty fields at the end of every line of `csv`
};

class XlsConversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(XlsConversion, WritesTheDisplayedTexts) {
  TempDir dir;
  std::string expected = GetParam().csv;
  const std::string padding(GetParam().emptyColumnsAfter, ',');
  for (size_t at = expected.find("\r\n"); at != std::string::npos;
       at = expected.find("\r\n", at + padding.size() + 2)) {
    expected.insert(at, padding);
  }
  EXPECT_EQ(Convert(std::string(CELLVERTER_TEST_DATA "/xls/") + GetParam().file, dir), expected);
}

// The hidden first sheet of mixed.fods: A1 to the styled blank H6; Gnumeric's column formats
// take the used range on to column IV (256).
#define MIXED_CSV(textFormula)                      \
  "Name,Value,Date,Flag,Formula,Text formula,,\r\n" \
  "Ünïcödé café,1.5,2024-02-29,1,3," textFormula    \
  ",,\r\n"                                          \
  "-12345678,25.0%,-12345678,0,#DIV/0!,,,\r\n"      \
  "10,20.5,-30,0.01,,,,\r\n"                        \
  ",,,,,,,\r\n"                                     \
  ",,,,,,,\r\n"

// Excel 2.x-4.x files written by old_biff_test_files.h, as LibreOffice converts them to CSV
// (text as shown), but for what it reads otherwise than Excel shows: it gives booleans as 1
// and 0 (a boolean shows TRUE or FALSE in Excel, as in every later format), the formula in
// C2 of the BIFF2 file in General (BIFF2 formula cells carry their format as any other
// cell), and the cells of BIFF4W sheets in General (each sheet of the workbook holds its
// own formats, which we read as in a worksheet file).
#define OLD_BIFF_CSV(percent)            \
  "Name,Value,Formula,Hidden column\r\n" \
  "Привет,1.500,3.250,7\r\n"       \
  "date,06/07/2009,text result,\r\n"     \
  "hidden row,42,TRUE,\r\n"              \
  "flags,FALSE,#DIV/0!,#N/A\r\n"         \
  "percent," percent ",,\r\n"

INSTANTIATE_TEST_SUITE_P(
    Files, XlsConversion,
    ::testing::Values(ConversionCase{"gnumeric-mixed.xls", MIXED_CSV("Ünïcödé café!"), 248},
                      ConversionCase{"gnumeric-mixed-biff7.xls", MIXED_CSV("Ünïcödé café!"), 248},
                      ConversionCase{"libreoffice-mixed.xls", MIXED_CSV("0")},
                      ConversionCase{"old-biff2.xls", OLD_BIFF_CSV("12.5%")},
                      ConversionCase{"old-biff3.xls", OLD_BIFF_CSV("1250.0%")},
                      ConversionCase{"old-biff4.xls", OLD_BIFF_CSV("1250.0%")},
                      ConversionCase{"old-biff4w.xls", OLD_BIFF_CSV("1250.0%")}),
    [](const auto& testInfo) {
      std::string name;
      for (char c : std::string(testInfo.param.file)) {
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
      }
      return name;
    });

TEST(XlsConversion, BooleansErrorsAnd1904Dates) {
  TempDir dir;
  const std::string csv = Convert(CELLVERTER_TEST_DATA "/xls/xlwt-cells.xls", dir);
  EXPECT_EQ(csv.substr(0, csv.find("\r\n", csv.find("\r\n") + 2) + 2),
            "text,42,-0.125,TRUE,FALSE,\r\n"
            "03/02/2001 04:05,\"1,234.50 EUR\",,#N/A,#DIV/0!,\r\n");
}

// The dispatcher sends compound files and bare old BIFF files to the .xls reader.
TEST(XlsDispatch, OpensByContentWhateverTheName) {
  TempDir dir;
  WriteBytes(
      dir / "named.xlsx",
      WriteCompoundFile({{"Workbook", WorkbookStream("", {{0, 0x10, 0, Number(1, 1, 2.5)}})}})
          .bytes);
  EXPECT_EQ(Convert(dir / "named.xlsx", dir), ",\r\n,2.5\r\n");

  WriteBytes(dir / "old.xlsx",
             Record(0x0409, Le16(0) + Le16(0x10) + Le16(0)) + Number(0, 1, 4.5) + Eof());
  EXPECT_EQ(Convert(dir / "old.xlsx", dir), ",4.5\r\n");
}

TEST(XlsDispatch, FailedWorkbookLeavesNoOutputFile) {
  TempDir dir;
  WriteBytes(dir / "locked.xls",
             WriteCompoundFile({{"Workbook", WorkbookStream(Record(0x002F, std::string(54, '\1')),
                                                            {{0, 0x10, 0, Number(0, 0, 1)}})}})
                 .bytes);
  EXPECT_THROW(ConvertExcelToCSV(dir / "locked.xls", dir / "locked.csv", {}), Error);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"locked.xls"});
}

}  // namespace
}  // namespace cellverter
