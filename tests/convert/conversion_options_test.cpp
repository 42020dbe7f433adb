// The conversion options through both readers: each case converts one logical workbook, saved
// as .xlsx and as .xls, and shows the CSV bytes it must give.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../spreadsheet/logical_workbook.h"
#include "convert/workbook_to_csv.h"
#include "temp_dir.h"

namespace cellverter {
namespace {

using namespace logical;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

// Text, numbers, dates and times, a boolean and an error, and a styled blank at F6 that
// stretches the used range beyond them.
LogicalWorkbook Values() {
  return {{Worksheet({
      Text(1, 1, "Name"),
      Text(1, 2, "Amount"),
      Text(1, 3, "When"),
      Text(1, 4, "Flag"),
      Text(2, 1, "a,b"),
      Num(2, 2, 0.1),
      Num(2, 3, 45306, "yyyy-mm-dd"),
      Bool(2, 4, true),
      Text(3, 1, "x"),
      Num(3, 2, 1234567.891, "#,##0.00"),
      Num(3, 3, 45306.354166666667, "yyyy-mm-dd hh:mm"),
      Err(3, 4, "#N/A"),
      Num(4, 1, 1e-300),
      Num(4, 2, 0.354166666666666667, "hh:mm:ss"),
      Num(4, 3, 2.5, "[h]:mm"),
      StyledBlank(6, 6),
  })}};
}

// The edges of the 1900 date system: its first day, the 29 February 1900 that never was,
// day 0, and a number in a date format too large for a date.
LogicalWorkbook Dates1900() {
  return {{Worksheet({
      Num(1, 1, 1, "yyyy-mm-dd"),
      Num(1, 2, 60, "yyyy-mm-dd"),
      Num(1, 3, 61, "yyyy-mm-dd"),
      Num(1, 4, 0.5, "yyyy-mm-dd hh:mm"),
      Num(1, 5, 3e6, "yyyy-mm-dd"),
      Num(1, 6, 45306.0000001, "yyyy-mm-dd"),
  })}};
}

LogicalWorkbook Dates1904() {
  LogicalWorkbook book{{Worksheet({
      Num(1, 1, 43844, "yyyy-mm-dd"),
      Num(1, 2, 0, "yyyy-mm-dd"),
      Num(1, 3, 43844.75, "d/m/yy h:mm"),
  })}};
  book.date1904 = true;
  return book;
}

// Hidden rows and columns, merged areas (one whose top-left cell lies in a hidden column) and
// a styled blank at G8 that stretches the used range.
LogicalWorkbook Shaped() {
  LogicalSheet sheet = Worksheet({
      Text(1, 1, "Head"),
      Text(1, 2, "Hidden col"),
      Text(1, 3, "Merged"),
      Text(1, 5, "e"),
      Text(2, 1, "r2"),
      Text(2, 2, "x"),
      Text(3, 1, "secret"),
      Text(3, 3, "s"),
      Text(4, 1, "last"),
      Text(4, 2, "y"),
      Text(6, 2, "from hidden"),
      StyledBlank(8, 7),
  });
  sheet.hiddenRows = {{3, 3}};
  sheet.hiddenColumns = {{2, 2}};
  sheet.mergedAreas = {{1, 3, 2, 4}, {6, 2, 6, 3}};
  return {{sheet}};
}

CsvOptions Shape(bool skipHidden, bool fillMerged, bool trim) {
  CsvOptions options;
  options.skipHidden = skipHidden;
  options.fillMerged = fillMerged;
  options.trim = trim;
  return options;
}

// One text, and a styled blank in the last cell an .xls worksheet has.
LogicalWorkbook Sparse() { return {{Worksheet({Text(2, 2, "x"), StyledBlank(65536, 256)})}}; }

struct OptionCase {
  const char* name;
  LogicalWorkbook (*workbook)();
  CsvOptions options;
  std::string csv;
};

CsvOptions Raw() {
  CsvOptions options;
  options.values = CellValues::kRaw;
  return options;
}

CsvOptions Trimmed(CellValues values = CellValues::kDisplayed) {
  CsvOptions options;
  options.trim = true;
  options.values = values;
  return options;
}

CsvOptions QuotedWithLf() {
  CsvOptions options;
  options.quoting = CsvQuoting::kAll;
  options.lineEnding = LineEnding::kLf;
  return options;
}

class ConversionOptionsTest : public testing::TestWithParam<OptionCase> {};

TEST_P(ConversionOptionsTest, GivesTheseBytesFromXlsxAndXls) {
  const OptionCase& c = GetParam();
  TempDir dir;
  const LogicalWorkbook book = c.workbook();
  WriteBytes(dir / "book.xlsx", WriteXlsx(book));
  WriteBytes(dir / "book.xls", WriteXls(book));
  for (const char* file : {"book.xlsx", "book.xls"}) {
    const std::string csv = dir / (std::string(file) + ".csv");
    ConvertExcelToCSV(dir / file, csv, c.options);
    EXPECT_EQ(ReadBytes(csv), c.csv) << file;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConversionOptionsTest,
    testing::Values(
        OptionCase{"Displayed",
                   Values,
                   {},
                   "Name,Amount,When,Flag,,\r\n"
                   "\"a,b\",0.1,2024-01-15,TRUE,,\r\n"
                   "x,\"1,234,567.89\",2024-01-15 08:30,#N/A,,\r\n"
                   "1E-300,08:30:00,60:00,,,\r\n"
                   ",,,,,\r\n"
                   ",,,,,\r\n"},
        // Shortest digits that read back the same; dates by what their format shows; an
        // elapsed time of more than a day as the date and time of its serial.
        OptionCase{"Raw", Values, Raw(),
                   "Name,Amount,When,Flag,,\r\n"
                   "\"a,b\",0.1,2024-01-15,TRUE,,\r\n"
                   "x,1234567.891,2024-01-15T08:30:00,#N/A,,\r\n"
                   "1E-300,08:30:00,1900-01-02T12:00:00,,,\r\n"
                   ",,,,,\r\n"
                   ",,,,,\r\n"},
        // No date stands for serial 60 and 3,000,000; day 0 is its time alone; a date with
        // a fraction of a day keeps it.
        OptionCase{"Raw1900Edges", Dates1900, Raw(),
                   "1900-01-01,60,1900-03-01,12:00:00,3000000,2024-01-15T00:00:00.009\r\n"},
        OptionCase{"Raw1904", Dates1904, Raw(), "2024-01-15,1904-01-01,2024-01-15T18:00:00\r\n"},
        OptionCase{"ShapedAsStored",
                   Shaped,
                   {},
                   "Head,Hidden col,Merged,,e,,\r\n"
                   "r2,x,,,,,\r\n"
                   "secret,,s,,,,\r\n"
                   "last,y,,,,,\r\n"
                   ",,,,,,\r\n"
                   ",from hidden,,,,,\r\n"
                   ",,,,,,\r\n"
                   ",,,,,,\r\n"},
        OptionCase{"FillMerged", Shaped, Shape(false, true, false),
                   "Head,Hidden col,Merged,Merged,e,,\r\n"
                   "r2,x,Merged,Merged,,,\r\n"
                   "secret,,s,,,,\r\n"
                   "last,y,,,,,\r\n"
                   ",,,,,,\r\n"
                   ",from hidden,from hidden,,,,\r\n"
                   ",,,,,,\r\n"
                   ",,,,,,\r\n"},
        OptionCase{"SkipHidden", Shaped, Shape(true, false, false),
                   "Head,Merged,,e,,\r\n"
                   "r2,,,,,\r\n"
                   "last,,,,,\r\n"
                   ",,,,,\r\n"
                   ",,,,,\r\n"
                   ",,,,,\r\n"
                   ",,,,,\r\n"},
        // A merged area keeps the text of its top-left cell in a hidden column; trimming
        // counts what is shown.
        OptionCase{"SkipHiddenFillMergedTrim", Shaped, Shape(true, true, true),
                   "Head,Merged,Merged,e\r\n"
                   "r2,Merged,Merged,\r\n"
                   "last,,,\r\n"
                   ",,,\r\n"
                   ",from hidden,,\r\n"},
        OptionCase{"Trim", Values, Trimmed(),
                   "Name,Amount,When,Flag\r\n"
                   "\"a,b\",0.1,2024-01-15,TRUE\r\n"
                   "x,\"1,234,567.89\",2024-01-15 08:30,#N/A\r\n"
                   "1E-300,08:30:00,60:00,\r\n"},
        OptionCase{"TrimSparseRange", Sparse, Trimmed(), ",\r\n,x\r\n"},
        OptionCase{"QuoteAllWithLf", Values, QuotedWithLf(),
                   "\"Name\",\"Amount\",\"When\",\"Flag\",\"\",\"\"\n"
                   "\"a,b\",\"0.1\",\"2024-01-15\",\"TRUE\",\"\",\"\"\n"
                   "\"x\",\"1,234,567.89\",\"2024-01-15 08:30\",\"#N/A\",\"\",\"\"\n"
                   "\"1E-300\",\"08:30:00\",\"60:00\",\"\",\"\",\"\"\n"
                   "\"\",\"\",\"\",\"\",\"\",\"\"\n"
                   "\"\",\"\",\"\",\"\",\"\",\"\"\n"}),
    [](const testing::TestParamInfo<OptionCase>& param) { return std::string(param.param.name); });

// Counts what the monitor is told of formulas without a value.
class FormulaCount : public ConversionMonitor {
 public:
  void FormulasWithoutValue(long long count) override { told += count; }
  long long told = 0;
};

TEST(ConversionOptionsTest, SkipHiddenLeavesOutHiddenWorksheetsOfAllButNotOneAskedFor) {
  TempDir dir;
  const LogicalWorkbook book = ThreeWorksheetsAndAChart();
  WriteBytes(dir / "book.xlsx", WriteXlsx(book));
  WriteBytes(dir / "book.xls", WriteXls(book));
  CsvOptions options;
  options.skipHidden = true;
  for (const char* file : {"book.xlsx", "book.xls"}) {
    std::vector<std::string> names;
    const auto namer = [&](const std::string& sheet) {
      names.push_back(sheet);
      return dir / (std::string(file) + " - " + sheet + ".csv");
    };
    ConvertWorkbookToCSV(dir / file, SheetChoice{true, {}}, namer, options);
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Gämma"})) << file;
    names.clear();
    ConvertWorkbookToCSV(dir / file, SheetChoice{false, {"Beta"}}, namer, options);
    EXPECT_EQ(names, std::vector<std::string>{"Beta"}) << file;
  }
}

TEST(ConversionOptionsTest, FormulasWithoutAValueAreWrittenEmptyAndCountedForTheWorkbook) {
  TempDir dir;
  const LogicalWorkbook book{{Worksheet({FormulaWithoutValue(1, 1, "1+1"), Num(1, 2, 7),
                                         FormulaWithoutValue(2, 2, "A1*2")},
                                        "One"),
                              Worksheet({FormulaWithoutValue(1, 1, "NOW()")}, "Two")}};
  WriteBytes(dir / "book.xlsx", WriteXlsx(book));
  FormulaCount monitor;
  const std::vector<std::string> written = ConvertWorkbookToCSV(
      dir / "book.xlsx", SheetChoice{true, {}},
      [&](const std::string& sheet) { return dir / (sheet + ".csv"); }, {}, &monitor);
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(ReadBytes(written[0]), ",7\r\n,\r\n");
  EXPECT_EQ(monitor.told, 3);
}

}  // namespace
}  // namespace cellverter
