#pragma once

// Writers of Excel 2.x-4.x files (BIFF2, BIFF3, BIFF4 worksheets and BIFF4W workbooks),
// record by record, and the fixtures of tests/data/xls/old-*.xls made with them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xls_test_files.h"

namespace cellverter::testing_support {

// The records of one sheet (or globals) of a BIFF2, BIFF3 or BIFF4 stream. `xf` arguments
// are cell format indexes; in BIFF2 they are the position of the cell's FORMAT record too,
// so a fixture writes its XF records in the order of its formats.
class OldBiffWriter {
 public:
  explicit OldBiffWriter(int version) : version_(version) {}

  std::string Bof(uint16_t type) const {
    const uint16_t id = version_ == 2 ? 0x0009 : version_ == 3 ? 0x0209 : 0x0409;
    return Record(id, Le16(version_ == 2 ? 2 : 0) + Le16(type) + (version_ == 2 ? "" : Le16(0)));
  }
  static std::string CodePage(uint16_t codePage) { return Record(0x0042, Le16(codePage)); }
  static std::string DateMode(bool date1904) { return Record(0x0022, Le16(date1904 ? 1 : 0)); }
  static std::string FilePass() { return Record(0x002F, Le16(0x1234) + Le16(0x5678)); }

  std::string Format(std::string_view code) const {
    const std::string text = ByteString(code);
    return version_ == 4 ? Record(0x041E, Le16(0) + text) : Record(0x001E, text);
  }
  // A cell format: BIFF3/4 cell XFs name every attribute as their own (none from the parent
  // style), `style` writes the style XF that cell XFs inherit from.
  std::string Xf(uint8_t format, bool style = false) const {
    switch (version_) {
      case 2:
        return Record(0x0043, std::string{'\0', '\0', static_cast<char>(format & 0x3F), '\0'});
      case 3:
        return Record(0x0243, std::string{'\0', static_cast<char>(format),
                                          static_cast<char>(style ? 0x04 : 0x00),
                                          static_cast<char>(style ? 0x00 : 0xFC)} +
                                  Le16(style ? 0xFFF0 : 0) + std::string(6, '\0'));
      default:
        return Record(0x0443, std::string{'\0', static_cast<char>(format)} +
                                  Le16(style ? 0xFFF4 : 0) +
                                  std::string{'\0', static_cast<char>(style ? 0x00 : 0xFC)} +
                                  std::string(6, '\0'));
    }
  }

  std::string Blank(uint16_t row, uint16_t col, uint8_t xf = 0) const {
    return Record(Id(0x01), Head(row, col, xf));
  }
  std::string Number(uint16_t row, uint16_t col, double v, uint8_t xf = 0) const {
    return Record(Id(0x03), Head(row, col, xf) + F64(v));
  }
  // BIFF2 only.
  static std::string Integer(uint16_t row, uint16_t col, uint16_t v, uint8_t xf = 0) {
    return Record(0x0002, Head2(row, col, xf) + Le16(v));
  }
  // BIFF3/4 only.
  static std::string Rk(uint16_t row, uint16_t col, uint32_t rk, uint8_t xf = 0) {
    return Record(0x027E, Le16(row) + Le16(col) + Le16(xf) + Le32(rk));
  }
  // `bytes` in the file's code page.
  std::string Label(uint16_t row, uint16_t col, std::string_view bytes, uint8_t xf = 0) const {
    const std::string length = version_ == 2 ? std::string(1, static_cast<char>(bytes.size()))
                                             : Le16(static_cast<uint32_t>(bytes.size()));
    return Record(Id(0x04), Head(row, col, xf) + length + std::string(bytes));
  }
  std::string BoolErr(uint16_t row, uint16_t col, uint8_t value, bool error, uint8_t xf = 0) const {
    return Record(Id(0x05), Head(row, col, xf) + std::string{static_cast<char>(value),
                                                             static_cast<char>(error ? 1 : 0)});
  }
  // A formula of constant tokens and its cached result: a number, or (`text`) a text result
  // in a STRING record after it, or a boolean or error.
  std::string FormulaNumber(uint16_t row, uint16_t col, double v, uint8_t xf = 0) const {
    return Formula(row, col, F64(v), "\x1F" + F64(v), xf);
  }
  std::string FormulaText(uint16_t row, uint16_t col, std::string_view text, uint8_t xf = 0) const {
    const std::string result = std::string{'\0', '\0', '\0', '\0', '\0', '\0'} + "\xFF\xFF";
    const std::string strRecord =
        version_ == 2
            ? Record(0x0007, ByteString(text))
            : Record(0x0207, Le16(static_cast<uint32_t>(text.size())) + std::string(text));
    return Formula(row, col, result, "\x17" + ByteString(text), xf) + strRecord;
  }
  std::string FormulaBoolErr(uint16_t row, uint16_t col, uint8_t value, bool error,
                             uint8_t xf = 0) const {
    const std::string result =
        std::string{
            static_cast<char>(error ? 2 : 1), '\0', static_cast<char>(value), '\0', '\0', '\0'} +
        "\xFF\xFF";
    const std::string token = error ? std::string{'\x1C', static_cast<char>(value)}
                                    : std::string{'\x1D', static_cast<char>(value)};
    return Formula(row, col, result, token, xf);
  }
  // A ROW record that hides the row (BIFF2: height 0; BIFF3/4: the hidden flag).
  std::string HiddenRow(uint16_t row) const {
    if (version_ == 2) {
      return Record(0x0008, Le16(row) + Le16(0) + Le16(1) + Le16(0) + Le16(0) + '\0' + Le16(0));
    }
    return Record(0x0208,
                  Le16(row) + Le16(0) + Le16(1) + Le16(0xFF) + Le32(0) + Le16(0x0120) + Le16(0));
  }
  // Columns `first` to `last` (0-based) hidden (BIFF2: COLWIDTH 0; BIFF3/4: COLINFO).
  std::string HiddenColumns(uint8_t first, uint8_t last) const {
    if (version_ == 2) {
      return Record(0x0024,
                    std::string{static_cast<char>(first), static_cast<char>(last)} + Le16(0));
    }
    return Record(0x007D, Le16(first) + Le16(last) + Le16(2340) + Le16(0) + Le16(1) + Le16(0));
  }

