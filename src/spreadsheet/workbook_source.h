#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "spreadsheet/sheet_source.h"

namespace cellverter {

// Opens a workbook by its content, whatever its name says: a zip package is read as Office
// Open XML (.xlsx, .xlsm), a compound file as a BIFF workbook (.xls), unless it holds an
// "EncryptedPackage" stream, which is how a password-protected .xlsx is stored. Encrypted
// workbooks open with Excel's default password, else with `password` if one is given.
// Throws Error naming the file: missing, unreadable, not a workbook, password-protected (or
// the password is wrong), damaged, or without any worksheet.
std::unique_ptr<SheetSource> OpenWorkbookSource(const std::string& path,
                                                std::string_view password = {});

// The same opening, giving the whole workbook: its sheet list and any worksheet of it.
std::unique_ptr<WorkbookSource> OpenWorkbook(const std::string& path,
                                             std::string_view password = {});

}  // namespace cellverter
