// What every reader owes the engine: one table of logical workbooks, each written in every
// file format and read through the dispatcher and the automation members as a conversion
// reads it. Behaviour that only one format can express stays in that reader's own tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

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

// ---- The logical workbook ------------------------------------------------------------------

enum class SheetKind { Worksheet, Chart, Dialog, Macro };
enum class Visibility { Visible, Hidden, VeryHidden };

struct LogicalCell {
  uint32_t row;  // 1-based
  uint32_t column;
  CellValue value;          // Empty: a blank cell with a format of its own
  std::string format{};     // a number format code; "" for General
  bool sharedString{true};  // a text in the shared string table, or in the cell itself
};

struct LogicalSheet {
  std::string name;
  SheetKind kind{SheetKind::Worksheet};
  Visibility visibility{Visibility::Visible};
  // In row order, columns ascending. The .xlsx writer writes those of worksheets only, the
  // .xls writer those of every sheet: there a chart, dialog or macro sheet holds cell records
  // that a wrong choice of sheet would show.
  std::vector<LogicalCell> cells{};
};

struct LogicalWorkbook {
  std::vector<LogicalSheet> sheets;
  bool date1904{false};
};

LogicalCell Num(uint32_t row, uint32_t column, double value, std::string format = "") {
  return {row, column, CellValue::Number(value), std::move(format)};
}
LogicalCell Text(uint32_t row, uint32_t column, std::string text, bool shared = true) {
  return {row, column, CellValue::String(std::move(text)), "", shared};
}
LogicalCell Bool(uint32_t row, uint32_t column, bool value) {
  return {row, column, CellValue::Boolean(value)};
}
LogicalCell Err(uint32_t row, uint32_t column, std::string code) {
  return {row, column, CellValue::ErrorCode(std::move(code))};
}
LogicalCell StyledBlank(uint32_t row, uint32_t column) { return {row, column, CellValue::Empty()}; }

LogicalSheet Worksheet(std::vector<LogicalCell> cells, std::string name = "Sheet1",
                       Visibility visibility = Visibility::Visible) {
  return {std::move(name), SheetKind::Worksheet, visibility, std::move(cells)};
}

// The cell formats both writers give: 0 General, 1 General again (the format of its own that
// a styled blank carries), then one per number format code in order of first use.
std::vector<std::string> CellFormats(const LogicalWorkbook& book) {
  std::vector<std::string> formats = {"", ""};
  for (const LogicalSheet& sheet : book.sheets) {
    for (const LogicalCell& cell : sheet.cells) {
      if (!cell.format.empty() &&
          std::find(formats.begin() + 2, formats.end(), cell.format) == formats.end()) {
        formats.push_back(cell.format);
      }
    }
  }
  return formats;
}
uint16_t StyleOf(const LogicalCell& cell, const std::vector<std::string>& formats) {
  if (cell.value.kind == CellValue::Kind::Empty) return 1;
  if (cell.format.empty()) return 0;
  return static_cast<uint16_t>(std::find(formats.begin() + 2, formats.end(), cell.format) -
                               formats.begin());
}

// The shared strings of the workbook, each once, in order of first use.
std::vector<std::string> SharedStrings(const LogicalWorkbook& book) {
  std::vector<std::string> strings;
  for (const LogicalSheet& sheet : book.sheets) {
    for (const LogicalCell& cell : sheet.cells) {
      if (cell.value.kind == CellValue::Kind::String && cell.sharedString &&
          std::find(strings.begin(), strings.end(), cell.value.text) == strings.end()) {
        strings.push_back(cell.value.text);
      }
    }
  }
  return strings;
}
uint32_t IndexOf(const std::vector<std::string>& strings, const std::string& text) {
  return static_cast<uint32_t>(std::find(strings.begin(), strings.end(), text) - strings.begin());
}

// ---- .xlsx -----------------------------------------------------------------------------------

std::string XlsxCell(const LogicalCell& cell, uint16_t style,
                     const std::vector<std::string>& strings) {
  std::string xml = "<c r=\"" + ts::ColumnName(cell.column) + std::to_string(cell.row) + "\"" +
                    (style ? " s=\"" + std::to_string(style) + "\"" : "");
  const std::string preserve =
      "<t xml:space=\"preserve\">" + ts::XmlEscape(cell.value.text) + "</t>";
  switch (cell.value.kind) {
    case CellValue::Kind::Empty:
      return xml + "/>";
    case CellValue::Kind::Number: {
      char number[40];
      std::snprintf(number, sizeof number, "%.17g", cell.value.number);
      return xml + "><v>" + number + "</v></c>";
    }
    case CellValue::Kind::String:
      if (cell.sharedString) {
        return xml + " t=\"s\"><v>" + std::to_string(IndexOf(strings, cell.value.text)) +
               "</v></c>";
      }
      return xml + " t=\"inlineStr\"><is>" + preserve + "</is></c>";
    case CellValue::Kind::Boolean:
      return xml + " t=\"b\"><v>" + (cell.value.number ? "1" : "0") + "</v></c>";
    case CellValue::Kind::Error:
      return xml + " t=\"e\"><v>" + ts::XmlEscape(cell.value.text) + "</v></c>";
  }
  return xml + "/>";
}

