#include "platform/program_data.h"

namespace cellverter {

std::filesystem::path ProgramDataPath(const std::filesystem::path& programFolder,
                                      const std::filesystem::path& name) {
  std::error_code error;
  std::filesystem::path beside = programFolder / name;
  if (std::filesystem::exists(beside, error)) return beside;
  // The layout of GNUInstallDirs' defaults (bin/ and share/), which the install rules use.
  std::filesystem::path installed =
      (programFolder / ".." / "share" / "cellverter" / name).lexically_normal();
  if (std::filesystem::exists(installed, error)) return installed;
  return beside;
}

}  // namespace cellverter
