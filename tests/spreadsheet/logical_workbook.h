// Logical workbooks (sheets of every kind and visibility, typed cells, number formats, the
// date system, hidden rows and columns, merged areas) and the writers that store one as .xlsx,
// as .xls (BIFF8), as an Excel 4.0 workbook (BIFF4W), as .xlsb and as .ods: the reader
// contract suite and the command-line tests read the same workbook in every format.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "ods_builder.h"
#include "old_biff_test_files.h"
#include "platform/utf8.h"
#include "spreadsheet/cell_value.h"
#include "spreadsheet/numfmt/serial_date.h"
#include "spreadsheet/sheet_source.h"
#include "xls_test_files.h"
#include "xlsb_builder.h"
#include "xlsx_builder.h"
#include "xlsx_test_support.h"

namespace cellverter::logical {

namespace ts = testing_support;

struct LogicalCell {
  uint32_t row;  // 1-based
  uint32_t column;
  CellValue value;          // Empty: a blank cell with a format of its own
  std::string format{};     // a number format code; "" for General
  bool sharedString{true};  // a text in the shared string table, or in the cell itself
  // With an Empty value: a formula stored without its result (.xlsx only; the .xls writer
  // writes the cell as a blank, since a FORMULA record always carries a result).
  std::string formula{};
};

struct LogicalSheet {
  std::string name;
  SheetKind kind{SheetKind::kWorksheet};
  SheetVisibility visibility{SheetVisibility::kVisible};
  // In row order, columns ascending. The .xlsx writer writes those of worksheets only, the
  // .xls writer those of every sheet: there a chart, dialog or macro sheet holds cell records
  // that a wrong choice of sheet would show.
  std::vector<LogicalCell> cells{};
  // Hidden rows and columns (each span written as its lines one by one for rows, as one
  // column range for columns) and merged areas, in the order written.
  std::vector<LineSpan> hiddenRows{};
  std::vector<LineSpan> hiddenColumns{};
  std::vector<CellArea> mergedAreas{};
};

struct LogicalWorkbook {
  std::vector<LogicalSheet> sheets;
  bool date1904{false};
};

inline LogicalCell Num(uint32_t row, uint32_t column, double value, std::string format = "") {
  return {row, column, CellValue::Number(value), std::move(format)};
}
inline LogicalCell Text(uint32_t row, uint32_t column, std::string text, bool shared = true) {
  return {row, column, CellValue::String(std::move(text)), "", shared};
}
inline LogicalCell Bool(uint32_t row, uint32_t column, bool value) {
  return {row, column, CellValue::Boolean(value)};
}
inline LogicalCell Err(uint32_t row, uint32_t column, std::string code) {
  return {row, column, CellValue::ErrorCode(std::move(code))};
}
inline LogicalCell StyledBlank(uint32_t row, uint32_t column) {
  return {row, column, CellValue::Empty()};
}
inline LogicalCell FormulaWithoutValue(uint32_t row, uint32_t column, std::string formula) {
  return {row, column, CellValue::Empty(), "", true, std::move(formula)};
}

inline LogicalSheet Worksheet(std::vector<LogicalCell> cells, std::string name = "Sheet1",
                              SheetVisibility visibility = SheetVisibility::kVisible) {
  return {std::move(name), SheetKind::kWorksheet, visibility, std::move(cells)};
}

// The cell formats both writers give: 0 General, 1 General again (the format of its own that
// a styled blank carries), then one per number format code in order of first use.
inline std::vector<std::string> CellFormats(const LogicalWorkbook& book) {
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
inline uint16_t StyleOf(const LogicalCell& cell, const std::vector<std::string>& formats) {
  if (cell.value.kind == CellValue::Kind::Empty) return 1;
  if (cell.format.empty()) return 0;
  return static_cast<uint16_t>(std::find(formats.begin() + 2, formats.end(), cell.format) -
                               formats.begin());
}

// The shared strings of the workbook, each once, in order of first use.
inline std::vector<std::string> SharedStrings(const LogicalWorkbook& book) {
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
inline uint32_t IndexOf(const std::vector<std::string>& strings, const std::string& text) {
  return static_cast<uint32_t>(std::find(strings.begin(), strings.end(), text) - strings.begin());
}

// ---- .xlsx -----------------------------------------------------------------------------------

inline std::string XlsxCell(const LogicalCell& cell, uint16_t style,
                            const std::vector<std::string>& strings) {
  std::string xml = "<c r=\"" + ts::ColumnName(cell.column) + std::to_string(cell.row) + "\"" +
                    (style ? " s=\"" + std::to_string(style) + "\"" : "");
  const std::string preserve =
      "<t xml:space=\"preserve\">" + ts::XmlEscape(cell.value.text) + "</t>";
  switch (cell.value.kind) {
    case CellValue::Kind::Empty:
      if (!cell.formula.empty()) return xml + "><f>" + ts::XmlEscape(cell.formula) + "</f></c>";
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

inline std::string WriteXlsx(const LogicalWorkbook& logical) {
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
    // Rows in order, each with its cells; a hidden row without cells is written empty.
    std::map<uint32_t, std::string> rows;
    for (const LineSpan& span : sheet.hiddenRows) {
      for (uint32_t r = span.first; r <= span.last; ++r) rows[r];
    }
    for (const LogicalCell& cell : sheet.cells) {
      rows[cell.row] += XlsxCell(cell, StyleOf(cell, formats), strings);
    }
    std::string data;
    for (const auto& [row, cells] : rows) {
      const bool hidden =
          std::any_of(sheet.hiddenRows.begin(), sheet.hiddenRows.end(),
                      [row = row](const LineSpan& s) { return row >= s.first && row <= s.last; });
      data += "<row r=\"" + std::to_string(row) + "\"" + (hidden ? " hidden=\"1\"" : "") + ">" +
              cells + "</row>";
    }
    static const char* const kKinds[] = {"worksheet", "chartsheet", "dialogsheet", "macrosheet"};
    static const char* const kStates[] = {"", "hidden", "veryHidden"};
    ts::TestSheet part(data, kKinds[static_cast<int>(sheet.kind)],
                       kStates[static_cast<int>(sheet.visibility)]);
    part.name = sheet.name;
    if (!sheet.hiddenColumns.empty()) {
      part.beforeData += "<cols>";
      for (const LineSpan& span : sheet.hiddenColumns) {
        part.beforeData += "<col min=\"" + std::to_string(span.first) + "\" max=\"" +
                           std::to_string(span.last) + "\" width=\"9\" hidden=\"1\"/>";
      }
      part.beforeData += "</cols>";
    }
    if (!sheet.mergedAreas.empty()) {
      part.afterData += "<mergeCells count=\"" + std::to_string(sheet.mergedAreas.size()) + "\">";
      for (const CellArea& area : sheet.mergedAreas) {
        part.afterData += "<mergeCell ref=\"" + ts::ColumnName(area.firstColumn) +
                          std::to_string(area.firstRow) + ":" + ts::ColumnName(area.lastColumn) +
                          std::to_string(area.lastRow) + "\"/>";
      }
      part.afterData += "</mergeCells>";
    }
    book.sheets.push_back(std::move(part));
  }
  return book.Zip();
}

// ---- .xls (BIFF8) ----------------------------------------------------------------------------

// A text as UTF-16 units, and whether every character is Latin-1.
inline std::u16string Utf16Units(const std::string& utf8, bool* latin1 = nullptr) {
  std::u16string units;
  bool narrow = true;
  for (size_t pos = 0; pos < utf8.size();) {
    const char32_t c = DecodeUtf8OrInvalid(utf8, pos);
    narrow = narrow && c < 0x100;
    if (c >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(c);
    }
  }
  if (latin1 != nullptr) *latin1 = narrow;
  return units;
}

// A text as BIFF8 stores it: one byte per character when all are Latin-1, else UTF-16.
inline std::string BiffText(const std::string& utf8) {
  bool latin1 = true;
  const std::u16string units = Utf16Units(utf8, &latin1);
  if (!latin1) return ts::Utf16(units);
  return ts::Compressed(std::string(units.begin(), units.end()));
}

inline uint8_t BiffErrorCode(const std::string& code) {
  static const std::map<std::string, uint8_t> kCodes = {
      {"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0F}, {"#REF!", 0x17},
      {"#NAME?", 0x1D}, {"#NUM!", 0x24},   {"#N/A", 0x2A},    {"#GETTING_DATA", 0x2B}};
  return kCodes.at(code);
}

inline std::string XlsCell(const LogicalCell& cell, uint16_t style,
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

inline std::string WriteXls(const LogicalWorkbook& logical) {
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
    // A name beyond ASCII is written in UTF-16, as Excel writes it.
    if (std::any_of(sheet.name.begin(), sheet.name.end(),
                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
      part.wideName = Utf16Units(sheet.name);
    }
    part.hidden = static_cast<uint8_t>(sheet.visibility);
    switch (sheet.kind) {
      case SheetKind::kWorksheet:
        part.records = ts::WsBool(false);
        break;
      case SheetKind::kChart:
        part.sheetType = 2;
        part.substream = 0x0020;
        break;
      case SheetKind::kDialog:
        part.records = ts::WsBool(true);
        break;
      case SheetKind::kMacro:
        part.sheetType = 1;
        part.substream = 0x0040;
        break;
    }
    for (const LineSpan& span : sheet.hiddenColumns) {
      // COLINFO: first and last column, width, format 15 (the default), fHidden.
      part.records +=
          ts::Record(0x007D, ts::Le16(span.first - 1) + ts::Le16(span.last - 1) + ts::Le16(2340) +
                                 ts::Le16(15) + ts::Le16(1) + ts::Le16(0));
    }
    for (const LineSpan& span : sheet.hiddenRows) {
      for (uint32_t r = span.first; r <= span.last; ++r) {
        // ROW: row, columns, height, reserved, unused, fDyZero, format.
        part.records +=
            ts::Record(0x0208, ts::Le16(r - 1) + ts::Le16(0) + ts::Le16(0) + ts::Le16(255) +
                                   ts::Le16(0) + ts::Le16(0) + ts::Le16(0x0020) + ts::Le16(15));
      }
    }
    for (const LogicalCell& cell : sheet.cells) {
      part.records += XlsCell(cell, StyleOf(cell, formats), strings);
    }
    if (!sheet.mergedAreas.empty()) {
      std::string refs = ts::Le16(static_cast<uint32_t>(sheet.mergedAreas.size()));
      for (const CellArea& area : sheet.mergedAreas) {
        refs += ts::Le16(area.firstRow - 1) + ts::Le16(area.lastRow - 1) +
                ts::Le16(area.firstColumn - 1) + ts::Le16(area.lastColumn - 1);
      }
      part.records += ts::Record(0x00E5, refs);
    }
    sheets.push_back(std::move(part));
  }
  return ts::WriteCompoundFile({{"Workbook", ts::WorkbookStream(globals, sheets)}}).bytes;
}

// ---- Excel 4.0 workbook (BIFF4W) -------------------------------------------------------------

// A text in code page 1252 where it is Latin-1 alike; false when it holds other characters.
inline bool Biff4Text(const std::string& utf8, std::string& out) {
  out.clear();
  for (char16_t unit : Utf16Units(utf8)) {
    if (unit >= 0x100 || (unit >= 0x80 && unit < 0xA0)) return false;
    out += static_cast<char>(unit);
  }
  return true;
}

// Why an Excel 4.0 workbook cannot hold `book`; empty when it can.
inline std::string Biff4Cannot(const LogicalWorkbook& book) {
  std::string text;
  for (const LogicalSheet& sheet : book.sheets) {
    if (sheet.visibility != SheetVisibility::kVisible) {
      return "its sheet headers carry no hidden state";
    }
    if (sheet.kind == SheetKind::kDialog) return "Excel 4.0 has no dialog sheets";
    if (!sheet.mergedAreas.empty()) return "Excel 4.0 merges no cells";
    if (!Biff4Text(sheet.name, text)) return "its texts are 8-bit, here in code page 1252";
    for (const LogicalCell& cell : sheet.cells) {
      if ((cell.value.kind == CellValue::Kind::String && !Biff4Text(cell.value.text, text)) ||
          !Biff4Text(cell.format, text)) {
        return "its texts are 8-bit, here in code page 1252";
      }
    }
  }
  return "";
}

// The workbook as Excel 4.0 stores it: globals with the code page and date system, then each
// sheet's substream after a record naming it, each with its own formats (by position: those
// of CellFormats()) and cell formats. `book` is one Biff4Cannot() accepts.
inline std::string WriteBiff4(const LogicalWorkbook& logical) {
  const ts::OldBiffWriter w(4);
  const std::vector<std::string> formats = CellFormats(logical);
  std::string text;
  std::string stream = w.Bof(0x0100) + ts::OldBiffWriter::CodePage(1252) +
                       ts::OldBiffWriter::DateMode(logical.date1904);
  for (const LogicalSheet& sheet : logical.sheets) {
    const uint16_t type = sheet.kind == SheetKind::kChart   ? 0x0020
                          : sheet.kind == SheetKind::kMacro ? 0x0040
                                                            : 0x0010;
    std::string part = w.Bof(type);
    for (const std::string& format : formats) {
      Biff4Text(format.empty() ? "General" : format, text);
      part += w.Format(text);
    }
    part += w.Xf(0, true);
    for (size_t i = 1; i < formats.size(); ++i) part += w.Xf(static_cast<uint8_t>(i));
    for (const LineSpan& span : sheet.hiddenColumns) {
      // COLINFO as in BIFF8, format 15 (the default).
      part += ts::Record(0x007D, ts::Le16(span.first - 1) + ts::Le16(span.last - 1) +
                                     ts::Le16(2340) + ts::Le16(15) + ts::Le16(1) + ts::Le16(0));
    }
    for (const LineSpan& span : sheet.hiddenRows) {
      for (uint32_t r = span.first; r <= span.last; ++r) {
        part += w.HiddenRow(static_cast<uint16_t>(r - 1));
      }
    }
    for (const LogicalCell& cell : sheet.cells) {
      const auto row = static_cast<uint16_t>(cell.row - 1);
      const auto column = static_cast<uint16_t>(cell.column - 1);
      const auto style = static_cast<uint8_t>(StyleOf(cell, formats));
      switch (cell.value.kind) {
        case CellValue::Kind::Empty:
          part += w.Blank(row, column, style);
          break;
        case CellValue::Kind::Number:
          part += w.Number(row, column, cell.value.number, style);
          break;
        case CellValue::Kind::String:
          Biff4Text(cell.value.text, text);
          part += w.Label(row, column, text, style);
          break;
        case CellValue::Kind::Boolean:
          part += w.BoolErr(row, column, cell.value.number ? 1 : 0, false, style);
          break;
        case CellValue::Kind::Error:
          part += w.BoolErr(row, column, BiffErrorCode(cell.value.text), true, style);
          break;
      }
    }
    part += ts::Eof();
    Biff4Text(sheet.name, text);
    stream += ts::Record(0x008F, ts::OldBiffWriter::ByteString(text) +
                                     ts::Le32(static_cast<uint32_t>(part.size()))) +
              part;
  }
  return stream + ts::Eof();
}

// ---- .xlsb -----------------------------------------------------------------------------------

// Numbers as RK where one holds them exactly, else as BrtCellReal; a formula without its
// result as a styled blank, as in .xls: a formula record always carries a result.
inline std::string XlsbCell(const LogicalCell& cell, uint16_t style,
                            const std::vector<std::string>& strings) {
  const std::string head = ts::XlsbCellHead(cell.column - 1, style);
  switch (cell.value.kind) {
    case CellValue::Kind::Empty:
      return ts::XlsbRecord(1, head);
    case CellValue::Kind::Number:
      if (const auto rk = ts::XlsbRk(cell.value.number)) {
        return ts::XlsbRecord(2, head + ts::Le32(*rk));
      }
      return ts::XlsbRecord(5, head + ts::F64(cell.value.number));
    case CellValue::Kind::String:
      if (cell.sharedString) {
        return ts::XlsbRecord(7, head + ts::Le32(IndexOf(strings, cell.value.text)));
      }
      return ts::XlsbRecord(6, head + ts::XlsbWide(Utf16Units(cell.value.text)));
    case CellValue::Kind::Boolean:
      return ts::XlsbRecord(4, head + std::string(1, cell.value.number ? '\1' : '\0'));
    case CellValue::Kind::Error:
      return ts::XlsbRecord(
          3, head + std::string(1, static_cast<char>(BiffErrorCode(cell.value.text))));
  }
  return "";
}

inline std::string WriteXlsb(const LogicalWorkbook& logical) {
  const std::vector<std::string> formats = CellFormats(logical);
  const std::vector<std::string> strings = SharedStrings(logical);
  ts::XlsbPackage book;
  book.date1904 = logical.date1904;
  book.cellXfs = {0, 0};
  for (size_t i = 2; i < formats.size(); ++i) {
    const auto id = static_cast<uint16_t>(164 + i - 2);
    book.numFmts.push_back(ts::XlsbPackage::XlsbFmt(id, Utf16Units(formats[i])));
    book.cellXfs.push_back(id);
  }
  for (const std::string& text : strings) {
    book.sharedStrings.push_back(ts::XlsbPackage::XlsbSharedString(Utf16Units(text)));
  }
  for (const LogicalSheet& sheet : logical.sheets) {
    static const char* const kKinds[] = {"worksheet", "chartsheet", "dialogsheet", "macrosheet"};
    ts::XlsbSheetPart part;
    part.kind = kKinds[static_cast<int>(sheet.kind)];
    part.state = static_cast<uint32_t>(sheet.visibility);
    part.wideName = Utf16Units(sheet.name);
    // Rows in order, each with its cells; a hidden row without cells is written empty.
    std::map<uint32_t, std::string> rows;
    for (const LineSpan& span : sheet.hiddenRows) {
      for (uint32_t r = span.first; r <= span.last; ++r) rows[r];
    }
    for (const LogicalCell& cell : sheet.cells) {
      rows[cell.row] += XlsbCell(cell, StyleOf(cell, formats), strings);
    }
    for (const auto& [row, cells] : rows) {
      const bool hidden =
          std::any_of(sheet.hiddenRows.begin(), sheet.hiddenRows.end(),
                      [row = row](const LineSpan& s) { return row >= s.first && row <= s.last; });
      part.sheetData += ts::XlsbRow(row - 1, hidden ? 0x10 : 0) + cells;
    }
    if (!sheet.hiddenColumns.empty()) {
      part.beforeData += ts::XlsbRecord(390);
      for (const LineSpan& span : sheet.hiddenColumns) {
        // BrtColInfo: first and last column, width, format, fHidden.
        part.beforeData += ts::XlsbRecord(60, ts::Le32(span.first - 1) + ts::Le32(span.last - 1) +
                                                  ts::Le32(2340) + ts::Le32(0) + ts::Le16(1));
      }
      part.beforeData += ts::XlsbRecord(391);
    }
    if (!sheet.mergedAreas.empty()) {
      part.afterData +=
          ts::XlsbRecord(177, ts::Le32(static_cast<uint32_t>(sheet.mergedAreas.size())));
      for (const CellArea& area : sheet.mergedAreas) {
        part.afterData +=
            ts::XlsbRecord(176, ts::Le32(area.firstRow - 1) + ts::Le32(area.lastRow - 1) +
                                    ts::Le32(area.firstColumn - 1) + ts::Le32(area.lastColumn - 1));
      }
      part.afterData += ts::XlsbRecord(178);
    }
    book.sheets.push_back(std::move(part));
  }
  return book.Zip();
}

// ---- .ods (OpenDocument) ---------------------------------------------------------------------

// The data style of each number format code the table uses, as LibreOffice writes it (a code
// beyond these is a test to extend here). Negative sections are a style of their own that a
// <style:map> applies.
inline std::string OdsDataStyle(const std::string& code, const std::string& name) {
  const std::string number = "<number:number number:decimal-places=\"";
  if (code == "#,##0.00") {
    return "<number:number-style style:name=\"" + name + "\">" + number +
           "2\" number:min-decimal-places=\"2\" number:min-integer-digits=\"1\" "
           "number:grouping=\"true\"/></number:number-style>";
  }
  if (code == "0%") {
    return "<number:percentage-style style:name=\"" + name + "\">" + number +
           "0\" number:min-integer-digits=\"1\"/><number:text>%</number:text>"
           "</number:percentage-style>";
  }
  if (code == "0.0;(0.0)") {
    const std::string one = number +
                            "1\" number:min-decimal-places=\"1\" "
                            "number:min-integer-digits=\"1\"/>";
    return "<number:number-style style:name=\"" + name + "P0\">" + one +
           "</number:number-style><number:number-style style:name=\"" + name +
           "\"><number:text>(</number:text>" + one +
           "<number:text>)</number:text><style:map style:condition=\"value()&gt;=0\" "
           "style:apply-style-name=\"" +
           name + "P0\"/></number:number-style>";
  }
  const std::string date =
      "<number:year number:style=\"long\"/><number:text>-</number:text><number:month "
      "number:style=\"long\"/><number:text>-</number:text><number:day number:style=\"long\"/>";
  const std::string time =
      "<number:hours number:style=\"long\"/><number:text>:</number:text><number:minutes "
      "number:style=\"long\"/>";
  if (code == "yyyy-mm-dd") {
    return "<number:date-style style:name=\"" + name + "\">" + date + "</number:date-style>";
  }
  if (code == "yyyy-mm-dd hh:mm") {
    return "<number:date-style style:name=\"" + name + "\">" + date +
           "<number:text> </number:text>" + time + "</number:date-style>";
  }
  if (code == "hh:mm") {
    return "<number:time-style style:name=\"" + name + "\">" + time + "</number:time-style>";
  }
  throw std::invalid_argument("WriteOds knows no data style for " + code);
}

// A number cell: a date-value where the code shows a date ODF can hold (Excel's 1900-01-00
// and 1900-02-29 it cannot: those stay numbers), a time-value for a time of day.
inline std::string OdsNumberValue(double value, const std::string& code, bool date1904) {
  char text[40];
  const bool dateCode = code.find("yy") != std::string::npos;
  const bool timeCode = !dateCode && code.find("hh") != std::string::npos;
  if (dateCode && value >= (date1904 ? 0 : 61)) {
    const double day = std::floor(value);
    const std::chrono::year_month_day ymd = DateOfSerialDay(static_cast<long long>(day), date1904);
    const long seconds = std::lround((value - day) * 86400);
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ld", int(ymd.year()),
                  unsigned(ymd.month()), unsigned(ymd.day()), seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return "office:value-type=\"date\" office:date-value=\"" + std::string(text) + "\"";
  }
  if (timeCode && value >= 0 && value < 1) {
    const long seconds = std::lround(value * 86400);
    std::snprintf(text, sizeof text, "PT%02ldH%02ldM%02ldS", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return "office:value-type=\"time\" office:time-value=\"" + std::string(text) + "\"";
  }
  std::snprintf(text, sizeof text, "%.17g", value);
  return "office:value-type=\"float\" office:value=\"" + std::string(text) + "\"";
}

inline std::string OdsCellContent(const LogicalCell& cell, bool date1904) {
  std::string attributes = cell.formula.empty()
                               ? std::string()
                               : " table:formula=\"of:=" + ts::XmlEscape(cell.formula) + "\"";
  switch (cell.value.kind) {
    case CellValue::Kind::Empty:
      return attributes + ">";
    case CellValue::Kind::Number:
      return attributes + " " + OdsNumberValue(cell.value.number, cell.format, date1904) + ">";
    case CellValue::Kind::String:
      return attributes + " office:value-type=\"string\">" + ts::OdsParagraphs(cell.value.text);
    case CellValue::Kind::Boolean:
      return attributes + " office:value-type=\"boolean\" office:boolean-value=\"" +
             (cell.value.number ? "true" : "false") + "\">";
    case CellValue::Kind::Error:
      // As LibreOffice writes a formula's error.
      return " table:formula=\"of:=1/0\" office:value-type=\"string\" office:string-value=\"\" "
             "calcext:value-type=\"error\">" +
             ts::OdsParagraph(cell.value.text);
  }
  return attributes + ">";
}

inline std::string WriteOds(const LogicalWorkbook& logical) {
  const std::vector<std::string> formats = CellFormats(logical);
  ts::OdsDocument document;
  // ce1: a style without a data style, for styled blanks; ce2 on: one per number format.
  document.automaticStyles =
      "<style:style style:name=\"ta0\" style:family=\"table\"><style:table-properties "
      "table:display=\"false\"/></style:style><style:style style:name=\"ce1\" "
      "style:family=\"table-cell\" style:parent-style-name=\"Default\"/>";
  for (size_t i = 2; i < formats.size(); ++i) {
    const std::string n = std::to_string(i);
    document.automaticStyles +=
        OdsDataStyle(formats[i], "N" + n) + "<style:style style:name=\"ce" + n +
        "\" style:family=\"table-cell\" style:parent-style-name=\"Default\" "
        "style:data-style-name=\"N" +
        n + "\"/>";
  }
  if (logical.date1904) {
    document.spreadsheet =
        "<table:calculation-settings><table:null-date table:date-value=\"1904-01-01\"/>"
        "</table:calculation-settings>";
  }
  for (const LogicalSheet& sheet : logical.sheets) {
    const bool hidden = sheet.visibility != SheetVisibility::kVisible;
    std::string table = "<table:table table:name=\"" + ts::XmlEscape(sheet.name) + "\"" +
                        (hidden ? " table:style-name=\"ta0\"" : "") + ">";
    // Columns: visible and hidden runs up to the last hidden one.
    uint32_t column = 1;
    for (const LineSpan& span : sheet.hiddenColumns) {
      if (span.first > column) {
        table += "<table:table-column table:number-columns-repeated=\"" +
                 std::to_string(span.first - column) + "\"/>";
      }
      table +=
          "<table:table-column table:visibility=\"collapse\" "
          "table:number-columns-repeated=\"" +
          std::to_string(span.last - span.first + 1) + "\"/>";
      column = span.last + 1;
    }
    if (column == 1) table += "<table:table-column/>";
    // Each row's cells by column: the cells, the merged areas' first cells and covered ones.
    std::map<uint32_t, std::map<uint32_t, std::string>> rows;
    for (const LineSpan& span : sheet.hiddenRows) {
      for (uint32_t r = span.first; r <= span.last; ++r) rows[r];
    }
    std::map<std::pair<uint32_t, uint32_t>, std::string> spans;
    for (const CellArea& area : sheet.mergedAreas) {
      spans[{area.firstRow, area.firstColumn}] =
          " table:number-columns-spanned=\"" +
          std::to_string(area.lastColumn - area.firstColumn + 1) +
          "\" table:number-rows-spanned=\"" + std::to_string(area.lastRow - area.firstRow + 1) +
          "\"";
      for (uint32_t r = area.firstRow; r <= area.lastRow; ++r) {
        for (uint32_t c = area.firstColumn; c <= area.lastColumn; ++c) {
          if (r != area.firstRow || c != area.firstColumn)
            rows[r][c] = "<table:covered-table-cell/>";
        }
      }
      rows[area.firstRow][area.firstColumn] =
          "<table:table-cell" + spans[{area.firstRow, area.firstColumn}] + "/>";
    }
    for (const LogicalCell& cell : sheet.cells) {
      const uint16_t style = StyleOf(cell, formats);
      const auto span = spans.find({cell.row, cell.column});
      rows[cell.row][cell.column] =
          "<table:table-cell" +
          (style ? " table:style-name=\"ce" + std::to_string(style) + "\"" : std::string()) +
          (span != spans.end() ? span->second : "") + OdsCellContent(cell, logical.date1904) +
          "</table:table-cell>";
    }
    uint32_t nextRow = 1;
    for (const auto& [row, cells] : rows) {
      if (row > nextRow) {
        table += "<table:table-row table:number-rows-repeated=\"" + std::to_string(row - nextRow) +
                 "\"><table:table-cell/></table:table-row>";
      }
      const bool rowHidden =
          std::any_of(sheet.hiddenRows.begin(), sheet.hiddenRows.end(),
                      [row = row](const LineSpan& s) { return row >= s.first && row <= s.last; });
      table += std::string("<table:table-row") +
               (rowHidden ? " table:visibility=\"collapse\"" : "") + ">";
      uint32_t nextColumn = 1;
      for (const auto& [c, xml] : cells) {
        if (c > nextColumn) {
          table += "<table:table-cell table:number-columns-repeated=\"" +
                   std::to_string(c - nextColumn) + "\"/>";
        }
        table += xml;
        nextColumn = c + 1;
      }
      if (cells.empty()) table += "<table:table-cell/>";
      table += "</table:table-row>";
      nextRow = row + 1;
    }
    // LibreOffice fills the sheet out to its last row.
    table += "<table:table-row table:number-rows-repeated=\"" + std::to_string(1048577 - nextRow) +
             "\"><table:table-cell table:number-columns-repeated=\"1024\"/></table:table-row>";
    document.spreadsheet += table + "</table:table>";
  }
  return document.Zip();
}

// Three worksheets, the second hidden, and a chart sheet whose cells no worksheet shows;
// names that differ from each other in more than case.
inline LogicalWorkbook ThreeWorksheetsAndAChart() {
  return {{Worksheet({Text(1, 1, "alpha"), Num(1, 2, 1)}, "Alpha"),
           Worksheet({Text(1, 1, "beta"), Num(2, 1, 2)}, "Beta", SheetVisibility::kHidden),
           {"Chart1", SheetKind::kChart, SheetVisibility::kVisible, {Num(1, 1, 9)}},
           Worksheet({Text(1, 1, "gamma Ω"), Num(1, 3, 3.5)}, "Gämma")}};
}

}  // namespace cellverter::logical
