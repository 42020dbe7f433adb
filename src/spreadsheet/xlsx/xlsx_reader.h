#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "spreadsheet/container/zip_archive.h"
#include "spreadsheet/sheet_source.h"

namespace cellverter {

struct XlsxReaderOptions {
  // Bytes the reader keeps in memory before it moves them to an unlinked temporary file in
  // $TMPDIR: the spooled cells of each opened sheet, and the texts of the shared strings table.
  size_t sheetSpool = size_t{4} << 20;
  size_t sharedStrings = size_t{64} << 20;
  // Whether the plain rows of an .xlsx sheet are read in place (plain_rows.h); off, every row
  // goes through the general XML scanner, which the tests compare it with.
  bool rowsInPlace = true;
};

// Opens an Office Open XML workbook (.xlsx, .xlsm, .xltx, .xltm; transitional or strict): reads the
// package relationships, the workbook part (date system and sheet list), the cell formats and the
// shared strings, once; no sheet is parsed until OpenSheet asks for it. Each opened worksheet
// is parsed once into a compact spool of its own (memory up to a bound, then an unlinked
// temporary file), so its last used cell is known at once and rows are served in order
// without inflating the package twice.
//
// The sheet list: every <sheet> of the workbook in order, its kind from the type of its
// relationship (worksheet, chartsheet, dialogsheet, xlMacrosheet and xlIntlMacrosheet). A type
// we do not know is listed as a worksheet: the workbook says it is a sheet, and opening it
// tells whether it is one (a part that is not a worksheet is damage). So is a sheet whose
// relationship is missing: the list opens, and opening that sheet fails as damage.
//
// Throws Error naming `path`, of its ErrorKind, when the package is not a workbook or is
// damaged. `fd`, when not -1, is the package already open (a decrypted copy, say); it is owned
// and closed by the reader, and `path` only names the workbook in messages.
std::unique_ptr<WorkbookSource> OpenXlsxWorkbook(const std::string& path, int fd = -1,
                                                 const XlsxReaderOptions& limits = {});

// The same, for a package whose directory is read already (the dispatcher looked into it).
std::unique_ptr<WorkbookSource> OpenXlsxWorkbook(const std::string& path,
                                                 std::unique_ptr<ZipArchive> zip,
                                                 const XlsxReaderOptions& limits = {});

// The first worksheet of OpenXlsxWorkbook(path, fd, limits), in workbook order, hidden or not.
std::unique_ptr<SheetSource> OpenXlsxSource(const std::string& path, int fd = -1,
                                            const XlsxReaderOptions& limits = {});

}  // namespace cellverter
