#include "i18n/translate.h"

#include <fcntl.h>
#include <unicode/ucnv.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/ansi_code_page.h"
#include "platform/error.h"
#include "platform/program_data.h"

namespace cellverter {
namespace {

LanguageState& State() {
  static LanguageState state;
  return state;
}

std::optional<int>& LanguageOverride() {
  static std::optional<int> value;
  return value;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string AsciiLower(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](char c) { return AsciiLower(c); });
  return result;
}

std::string_view Trim(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// Lines ending in CR LF, LF or CR.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    text.remove_prefix(end + (crlf ? 2 : 1));
  }
  return lines;
}

std::string FromUtf16(const std::u16string& units) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strToUTF8WithSub(nullptr, 0, &length, units.data(), static_cast<int32_t>(units.size()), 0xFFFD,
                     nullptr, &status);
  std::string result(static_cast<size_t>(length), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8WithSub(result.data(), length, &length, units.data(),
                     static_cast<int32_t>(units.size()), 0xFFFD, nullptr, &status);
  return U_SUCCESS(status) ? result : std::string();
}

// Valid UTF-8: broken sequences become U+FFFD, so no window ever shows raw bytes.
std::string ValidUtf8(std::string_view bytes) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8WithSub(nullptr, 0, &length, bytes.data(), static_cast<int32_t>(bytes.size()),
                       0xFFFD, nullptr, &status);
  std::u16string units(static_cast<size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(units.data(), length, &length, bytes.data(),
                       static_cast<int32_t>(bytes.size()), 0xFFFD, nullptr, &status);
  return U_SUCCESS(status) ? FromUtf16(units) : std::string();
}

std::string FromCodePage(std::string_view bytes, int codePage) {
  UErrorCode status = U_ZERO_ERROR;
  const std::string name = "windows-" + std::to_string(codePage);
  std::unique_ptr<UConverter, void (*)(UConverter*)> converter(ucnv_open(name.c_str(), &status),
                                                               ucnv_close);
  if (U_FAILURE(status)) return ValidUtf8(bytes);
  std::u16string units(bytes.size() * 2 + 1, u'\0');
  const int32_t length =
      ucnv_toUChars(converter.get(), units.data(), static_cast<int32_t>(units.size()), bytes.data(),
                    static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) return {};
  units.resize(static_cast<size_t>(length));
  return FromUtf16(units);
}

// LanguageCodes.csv: UTF-8 or UTF-16 by its byte order mark, else the ANSI code page.
std::string DecodeCodesFile(std::string_view bytes) {
  auto startsWith = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (startsWith("\xEF\xBB\xBF")) return ValidUtf8(bytes.substr(3));
  const bool littleEndian = startsWith("\xFF\xFE");
  if (littleEndian || startsWith("\xFE\xFF")) {
    std::u16string units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto first = static_cast<unsigned char>(bytes[i]);
      const auto second = static_cast<unsigned char>(bytes[i + 1]);
      units += static_cast<char16_t>(littleEndian ? first | (second << 8) : (first << 8) | second);
    }
    return FromUtf16(units);
  }
  return FromCodePage(bytes, UserAnsiCodePage());
}

// The whole file, or nothing with errno set.
std::optional<std::string> ReadFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int code = errno;
      ::close(fd);
      errno = code;
      return std::nullopt;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return content;
}

// The file name that LanguageCodes.csv gives to the code, or empty.
std::string WantedFileName(const std::filesystem::path& codesFile, const std::string& code) {
  const std::optional<std::string> bytes = ReadFile(codesFile);
  if (!bytes) return {};
  for (const std::string& line : SplitLines(DecodeCodesFile(*bytes))) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    if (Trim(std::string_view(line).substr(0, comma)) == code) {
      return std::string(Trim(std::string_view(line).substr(comma + 1)));
    }
  }
  return {};
}

// "de_DE.UTF-8" -> "de_DE", "sr_RS@latin" -> "sr_Latn_RS".
std::string IcuLocaleId(std::string_view localeName) {
  const size_t at = localeName.find('@');
  const std::string_view modifier =
      at == std::string_view::npos ? std::string_view() : localeName.substr(at + 1);
  std::string name(localeName.substr(0, localeName.find_first_of(".@")));
  std::replace(name.begin(), name.end(), '-', '_');
  if (modifier.substr(0, 5) == "latin") {
    const size_t underscore = name.find('_');
    name = underscore == std::string::npos
               ? name + "_Latn"
               : name.substr(0, underscore) + "_Latn" + name.substr(underscore);
  }
  return name;
}

}  // namespace

const LanguageState& Language() { return State(); }

void FindLanguageFiles(const std::filesystem::path& folder, std::vector<std::string>& files) {
  constexpr std::string_view kSuffix = "lang.txt";
  std::vector<std::string> found;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    // Windows matches the mask without regard to letter case.
    if (name.size() < kSuffix.size() ||
        AsciiLower(std::string_view(name).substr(name.size() - kSuffix.size())) != kSuffix) {
      continue;
    }
    std::error_code typeError;
    if (it->is_directory(typeError)) continue;
    found.push_back(name);
  }
  // A stable order, as a Windows folder listing has one.
  std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
    const std::string la = AsciiLower(a), lb = AsciiLower(b);
    return la != lb ? la < lb : a < b;
  });
  files.insert(files.end(), found.begin(), found.end());
}

