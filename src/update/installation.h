#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace cellverter {

// The values that tell the maker's server where the program runs, and the name of the
// update store's folder.

// A stable identifier of this machine for this application, in GUID text form
// (8-4-4-4-12 lower-case hexadecimal digits), derived from the machine id by a keyed hash so
// that the raw machine id never leaves the machine. "" when the system has no machine id.
// Throws Error when the machine id exists but cannot be read or is malformed.
std::string ReadMachineGuid();
// The same from a given machine-id file ("" when the file does not exist).
std::string MachineGuidFromFile(const std::filesystem::path& machineIdFile);

// What OSDescription reports.
struct OsFacts {
  std::string name;  // "Debian GNU/Linux 12 (bookworm)"
  int major = 0;     // kernel version numbers: 6.1.0 -> 6, 1, 0
  int minor = 0;
  int build = 0;
  int servicePack = 0;  // always 0 here; selects the template with the service pack
  bool is64Bit = true;  // of the system, not of the program
};

// "name (Version 6.1, Build 0, 64-bit Edition)", or with a service pack
// "name Service Pack 1 (Version 6.1, Build 7601, 64-bit Edition)".
std::string OSDescription(const OsFacts& facts);
// This system: its name from /etc/os-release, the running kernel's version and bitness.
std::string OSDescription();
// The PRETTY_NAME (else NAME) of an os-release text, unquoted; "Linux" when it has none.
std::string OsNameFromRelease(std::string_view osRelease);

// The language-REGION name ("de-DE") of a POSIX or ICU locale id ("de_DE.UTF-8", "de_DE");
// "en-US" for the C locale, "xx" when the locale is not one the system knows.
std::string LocaleNameFor(std::string_view localeId);
// The same for the locale the program started with.
std::string CurrentLocaleName();

// MD5 of title as ASCII (every other character as "?"), 32 upper-case hexadecimal digits.
// Throws Error when the digest cannot be computed.
std::string ApplicationKey(std::string_view title);

}  // namespace cellverter
