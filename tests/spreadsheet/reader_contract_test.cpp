// What every reader owes the engine: one table of logical workbooks, each written in every
// file format and read through the dispatcher and the automation members as a conversion
// reads it. Behaviour that only one format can express stays in that reader's own tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "logical_workbook.h"
#include "platform/utf8.h"
#include "sheet_dump.h"
#include "spreadsheet/workbook_source.h"
#include "temp_dir.h"
#include "xls_test_files.h"
#include "xlsx_builder.h"
#include "xlsx_test_support.h"

namespace cellverter {
namespace {

namespace ts = testing_support;

using namespace logical;  // the suite is written in the logical workbook's terms

// ---- The suite -------------------------------------------------------------------------------

enum class Format { Xlsx, Xls, Biff4, Xlsb, Ods };

const char* SuffixOf(Format format) {
  switch (format) {
    case Format::Xlsx:
      return "Xlsx";
    case Format::Xls:
      return "Xls";
    case Format::Biff4:
      return "Biff4";
    case Format::Xlsb:
      return "Xlsb";
    case Format::Ods:
      return "Ods";
  }
  return "";
}

struct ContractCase {
  const char* name;
  LogicalWorkbook book;
  std::string grid;  // the displayed texts of the first worksheet: "|" between fields, "\n" rows
};

struct ContractParam {
  ContractCase contract;
  Format format;
};

void PrintTo(const ContractParam& p, std::ostream* os) {
  *os << p.contract.name << " as " << SuffixOf(p.format);
}

class ReaderContract : public testing::TestWithParam<ContractParam> {};

// Every line of the spans, whatever their order or joins.
std::set<uint32_t> LinesOf(const std::vector<LineSpan>& spans) {
  std::set<uint32_t> lines;
  for (const LineSpan& span : spans) {
    for (uint32_t line = span.first; line <= span.last; ++line) lines.insert(line);
  }
  return lines;
}

// Ascending, disjoint, and no two that touch.
bool Joined(const std::vector<LineSpan>& spans) {
  for (size_t i = 0; i < spans.size(); ++i) {
    if (spans[i].first > spans[i].last) return false;
    if (i > 0 && spans[i].first <= spans[i - 1].last + 1) return false;
  }
  return true;
}

TEST_P(ReaderContract, ReadsTheFirstWorksheetAsWritten) {
  const ContractCase& c = GetParam().contract;
  const bool xlsx = GetParam().format == Format::Xlsx;
  const bool ods = GetParam().format == Format::Ods;
  ts::TempDir dir;
  // Each file under the other format's name: the dispatcher goes by content.
  const std::string path = dir / (xlsx ? "book.xls" : "book.xlsx");
  if (GetParam().format == Format::Biff4) {
    ts::WriteBytes(path, WriteBiff4(c.book));
  } else if (GetParam().format == Format::Xlsb) {
    ts::WriteBytes(path, WriteXlsb(c.book));
  } else if (ods) {
    ts::WriteBytes(path, WriteOds(c.book));
  } else {
    ts::WriteBytes(path, xlsx ? WriteXlsx(c.book) : WriteXls(c.book));
  }

  // What a conversion writes.
  EXPECT_EQ(ts::ReadGrid(path), c.grid);

  // What the reader serves: the sheet list, and for every worksheet each cell with its kind
  // and value, the date system and the used range.
  auto workbook = OpenWorkbook(path);
  ASSERT_EQ(workbook->Sheets().size(), c.book.sheets.size());
  for (size_t i = 0; i < c.book.sheets.size(); ++i) {
    const LogicalSheet& sheet = c.book.sheets[i];
    const SheetEntry& entry = workbook->Sheets()[i];
    SCOPED_TRACE("sheet " + std::to_string(i) + " " + sheet.name);
    EXPECT_EQ(entry.name, sheet.name);
    EXPECT_EQ(entry.kind, sheet.kind);
    EXPECT_EQ(entry.visibility, sheet.visibility);
    if (sheet.kind != SheetKind::kWorksheet) continue;
    std::string cells;
    uint32_t lastRow = 0, lastColumn = 0;
    for (const LogicalCell& cell : sheet.cells) {
      if (!cells.empty()) cells += ' ';
      cells += "R" + std::to_string(cell.row) + "C" + std::to_string(cell.column) + "=" +
               ts::Show(cell.value);
      lastRow = std::max(lastRow, cell.row);
      lastColumn = std::max(lastColumn, cell.column);
    }
    auto source = workbook->OpenSheet(i);
    EXPECT_EQ(source->Date1904(), c.book.date1904);
    EXPECT_EQ(source->LastRow(), lastRow);
    EXPECT_EQ(source->LastColumn(), lastColumn);
    EXPECT_EQ(source->CellsHeld(), sheet.cells.size());
    EXPECT_EQ(ts::Dump(*source), cells);
    EXPECT_TRUE(source->Repairs().Notes().empty());

    // The layout: the hidden lines as written, joined; the merged areas as listed.
    const SheetLayout& layout = source->Layout();
    EXPECT_EQ(LinesOf(layout.hiddenRows), LinesOf(sheet.hiddenRows));
    EXPECT_TRUE(Joined(layout.hiddenRows));
    EXPECT_EQ(LinesOf(layout.hiddenColumns), LinesOf(sheet.hiddenColumns));
    EXPECT_TRUE(Joined(layout.hiddenColumns));
    EXPECT_EQ(layout.mergedAreas, sheet.mergedAreas);
    const auto formulas =
        std::count_if(sheet.cells.begin(), sheet.cells.end(),
                      [](const LogicalCell& cell) { return !cell.formula.empty(); });
    EXPECT_EQ(layout.formulasWithoutValue, xlsx || ods ? static_cast<uint64_t>(formulas) : 0u);
  }
}

const std::vector<ContractCase>& Cases() {
  static const std::vector<ContractCase> cases = {
      {"Numbers",
       {{Worksheet({Num(1, 1, 0), Num(1, 2, 42), Num(1, 3, -1234567), Num(1, 4, 1.5),
                    Num(1, 5, -0.5), Num(1, 6, -0.125), Num(2, 1, 1e20), Num(2, 2, -1e300),
                    Num(2, 3, 123456789012), Num(2, 4, 0.0000123456), Num(2, 5, 1234567.891),
                    Num(2, 6, 1.0 / 3)})}},
       "0|42|-1234567|1.5|-0.5|-0.125\n"
       "1E+20|-1E+300|1.23457E+11|1.23456E-05|1234567.891|0.333333333"},
      {"NumbersInFormats",
       {{Worksheet(
           {Num(1, 1, 1234.5, "#,##0.00"), Num(1, 2, 0.25, "0%"), Num(1, 3, -3, "0.0;(0.0)")})}},
       "1,234.50|25%|(3.0)"},
      // The same shared string twice, an empty one, texts with the CSV's own characters and
      // text beyond Latin-1 (in .xls: compressed and UTF-16 characters).
      {"Strings",
       {{Worksheet({Text(1, 1, "Ω second"), Text(1, 2, "first"), Text(1, 3, "Ω second"),
                    Text(1, 4, ""), Text(2, 1, "say \"hi\", then\nleave"),
                    Text(2, 2, "café", false), Text(2, 3, "日本 \U0001F600", false),
                    Text(2, 4, "a,b \"c\"", false)})}},
       "Ω second|first|Ω second|\nsay \"hi\", then\nleave|café|日本 \U0001F600|a,b \"c\""},
      {"Booleans", {{Worksheet({Bool(1, 1, true), Bool(1, 2, false)})}}, "TRUE|FALSE"},
      {"EveryErrorCode",
       {{Worksheet({Err(1, 1, "#NULL!"), Err(1, 2, "#DIV/0!"), Err(1, 3, "#VALUE!"),
                    Err(1, 4, "#REF!"), Err(1, 5, "#NAME?"), Err(1, 6, "#NUM!"), Err(1, 7, "#N/A"),
                    Err(1, 8, "#GETTING_DATA")})}},
       "#NULL!|#DIV/0!|#VALUE!|#REF!|#NAME?|#NUM!|#N/A|#GETTING_DATA"},
      // 60 is the 29th of February 1900 that Excel's 1900 system counts, 0 its day zero.
      {"Dates1900",
       {{Worksheet({Num(1, 1, 45351, "yyyy-mm-dd"), Num(1, 2, 60, "yyyy-mm-dd"),
                    Num(1, 3, 61, "yyyy-mm-dd"), Num(1, 4, 0, "yyyy-mm-dd"),
                    Num(1, 5, 1.5, "yyyy-mm-dd hh:mm"), Num(1, 6, 0.25, "hh:mm")})}},
       "2024-02-29|1900-02-29|1900-03-01|1900-01-00|1900-01-01 12:00|06:00"},
      {"Dates1904",
       {{Worksheet({Num(1, 1, 0, "yyyy-mm-dd"), Num(1, 2, 43708, "yyyy-mm-dd"),
                    Num(1, 3, 1.5, "yyyy-mm-dd hh:mm"), Num(1, 4, 0.25, "hh:mm")})},
        true},
       "1904-01-01|2023-09-01|1904-01-02 12:00|06:00"},
      {"EmptyWorksheetIsOneEmptyCell", {{Worksheet({})}}, ""},
      {"BlockAwayFromA1StartsAtA1",
       {{Worksheet({Num(3, 3, 1), Num(3, 4, 2), Num(4, 3, 3), Num(4, 4, 4)})}},
       "|||\n|||\n||1|2\n||3|4"},
      {"StyledBlanksSetTheLastCell",
       {{Worksheet({Num(1, 1, 7), StyledBlank(3, 3), StyledBlank(5, 2)})}},
       "7||\n||\n||\n||\n||"},
      {"HiddenWorksheetFirst",
       {{Worksheet({Text(1, 1, "hidden")}, "Hidden", SheetVisibility::kHidden),
         Worksheet({Text(1, 1, "visible")}, "Visible")}},
       "hidden"},
      {"ChartSheetThenVeryHiddenWorksheetFirst",
       {{{"Chart", SheetKind::kChart, SheetVisibility::kVisible, {Num(1, 1, 2)}},
         Worksheet({Text(1, 1, "first")}, "First", SheetVisibility::kVeryHidden),
         Worksheet({Text(1, 1, "second")}, "Second")}},
       "first"},
      {"DialogSheetFirst",
       {{{"Dialog", SheetKind::kDialog, SheetVisibility::kVisible, {Num(1, 1, 4)}},
         Worksheet({Num(1, 1, 1)}, "Data")}},
       "1"},
      {"MacroSheetFirst",
       {{{"Macro", SheetKind::kMacro, SheetVisibility::kVisible, {Num(1, 1, 3)}},
         Worksheet({Num(1, 1, 1)}, "Data")}},
       "1"},
      {"ThreeWorksheetsAndAChart", ThreeWorksheetsAndAChart(), "alpha|1"},
      // Names against their order: the first in workbook order wins, not the first by name.
      // Hidden rows with and without cells, spans written line by line or next to each
      // other, and a hidden column beyond the used range.
      {"HiddenRowsAndColumns",
       {{{"Sheet1",
          SheetKind::kWorksheet,
          SheetVisibility::kVisible,
          {Num(1, 1, 1), Num(1, 2, 2), Num(1, 3, 3), Num(2, 1, 4), Num(3, 1, 5), Num(5, 2, 6)},
          {{2, 3}, {4, 4}, {7, 7}},
          {{2, 2}, {3, 3}, {5, 9}}}}},
       "1|2|3\n4||\n5||\n||\n|6|"},
      {"MergedAreas",
       {{{"Sheet1",
          SheetKind::kWorksheet,
          SheetVisibility::kVisible,
          {Text(1, 1, "head"), Num(3, 2, 7)},
          {},
          {},
          {{1, 1, 1, 3}, {2, 1, 4, 1}, {3, 2, 4, 3}, {10, 5, 12, 5}}}}},
       "head|\n|\n|7"},
      // A library's workbook: formulas whose results Excel calculates on opening. The .xls
      // writer stores them as blanks.
      {"FormulasWithoutValue",
       {{Worksheet({Num(1, 1, 2), FormulaWithoutValue(1, 2, "A1*2"),
                    FormulaWithoutValue(2, 1, "SUM(A1:B1)")})}},
       "2|\n|"},
      {"SheetOrder",
       {{Worksheet({Text(1, 1, "gamma")}, "Gamma"), Worksheet({Text(1, 1, "alpha")}, "Alpha"),
         Worksheet({Text(1, 1, "beta")}, "Beta")}},
       "gamma"},
  };
  return cases;
}

// Whether `format` can hold `book`: the cases a format cannot express are left to the others.
bool Holds(Format format, const LogicalWorkbook& book) {
  switch (format) {
    case Format::Biff4:
      return Biff4Cannot(book).empty();
    case Format::Ods:
      // OpenDocument has no chart, dialog or macro sheets among its tables, and no very
      // hidden sheets.
      return std::all_of(book.sheets.begin(), book.sheets.end(), [](const LogicalSheet& s) {
        return s.kind == SheetKind::kWorksheet && s.visibility != SheetVisibility::kVeryHidden;
      });
    default:
      return true;
  }
}

std::vector<ContractParam> AllParams() {
  std::vector<ContractParam> params;
  for (const ContractCase& c : Cases()) {
    for (Format format : {Format::Xlsx, Format::Xls, Format::Biff4, Format::Xlsb, Format::Ods}) {
      if (Holds(format, c.book)) params.push_back({c, format});
    }
  }
  return params;
}

INSTANTIATE_TEST_SUITE_P(EveryReader, ReaderContract, testing::ValuesIn(AllParams()),
                         [](const testing::TestParamInfo<ContractParam>& p) {
                           return std::string(p.param.contract.name) + SuffixOf(p.param.format);
                         });

}  // namespace
}  // namespace cellverter