void LoadLanguage(const std::filesystem::path& programFolder) {
  LanguageState& state = State();
  state = LanguageState{};
  state.LanguagesFolder = ProgramDataPath(programFolder, "Languages");
  std::error_code error;
  if (!std::filesystem::is_directory(state.LanguagesFolder, error)) return;
  FindLanguageFiles(state.LanguagesFolder, state.LanguageFiles);

  std::string fileName;
  const std::filesystem::path codesFile = state.LanguagesFolder / "LanguageCodes.csv";
  if (std::filesystem::is_regular_file(codesFile, error)) {
    const std::string wanted = WantedFileName(codesFile, std::to_string(UserInterfaceLanguage()));
    if (!wanted.empty()) {
      const std::string lowered = AsciiLower(wanted);
      for (const std::string& name : state.LanguageFiles) {
        if (AsciiLower(name) == lowered) {
          fileName = name;
          break;
        }
      }
    }
  }
  if (fileName.empty()) return;
  const std::filesystem::path path = state.LanguagesFolder / fileName;
  if (!std::filesystem::exists(path, error)) return;

  state.LanguageFile = path;
  errno = 0;
  const std::optional<std::string> bytes = ReadFile(path);
  if (!bytes) {
    const int code = errno != 0 ? errno : EIO;
    throw Error("Cannot read language file \"" + path.string() + "\". " + SystemMessage(code));
  }
  std::string_view text = *bytes;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  state.Translations = SplitLines(ValidUtf8(text));
}

std::string Translate(std::string_view key) {
  const LanguageState& state = State();
  if (state.LanguageFile.empty()) return std::string(key);
  const std::string pattern = "{" + std::string(key) + "}";
  for (const std::string& line : state.Translations) {
    if (line.compare(0, pattern.size(), pattern) != 0) continue;
    const std::string text = line.substr(line.find('}') + 1);
    return text.empty() ? std::string(key) : text;
  }
  return std::string(key);
}

namespace {

// Counts the "%s" of a text; nothing when it holds any other "%" sequence.
std::optional<size_t> Placeholders(std::string_view text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (i + 1 < text.size() && (text[i + 1] == 's' || text[i + 1] == '%')) {
      if (text[i + 1] == 's') ++count;
      ++i;
      continue;
    }
    return std::nullopt;
  }
  return count;
}

std::string Format(std::string_view text, std::initializer_list<std::string_view> args) {
  std::string result;
  auto next = args.begin();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 's') {
      if (next != args.end()) result += *next++;
      ++i;
    } else if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') {
      result += '%';
      ++i;
    } else {
      result += text[i];  // any other "%" stays as it is
    }
  }
  return result;
}

}  // namespace

std::string TranslateFormat(std::string_view key, std::initializer_list<std::string_view> args) {
  const std::string text = Translate(key);
  const std::optional<size_t> count = Placeholders(text);
  if (count && *count <= args.size()) return Format(text, args);
  return Format(key, args);
}

int LanguageIdForLocale(std::string_view localeName) {
  const std::string id = IcuLocaleId(localeName);
  if (id.empty() || id == "C" || id == "POSIX") return 1033;
  if (const uint32_t lcid = uloc_getLCID(id.c_str()); lcid != 0) return static_cast<int>(lcid);

  // An unknown territory: the language in its most likely territory (de_XX -> de_DE).
  char language[ULOC_LANG_CAPACITY] = {};
  UErrorCode status = U_ZERO_ERROR;
  uloc_getLanguage(id.c_str(), language, sizeof language, &status);
  char likely[ULOC_FULLNAME_CAPACITY] = {};
  uloc_addLikelySubtags(language, likely, sizeof likely, &status);
  char country[ULOC_COUNTRY_CAPACITY] = {};
  uloc_getCountry(likely, country, sizeof country, &status);
  if (U_SUCCESS(status) && language[0] != '\0' && country[0] != '\0') {
    const std::string fallback = std::string(language) + "_" + country;
    if (const uint32_t lcid = uloc_getLCID(fallback.c_str()); lcid != 0) {
      return static_cast<int>(lcid);
    }
  }
  return 1033;
}

int UserInterfaceLanguage() {
  if (LanguageOverride()) return *LanguageOverride();
  std::string locale;
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      locale = value;
      break;
    }
  }
  // LANGUAGE, a list of preferred message languages, counts unless the locale is C.
  const std::string base = locale.substr(0, locale.find_first_of(".@"));
  if (const char* list = std::getenv("LANGUAGE");
      list != nullptr && *list != '\0' && !base.empty() && base != "C" && base != "POSIX") {
    const std::string first = std::string(list).substr(0, std::string(list).find(':'));
    if (!first.empty()) return LanguageIdForLocale(first);
  }
  return LanguageIdForLocale(locale);
}

void SetUserInterfaceLanguageOverride(std::optional<int> languageId) {
  LanguageOverride() = languageId;
}

}  // namespace cellverter
