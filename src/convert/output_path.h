#pragma once

#include <filesystem>
#include <string>

namespace cellverter {

// The output path of a workbook: the destination with one trailing "/" (added only when
// missing), the workbook's file name without its last extension, then ".csv".
// q1.sales.xlsx gives q1.sales.csv.
std::string OutputPathFor(const std::string& destination, const std::string& workbookPath);

// `path` when no file of that name exists, else the first of "base (2).ext",
// "base (3).ext", ... that names no file; every candidate is built from the original base
// name. A folder of the name does not count as a file.
std::string UniqueFileName(const std::string& path);

// The numbered candidate of `path` for `counter` ("report.csv", 2 -> "report (2).csv").
std::string NumberedFileName(const std::string& path, long long counter);

}  // namespace cellverter
