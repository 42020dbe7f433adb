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
#include <random>

#include "platform/error.h"

namespace cellverter {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view TrimStart(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view TrimEnd(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view Trim(std::string_view text) { return TrimEnd(TrimStart(text)); }

bool IsValidUtf8(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
  return status != U_INVALID_CHAR_FOUND && status != U_ILLEGAL_ARGUMENT_ERROR;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() == b.size() && a == b) return true;
  const auto ua = icu::UnicodeString::fromUTF8(icu::StringPiece(a.data(), a.size()));
  const auto ub = icu::UnicodeString::fromUTF8(icu::StringPiece(b.data(), b.size()));
  return ua.caseCompare(ub, U_FOLD_CASE_DEFAULT) == 0;
}

std::string SingleLine(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return result;
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

// A descriptor that closes itself, and unlinks its file unless released.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::filesystem::path& folder) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = folder / (".settings.ini." + std::to_string(random()));
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      created_ = fd_ >= 0;
      if (created_ || errno != EEXIST) break;
    }
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (created_ && !published_) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::filesystem::path& path() const { return path_; }
  // Closes the descriptor; false with errno set when the close reports a late write error.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  void Published() { published_ = true; }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  bool created_ = false;
  bool published_ = false;
};

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
  if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());
  if (!IsValidUtf8(text)) throw Error("The text is not valid UTF-8.");

  SettingsIni document;
  Section* current = nullptr;
  while (!text.empty()) {
    // Lines end with CR LF, LF or CR.
    const size_t end = text.find_first_of("\r\n");
    std::string_view line = Trim(text.substr(0, end));
    if (end == std::string_view::npos) {
      text = {};
    } else {
      const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
      text.remove_prefix(end + (crlf ? 2 : 1));
    }

    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      document.sections_.push_back(Section{std::string(Trim(line.substr(1, line.size() - 2))), {}});
      current = &document.sections_.back();
      continue;
    }
    if (current == nullptr) continue;  // before the first section
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      current->lines.push_back(Line{std::string(line), {}, false});
    } else {
      current->lines.push_back(Line{std::string(TrimEnd(line.substr(0, equals))),
                                    std::string(TrimStart(line.substr(equals + 1))), true});
    }
  }
  return document;
}

std::string SettingsIni::Serialize() const {
  std::string text(kBom);
  for (const Section& section : sections_) {
    text += "[" + section.name + "]\r\n";
    for (const Line& line : section.lines) {
      text += line.hasValue ? line.key + "=" + line.value : line.key;
      text += "\r\n";
    }
    text += "\r\n";
  }
  return text;
}

SettingsIni::Section* SettingsIni::FindSection(std::string_view name) {
  for (Section& section : sections_) {
    if (SameName(section.name, name)) return &section;
  }
  return nullptr;
}

const SettingsIni::Section* SettingsIni::FindSection(std::string_view name) const {
  return const_cast<SettingsIni*>(this)->FindSection(name);
}

std::optional<std::string> SettingsIni::Value(std::string_view section,
                                              std::string_view key) const {
  const Section* found = FindSection(section);
  if (found == nullptr) return std::nullopt;
  for (const Line& line : found->lines) {
    if (line.hasValue && SameName(line.key, key)) return line.value;
  }
  return std::nullopt;
}

void SettingsIni::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  Section* found = FindSection(section);
  if (found == nullptr) {
    sections_.push_back(Section{SingleLine(section), {}});
    found = &sections_.back();
  }
  for (Line& line : found->lines) {
    if (line.hasValue && SameName(line.key, key)) {
      line.value = SingleLine(value);
      return;
    }
  }
  found->lines.push_back(Line{SingleLine(key), SingleLine(value), true});
}

std::vector<std::string> SettingsIni::SectionNames() const {
  std::vector<std::string> names;
  for (const Section& section : sections_) names.push_back(section.name);
  return names;
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

  TemporaryFile temporary(folder_);
  if (!temporary.ok()) ThrowWriteError(path, errno);
  if (exists && S_ISREG(existing.st_mode)) ::fchmod(temporary.fd(), existing.st_mode & 07777);

  const std::string text = document_.Serialize();
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(temporary.fd(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ThrowWriteError(path, errno);
    done += static_cast<size_t>(n);
  }
  if (::fdatasync(temporary.fd()) != 0) ThrowWriteError(path, errno);
  if (!temporary.Close()) ThrowWriteError(path, errno);
  if (::rename(temporary.path().c_str(), path.c_str()) != 0) ThrowWriteError(path, errno);
  temporary.Published();

  // Make the rename itself durable; a failure here loses nothing that was written.
  const int folderFd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    ::fsync(folderFd);
    ::close(folderFd);
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
