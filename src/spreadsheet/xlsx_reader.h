#pragma once

#include <memory>
#include <string>

#include "spreadsheet/sheet_source.h"

namespace cellverter {

// Opens an Office Open XML workbook (.xlsx, .xlsm; transitional or strict) and reads its
// first worksheet in workbook order, hidden or not. The sheet is parsed once, here, into a
// compact spool (memory up to a bound, then an unlinked temporary file), so the last used
// cell is known at once and rows are served in order without inflating the package twice.
// Throws Error naming `path` when the package is damaged or holds no worksheet.
// `fd`, when given, is the package already open (a decrypted copy, say); it is owned and
// closed by the reader, and `path` only names the workbook in messages.
std::unique_ptr<SheetSource> OpenXlsxSource(const std::string& path, int fd = -1);

}  // namespace cellverter
