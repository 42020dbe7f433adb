#pragma once

#include <memory>
#include <string>

#include "spreadsheet/sheet_source.h"

namespace cellverter {

// Opens a workbook by its content, whatever its name says: a zip package is read as Office
// Open XML (.xlsx, .xlsm), a compound file as a BIFF workbook (.xls), unless it holds an
// "EncryptedPackage" stream, which is how a password-protected .xlsx is stored. Throws Error
// naming the file: missing, unreadable, not a workbook, password-protected, damaged, or
// without any worksheet.
std::unique_ptr<SheetSource> OpenWorkbookSource(const std::string& path);

}  // namespace cellverter
