#pragma once

// Builds small .xlsx packages (and the odd broken one) at test time: a zip writer with the
// container variants Excel and other producers use, and a workbook skeleton whose parts a
// test can replace one by one.

#include <zlib.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace cellverter::testing_support {

struct ZipPart {
  std::string name;
  std::string data;
  bool deflate = true;
  std::string deflated{};  // when not empty: the compressed bytes written for `data`
};

struct ZipOptions {
  bool dataDescriptors = false;  // sizes and CRC after the data, zero in the local header
  bool zip64 = false;            // zip64 extra fields and end records
  // Local headers whose sizes are not the data's, as some writers leave them; the data
  // descriptors and the central directory keep the true sizes.
  bool wrongLocalSizes = false;
};

inline void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
inline void Put64(std::string& out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v));
  Put32(out, static_cast<uint32_t>(v >> 32));
}

inline std::string RawDeflate(const std::string& data, int level = 6) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline std::string BuildZip(const std::vector<ZipPart>& parts, ZipOptions options = {}) {
  std::string zip;
  std::string directory;
  for (const ZipPart& part : parts) {
    const uint32_t crc = static_cast<uint32_t>(crc32(
        0, reinterpret_cast<const Bytef*>(part.data.data()), static_cast<uInt>(part.data.size())));
    const std::string body = !part.deflate           ? part.data
                             : part.deflated.empty() ? RawDeflate(part.data)
                                                     : part.deflated;
    const uint64_t offset = zip.size();
    const uint16_t flags = options.dataDescriptors ? 0x0008 : 0;
    const uint16_t method = part.deflate ? 8 : 0;
    const uint32_t small = options.zip64 ? 0xFFFFFFFF : 0;
    // Local header.
    Put32(zip, 0x04034b50);
    Put16(zip, options.zip64 ? 45 : 20);
    Put16(zip, flags);
    Put16(zip, method);
    Put32(zip, 0);  // time, date
    Put32(zip, options.dataDescriptors ? 0 : crc);
    if (options.wrongLocalSizes) {
      Put32(zip, static_cast<uint32_t>(body.size() + 7));
      Put32(zip, static_cast<uint32_t>(part.data.size() + 3));
    } else {
      Put32(zip, options.dataDescriptors ? 0 : (options.zip64 ? small : body.size()));
      Put32(zip, options.dataDescriptors ? 0 : (options.zip64 ? small : part.data.size()));
    }
    Put16(zip, static_cast<uint32_t>(part.name.size()));
    Put16(zip, options.zip64 ? 20 : 0);
    zip += part.name;
    if (options.zip64) {
      Put16(zip, 1);
      Put16(zip, 16);
      Put64(zip, part.data.size());
      Put64(zip, body.size());
    }
    zip += body;
    if (options.dataDescriptors) {
      Put32(zip, 0x08074b50);
      Put32(zip, crc);
      if (options.zip64) {
        Put64(zip, body.size());
        Put64(zip, part.data.size());
      } else {
        Put32(zip, static_cast<uint32_t>(body.size()));
        Put32(zip, static_cast<uint32_t>(part.data.size()));
      }
    }
    // Central directory record.
    Put32(directory, 0x02014b50);
    Put16(directory, 45);
    Put16(directory, options.zip64 ? 45 : 20);
    Put16(directory, flags);
    Put16(directory, method);
    Put32(directory, 0);
    Put32(directory, crc);
    Put32(directory, options.zip64 ? small : static_cast<uint32_t>(body.size()));
    Put32(directory, options.zip64 ? small : static_cast<uint32_t>(part.data.size()));
    Put16(directory, static_cast<uint32_t>(part.name.size()));
    Put16(directory, options.zip64 ? 28 : 0);
    Put16(directory, 0);  // comment
    Put16(directory, 0);  // disk
    Put16(directory, 0);  // internal attributes
    Put32(directory, 0);  // external attributes
    Put32(directory, options.zip64 ? small : static_cast<uint32_t>(offset));
    directory += part.name;
    if (options.zip64) {
      Put16(directory, 1);
      Put16(directory, 24);
      Put64(directory, part.data.size());
      Put64(directory, body.size());
      Put64(directory, offset);
    }
  }
  const uint64_t directoryOffset = zip.size();
  zip += directory;
  if (options.zip64) {
    const uint64_t zip64End = zip.size();
    Put32(zip, 0x06064b50);
    Put64(zip, 44);
    Put16(zip, 45);
    Put16(zip, 45);
    Put32(zip, 0);
    Put32(zip, 0);
    Put64(zip, parts.size());
    Put64(zip, parts.size());
    Put64(zip, directory.size());
    Put64(zip, directoryOffset);
    Put32(zip, 0x07064b50);
    Put32(zip, 0);
    Put64(zip, zip64End);
    Put32(zip, 1);
  }
  Put32(zip, 0x06054b50);
  Put16(zip, 0);
  Put16(zip, 0);
  Put16(zip, options.zip64 ? 0xFFFF : static_cast<uint32_t>(parts.size()));
  Put16(zip, options.zip64 ? 0xFFFF : static_cast<uint32_t>(parts.size()));
  Put32(zip, options.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(directory.size()));
  Put32(zip, options.zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(directoryOffset));
  Put16(zip, 0);
  return zip;
}

