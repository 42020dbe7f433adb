#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "spreadsheet/sheet_source.h"

namespace cellverter {

// Opens a workbook by its content, whatever its name says: a zip package by what it holds
// (OpenZipWorkbook), XML as a flat OpenDocument spreadsheet (.fods), a compound file or a bare
// BIFF stream as a BIFF workbook (.xls), unless the compound file holds an
// "EncryptedPackage" stream, which is how a password-protected .xlsx is stored. Encrypted
// workbooks open with Excel's default password, else with `password` if one is given.
// Throws Error naming the file: missing, unreadable, not a workbook, password-protected (or
// the password is wrong), damaged, or without any worksheet.
std::unique_ptr<SheetSource> OpenWorkbookSource(const std::string& path,
                                                std::string_view password = {});

// Opens the zip package `fd` (owned from here on) by what it holds: Office Open XML (.xlsx,
// .xlsm, .xltx, .xltm), the binary workbook (.xlsb) or an OpenDocument spreadsheet (.ods).
// Another kind of package (a document, a presentation) is not a workbook.
std::unique_ptr<WorkbookSource> OpenZipWorkbook(const std::string& path, int fd);

// The same opening, giving the whole workbook: its sheet list and any worksheet of it.
std::unique_ptr<WorkbookSource> OpenWorkbook(const std::string& path,
                                             std::string_view password = {});

}  // namespace cellverter
