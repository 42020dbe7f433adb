#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "spreadsheet/container/compound_file.h"
#include "spreadsheet/sheet_source.h"

namespace cellverter {

// Opens a legacy Excel workbook: a compound file whose "Workbook" (BIFF8, Excel 97-2003) or
// "Book" (BIFF5/BIFF7, Excel 5 and 95) stream holds the records, or a bare Excel 2.x-4.x file
// (BIFF2-BIFF4: one worksheet, chart or macro sheet; BIFF4W: an Excel 4.0 workbook). Opening reads
// the workbook globals (sheet list, shared strings, formats, date system, code page) and the first
// records of each worksheet-or-dialog entry to tell the two apart; VBA modules are left out of the
// sheet list. OpenSheet scans the worksheet once for its last used cell; rows are then
// streamed from the file, so memory does not grow with the rows.
//
// An encrypted BIFF8 workbook (XOR, RC4 or RC4 CryptoAPI) is decrypted with Excel's default
// password, else with `password` when one is given.
//
// Throws Error naming the file, of its kind, when it is missing or unreadable, not a
// workbook, protected by a password (or the password given is wrong), or damaged.
std::unique_ptr<WorkbookSource> OpenXlsWorkbook(const std::string& path,
                                                std::string_view password = {});

// The same over a compound file the caller opened already (the dispatcher, which looked into
// it for an encrypted package), or over a bare BIFF8 stream (`container` kBareStream).
std::unique_ptr<WorkbookSource> OpenXlsWorkbook(std::unique_ptr<CompoundFile> file,
                                                std::string_view password,
                                                CompoundFile::Container container);

// The first worksheet of the workbook (hidden or not); a workbook without one is refused.
std::unique_ptr<SheetSource> OpenXlsSource(const std::string& path, std::string_view password = {});

// True when `head` (the first bytes of a file) starts like a bare BIFF2-BIFF4 file, the
// formats of Excel 2.x to 4.x that are not stored in a compound file. OpenXlsWorkbook reads
// such a file as its stream.
bool LooksLikeOldBiffFile(std::string_view head);

// True when `head` starts like a BIFF8 workbook stream stored as the whole file, without its
// compound file (the globals' BOF record). OpenXlsWorkbook reads such a file as the stream and
// notes the repair.
bool LooksLikeBareBiff8Stream(std::string_view head);

}  // namespace cellverter
