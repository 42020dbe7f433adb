#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace cellverter::testing_support {

// Tiny but complete .xlsx workbooks for tests: a zip of stored (uncompressed) parts with
// one worksheet whose cells are shared strings.
class StoredZip {
 public:
  void Add(const std::string& name, const std::string& data) {
    const uint32_t crc = Crc32(data);
    const uint32_t offset = static_cast<uint32_t>(body_.size());
    std::string local;
    Put32(local, 0x04034b50);
    Put16(local, 20);  // version needed
    Put16(local, 0);   // flags
    Put16(local, 0);   // stored
    Put16(local, 0);   // time
    Put16(local, 0x21);
    Put32(local, crc);
    Put32(local, static_cast<uint32_t>(data.size()));
    Put32(local, static_cast<uint32_t>(data.size()));
    Put16(local, static_cast<uint16_t>(name.size()));
    Put16(local, 0);
    body_ += local + name + data;

    Put32(central_, 0x02014b50);
    Put16(central_, 20);
    Put16(central_, 20);
    Put16(central_, 0);
    Put16(central_, 0);
    Put16(central_, 0);
    Put16(central_, 0x21);
    Put32(central_, crc);
    Put32(central_, static_cast<uint32_t>(data.size()));
    Put32(central_, static_cast<uint32_t>(data.size()));
    Put16(central_, static_cast<uint16_t>(name.size()));
    Put16(central_, 0);  // extra
    Put16(central_, 0);  // comment
    Put16(central_, 0);  // disk
    Put16(central_, 0);  // internal attributes
    Put32(central_, 0);  // external attributes
    Put32(central_, offset);
    central_ += name;
    ++count_;
  }

  std::string Bytes() const {
    std::string end;
    Put32(end, 0x06054b50);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, count_);
    Put16(end, count_);
    Put32(end, static_cast<uint32_t>(central_.size()));
    Put32(end, static_cast<uint32_t>(body_.size()));
    Put16(end, 0);
    return body_ + central_ + end;
  }

 private:
  static void Put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
  }
  static void Put32(std::string& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<uint16_t>(v >> 16));
  }
  static uint32_t Crc32(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const unsigned char byte : data) {
      crc ^= byte;
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
  }

  std::string body_;
  std::string central_;
  uint16_t count_ = 0;
};

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

// The bytes of a workbook whose first worksheet holds `rows` (row 1 first) as text cells;
// an empty text leaves its cell out.
inline std::string MakeXlsx(const std::vector<std::vector<std::string>>& rows) {
  std::string strings;
  int stringCount = 0;
  std::string sheetData;
  for (size_t r = 0; r < rows.size(); ++r) {
    sheetData += "<row r=\"" + std::to_string(r + 1) + "\">";
    for (size_t c = 0; c < rows[r].size() && c < 26; ++c) {
      if (rows[r][c].empty()) continue;
      const std::string ref = std::string(1, static_cast<char>('A' + c)) + std::to_string(r + 1);
      sheetData += "<c r=\"" + ref + "\" t=\"s\"><v>" + std::to_string(stringCount++) + "</v></c>";
      strings += "<si><t xml:space=\"preserve\">" + XmlEscape(rows[r][c]) + "</t></si>";
    }
    sheetData += "</row>";
  }
  const std::string xmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
  const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  StoredZip zip;
  zip.Add("[Content_Types].xml",
          xmlHead +
              "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
              "<Default Extension=\"rels\" "
              "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
              "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
              "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
              "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
              "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/"
              "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
              "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"application/"
              "vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>"
              "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/"
              "vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
              "</Types>");
  zip.Add("_rels/.rels", xmlHead +
                             "<Relationships xmlns=\"http://schemas.openxmlformats.org/"
                             "package/2006/relationships\">"
                             "<Relationship Id=\"rId1\" Type=\"" +
                             rel +
                             "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
  zip.Add("xl/workbook.xml", xmlHead + "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + rel +
                                 "\"><sheets><sheet name=\"Sheet1\" sheetId=\"1\" "
                                 "r:id=\"rId1\"/></sheets></workbook>");
  zip.Add(
      "xl/_rels/workbook.xml.rels",
      xmlHead +
          "<Relationships "
          "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId1\" Type=\"" +
          rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" +
          rel + "/sharedStrings\" Target=\"sharedStrings.xml\"/><Relationship Id=\"rId3\" Type=\"" +
          rel + "/styles\" Target=\"styles.xml\"/></Relationships>");
  zip.Add("xl/worksheets/sheet1.xml", xmlHead + "<worksheet xmlns=\"" + main + "\"><sheetData>" +
                                          sheetData + "</sheetData></worksheet>");
  zip.Add("xl/sharedStrings.xml", xmlHead + "<sst xmlns=\"" + main + "\" count=\"" +
                                      std::to_string(stringCount) + "\" uniqueCount=\"" +
                                      std::to_string(stringCount) + "\">" + strings + "</sst>");
  zip.Add("xl/styles.xml",
          xmlHead + "<styleSheet xmlns=\"" + main +
              "\"><fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
              "<fills count=\"1\"><fill><patternFill patternType=\"none\"/></fill></fills>"
              "<borders count=\"1\"><border/></borders>"
              "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
              "borderId=\"0\"/></cellStyleXfs>"
              "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" "
              "xfId=\"0\"/></cellXfs></styleSheet>");
  return zip.Bytes();
}

inline void WriteXlsx(const std::string& path, const std::vector<std::vector<std::string>>& rows) {
  WriteBytes(path, MakeXlsx(rows));
}

}  // namespace cellverter::testing_support
