#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "spreadsheet/container/zip_archive.h"
#include "spreadsheet/sheet_source.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/xlsx/row_spool.h"
#include "spreadsheet/xlsx/xlsx_reader.h"

namespace cellverter {

// What every sheet of an .xlsx or .xlsb workbook reads with: the package, the date system,
// the cell formats and the shared strings, read once when the workbook opens.
struct PackageGlobals {
  static constexpr size_t kMaxNumberFormats = 65536;
  static constexpr size_t kMaxCellFormats = 1000000;
  static constexpr size_t kMaxFormatCode = 4096;  // bytes
  static constexpr uint64_t kMaxFormatId = 100000;

  PackageGlobals(const std::string& workbookPath, const XlsxMemoryLimits& memoryLimits)
      : path(workbookPath), limits(memoryLimits), shared(memoryLimits.sharedStrings) {}

  // A number format of the styles, id and code.
  void AddNumberFormat(int id, std::string code) {
    if (code.size() > kMaxFormatCode) ThrowDamaged("a number format is too long");
    if (customFormats.size() >= kMaxNumberFormats)
      ThrowDamaged("there are too many number formats");
    customFormats[id] = std::move(code);
  }
  // The next cell format, by the id of its number format.
  void AddCellFormat(int numberFormatId) {
    if (cellFormats.size() >= kMaxCellFormats) ThrowDamaged("there are too many cell formats");
    cellFormats.push_back(numberFormatId);
  }
  NumberFormatRef CellFormat(uint32_t styleIndex) const {
    if (styleIndex >= cellFormats.size()) return {};
    const int id = cellFormats[styleIndex];
    const auto custom = customFormats.find(id);
    if (custom != customFormats.end()) return {id, custom->second};
    return {id, {}};
  }

  std::string path;
  XlsxMemoryLimits limits;
  std::unique_ptr<ZipArchive> zip;
  bool date1904 = false;
  std::vector<int> cellFormats;
  std::unordered_map<int, std::string> customFormats;
  SharedStrings shared;
};

}  // namespace cellverter
