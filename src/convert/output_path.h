#pragma once

#include <filesystem>
#include <string>

namespace cellverter {

// The output path of a workbook: the destination with one trailing "/" (added only when
// missing), the workbook's file name without its last extension, then ".csv".
// q1.sales.xlsx gives q1.sales.csv.
std::string OutputPathFor(const std::string& destination, const std::string& workbookPath);

// The output path of one worksheet when a workbook gives a CSV file per sheet:
// "<destination>/<workbook name> - <sheet name>.csv". In the sheet's name, "/" and the
// control characters (which cannot stand in a file name, or would garble a listing) become
// "_", and the name is shortened (never inside a character) so that the file name stays
// within 255 bytes.
std::string OutputPathForSheet(const std::string& destination, const std::string& workbookPath,
                               const std::string& sheetName);

// `path` when its name is free, else the first of "base (2).ext", "base (3).ext", ...
// that is; every candidate is built from the original base name. Any directory entry takes
// a name (a dangling symbolic link too, which a file would be written through), except a
// folder or a link to one, which does not count as a file.
std::string UniqueFileName(const std::string& path);

// The first free numbered candidate of `path` (see UniqueFileName) above `counter`, which
// becomes its number. A publish that finds its name taken after all moves on with this,
// never back to a name it has met.
std::string NextUniqueFileName(const std::string& path, long long& counter);

// The numbered candidate of `path` for `counter` ("report.csv", 2 -> "report (2).csv").
std::string NumberedFileName(const std::string& path, long long counter);

}  // namespace cellverter