// Text as it stands in an attribute or element.
inline std::string XmlEscape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// "A", "Z", "AA"... for the 1-based column.
inline std::string ColumnName(uint32_t column) {
  std::string name;
  for (; column > 0; column = (column - 1) / 26) {
    name.insert(name.begin(), static_cast<char>('A' + (column - 1) % 26));
  }
  return name;
}

inline const std::string kMainNamespace =
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
// The start tag of a hand-written worksheet part.
inline const std::string kWorksheetStart = "<worksheet xmlns=\"" + kMainNamespace + "\">";

// A part that a worksheet's relationships name: rId1 for the first, rId2 for the next...
struct RelatedPart {
  std::string type;  // the last segment of the relationship type: "comments", "table"
  std::string name;  // the part name, such as "xl/comments1.xml"
  std::string xml;
};

// Adds the parts related to `sheetPart` and its relationships part naming them, rId1, rId2...
// in order; `relationships` is the namespace of the relationship types.
inline void AddRelatedParts(std::map<std::string, std::string>& parts, const std::string& sheetPart,
                            const std::vector<RelatedPart>& related, const char* relationships) {
  if (related.empty()) return;
  const size_t slash = sheetPart.rfind('/');
  std::string rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (size_t k = 0; k < related.size(); ++k) {
    rels += "<Relationship Id=\"rId" + std::to_string(k + 1) + "\" Type=\"" + relationships +
            related[k].type + "\" Target=\"/" + related[k].name + "\"/>";
    parts[related[k].name] = related[k].xml;
  }
  parts[sheetPart.substr(0, slash) + "/_rels" + sheetPart.substr(slash) + ".rels"] =
      rels + "</Relationships>";
}

// The extension list that current Excel writes at the end of workbook.xml.
inline const std::string kExcelWorkbookExtensions =
    "<extLst><ext uri=\"{140A7094-0E35-4892-8432-C4D2E57EDEB5}\" "
    "xmlns:x15=\"http://schemas.microsoft.com/office/spreadsheetml/2010/11/main\">"
    "<x15:workbookPr chartTrackingRefBase=\"1\"/></ext></extLst>";

struct TestSheet {
  TestSheet(std::string data, std::string sheetKind = "worksheet", std::string sheetState = "")
      : sheetData(std::move(data)), kind(std::move(sheetKind)), state(std::move(sheetState)) {}
  std::string sheetData;   // what goes inside <sheetData>
  std::string kind;        // "worksheet", "chartsheet", "dialogsheet", "macrosheet"
  std::string state;       // "", "hidden", "veryHidden"
  std::string name;        // "" for "Sheet1", "Sheet2"... by position
  std::string beforeData;  // elements before <sheetData>, such as <dimension> or <cols>
  std::string afterData;   // elements after it, such as <tableParts>
  std::vector<RelatedPart> related;
};

// A workbook skeleton. Parts() gives its parts by name; a test may change any before zipping.
struct TestWorkbook {
  std::vector<TestSheet> sheets;
  std::vector<std::string> sharedStrings;  // the inner XML of each <si>
  std::string numFmts;                     // <numFmt .../> elements
  std::vector<int> cellXfs = {0};          // numFmtId of each cell format
  bool date1904 = false;
  std::string workbookEnd;  // elements after <sheets>, such as an <extLst>
  bool strict = false;

  std::string Namespace(const char* transitional, const char* strictName) const {
    return strict ? strictName : transitional;
  }
  std::string RelType(const std::string& last) const {
    return strict ? "http://purl.oclc.org/ooxml/officeDocument/relationships/" + last
                  : "http://schemas.openxmlformats.org/officeDocument/2006/relationships/" + last;
  }

