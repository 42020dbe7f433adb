#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "spreadsheet/sheet_source.h"

namespace cellverter {

// Bytes the reader keeps in memory before it moves them to an unlinked temporary file in
// $TMPDIR: the spooled cells of the sheet, and the texts of the shared strings table.
struct XlsxMemoryLimits {
  size_t sheetSpool = size_t{16} << 20;
  size_t sharedStrings = size_t{64} << 20;
};

// Opens an Office Open XML workbook (.xlsx, .xlsm; transitional or strict) and reads its
// first worksheet in workbook order, hidden or not. The sheet is parsed once, here, into a
// compact spool (memory up to a bound, then an unlinked temporary file), so the last used
// cell is known at once and rows are served in order without inflating the package twice.
// Throws Error naming `path` when the package is damaged or holds no worksheet.
// `fd`, when not -1, is the package already open (a decrypted copy, say); it is owned and
// closed by the reader, and `path` only names the workbook in messages.
std::unique_ptr<SheetSource> OpenXlsxSource(const std::string& path, int fd = -1,
                                            const XlsxMemoryLimits& limits = {});

}  // namespace cellverter
