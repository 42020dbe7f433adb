#pragma once

#include <filesystem>
#include <string>

namespace cellverter {

// The twelve strings of a version record. The caller starts with all fields empty; the
// reader sets only the fields the record holds.
struct TEXEVersionData {
  std::string CompanyName;
  std::string FileDescription;
  std::string FileVersion;
  std::string InternalName;
  std::string LegalCopyright;
  std::string LegalTrademarks;
  std::string OriginalFileName;
  std::string ProductName;
  std::string ProductVersion;
  std::string Comments;
  std::string PrivateBuild;
  std::string SpecialBuild;

  bool operator==(const TEXEVersionData&) const = default;
};

// Reads the version record that the build embeds in an ELF file (section
// ".cellverter.version", layout in docs/architecture.md) into `Data`, from the string table
// of the record's first translation. A file that cannot be read or holds no usable record
// throws Error "System Error.  Code: <errno>.\r\n<system text>".
void ReadEXEVersionData(const std::filesystem::path& FileName, TEXEVersionData& Data);

// The running program's executable file (/proc/self/exe).
std::filesystem::path ExecutablePath();

}  // namespace cellverter
