#include "i18n/translate.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/error.h"
#include "scoped_environment.h"
#include "temp_dir.h"

namespace cellverter {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

template <class Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// A program folder with Languages/Test.lang.txt chosen for language 1031.
class LanguageFolder : public testing::Test {
 protected:
  LanguageFolder() {
    fs::create_directory(languages_);
    WriteBytes((languages_ / "LanguageCodes.csv").string(), "1031,Test.lang.txt\r\n");
    SetUserInterfaceLanguageOverride(1031);
  }
  ~LanguageFolder() override {
    SetUserInterfaceLanguageOverride(std::nullopt);
    LoadLanguage(dir_.path() / "nothing here");  // leave no language behind
  }

  void Load(const std::string& languageFile) {
    WriteBytes((languages_ / "Test.lang.txt").string(), languageFile);
    LoadLanguage(dir_.path());
  }

  TempDir dir_;
  fs::path languages_ = dir_.path() / "Languages";
};

// --- Entries --------------------------------------------------------------------------

struct EntryCase {
  const char* name;
  std::string file;
  std::string key;
  std::string expected;
};

void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.name; }

class TranslateEntry : public LanguageFolder, public testing::WithParamInterface<EntryCase> {};

TEST_P(TranslateEntry, Looks) {
  const EntryCase& c = GetParam();
  Load(c.file);
  ASSERT_FALSE(Language().LanguageFile.empty());
  EXPECT_EQ(Translate(c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TranslateEntry,
    testing::Values(EntryCase{"Found", "{Send}Senden\n", "Send", "Senden"},
                    EntryCase{"OtherLetterCaseIsAnotherKey", "{Send}Senden\n", "send", "send"},
                    EntryCase{"EmptyTextMeansTheKey", "{Send}\n", "Send", "Send"},
                    EntryCase{"BlanksBelongToTheText", "{Send}  Senden \r\n", "Send", "  Senden "},
                    EntryCase{"BlankBeforeBraceIsNoEntry", " {Send}Senden\n", "Send", "Send"},
                    EntryCase{"FirstEntryWins", "{Send}Erste\n{Send}Zweite\n", "Send", "Erste"},
                    EntryCase{"EmptyFirstEntryStillWins", "{Send}\n{Send}Zweite\n", "Send", "Send"},
                    EntryCase{"BracesInTheText", "{Send}a}b{c\n", "Send", "a}b{c"},
                    EntryCase{"ByteOrderMarkSkipped", "\xEF\xBB\xBF{Send}Senden\n", "Send",
                              "Senden"},
                    EntryCase{"CrLineEnds", "{Yes}Ja\r{No}Nein\r", "No", "Nein"},
                    EntryCase{"CommentLinesIgnored", "Send}x\n{Other}y\n# {Send}z\n{Send}Senden",
                              "Send", "Senden"},
                    EntryCase{"PlaceholderKept", "{About %s}Über %s\n", "About %s", "Über %s"},
                    EntryCase{"KeyMustBeWhole", "{Send more}Mehr\n", "Send", "Send"},
                    EntryCase{"MissingKey", "{Send}Senden\n", "Cancel", "Cancel"},
                    EntryCase{"BrokenUtf8Replaced",
                              "{Send}Sen\xFF"
                              "den\n",
                              "Send",
                              "Sen\xEF\xBF\xBD"
                              "den"},
                    EntryCase{"EmptyKey", "{}leer\n", "", "leer"}),
    CaseName<EntryCase>);

// --- Choosing the file ----------------------------------------------------------------

struct ChoiceCase {
  const char* name;
  std::string codes;               // LanguageCodes.csv; "-" for none
  std::vector<std::string> files;  // language files to create, each holding {Send}<name>
  int language;
  std::string expected;  // Translate("Send")
};

void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }

class LanguageChoice : public testing::TestWithParam<ChoiceCase> {
 protected:
  ~LanguageChoice() override {
    SetUserInterfaceLanguageOverride(std::nullopt);
    LoadLanguage("/nonexistent");
  }
};

std::string Utf16(const std::string& ascii, bool littleEndian) {
  std::string bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
  for (char c : ascii) bytes += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
  return bytes;
}

TEST_P(LanguageChoice, PicksTheFile) {
  const ChoiceCase& c = GetParam();
  TempDir dir;
  const fs::path languages = dir.path() / "Languages";
  fs::create_directory(languages);
  if (c.codes != "-") WriteBytes((languages / "LanguageCodes.csv").string(), c.codes);
  for (const std::string& file : c.files) {
    WriteBytes((languages / file).string(), "{Send}" + file + "\r\n");
  }
  SetUserInterfaceLanguageOverride(c.language);
  LoadLanguage(dir.path());
  EXPECT_EQ(Translate("Send"), c.expected);
  EXPECT_EQ(Language().LanguageFile.empty(), c.expected == "Send");
}

INSTANTIATE_TEST_SUITE_P(
    Codes, LanguageChoice,
    testing::Values(
        ChoiceCase{"ByCode",
                   "1031,German.lang.txt\n1036,French.lang.txt\n",
                   {"German.lang.txt", "French.lang.txt"},
                   1036,
                   "French.lang.txt"},
        ChoiceCase{"SpacesAndLetterCase",
                   "  1031 \t,  GERMAN.Lang.TXT  \r\n",
                   {"German.lang.txt"},
                   1031,
                   "German.lang.txt"},
        ChoiceCase{"LeadingZeroDoesNotMatch",
                   "01031,German.lang.txt\n",
                   {"German.lang.txt"},
                   1031,
                   "Send"},
        ChoiceCase{"FirstLineOfACodeDecides",
                   "1031,First.lang.txt\n1031,Second.lang.txt\n",
                   {"First.lang.txt", "Second.lang.txt"},
                   1031,
                   "First.lang.txt"},
        ChoiceCase{"LinesWithoutCommaSkipped",
                   "1031 German.lang.txt\n1031,Second.lang.txt\n",
                   {"Second.lang.txt"},
                   1031,
                   "Second.lang.txt"},
        ChoiceCase{"CommaInTheFileName",
                   "1031,Deutsch, neu.lang.txt\n",
                   {"Deutsch, neu.lang.txt"},
                   1031,
                   "Deutsch, neu.lang.txt"},
        ChoiceCase{"NameWithoutDotBeforeLang",
                   "1031,Testlang.txt\n",
                   {"Testlang.txt"},
                   1031,
                   "Testlang.txt"},
        ChoiceCase{"UnknownCode", "1031,German.lang.txt\n", {"German.lang.txt"}, 1049, "Send"},
        ChoiceCase{"NamedFileMissing", "1031,German.lang.txt\n", {"French.lang.txt"}, 1031, "Send"},
        ChoiceCase{"NamedFileIsNoLanguageFile", "1031,German.txt\n", {"German.txt"}, 1031, "Send"},
        ChoiceCase{"NoCodesFile", "-", {"German.lang.txt"}, 1031, "Send"},
        ChoiceCase{"Utf8ByteOrderMark",
                   "\xEF\xBB\xBF"
                   "1031,German.lang.txt\n",
                   {"German.lang.txt"},
                   1031,
                   "German.lang.txt"},
        ChoiceCase{"Utf16LittleEndian",
                   Utf16("1046,Pt.lang.txt\r\n", true),
                   {"Pt.lang.txt"},
                   1046,
                   "Pt.lang.txt"},
        ChoiceCase{"Utf16BigEndian",
                   Utf16("1046,Pt.lang.txt\r\n", false),
                   {"Pt.lang.txt"},
                   1046,
                   "Pt.lang.txt"},
        // Without a byte order mark the ANSI code page (1252 under the tests' C.UTF-8 locale).
        ChoiceCase{"AnsiCodePage",
                   "1055,T\xFCrk\xE7"
                   "e.lang.txt\n",
                   {"Türkçe.lang.txt"},
                   1055,
                   "Türkçe.lang.txt"}),
    CaseName<ChoiceCase>);

TEST(LoadLanguage, WithoutLanguagesFolderEveryKeyComesBack) {
  TempDir dir;
  SetUserInterfaceLanguageOverride(1031);
  LoadLanguage(dir.path());
  SetUserInterfaceLanguageOverride(std::nullopt);
  EXPECT_EQ(Language().LanguagesFolder, dir.path() / "Languages");
  EXPECT_TRUE(Language().LanguageFiles.empty());
  EXPECT_TRUE(Language().LanguageFile.empty());
  EXPECT_EQ(Translate("Send"), "Send");
}

TEST(FindLanguageFiles, ListsFilesEndingInLangTxtOnly) {
  TempDir dir;
  for (const char* name : {"German.lang.txt", "Testlang.txt", "French.LANG.TXT", "lang.txt",
                           "notes.txt", "German.lang.txt.bak", "LanguageCodes.csv"}) {
    WriteBytes(dir / name, "");
  }
  fs::create_directory(dir.path() / "Folder.lang.txt");
  fs::create_directories(dir.path() / "sub");
  WriteBytes(dir / "sub/Inner.lang.txt", "");

  std::vector<std::string> files{"kept"};
  FindLanguageFiles(dir.path(), files);
  EXPECT_EQ(files, (std::vector<std::string>{"kept", "French.LANG.TXT", "German.lang.txt",
                                             "lang.txt", "Testlang.txt"}));
}

TEST(LoadLanguage, AnInstalledProgramReadsShareCellverter) {
  // <prefix>/bin/cellverter with <prefix>/share/cellverter/Languages, nothing beside it.
  TempDir prefix;
  const fs::path languages = prefix.path() / "share" / "cellverter" / "Languages";
  fs::create_directories(languages);
  fs::create_directory(prefix.path() / "bin");
  WriteBytes((languages / "LanguageCodes.csv").string(), "1031,German.lang.txt\r\n");
  WriteBytes((languages / "German.lang.txt").string(), "{Send}Senden\r\n");
  SetUserInterfaceLanguageOverride(1031);
  LoadLanguage(prefix.path() / "bin");
  SetUserInterfaceLanguageOverride(std::nullopt);
  EXPECT_EQ(Language().LanguageFile, languages / "German.lang.txt");
  EXPECT_EQ(Translate("Send"), "Senden");
  LoadLanguage("/nonexistent");
}

TEST_F(LanguageFolder, UnreadableLanguageFileIsReportedAndNothingTranslates) {
  if (::geteuid() == 0) {
    // Root reads every file; this one fails on the first read all the same.
    fs::create_symlink("/proc/self/mem", languages_ / "Test.lang.txt");
  } else {
    WriteBytes((languages_ / "Test.lang.txt").string(), "{Send}Senden\n");
    fs::permissions(languages_ / "Test.lang.txt", fs::perms::none);
  }
  EXPECT_THROW(LoadLanguage(dir_.path()), Error);
  EXPECT_EQ(Language().LanguageFile, languages_ / "Test.lang.txt");
  EXPECT_EQ(Translate("Send"), "Send");
}

// --- Formatting -----------------------------------------------------------------------

struct FormatCase {
  const char* name;
  std::optional<std::string> translation;  // the entry's text for "About %s"
  std::string expected;                    // TranslateFormat("About %s", {"Cellverter"})
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class TranslateFormatTest : public LanguageFolder,
                            public testing::WithParamInterface<FormatCase> {};

TEST_P(TranslateFormatTest, NeverTrustsABrokenTranslation) {
  const FormatCase& c = GetParam();
  Load(c.translation ? "{About %s}" + *c.translation + "\n" : "");
  EXPECT_EQ(TranslateFormat("About %s", {"Cellverter"}), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Placeholders, TranslateFormatTest,
    testing::Values(FormatCase{"NoTranslation", std::nullopt, "About Cellverter"},
                    FormatCase{"Translated", "Über %s", "Über Cellverter"},
                    FormatCase{"PlaceholderFirst", "%s Hakkında", "Cellverter Hakkında"},
                    FormatCase{"NoPlaceholder", "Info", "Info"},
                    FormatCase{"PercentSign", "100%% %s", "100% Cellverter"},
                    FormatCase{"ArgumentPlaceholderRead", "%s %%s", "Cellverter %s"},
                    FormatCase{"NumberPlaceholder", "Über %d", "About Cellverter"},
                    FormatCase{"WritingPlaceholder", "Über %s%n", "About Cellverter"},
                    FormatCase{"ExtraPlaceholder", "%s über %s", "About Cellverter"},
                    FormatCase{"LonePercentAtTheEnd", "Über %s %", "About Cellverter"},
                    FormatCase{"WidthSpecifier", "Über %-20s", "About Cellverter"}),
    CaseName<FormatCase>);

TEST(TranslateFormat, KeyWithMorePlaceholdersThanArguments) {
  EXPECT_EQ(TranslateFormat("%s of %s", {"one"}), "one of ");
  EXPECT_EQ(TranslateFormat("50% %s", {"off"}), "50% off");
}

// --- The user's interface language --------------------------------------------------

struct LocaleCase {
  const char* locale;
  int languageId;
};

class LanguageIdTest : public testing::TestWithParam<LocaleCase> {};

TEST_P(LanguageIdTest, MapsLikeWindows) {
  EXPECT_EQ(LanguageIdForLocale(GetParam().locale), GetParam().languageId) << GetParam().locale;
}

INSTANTIATE_TEST_SUITE_P(Locales, LanguageIdTest,
                         testing::Values(LocaleCase{"de_DE", 1031}, LocaleCase{"de_DE.UTF-8", 1031},
                                         LocaleCase{"de_AT.UTF-8", 3079},
                                         LocaleCase{"de_DE@euro", 1031},
                                         LocaleCase{"pt_BR.UTF-8", 1046}, LocaleCase{"pt_PT", 2070},
                                         LocaleCase{"en_US", 1033}, LocaleCase{"en_GB.UTF-8", 2057},
                                         LocaleCase{"es_ES.UTF-8", 3082}, LocaleCase{"es_MX", 2058},
                                         LocaleCase{"fr_CA", 3084}, LocaleCase{"zh_CN.UTF-8", 2052},
                                         LocaleCase{"ja_JP.eucJP", 1041}, LocaleCase{"tr_TR", 1055},
                                         LocaleCase{"sr_RS@latin", 9242}, LocaleCase{"de-CH", 2055},
                                         LocaleCase{"C", 1033}, LocaleCase{"C.UTF-8", 1033},
                                         LocaleCase{"POSIX", 1033}, LocaleCase{"", 1033}));

class UserLanguage : public testing::Test {
 protected:
  void TearDown() override {
    environment_.Restore();
    SetUserInterfaceLanguageOverride(std::nullopt);
  }
  void Set(const std::string& name, const char* value) { environment_.Set(name, value); }

 private:
  testing_support::ScopedEnvironment environment_;
};

TEST_F(UserLanguage, ComesFromTheMessageLocale) {
  Set("LANGUAGE", nullptr);
  Set("LC_ALL", nullptr);
  Set("LC_MESSAGES", nullptr);
  Set("LANG", "pt_BR.UTF-8");
  EXPECT_EQ(UserInterfaceLanguage(), 1046);
  Set("LC_MESSAGES", "de_DE.UTF-8");
  EXPECT_EQ(UserInterfaceLanguage(), 1031);
  Set("LC_ALL", "ru_RU.UTF-8");
  EXPECT_EQ(UserInterfaceLanguage(), 1049);
  Set("LANGUAGE", "fr_FR:de");
  EXPECT_EQ(UserInterfaceLanguage(), 1036);
  Set("LC_ALL", "C.UTF-8");  // LANGUAGE does not count under the C locale
  EXPECT_EQ(UserInterfaceLanguage(), 1033);
  SetUserInterfaceLanguageOverride(1041);
  EXPECT_EQ(UserInterfaceLanguage(), 1041);
}

// --- The shipped language files -----------------------------------------------------

const std::vector<std::string> kKeys = {
    "WARNING",
    "Restart Application?",
    "Confirmation",
    "Yes",
    "No",
    "IMPORTANT",
    "UPDATE AVAILABLE",
    "Click to download",
    "feedback",
    "We would really appreciate your feedback.",
    "What did you like or dislike?",
    "Include my e-mail:",
    "Send",
    "I like it!",
    "I dislike it!",
    "Failure",
    "Invalid e-mail address!",
    "Success",
    "Your feedback is received.",
    "Thank you!",
    "Something went wrong. Your feedback could not be delivered.",
    "Please try again later.",
    "About %s",
    "OK",
    "Info",
    "Acknowledgements...",
    "How to uninstall...",
    "License...",
    "License",
    "File not found!",
    "Cancel",
    "Cancelled",
    "Cancel the conversion and close?",
    "Worksheets",
    "First Worksheet",
    "All Worksheets",
    "Conversion Options...",
    "Conversion Options",
    "Cell values",
    "Displayed text",
    "Stored values",
    "Leave out hidden rows, columns and sheets",
    "Fill merged areas",
    "Trim trailing empty rows and columns",
    "Quote every field",
    "Line ends",
    "CR LF (Windows)",
    "LF (Linux, macOS)"};

const fs::path kShipped = fs::path(CELLVERTER_BIN_DIR) / "Languages";

struct ShippedCase {
  int languageId;
  const char* file;
  const char* send;  // the translation of "Send"
};

class ShippedLanguage : public testing::TestWithParam<ShippedCase> {
 protected:
  ~ShippedLanguage() override {
    SetUserInterfaceLanguageOverride(std::nullopt);
    LoadLanguage("/nonexistent");
  }
};

TEST_P(ShippedLanguage, TranslatesEveryKey) {
  const ShippedCase& c = GetParam();
  SetUserInterfaceLanguageOverride(c.languageId);
  LoadLanguage(kShipped.parent_path());
  ASSERT_EQ(Language().LanguageFile, kShipped / c.file);
  EXPECT_EQ(Translate("Send"), c.send);

  // Every key has exactly one entry, with a text, and keeps the placeholders of its key.
  std::set<std::string> seen;
  for (const std::string& line : Language().Translations) {
    if (line.empty() || line.front() != '{') continue;
    const std::string key = line.substr(1, line.find('}') - 1);
    EXPECT_TRUE(seen.insert(key).second) << c.file << ": twice " << key;
  }
  for (const std::string& key : kKeys) {
    EXPECT_EQ(seen.count(key), 1u) << c.file << ": no entry for " << key;
    const std::string text = Translate(key);
    EXPECT_FALSE(text.empty());
    if (key == "About %s") {
      EXPECT_NE(TranslateFormat(key, {"Cellverter"}).find("Cellverter"), std::string::npos)
          << c.file;
      EXPECT_NE(text, key) << c.file;
    }
  }
  EXPECT_EQ(seen.size(), kKeys.size()) << c.file << " holds keys the program never asks for";
}

INSTANTIATE_TEST_SUITE_P(Languages, ShippedLanguage,
                         testing::Values(ShippedCase{1031, "German.lang.txt", "Senden"},
                                         ShippedCase{3079, "German.lang.txt", "Senden"},
                                         ShippedCase{2055, "German.lang.txt", "Senden"},
                                         ShippedCase{1036, "French.lang.txt", "Envoyer"},
                                         ShippedCase{3084, "French.lang.txt", "Envoyer"},
                                         ShippedCase{3082, "Spanish.lang.txt", "Enviar"},
                                         ShippedCase{1034, "Spanish.lang.txt", "Enviar"},
                                         ShippedCase{2058, "Spanish.lang.txt", "Enviar"},
                                         ShippedCase{11274, "Spanish.lang.txt", "Enviar"},
                                         ShippedCase{1040, "Italian.lang.txt", "Invia"},
                                         ShippedCase{1046, "PortugueseBrazil.lang.txt", "Enviar"},
                                         ShippedCase{1055, "Turkish.lang.txt", "Gönder"},
                                         ShippedCase{1049, "Russian.lang.txt", "Отправить"},
                                         ShippedCase{1045, "Polish.lang.txt", "Wyślij"},
                                         ShippedCase{1043, "Dutch.lang.txt", "Verzenden"},
                                         ShippedCase{2067, "Dutch.lang.txt", "Verzenden"},
                                         ShippedCase{1041, "Japanese.lang.txt", "送信"},
                                         ShippedCase{2052, "ChineseSimplified.lang.txt", "发送"}));

TEST(ShippedLanguageCodes, EveryLineNamesAShippedFile) {
  std::vector<std::string> files;
  FindLanguageFiles(kShipped, files);
  const std::set<std::string> shipped(files.begin(), files.end());
  EXPECT_GE(shipped.size(), 11u);

  std::string text = ReadBytes((kShipped / "LanguageCodes.csv").string());
  ASSERT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
  text.erase(0, 3);
  std::set<std::string> codes;
  std::set<std::string> used;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 2;
    const size_t comma = line.find(',');
    ASSERT_NE(comma, std::string::npos) << line;
    const std::string code = line.substr(0, comma);
    EXPECT_EQ(code, std::to_string(std::stoi(code))) << line;
    EXPECT_TRUE(codes.insert(code).second) << "code twice: " << code;
    EXPECT_EQ(shipped.count(line.substr(comma + 1)), 1u) << line;
    used.insert(line.substr(comma + 1));
  }
  EXPECT_EQ(used, shipped);  // every shipped file can be chosen
}

}  // namespace
}  // namespace cellverter
