#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace cellverter::testing_support {

// Writes a minimal Office Open XML workbook whose first worksheet holds `rows` as inline
// strings (row 1 first; empty rows are not written). The package is a zip of stored entries, as
// small as Excel accepts.
inline void WriteTinyXlsx(const std::string& path,
                          const std::vector<std::vector<std::string>>& rows) {
  auto crc32 = [](const std::string& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
      crc ^= byte;
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
  };
  auto le = [](std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 0xFF);
  };
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
  std::string zip;
  std::string directory;
  for (const auto& [name, data] : entries) {
    const std::uint32_t offset = std::uint32_t(zip.size());
    const std::uint32_t crc = crc32(data);
    std::string common;
    le(common, 20, 2);    // version needed
    le(common, 0, 2);     // flags
    le(common, 0, 2);     // stored
    le(common, 0, 2);     // time
    le(common, 0x21, 2);  // date: 1980-01-01
    le(common, crc, 4);
    le(common, std::uint32_t(data.size()), 4);
    le(common, std::uint32_t(data.size()), 4);
    le(common, std::uint32_t(name.size()), 2);
    le(common, 0, 2);  // extra length
    le(zip, 0x04034b50, 4);
    zip += common + name + data;
    le(directory, 0x02014b50, 4);
    le(directory, 20, 2);  // version made by
    directory += common;
    le(directory, 0, 2);  // comment length
    le(directory, 0, 2);  // disk
    le(directory, 0, 2);  // internal attributes
    le(directory, 0, 4);  // external attributes
    le(directory, offset, 4);
    directory += name;
  }
  const std::uint32_t directoryOffset = std::uint32_t(zip.size());
  zip += directory;
  le(zip, 0x06054b50, 4);
  le(zip, 0, 2);
  le(zip, 0, 2);
  le(zip, std::uint32_t(entries.size()), 2);
  le(zip, std::uint32_t(entries.size()), 2);
  le(zip, std::uint32_t(directory.size()), 4);
  le(zip, directoryOffset, 4);
  le(zip, 0, 2);
  std::ofstream(path, std::ios::binary) << zip;
}

}  // namespace cellverter::testing_support
