#pragma once

// Builds small .xlsb packages at test time: the record header, the fields Excel writes, and
// a package skeleton (workbook, styles, shared strings, sheets) whose parts a test can replace
// one by one.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "xls_test_files.h"
#include "xlsx_builder.h"

namespace cellverter::testing_support {

// A record: its type and size, seven bits a byte, then the payload.
inline std::string XlsbRecord(uint32_t type, const std::string& payload = "") {
  std::string out;
  out += static_cast<char>((type & 0x7F) | (type >= 0x80 ? 0x80 : 0));
  if (type >= 0x80) out += static_cast<char>((type >> 7) & 0x7F);
  uint32_t size = static_cast<uint32_t>(payload.size());
  do {
    out += static_cast<char>((size & 0x7F) | (size >= 0x80 ? 0x80 : 0));
    size >>= 7;
  } while (size != 0);
  return out + payload;
}

// XLWideString: a count of UTF-16 units, then the units.
inline std::string XlsbWide(std::u16string_view text) {
  std::string out = Le32(static_cast<uint32_t>(text.size()));
  for (char16_t unit : text) out += Le16(unit);
  return out;
}

// The Cell structure that starts every cell record: 0-based column, cell format.
inline std::string XlsbCellHead(uint32_t column, uint32_t style) {
  return Le32(column) + Le32(style & 0x00FFFFFF);
}

// BrtRowHdr of 0-based `row`: flags of its second flag byte (0x10 hidden, 0x20 custom
// height, 0x40 custom format), no column spans.
inline std::string XlsbRow(uint32_t row, uint8_t flags = 0) {
  return XlsbRecord(0, Le32(row) + Le32(0) + Le16(300) + std::string(1, '\0') +
                           std::string(1, static_cast<char>(flags)) + std::string(1, '\0') +
                           Le32(0));
}

// The RkNumber that holds `value` exactly, if there is one: a 30-bit integer or the high 30
// bits of a double, either of them possibly a hundredth.
inline std::optional<uint32_t> XlsbRk(double value) {
  auto asInteger = [](double v) -> std::optional<uint32_t> {
    if (v != std::trunc(v) || v < -(1 << 29) || v >= (1 << 29)) return std::nullopt;
    return (static_cast<uint32_t>(static_cast<int32_t>(v)) << 2) | 2;
  };
  auto asDouble = [](double v) -> std::optional<uint32_t> {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    if ((bits & 0x3FFFFFFFFull) != 0) return std::nullopt;
    return static_cast<uint32_t>(bits >> 32);
  };
  if (auto rk = asInteger(value)) return rk;
  if (auto rk = asDouble(value)) return rk;
  const double hundredfold = value * 100;
  if (hundredfold / 100 != value) return std::nullopt;
  if (auto rk = asInteger(hundredfold)) return *rk | 1;
  if (auto rk = asDouble(hundredfold)) return *rk | 1;
  return std::nullopt;
}

// UncheckedRfX: 0-based first and last rows and columns.
inline std::string XlsbRfx(uint32_t row1, uint32_t row2, uint32_t column1, uint32_t column2) {
  return Le32(row1) + Le32(row2) + Le32(column1) + Le32(column2);
}

// A comments part with one author and a note on each 0-based {row, column}, as Excel writes
// it: BrtBeginComment (author, cell, GUID), BrtCommentText, BrtEndComment.
inline std::string XlsbCommentsPart(const std::vector<std::pair<uint32_t, uint32_t>>& cells) {
  std::string part = XlsbRecord(628) + XlsbRecord(630) + XlsbRecord(632, XlsbWide(u"me")) +
                     XlsbRecord(631) + XlsbRecord(633);
  for (const auto& [row, column] : cells) {
    part += XlsbRecord(635, Le32(0) + XlsbRfx(row, row, column, column) + std::string(16, '\x5A')) +
            XlsbRecord(637, std::string(1, '\0') + XlsbWide(u"note") + Le32(0)) + XlsbRecord(636);
  }
  return part + XlsbRecord(634) + XlsbRecord(629);
}

// A table part: BrtBeginList over `rfx` (lt, id, a header row, no totals, flags, no
// formats, no connection, then its names and styles), one column, BrtEndList.
inline std::string XlsbTablePart(const std::string& rfx) {
  const std::string none = Le32(0xFFFFFFFF);  // the null XLNullableWideString
  std::string list = rfx + Le32(0) + Le32(1) + Le32(1) + Le32(0) + Le32(0x10);
  for (int i = 0; i < 6; ++i) list += none;  // nDxf...
  list += Le32(0) + XlsbWide(u"T") + XlsbWide(u"T") + none + none + none + none;
  return XlsbRecord(343, list) + XlsbRecord(345, Le32(1)) +
         XlsbRecord(347, Le32(1) + Le32(0) + none + none + none + Le32(0) + none + XlsbWide(u"c") +
                             none + none + none + none) +
         XlsbRecord(348) + XlsbRecord(346) + XlsbRecord(344);
}

// The list of a sheet's tables, after its data: BrtBeginListParts, a BrtListPart per
// relationship id, BrtEndListParts.
inline std::string XlsbListParts(const std::vector<std::u16string>& ids) {
  std::string out = XlsbRecord(660, Le32(static_cast<uint32_t>(ids.size())));
  for (const std::u16string& id : ids) out += XlsbRecord(661, XlsbWide(id));
  return out + XlsbRecord(662);
}

struct XlsbSheetPart {
  std::string name;                // "" for SheetN
  std::string kind = "worksheet";  // or chartsheet, dialogsheet, macrosheet
  uint32_t state = 0;              // hsState: 1 hidden, 2 very hidden
  std::u16string wideName;         // the name as written, when not ASCII
  // Records between BrtBeginSheet and BrtEndSheet; those around the sheet data are added.
  std::string beforeData;                       // BrtWsFmtInfo, column information
  std::string sheetData;                        // rows and cells
  std::string afterData;                        // merged areas, the list of tables (XlsbListParts)
  std::optional<std::string> part;              // the whole part instead, as given
  std::string dimension = XlsbRfx(0, 0, 0, 0);  // BrtWsDim
  std::vector<RelatedPart> related;             // rId1, rId2... (xml: the part's bytes)
};

inline XlsbSheetPart XlsbWorksheet(std::string name) {
  XlsbSheetPart sheet;
  sheet.name = std::move(name);
  return sheet;
}

inline std::u16string AsciiUnits(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

struct XlsbPackage {
  std::vector<XlsbSheetPart> sheets;
  std::vector<std::string> sharedStrings;  // each a BrtSSTItem payload (XlsbSharedString)
  std::vector<std::string> numFmts;        // each a BrtFmt payload (XlsbFmt)
  std::vector<uint16_t> cellXfs = {0};     // iFmt of each cell format
  bool date1904 = false;

  static std::string XlsbSharedString(std::u16string_view text) {
    return std::string(1, '\0') + XlsbWide(text);
  }
  static std::string XlsbFmt(uint16_t id, std::u16string_view code) {
    return Le16(id) + XlsbWide(code);
  }
  static std::string XlsbXf(uint16_t format) {
    return Le16(0xFFFF) + Le16(format) + Le16(0) + Le16(0) + Le16(0) + std::string(4, '\0') +
           std::string(1, '\x01') + std::string(1, '\0');
  }

  std::string SheetPartOf(const XlsbSheetPart& sheet) const {
    if (sheet.part) return *sheet.part;
    if (sheet.kind == "chartsheet") return XlsbRecord(0x1AB) + XlsbRecord(0x1AC);
    return XlsbRecord(129) + XlsbRecord(148, sheet.dimension) + sheet.beforeData + XlsbRecord(145) +
           sheet.sheetData + XlsbRecord(146) + sheet.afterData + XlsbRecord(130);
  }

  std::map<std::string, std::string> Parts() const {
    std::map<std::string, std::string> parts;
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    std::string types =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"bin\" "
        "ContentType=\"application/vnd.ms-excel.sheet.binary.macroEnabled.main\"/>"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
    parts["_rels/.rels"] =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" +
        rel + "officeDocument\" Target=\"xl/workbook.bin\"/></Relationships>";
    // BrtBeginBook, BrtWbProp (f1904, theme version, no code name), the sheet list.
    std::string workbook = XlsbRecord(131) +
                           XlsbRecord(153, Le32(date1904 ? 1 : 0) + Le32(0) + XlsbWide(u"")) +
                           XlsbRecord(143);
    std::string rels =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (size_t i = 0; i < sheets.size(); ++i) {
      const XlsbSheetPart& sheet = sheets[i];
      const std::string id = "rId" + std::to_string(i + 10);
      // Files are numbered backwards so that only the relationships can tell which is first.
      const std::string file =
          (sheet.kind == "worksheet" ? "worksheets/sheet" : sheet.kind + "s/sheet") +
          std::to_string(sheets.size() - i) + ".bin";
      const std::u16string name =
          !sheet.wideName.empty()
              ? sheet.wideName
              : AsciiUnits(sheet.name.empty() ? "Sheet" + std::to_string(i + 1) : sheet.name);
      workbook += XlsbRecord(156, Le32(sheet.state) + Le32(static_cast<uint32_t>(i + 1)) +
                                      XlsbWide(AsciiUnits(id)) + XlsbWide(name));
      const std::string type =
          sheet.kind == "macrosheet"
              ? "http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet"
              : rel + sheet.kind;
      rels += "<Relationship Id=\"" + id + "\" Type=\"" + type + "\" Target=\"" + file + "\"/>";
      parts["xl/" + file] = SheetPartOf(sheet);
      AddRelatedParts(parts, "xl/" + file, sheet.related, rel.c_str());
      types += "<Override PartName=\"/xl/" + file + "\" ContentType=\"application/vnd.ms-excel." +
               (sheet.kind == "worksheet" ? "worksheet" : sheet.kind) + "\"/>";
    }
    workbook += XlsbRecord(144) + XlsbRecord(132);
    rels += "<Relationship Id=\"rId2\" Type=\"" + rel +
            "sharedStrings\" Target=\"sharedStrings.bin\"/>"
            "<Relationship Id=\"rId3\" Type=\"" +
            rel + "styles\" Target=\"/xl/styles.bin\"/></Relationships>";
    parts["xl/workbook.bin"] = workbook;
    parts["xl/_rels/workbook.bin.rels"] = rels;
    std::string strings = XlsbRecord(159, Le32(static_cast<uint32_t>(sharedStrings.size())) +
                                              Le32(static_cast<uint32_t>(sharedStrings.size())));
    for (const std::string& item : sharedStrings) strings += XlsbRecord(19, item);
    parts["xl/sharedStrings.bin"] = strings + XlsbRecord(160);
    std::string styles = XlsbRecord(278) + XlsbRecord(615, Le32(uint32_t(numFmts.size())));
    for (const std::string& fmt : numFmts) styles += XlsbRecord(44, fmt);
    // The cell styles' formats come first and must not be taken for the cells'.
    styles += XlsbRecord(616) + XlsbRecord(626, Le32(1)) + XlsbRecord(47, XlsbXf(14)) +
              XlsbRecord(627) + XlsbRecord(617, Le32(static_cast<uint32_t>(cellXfs.size())));
    for (uint16_t format : cellXfs) styles += XlsbRecord(47, XlsbXf(format));
    parts["xl/styles.bin"] = styles + XlsbRecord(618) + XlsbRecord(279);
    types +=
        "<Override PartName=\"/xl/styles.bin\" ContentType=\"application/vnd.ms-excel.styles\"/>"
        "<Override PartName=\"/xl/sharedStrings.bin\" "
        "ContentType=\"application/vnd.ms-excel.sharedStrings\"/></Types>";
    parts["[Content_Types].xml"] = types;
    return parts;
  }

  std::string Zip(ZipOptions options = {}) const {
    return TestWorkbook::ZipParts(Parts(), options);
  }
};

}  // namespace cellverter::testing_support