std::string WriteXlsx(const LogicalWorkbook& logical) {
  const std::vector<std::string> formats = CellFormats(logical);
  const std::vector<std::string> strings = SharedStrings(logical);
  ts::TestWorkbook book;
  book.date1904 = logical.date1904;
  book.cellXfs = {0, 0};
  for (size_t i = 2; i < formats.size(); ++i) {
    const int id = static_cast<int>(164 + i - 2);
    book.numFmts += "<numFmt numFmtId=\"" + std::to_string(id) + "\" formatCode=\"" +
                    ts::XmlEscape(formats[i]) + "\"/>";
    book.cellXfs.push_back(id);
  }
  for (const std::string& text : strings) {
    book.sharedStrings.push_back("<t xml:space=\"preserve\">" + ts::XmlEscape(text) + "</t>");
  }
  for (const LogicalSheet& sheet : logical.sheets) {
    std::string data;
    uint32_t row = 0;
    for (const LogicalCell& cell : sheet.cells) {
      if (cell.row != row) {
        if (row != 0) data += "</row>";
        row = cell.row;
        data += "<row r=\"" + std::to_string(row) + "\">";
      }
      data += XlsxCell(cell, StyleOf(cell, formats), strings);
    }
    if (row != 0) data += "</row>";
    static const char* const kKinds[] = {"worksheet", "chartsheet", "dialogsheet", "macrosheet"};
    static const char* const kStates[] = {"", "hidden", "veryHidden"};
    ts::TestSheet part(data, kKinds[static_cast<int>(sheet.kind)],
                       kStates[static_cast<int>(sheet.visibility)]);
    part.name = sheet.name;
    book.sheets.push_back(std::move(part));
  }
  return book.Zip();
}

// ---- .xls (BIFF8) ----------------------------------------------------------------------------

// A text as BIFF8 stores it: one byte per character when all are Latin-1, else UTF-16.
std::string BiffText(const std::string& utf8) {
  std::u16string units;
  bool latin1 = true;
  for (size_t pos = 0; pos < utf8.size();) {
    const char32_t c = DecodeUtf8OrInvalid(utf8, pos);
    latin1 = latin1 && c < 0x100;
    if (c >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(c);
    }
  }
  if (!latin1) return ts::Utf16(units);
  return ts::Compressed(std::string(units.begin(), units.end()));
}

uint8_t BiffErrorCode(const std::string& code) {
  static const std::map<std::string, uint8_t> kCodes = {
      {"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0F}, {"#REF!", 0x17},
      {"#NAME?", 0x1D}, {"#NUM!", 0x24},   {"#N/A", 0x2A},    {"#GETTING_DATA", 0x2B}};
  return kCodes.at(code);
}

std::string XlsCell(const LogicalCell& cell, uint16_t style,
                    const std::vector<std::string>& strings) {
  const auto row = static_cast<uint16_t>(cell.row - 1);
  const auto column = static_cast<uint16_t>(cell.column - 1);
  switch (cell.value.kind) {
    case CellValue::Kind::Empty:
      return ts::Blank(row, column, style);
    case CellValue::Kind::Number:
      return ts::Number(row, column, cell.value.number, style);
    case CellValue::Kind::String:
      if (cell.sharedString) {
        return ts::LabelSst(row, column, IndexOf(strings, cell.value.text), style);
      }
      return ts::Record(0x0204, ts::CellHead(row, column, style) + BiffText(cell.value.text));
    case CellValue::Kind::Boolean:
      return ts::BoolErr(row, column, cell.value.number ? 1 : 0, false, style);
    case CellValue::Kind::Error:
      return ts::BoolErr(row, column, BiffErrorCode(cell.value.text), true, style);
  }
  return "";
}

std::string WriteXls(const LogicalWorkbook& logical) {
  const std::vector<std::string> formats = CellFormats(logical);
  const std::vector<std::string> strings = SharedStrings(logical);
  // Without a DATEMODE record the workbook counts from 1900.
  std::string globals = logical.date1904 ? ts::Record(0x0022, ts::Le16(1)) : "";
  for (size_t i = 2; i < formats.size(); ++i) {
    globals +=
        ts::Record(0x041E, ts::Le16(static_cast<uint32_t>(164 + i - 2)) + BiffText(formats[i]));
  }
  globals += ts::Xf(0) + ts::Xf(0);
  for (size_t i = 2; i < formats.size(); ++i) globals += ts::Xf(static_cast<uint16_t>(164 + i - 2));
  std::vector<std::string> bodies;
  for (const std::string& text : strings) bodies.push_back(BiffText(text));
  globals += ts::Sst(bodies);
  std::vector<ts::SheetSpec> sheets;
  for (const LogicalSheet& sheet : logical.sheets) {
    ts::SheetSpec part;
    part.name = sheet.name;
    part.hidden = static_cast<uint8_t>(sheet.visibility);
    switch (sheet.kind) {
      case SheetKind::Worksheet:
        part.records = ts::WsBool(false);
        break;
      case SheetKind::Chart:
        part.sheetType = 2;
        part.substream = 0x0020;
        break;
      case SheetKind::Dialog:
        part.records = ts::WsBool(true);
        break;
      case SheetKind::Macro:
        part.sheetType = 1;
        part.substream = 0x0040;
        break;
    }
    for (const LogicalCell& cell : sheet.cells) {
      part.records += XlsCell(cell, StyleOf(cell, formats), strings);
    }
    sheets.push_back(std::move(part));
  }
  return ts::WriteCompoundFile({{"Workbook", ts::WorkbookStream(globals, sheets)}}).bytes;
}

// ---- The suite -------------------------------------------------------------------------------

enum class Format { Xlsx, Xls };

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
  *os << p.contract.name << (p.format == Format::Xlsx ? " as .xlsx" : " as .xls");
}

