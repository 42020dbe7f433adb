#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace cellverter {

// Receives the path of each supported workbook a scan finds (the window appends a row).
using FoundWorkbook = std::function<void(const std::string& path)>;

// Lists the supported workbooks of `dirName` (Destekleniyormu), and with `includeSubfolders`
// those of every folder below it, calling `ekle` for each in the order the directory
// listing gives its entries (never sorted), depth first: a subfolder's workbooks come
// right where the subfolder stands among its parent's entries. Hidden entries count like
// any other. A path is `dirName` with one "/" added when it lacks one, then the name.
// Links to folders are entered like folders, except one that leads back to a folder being
// scanned at that moment, which would never end. Folders that cannot be read add nothing
// and are skipped silently.
void AddAllFilesInDir(const std::string& dirName, bool includeSubfolders,
                      const FoundWorkbook& ekle);

// The status texts shown around the scan of one folder.
std::string ScanningFolderText(std::string_view folder);
inline constexpr std::string_view kFinishedFolderScanText = "Finished folder scan";

// Scans one folder between its two status texts, passed to `showStatus` (the window paints
// the first before the scan starts).
void AddMyFolder(const std::string& foldername, bool includeSubfolders, const FoundWorkbook& ekle,
                 const std::function<void(const std::string&)>& showStatus);

}  // namespace cellverter
