#include "app/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unicode/dcfmtsym.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "platform/error.h"
#include "platform/pending_file.h"
#include "platform/utf8.h"

namespace cellverter {
namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view TrimStart(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  return text;
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// The locale name of a category as the C library chooses it: LC_ALL, the category, LANG.
std::string LocaleNameFor(const char* category) {
  for (const char* variable : {"LC_ALL", category, "LANG"}) {
    std::string value = EnvironmentValue(variable);
    if (!value.empty()) return value;
  }
  return {};
}

// "de_DE.UTF-8@euro" -> "de_DE"; "C" and "POSIX" -> "en_US".
std::string IcuLocaleName(std::string_view localeName) {
  std::string name(localeName.substr(0, localeName.find_first_of(".@")));
  if (name.empty() || name == "C" || name == "POSIX") return "en_US";
  return name;
}

[[noreturn]] void ThrowWriteError(const std::filesystem::path& path, int code) {
  throw Error("Cannot write file \"" + path.string() + "\". " + SystemMessage(code));
}

}  // namespace

// --- Defaults -------------------------------------------------------------------------

std::string ListSeparatorForLocale(std::string_view localeName) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Locale locale(IcuLocaleName(localeName).c_str());
  const icu::DecimalFormatSymbols symbols(locale, status);
  if (U_FAILURE(status)) return ",";
  const icu::UnicodeString& decimal =
      symbols.getConstSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol);
  return decimal == icu::UnicodeString(u",") ? ";" : ",";
}

std::string UserListSeparator() { return ListSeparatorForLocale(LocaleNameFor("LC_NUMERIC")); }

std::filesystem::path DesktopFolderFor(const std::filesystem::path& home,
                                       const std::filesystem::path& configHome) {
  // user-dirs.dirs holds shell assignments: XDG_DESKTOP_DIR="$HOME/Desktop" or an absolute
  // path in double quotes, with backslash escapes.
  std::ifstream in(configHome / "user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    std::string_view text = TrimStart(line);
    constexpr std::string_view kName = "XDG_DESKTOP_DIR=\"";
    if (text.substr(0, kName.size()) != kName) continue;
    text.remove_prefix(kName.size());
    std::string value;
    bool closed = false;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\\' && i + 1 < text.size()) {
        value += text[++i];
      } else if (text[i] == '"') {
        closed = true;
        break;
      } else {
        value += text[i];
      }
    }
    if (!closed) continue;
    constexpr std::string_view kHome = "$HOME";
    if (value.substr(0, kHome.size()) == kHome &&
        (value.size() == kHome.size() || value[kHome.size()] == '/')) {
      std::string rest = value.substr(kHome.size());
      while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
      return rest.empty() ? home : home / rest;
    }
    if (!value.empty() && value.front() == '/') return value;
  }
  return home / "Desktop";
}

std::filesystem::path DesktopFolder() { return DesktopFolderFor(HomeFolder(), UserConfigFolder()); }

std::string DefaultDestination() { return DesktopFolder().string(); }

std::string DefaultSeparator() { return UserListSeparator(); }

// --- Folder ---------------------------------------------------------------------------

bool IsFolderWritable(const std::filesystem::path& folder) {
  const std::filesystem::path probe = folder / "chk.tmp";
  const int fd = ::open(probe.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

std::filesystem::path SettingsFolder(const std::filesystem::path& programFolder,
                                     std::string_view companyName, std::string_view productName,
                                     const std::filesystem::path& configFolder) {
  if (IsFolderWritable(programFolder)) return programFolder / "";
  // One creation per level; a failure shows later as a failed write.
  ::mkdir(configFolder.c_str(), 0700);
  const std::filesystem::path company = configFolder / std::string(companyName);
  ::mkdir(company.c_str(), 0777);
  const std::filesystem::path product = company / std::string(productName);
  ::mkdir(product.c_str(), 0777);
  return product / "";
}

// --- SettingsIni ----------------------------------------------------------------------

SettingsIni SettingsIni::Parse(std::string_view text) {
  std::string_view body = text;
  if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
  if (!IsValidUtf8(body)) throw Error("The text is not valid UTF-8.");
  SettingsIni document;
  static_cast<IniDocument&>(document) = IniDocument::Parse(text);
  return document;
}

// --- SettingsStore --------------------------------------------------------------------

SettingsStore::SettingsStore(std::filesystem::path folder) : folder_(std::move(folder)) {
  const std::filesystem::path path = FilePath();
  std::string text;
  int readError = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return;  // first start: an empty document
    readError = errno;
  } else {
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) readError = errno;
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
  }

  if (readError == 0) {
    try {
      document_ = SettingsIni::Parse(text);
      return;
    } catch (const Error&) {
      // not UTF-8: kept aside below
    }
  }
  // Keep the user's file for inspection instead of deleting it, and start from defaults.
  std::filesystem::path aside = path;
  aside += ".bad";
  if (::rename(path.c_str(), aside.c_str()) == 0) movedAside_ = aside;
}

std::string SettingsStore::ReadString(std::string_view key, std::string_view defaultValue) const {
  std::optional<std::string> value = document_.Value(kSettingsSection, key);
  return value ? *value : std::string(defaultValue);
}

bool SettingsStore::ReadBool(std::string_view key) const {
  return document_.Value(kSettingsSection, key) == "True";
}

void SettingsStore::WriteString(std::string_view key, std::string_view value) {
  document_.SetValue(kSettingsSection, key, value);
  Save();
}

void SettingsStore::WriteStrings(
    const std::vector<std::pair<std::string_view, std::string_view>>& values) {
  for (const auto& [key, value] : values) document_.SetValue(kSettingsSection, key, value);
  Save();
}

void SettingsStore::WriteBool(std::string_view key, bool on) {
  WriteString(key, on ? "True" : "False");
}

void SettingsStore::Save() {
  if (deleted_) return;
  const std::filesystem::path path = FilePath();

  // Respect a settings file the user made read-only; rename would replace it silently.
  struct stat existing {};
  const bool exists = ::stat(path.c_str(), &existing) == 0;
  if (exists && (existing.st_mode & 0222) == 0) ThrowWriteError(path, EACCES);

  PendingFile temporary(PendingFile::Method::kHiddenName);
  if (const int error = temporary.Create(folder_.string()); error != 0) {
    ThrowWriteError(path, error);
  }
  if (const int error = temporary.Write(document_.Serialize()); error != 0) {
    ThrowWriteError(path, error);
  }
  if (const int error = temporary.Replace(path.string()); error != 0) {
    ThrowWriteError(path, error);
  }
}

void SettingsStore::DeleteFile() {
  deleted_ = true;
  const std::filesystem::path path = FilePath();
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    throw Error("Cannot delete file \"" + path.string() + "\". " + SystemMessage(errno));
  }
}

}  // namespace cellverter
