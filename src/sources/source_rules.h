#pragma once

#include <string>
#include <string_view>

namespace cellverter {

// Whether a file name or path names a supported workbook: its extension, compared after
// lower-casing the ASCII letters only, is one of kWorkbookExtensions (.xlsx, .xls, .xlsb, .ods
// and the rest). The extension starts at the last "." of the name unless a path separator
// ("/", and also "\" or ":", which the Windows form of the rule treats as separators) comes
// after it. So BOOK.XLS, a.b.xlsx and book.XLSM are supported, book.xls.bak, book.csv,
// "name." and "xls" are not, and the bare name ".xls" is.
bool Destekleniyormu(std::string_view dosyaadi);

// The folder part of a file path, as remembered for the next file dialog: everything
// before the last "/", except that a "/" that is the first character or follows another
// "/" is kept ("/data/Book.xls" -> "/data", "/Book.xls" -> "/", "Book.xls" -> "").
std::string FolderPartOfPath(std::string_view path);

}  // namespace cellverter