// The first worksheet in workbook order, hidden or not.
const LogicalSheet& FirstWorksheet(const LogicalWorkbook& book) {
  return *std::find_if(book.sheets.begin(), book.sheets.end(),
                       [](const LogicalSheet& s) { return s.kind == SheetKind::Worksheet; });
}

class ReaderContract : public testing::TestWithParam<ContractParam> {};

TEST_P(ReaderContract, ReadsTheFirstWorksheetAsWritten) {
  const ContractCase& c = GetParam().contract;
  const bool xlsx = GetParam().format == Format::Xlsx;
  ts::TempDir dir;
  // Each file under the other format's name: the dispatcher goes by content.
  const std::string path = dir / (xlsx ? "book.xls" : "book.xlsx");
  ts::WriteBytes(path, xlsx ? WriteXlsx(c.book) : WriteXls(c.book));

  // What a conversion writes.
  EXPECT_EQ(ts::ReadGrid(path), c.grid);

  // What the reader serves: every cell with its kind and value, the date system, the used range.
  const LogicalSheet& sheet = FirstWorksheet(c.book);
  std::string cells;
  uint32_t lastRow = 0, lastColumn = 0;
  for (const LogicalCell& cell : sheet.cells) {
    if (!cells.empty()) cells += ' ';
    cells += "R" + std::to_string(cell.row) + "C" + std::to_string(cell.column) + "=" +
             ts::Show(cell.value);
    lastRow = std::max(lastRow, cell.row);
    lastColumn = std::max(lastColumn, cell.column);
  }
  auto source = OpenWorkbookSource(path);
  EXPECT_EQ(source->Date1904(), c.book.date1904);
  EXPECT_EQ(source->LastRow(), lastRow);
  EXPECT_EQ(source->LastColumn(), lastColumn);
  EXPECT_EQ(source->CellsHeld(), sheet.cells.size());
  EXPECT_EQ(ts::Dump(*source), cells);
  EXPECT_TRUE(source->Repairs().Notes().empty());
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
       {{Worksheet({Text(1, 1, "hidden")}, "Hidden", Visibility::Hidden),
         Worksheet({Text(1, 1, "visible")}, "Visible")}},
       "hidden"},
      {"ChartSheetThenVeryHiddenWorksheetFirst",
       {{{"Chart", SheetKind::Chart, Visibility::Visible, {Num(1, 1, 2)}},
         Worksheet({Text(1, 1, "first")}, "First", Visibility::VeryHidden),
         Worksheet({Text(1, 1, "second")}, "Second")}},
       "first"},
      {"DialogSheetFirst",
       {{{"Dialog", SheetKind::Dialog, Visibility::Visible, {Num(1, 1, 4)}},
         Worksheet({Num(1, 1, 1)}, "Data")}},
       "1"},
      {"MacroSheetFirst",
       {{{"Macro", SheetKind::Macro, Visibility::Visible, {Num(1, 1, 3)}},
         Worksheet({Num(1, 1, 1)}, "Data")}},
       "1"},
      // Names against their order: the first in workbook order wins, not the first by name.
      {"SheetOrder",
       {{Worksheet({Text(1, 1, "gamma")}, "Gamma"), Worksheet({Text(1, 1, "alpha")}, "Alpha"),
         Worksheet({Text(1, 1, "beta")}, "Beta")}},
       "gamma"},
  };
  return cases;
}

std::vector<ContractParam> AllParams() {
  std::vector<ContractParam> params;
  for (const ContractCase& c : Cases()) {
    for (Format format : {Format::Xlsx, Format::Xls}) params.push_back({c, format});
  }
  return params;
}

INSTANTIATE_TEST_SUITE_P(EveryReader, ReaderContract, testing::ValuesIn(AllParams()),
                         [](const testing::TestParamInfo<ContractParam>& p) {
                           return std::string(p.param.contract.name) +
                                  (p.param.format == Format::Xlsx ? "Xlsx" : "Xls");
                         });

}  // namespace
}  // namespace cellverter