  std::map<std::string, std::string> Parts() const {
    std::map<std::string, std::string> parts;
    const std::string main =
        Namespace(kMainNamespace.c_str(), "http://purl.oclc.org/ooxml/spreadsheetml/main");
    const std::string rel =
        Namespace("http://schemas.openxmlformats.org/officeDocument/2006/relationships",
                  "http://purl.oclc.org/ooxml/officeDocument/relationships");
    parts["[Content_Types].xml"] =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>";
    parts["_rels/.rels"] =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" +
        RelType("officeDocument") + "\" Target=\"xl/workbook.xml\"/></Relationships>";
    std::string workbook =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<workbook xmlns=\"" +
        main + "\" xmlns:r=\"" + rel + "\">";
    if (date1904) workbook += "<workbookPr date1904=\"1\"/>";
    workbook += "<sheets>";
    std::string rels =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (size_t i = 0; i < sheets.size(); ++i) {
      const TestSheet& sheet = sheets[i];
      const std::string id = "rId" + std::to_string(i + 10);
      // Files are numbered backwards so that only the relationships can tell which is first.
      const std::string file =
          (sheet.kind == "worksheet" ? "worksheets/sheet" : sheet.kind + "s/sheet") +
          std::to_string(sheets.size() - i) + ".xml";
      const std::string name = sheet.name.empty() ? "Sheet" + std::to_string(i + 1) : sheet.name;
      workbook += "<sheet name=\"" + name + "\" sheetId=\"" + std::to_string(i + 1) + "\"" +
                  (sheet.state.empty() ? "" : " state=\"" + sheet.state + "\"") + " r:id=\"" + id +
                  "\"/>";
      // Excel's macro sheets have a relationship type of Microsoft's own.
      const std::string type =
          sheet.kind == "macrosheet"
              ? "http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet"
              : RelType(sheet.kind);
      rels += "<Relationship Id=\"" + id + "\" Type=\"" + type + "\" Target=\"" + file + "\"/>";
      if (sheet.kind == "worksheet") {
        parts["xl/" + file] =
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
            "<worksheet xmlns=\"" +
            main + "\" xmlns:r=\"" + rel + "\">" + sheet.beforeData + "<sheetData>" +
            sheet.sheetData + "</sheetData>" + sheet.afterData + "</worksheet>";
        AddRelatedParts(parts, "xl/" + file, sheet.related, RelType("").c_str());
      } else {
        parts["xl/" + file] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + sheet.kind +
                              " xmlns=\"" + main + "\"/>";
      }
    }
    workbook += "</sheets>" + workbookEnd + "</workbook>";
    rels += "<Relationship Id=\"rId2\" Type=\"" + RelType("sharedStrings") +
            "\" Target=\"sharedStrings.xml\"/>"
            "<Relationship Id=\"rId3\" Type=\"" +
            RelType("styles") + "\" Target=\"/xl/styles.xml\"/></Relationships>";
    parts["xl/workbook.xml"] = workbook;
    parts["xl/_rels/workbook.xml.rels"] = rels;
    std::string strings = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<sst xmlns=\"" + main +
                          "\" count=\"" + std::to_string(sharedStrings.size()) + "\">";
    for (const std::string& si : sharedStrings) strings += "<si>" + si + "</si>";
    parts["xl/sharedStrings.xml"] = strings + "</sst>";
    std::string styles = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<styleSheet xmlns=\"" + main +
                         "\"><numFmts>" + numFmts +
                         "</numFmts><cellStyleXfs count=\"1\"><xf numFmtId=\"14\"/></cellStyleXfs>"
                         "<cellXfs>";
    for (int id : cellXfs) styles += "<xf numFmtId=\"" + std::to_string(id) + "\" xfId=\"0\"/>";
    parts["xl/styles.xml"] = styles + "</cellXfs></styleSheet>";
    return parts;
  }

  std::string Zip(ZipOptions options = {}) const { return ZipParts(Parts(), options); }

  static std::string ZipParts(const std::map<std::string, std::string>& parts,
                              ZipOptions options = {}) {
    std::vector<ZipPart> list;
    for (const auto& [name, data] : parts) list.push_back({name, data, true});
    return BuildZip(list, options);
  }
};

}  // namespace cellverter::testing_support
