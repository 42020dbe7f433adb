#include "update/installation.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/utsname.h>
#include <unicode/locid.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/error.h"
#include "platform/utf8.h"

namespace cellverter {
namespace {

// Mixed into the machine id so that this application's identifier differs from any other's.
constexpr unsigned char kApplicationId[16] = {0x3c, 0x1e, 0x8a, 0x52, 0x9d, 0x07, 0x4b, 0xe6,
                                              0xa1, 0x5f, 0x26, 0xc9, 0x70, 0xd4, 0x8e, 0x13};

std::string Hex(const unsigned char* bytes, size_t count, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unquote(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) ++i;
    out += value[i];
  }
  return out;
}

bool Is64BitMachine(std::string_view machine) {
  return machine.find("64") != std::string_view::npos || machine == "s390x" || machine == "alpha";
}

}  // namespace

std::string MachineGuidFromFile(const std::filesystem::path& machineIdFile) {
  std::error_code error;
  if (!std::filesystem::exists(machineIdFile, error)) return {};
  std::ifstream in(machineIdFile, std::ios::binary);
  std::string text;
  if (in) std::getline(in, text);
  if (!in && !in.eof()) {
    throw Error("Cannot read the machine identifier \"" + machineIdFile.string() + "\".");
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  // systemd leaves the file empty or "uninitialized" until the first boot completes.
  if (text.empty() || text == "uninitialized") return {};
  unsigned char id[16];
  bool valid = text.size() == 32;
  for (size_t i = 0; valid && i < 16; ++i) {
    int high = HexValue(text[2 * i]);
    int low = HexValue(text[2 * i + 1]);
    valid = high >= 0 && low >= 0;
    id[i] = static_cast<unsigned char>(high * 16 + low);
  }
  if (!valid) {
    throw Error("The machine identifier \"" + machineIdFile.string() + "\" is not valid.");
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(EVP_sha256(), id, sizeof id, kApplicationId, sizeof kApplicationId, digest, &length) ==
      nullptr) {
    throw Error("Cannot derive the machine identifier.");
  }
  // A version 4, variant 1 UUID, as GUIDs are written.
  digest[6] = static_cast<unsigned char>((digest[6] & 0x0F) | 0x40);
  digest[8] = static_cast<unsigned char>((digest[8] & 0x3F) | 0x80);
  std::string hex = Hex(digest, 16, false);
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20, 12);
}

std::string ReadMachineGuid() {
  std::error_code error;
  if (std::filesystem::exists("/etc/machine-id", error)) {
    return MachineGuidFromFile("/etc/machine-id");
  }
  return MachineGuidFromFile("/var/lib/dbus/machine-id");
}

std::string OSDescription(const OsFacts& facts) {
  const std::string edition = facts.is64Bit ? "64-bit Edition" : "32-bit Edition";
  const std::string version = "(Version " + std::to_string(facts.major) + "." +
                              std::to_string(facts.minor) + ", Build " +
                              std::to_string(facts.build) + ", " + edition + ")";
  if (facts.servicePack == 0) return facts.name + " " + version;
  return facts.name + " Service Pack " + std::to_string(facts.servicePack) + " " + version;
}

std::string OsNameFromRelease(std::string_view osRelease) {
  std::string prettyName;
  std::string name;
  std::istringstream lines{std::string(osRelease)};
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("PRETTY_NAME=")) prettyName = Unquote(line.substr(12));
    if (line.starts_with("NAME=")) name = Unquote(line.substr(5));
  }
  if (!prettyName.empty()) return prettyName;
  if (!name.empty()) return name;
  return "Linux";
}

std::string OSDescription() {
  OsFacts facts;
  std::string release;
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream in(path, std::ios::binary);
    if (in) {
      release.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      break;
    }
  }
  facts.name = OsNameFromRelease(release);
  utsname system{};
  if (uname(&system) == 0) {
    std::sscanf(system.release, "%d.%d.%d", &facts.major, &facts.minor, &facts.build);
    facts.is64Bit = Is64BitMachine(system.machine);
  } else {
    facts.is64Bit = sizeof(void*) == 8;
  }
  return OSDescription(facts);
}

std::string LocaleNameFor(std::string_view localeId) {
  std::string id(localeId.substr(0, localeId.find_first_of(".@")));
  if (id.empty() || id == "C" || id == "POSIX" || id == "en_US_POSIX") return "en-US";
  icu::Locale locale = icu::Locale::createCanonical(id.c_str());
  if (locale.isBogus() || locale.getLanguage()[0] == '\0') return "xx";
  std::string language = locale.getLanguage();
  std::string script = locale.getScript();
  std::string region = locale.getCountry();
  if (region.empty()) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale likely(locale);
    likely.addLikelySubtags(status);
    if (U_SUCCESS(status)) region = likely.getCountry();
  }
  if (region.empty()) return "xx";
  int32_t count = 0;
  const icu::Locale* known = icu::Locale::getAvailableLocales(count);
  bool found = false;
  for (int32_t i = 0; i < count && !found; ++i) {
    found = language == known[i].getLanguage() && region == known[i].getCountry();
  }
  if (!found) return "xx";
  return language + (script.empty() ? "" : "-" + script) + "-" + region;
}

std::string CurrentLocaleName() { return LocaleNameFor(icu::Locale::getDefault().getName()); }

std::string ApplicationKey(std::string_view title) {
  std::string ascii;
  for (size_t i = 0; i < title.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(title[i]);
    if (c < 0x80) {
      ascii += static_cast<char>(c);
      continue;
    }
    // One "?" per character: skip the continuation bytes of a UTF-8 sequence.
    ascii += '?';
    while (i + 1 < title.size() && IsUtf8Continuation(title[i + 1])) ++i;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(ascii.data(), ascii.size(), digest, &length, EVP_md5(), nullptr) != 1 ||
      length != 16) {
    throw Error("Cannot compute the MD5 digest of the application title.");
  }
  return Hex(digest, length, true);
}

}  // namespace cellverter
