#pragma once

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "../spreadsheet/xlsx_builder.h"

namespace cellverter::testing_support {

// Writes a minimal Office Open XML workbook whose first worksheet holds `rows` as inline
// strings (row 1 first; empty rows are not written). The package is a zip of stored entries, as
// small as Excel accepts.
inline void WriteTinyXlsx(const std::string& path,
                          const std::vector<std::vector<std::string>>& rows) {
  std::string sheet =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].empty()) continue;  // as Excel writes them: a row without cells is left out
    sheet += "<row r=\"" + std::to_string(r + 1) + "\">";
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      const std::string ref = std::string(1, char('A' + c)) + std::to_string(r + 1);
      sheet += "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t>" + rows[r][c] + "</t></is></c>";
    }
    sheet += "</row>";
  }
  sheet += "</sheetData></worksheet>";
  const std::vector<std::pair<std::string, std::string>> entries = {
      {"[Content_Types].xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
       "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
       "<Default Extension=\"rels\" "
       "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
       "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
       "<Override PartName=\"/xl/workbook.xml\" "
       "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/"
       ">"
       "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
       "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
       "</Types>"},
      {"_rels/.rels",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"rId1\" "
       "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
       "officeDocument\" "
       "Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
       "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
       "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
       "<sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"rId1\" "
       "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
       "Target=\"worksheets/sheet1.xml\"/></Relationships>"},
      {"xl/worksheets/sheet1.xml", sheet},
  };
  std::vector<ZipPart> parts;
  for (const auto& [name, data] : entries) parts.push_back({name, data, false});
  const std::string zip = BuildZip(parts);
  std::ofstream(path, std::ios::binary) << zip;
}

}  // namespace cellverter::testing_support
