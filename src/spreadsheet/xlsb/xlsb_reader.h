#pragma once

#include <memory>
#include <string>

#include "spreadsheet/container/zip_archive.h"
#include "spreadsheet/sheet_source.h"
#include "spreadsheet/xlsx/xlsx_reader.h"

namespace cellverter {

// Opens an Excel binary workbook (.xlsb, MS-XLSB): a zip package like .xlsx whose parts hold
// records instead of XML. Reads the package relationships, the workbook part (date system and
// sheet list), the cell formats and the shared strings once; each opened worksheet is read
// once into a spool of its own, as the .xlsx reader does, so that both serve the same rows,
// used range and layout for the same workbook. `zip` is the package already open; `path`
// names the workbook in messages. `limits` bound the memory as for .xlsx.
//
// Throws Error naming `path`, of its ErrorKind, when the package is not a workbook or is
// damaged.
std::unique_ptr<WorkbookSource> OpenXlsbWorkbook(const std::string& path,
                                                 std::unique_ptr<ZipArchive> zip,
                                                 const XlsxReaderOptions& limits = {});

}  // namespace cellverter
