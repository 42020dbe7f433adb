#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "../spreadsheet/xlsx_builder.h"
#include "temp_dir.h"

namespace cellverter::testing_support {

// The bytes of a tiny but complete workbook, a zip of stored parts, whose first worksheet
// holds `rows` (row 1 first) as shared strings; an empty text leaves its cell out.
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
  std::vector<ZipPart> parts;
  auto add = [&](const std::string& name, const std::string& data) {
    parts.push_back({name, data, false});
  };
  add("[Content_Types].xml",
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
  add("_rels/.rels", xmlHead +
                         "<Relationships xmlns=\"http://schemas.openxmlformats.org/"
                         "package/2006/relationships\">"
                         "<Relationship Id=\"rId1\" Type=\"" +
                         rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
  add("xl/workbook.xml", xmlHead + "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + rel +
                             "\"><sheets><sheet name=\"Sheet1\" sheetId=\"1\" "
                             "r:id=\"rId1\"/></sheets></workbook>");
  add("xl/_rels/workbook.xml.rels",
      xmlHead +
          "<Relationships "
          "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId1\" Type=\"" +
          rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" +
          rel + "/sharedStrings\" Target=\"sharedStrings.xml\"/><Relationship Id=\"rId3\" Type=\"" +
          rel + "/styles\" Target=\"styles.xml\"/></Relationships>");
  add("xl/worksheets/sheet1.xml", xmlHead + "<worksheet xmlns=\"" + main + "\"><sheetData>" +
                                      sheetData + "</sheetData></worksheet>");
  add("xl/sharedStrings.xml", xmlHead + "<sst xmlns=\"" + main + "\" count=\"" +
                                  std::to_string(stringCount) + "\" uniqueCount=\"" +
                                  std::to_string(stringCount) + "\">" + strings + "</sst>");
  add("xl/styles.xml",
      xmlHead + "<styleSheet xmlns=\"" + main +
          "\"><fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
          "<fills count=\"1\"><fill><patternFill patternType=\"none\"/></fill></fills>"
          "<borders count=\"1\"><border/></borders>"
          "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
          "borderId=\"0\"/></cellStyleXfs>"
          "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" "
          "xfId=\"0\"/></cellXfs></styleSheet>");
  return BuildZip(parts);
}

inline void WriteXlsx(const std::string& path, const std::vector<std::vector<std::string>>& rows) {
  WriteBytes(path, MakeXlsx(rows));
}

}  // namespace cellverter::testing_support
