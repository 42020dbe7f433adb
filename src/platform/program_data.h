#pragma once

#include <filesystem>

namespace cellverter {

// Where the program's data file or folder `name` (Languages, license.txt) lies. The same
// executable runs from its build folder, where the data lies beside it, and installed
// (<prefix>/bin), where it lies in <prefix>/share/cellverter: the folder beside the program
// wins when the entry exists there (links followed), else ../share/cellverter/<name> relative
// to the program folder when that exists. When neither does, the place beside the program,
// so that messages name it as they always did.
std::filesystem::path ProgramDataPath(const std::filesystem::path& programFolder,
                                      const std::filesystem::path& name);

}  // namespace cellverter
