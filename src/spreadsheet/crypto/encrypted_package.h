#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "spreadsheet/container/compound_file.h"
#include "spreadsheet/sheet_source.h"

namespace cellverter {

// Opens an encrypted Office Open XML workbook: a compound file (opened by the caller) whose
// "EncryptionInfo" and "EncryptedPackage" streams hold the encrypted zip package
// (MS-OFFCRYPTO 2.3.4.4). The package is decrypted into an unlinked temporary file, with Excel's
// default password or else `password`, and read as the package it holds (.xlsx, .xlsb). Throws
// Error naming `path`: "the workbook is protected by a password" when no password was given and the
// default one does not fit, "the password is wrong" when the one given does not fit either,
// damaged, or what the .xlsx reader says.
std::unique_ptr<WorkbookSource> OpenEncryptedPackage(const CompoundFile& file,
                                                     std::string_view password);

}  // namespace cellverter