  static std::string ByteString(std::string_view bytes) {
    return static_cast<char>(bytes.size()) + std::string(bytes);
  }

 private:
  uint16_t Id(uint16_t biff2) const { return version_ == 2 ? biff2 : 0x0200 | biff2; }
  static std::string Head2(uint16_t row, uint16_t col, uint8_t xf) {
    // Cell attributes: the XF index, the format's position, alignment.
    return Le16(row) + Le16(col) +
           std::string{static_cast<char>(xf & 0x3F), static_cast<char>(xf & 0x3F), '\0'};
  }
  std::string Head(uint16_t row, uint16_t col, uint8_t xf) const {
    return version_ == 2 ? Head2(row, col, xf) : Le16(row) + Le16(col) + Le16(xf);
  }
  std::string Formula(uint16_t row, uint16_t col, const std::string& result,
                      const std::string& tokens, uint8_t xf) const {
    const uint16_t id = version_ == 2 ? 0x0006 : version_ == 3 ? 0x0206 : 0x0406;
    const std::string tail = version_ == 2 ? std::string{'\0', static_cast<char>(tokens.size())}
                                           : Le16(0) + Le16(static_cast<uint32_t>(tokens.size()));
    return Record(id, Head(row, col, xf) + result + tail + tokens);
  }

  int version_;
};

// The fixtures' cells: every kind of cell the version has, formats (a custom one and a
// date), a hidden row and column, and text in code page 1251.
inline std::string OldBiffSheetRecords(const OldBiffWriter& w, int version) {
  // Formats by position: 0 General, 1 "0.000", 2 a date, 3 a percentage.
  std::string s =
      w.Format("General") + w.Format("0.000") + w.Format("dd/mm/yyyy") + w.Format("0.0%");
  if (version == 2) {
    s += w.Xf(0) + w.Xf(1) + w.Xf(2) + w.Xf(3);
  } else {
    s += w.Xf(0, true) + w.Xf(1) + w.Xf(2) + w.Xf(3);
  }
  s += w.HiddenColumns(3, 3);
  s += w.Label(0, 0, "Name") + w.Label(0, 1, "Value") + w.Label(0, 2, "Formula") +
       w.Label(0, 3, "Hidden column");
  // "Привет" in code page 1251.
  s += w.Label(1, 0, "\xCF\xF0\xE8\xE2\xE5\xF2") + w.Number(1, 1, 1.5, 1) +
       w.FormulaNumber(1, 2, 3.25, 1) + w.Number(1, 3, 7);
  s += w.Label(2, 0, "date") + w.Number(2, 1, 40000.25, 2) + w.FormulaText(2, 2, "text result");
  s += w.HiddenRow(3);
  s += w.Label(3, 0, "hidden row") +
       (version == 2 ? OldBiffWriter::Integer(3, 1, 42) : OldBiffWriter::Rk(3, 1, (42 << 2) | 2)) +
       w.FormulaBoolErr(3, 2, 1, false);
  s += w.Label(4, 0, "flags") + w.BoolErr(4, 1, 0, false) + w.BoolErr(4, 2, 0x07, true) +
       w.FormulaBoolErr(4, 3, 0x2A, true);
  s += w.Label(5, 0, "percent") +
       (version == 2 ? w.Number(5, 1, 0.125, 3) : OldBiffWriter::Rk(5, 1, 1250 << 2 | 3, 3)) +
       w.Blank(5, 2, 1);
  return s;
}

// One worksheet (dt 0x10) in code page 1251.
inline std::string OldBiffWorksheet(int version) {
  OldBiffWriter w(version);
  return w.Bof(0x0010) + OldBiffWriter::CodePage(1251) + OldBiffSheetRecords(w, version) + Eof();
}

// An Excel 4.0 workbook: its globals hold the code page and, before each sheet's substream,
// a record with the sheet's name (and the substream's size): a worksheet, a macro sheet, a
// chart, then a second worksheet.
inline std::string OldBiffWorkbook() {
  OldBiffWriter w(4);
  auto named = [](std::string_view name, const std::string& substream) {
    return Record(0x008F,
                  OldBiffWriter::ByteString(name) + Le32(static_cast<uint32_t>(substream.size()))) +
           substream;
  };
  const std::string first = w.Bof(0x0010) + OldBiffSheetRecords(w, 4) + Eof();
  const std::string macro = w.Bof(0x0040) + w.Label(0, 0, "=RETURN()") + Eof();
  const std::string chart = w.Bof(0x0020) + Eof();
  const std::string second = w.Bof(0x0010) + w.Format("General") + w.Format("0.00") +
                             w.Xf(0, true) + w.Xf(1) + w.Label(0, 0, "second") +
                             w.Number(0, 1, 2, 1) + Eof();
  return w.Bof(0x0100) + OldBiffWriter::CodePage(1251) + named("Data", first) +
         named("Macro1", macro) + named("Chart1", chart) + named("\xD0\xE0\xE7", second) + Eof();
}

}  // namespace cellverter::testing_support
