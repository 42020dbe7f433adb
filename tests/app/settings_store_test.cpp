#include "app/settings_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "platform/error.h"
#include "scoped_environment.h"
#include "temp_dir.h"

namespace cellverter {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

const std::string kBom = "\xEF\xBB\xBF";

template <class Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// --- The file format -----------------------------------------------------------------

struct FormatCase {
  const char* name;
  std::string text;     // a settings file as found on disk
  std::string written;  // what the document writes back (after the byte order mark)
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class SettingsIniFormat : public testing::TestWithParam<FormatCase> {};

TEST_P(SettingsIniFormat, ReadsAndWritesBack) {
  const FormatCase& c = GetParam();
  EXPECT_EQ(SettingsIni::Parse(c.text).Serialize(), kBom + c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsIniFormat,
    testing::Values(
        FormatCase{"Empty", "", ""},
        FormatCase{"BomSkipped", kBom + "[Settings]\r\nA=1\r\n", "[Settings]\r\nA=1\r\n\r\n"},
        FormatCase{"LfAndCrLineEnds", "[S]\nA=1\rB=2\r\n\nC=3", "[S]\r\nA=1\r\nB=2\r\nC=3\r\n\r\n"},
        FormatCase{"LinesKeysAndValuesStripped", "  [ Settings ]\t\r\n \tKey \t=  x y \r\n",
                   "[Settings]\r\nKey=x y\r\n\r\n"},
        FormatCase{"ControlCharactersStripped",
                   "\x01[S]\x1f\r\n\x02"
                   "A=\x03v\x04\r\n",
                   "[S]\r\nA=v\r\n\r\n"},
        FormatCase{"CommentsAndEmptyLinesDropped", "; note\r\n\r\n[S]\r\n;A=1\r\n\r\nB=2\r\n",
                   "[S]\r\nB=2\r\n\r\n"},
        FormatCase{"LinesBeforeFirstSectionIgnored", "A=1\r\nloose\r\n[S]\r\nB=2\r\n",
                   "[S]\r\nB=2\r\n\r\n"},
        FormatCase{"LineWithoutEqualsKeptInPlace", "[S]\r\nA=1\r\n  just text \r\nB=2\r\n",
                   "[S]\r\nA=1\r\njust text\r\nB=2\r\n\r\n"},
        FormatCase{"SplitAtFirstEquals", "[S]\r\nA = b=c \r\n=x\r\n", "[S]\r\nA=b=c\r\n=x\r\n\r\n"},
        FormatCase{"SectionsAndEntriesInFileOrder", "[B]\r\nz=1\r\na=2\r\n[A]\r\nk=v\r\n[]\r\n",
                   "[B]\r\nz=1\r\na=2\r\n\r\n[A]\r\nk=v\r\n\r\n[]\r\n\r\n"},
        FormatCase{"NonAsciiKept", "[S]\r\nDestination=/home/jörg/Données/日本\r\n",
                   "[S]\r\nDestination=/home/jörg/Données/日本\r\n\r\n"}),
    CaseName<FormatCase>);

struct LookupCase {
  const char* name;
  std::string text;
  std::string section;
  std::string key;
  std::optional<std::string> value;
};

void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }

class SettingsIniLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(SettingsIniLookup, FindsValue) {
  const LookupCase& c = GetParam();
  EXPECT_EQ(SettingsIni::Parse(c.text).Value(c.section, c.key), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, SettingsIniLookup,
    testing::Values(
        LookupCase{"SectionAndKeyIgnoreCase", "[settings]\r\nSEPARATOR=;\r\n", "Settings",
                   "Separator", ";"},
        LookupCase{"NonAsciiNamesIgnoreCase", "[ÄRGER]\r\nÖl=1\r\n", "ärger", "öL", "1"},
        LookupCase{"MissingKey", "[Settings]\r\nA=1\r\n", "Settings", "B", std::nullopt},
        LookupCase{"MissingSection", "[Other]\r\nA=1\r\n", "Settings", "A", std::nullopt},
        LookupCase{"KeyInAnotherSection", "[Other]\r\nA=1\r\n[Settings]\r\n", "Settings", "A",
                   std::nullopt},
        LookupCase{"LineWithoutEqualsHoldsNoValue", "[S]\r\nEncoding\r\n", "S", "Encoding",
                   std::nullopt},
        LookupCase{"FirstOfTwoEntries", "[S]\r\nA=first\r\nA=second\r\n", "S", "A", "first"},
        LookupCase{"BlankValueReadsEmpty", "[S]\r\nSeparator= \t \r\n", "S", "Separator", ""},
        LookupCase{"TrailingBlankLost", "[S]\r\nSeparator=; \r\n", "S", "Separator", ";"}),
    CaseName<LookupCase>);

TEST(SettingsIni, SetValueChangesInPlaceAndAppendsNewKeysAndSections) {
  SettingsIni document =
      SettingsIni::Parse("[Other]\r\nx=1\r\n[Settings]\r\nEncoding=ANSI\r\nnote\r\nZ=9\r\n");
  document.SetValue("SETTINGS", "encoding", "UTF8");
  document.SetValue("Settings", "Separator", ";");
  document.SetValue("New", "k", "v");
  EXPECT_EQ(document.Serialize(),
            kBom +
                "[Other]\r\nx=1\r\n\r\n"
                "[Settings]\r\nEncoding=UTF8\r\nnote\r\nZ=9\r\nSeparator=;\r\n\r\n"
                "[New]\r\nk=v\r\n\r\n");
}

TEST(SettingsIni, ValueWithLineBreaksCannotAddLines) {
  SettingsIni document;
  document.SetValue("Settings", "Destination", "C:\\out\r\n[Settings]\r\nEncoding=UTF8\nx");
  EXPECT_EQ(document.Serialize(),
            kBom + "[Settings]\r\nDestination=C:\\out  [Settings]  Encoding=UTF8 x\r\n\r\n");
  EXPECT_EQ(SettingsIni::Parse(document.Serialize()).Value("Settings", "Encoding"), std::nullopt);
}

TEST(SettingsIni, TextThatIsNotUtf8IsRejected) {
  for (const std::string& text : {std::string("[Settings]\r\nDestination=C:\\D\xF6rte\r\n"),
                                  std::string("[S]\r\nA=\xC0\xAF\r\n"),      // overlong "/"
                                  std::string("[S]\r\nA=\xED\xA0\x80\r\n"),  // surrogate
                                  std::string("[S]\r\nA=\xE2\x82")}) {       // cut short
    EXPECT_THROW(SettingsIni::Parse(text), Error) << text;
  }
}

// --- The store -----------------------------------------------------------------------

TEST(SettingsStore, FirstWriteCreatesTheWholeFileAndNoTemporaryIsLeft) {
  TempDir dir;
  SettingsStore store(dir.path());
  EXPECT_EQ(store.ReadString(kSeparatorKey, ","), ",");
  store.WriteString(kSeparatorKey, ";");
  EXPECT_EQ(ReadBytes(dir / "settings.ini"), kBom + "[Settings]\r\nSeparator=;\r\n\r\n");
  store.WriteString(kEncodingKey, "UTF8BOM");
  store.WriteString(kSeparatorKey, "|");
  EXPECT_EQ(ReadBytes(dir / "settings.ini"),
            kBom + "[Settings]\r\nSeparator=|\r\nEncoding=UTF8BOM\r\n\r\n");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"settings.ini"});
}

TEST(SettingsStore, ValuesSurviveARestartWithTheReadingRules) {
  TempDir dir;
  {
    SettingsStore store(dir.path());
    store.WriteString(kDestinationKey, "/home/anna/Ausgabe");
    store.WriteString(kSeparatorKey, "\t");
    store.WriteString(kEncodingKey, "UTF16LEBOM ");
    store.WriteBool(kIncludeSubfoldersKey, true);
    store.WriteBool(kStartMinimizedKey, false);
  }
  const SettingsStore store(dir.path());
  EXPECT_EQ(store.ReadString(kDestinationKey, "x"), "/home/anna/Ausgabe");
  EXPECT_EQ(store.ReadString(kSeparatorKey, ","), "");  // blanks and tabs are stripped
  EXPECT_EQ(store.ReadString(kEncodingKey, "ANSI"), "UTF16LEBOM");
  EXPECT_EQ(store.ReadString(kSourceDirectoryKey, ""), "");
  EXPECT_TRUE(store.ReadBool(kIncludeSubfoldersKey));
  EXPECT_FALSE(store.ReadBool(kStartMinimizedKey));
}

TEST(SettingsStore, OptionIsOnOnlyForTheExactTextTrue) {
  TempDir dir;
  WriteBytes(dir / "settings.ini",
             "[Settings]\r\nAutomaticallyAddExcelFiles=True\r\nAutomaticallyConverttoCSV=true\r\n"
             "AutomaticallyCloseApplication=1\r\nIncludeSubfolders=TRUE\r\n"
             "StartMinimized=Truely\r\n");
  const SettingsStore store(dir.path());
  EXPECT_TRUE(store.ReadBool(kAutomaticallyAddExcelFilesKey));
  EXPECT_FALSE(store.ReadBool(kAutomaticallyConverttoCSVKey));
  EXPECT_FALSE(store.ReadBool(kAutomaticallyCloseApplicationKey));
  EXPECT_FALSE(store.ReadBool(kIncludeSubfoldersKey));
  EXPECT_FALSE(store.ReadBool(kStartMinimizedKey));
  EXPECT_FALSE(store.ReadBool(kSourceDirectoryKey));  // missing
}

TEST(SettingsStore, UnreadableFileIsKeptAsBadAndDefaultsApply) {
  TempDir dir;
  const std::string ansi = "[Settings]\r\nDestination=C:\\Ergebnisse f\xFCr M\xE4rz\r\n";
  WriteBytes(dir / "settings.ini.bad", "an older bad file");
  WriteBytes(dir / "settings.ini", ansi);

  SettingsStore store(dir.path());
  EXPECT_EQ(store.MovedAside(), fs::path(dir / "settings.ini.bad"));
  EXPECT_EQ(store.ReadString(kDestinationKey, "default"), "default");
  EXPECT_EQ(ReadBytes(dir / "settings.ini.bad"), ansi);
  EXPECT_FALSE(fs::exists(dir / "settings.ini"));

  store.WriteString(kSeparatorKey, ",");
  EXPECT_EQ(ReadBytes(dir / "settings.ini"), kBom + "[Settings]\r\nSeparator=,\r\n\r\n");
  EXPECT_EQ(ReadBytes(dir / "settings.ini.bad"), ansi);
}

TEST(SettingsStore, FolderInPlaceOfTheFileIsMovedAside) {
  TempDir dir;
  fs::create_directory(dir / "settings.ini");
  SettingsStore store(dir.path());
  EXPECT_TRUE(fs::is_directory(dir / "settings.ini.bad"));
  store.WriteString(kEncodingKey, "UTF8");
  EXPECT_TRUE(fs::is_regular_file(dir / "settings.ini"));
}

TEST(SettingsStore, FailedWriteNamesTheFileAndKeepsTheChangeForTheNextWrite) {
  TempDir dir;
  const fs::path folder = dir.path() / "gone";  // the per-user folder could not be created
  SettingsStore store(folder);
  try {
    store.WriteString(kDestinationKey, "/data/out");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot write file \"" +
                                             (folder / "settings.ini").string() +
                                             "\". No such file or directory");
  }
  fs::create_directory(folder);
  store.WriteString(kSeparatorKey, ";");
  EXPECT_EQ(ReadBytes((folder / "settings.ini").string()),
            kBom + "[Settings]\r\nDestination=/data/out\r\nSeparator=;\r\n\r\n");
}

TEST(SettingsStore, ReadOnlyFileIsNotReplaced) {
  TempDir dir;
  const std::string original = kBom + "[Settings]\r\nEncoding=UTF8\r\n\r\n";
  WriteBytes(dir / "settings.ini", original);
  fs::permissions(dir / "settings.ini", fs::perms::owner_read | fs::perms::group_read);
  SettingsStore store(dir.path());
  EXPECT_THROW(store.WriteString(kEncodingKey, "ANSI"), Error);
  EXPECT_EQ(ReadBytes(dir / "settings.ini"), original);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"settings.ini"});
}

TEST(SettingsStore, RewriteKeepsThePermissionsOfTheFile) {
  TempDir dir;
  WriteBytes(dir / "settings.ini", "[Settings]\r\n");
  fs::permissions(dir / "settings.ini", fs::perms::owner_read | fs::perms::owner_write);
  SettingsStore store(dir.path());
  store.WriteString(kEncodingKey, "UTF8");
  EXPECT_EQ(fs::status(dir / "settings.ini").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

// A full disk, made by a file size limit in a child process: the error reaches the caller,
// the old file stays whole and no temporary file is left.
TEST(SettingsStore, FullDiskLeavesTheOldFileWhole) {
  TempDir dir;
  const std::string original = kBom + "[Settings]\r\nEncoding=UTF8\r\n\r\n";
  WriteBytes(dir / "settings.ini", original);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100, 100};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      SettingsStore store(dir.path());
      store.WriteString(kDestinationKey, std::string(4096, 'x'));
    } catch (const Error& error) {
      const bool named = std::string(error.what()).find("settings.ini") != std::string::npos;
      ::_exit(named ? 0 : 2);
    }
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadBytes(dir / "settings.ini"), original);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"settings.ini"});
}

TEST(SettingsStore, DeleteFileRemovesItAndStopsLaterWrites) {
  TempDir dir;
  SettingsStore store(dir.path());
  store.WriteString(kSeparatorKey, ";");
  store.DeleteFile();
  EXPECT_FALSE(fs::exists(dir / "settings.ini"));
  store.WriteString(kSeparatorKey, ",");
  EXPECT_FALSE(fs::exists(dir / "settings.ini"));
}

// --- Where the file lives ------------------------------------------------------------

TEST(IsFolderWritable, AnswersAndLeavesNothingBehind) {
  TempDir dir;
  EXPECT_TRUE(IsFolderWritable(dir.path()));
  EXPECT_TRUE(dir.Names().empty());
  EXPECT_FALSE(IsFolderWritable(dir.path() / "missing"));
  EXPECT_FALSE(IsFolderWritable("/proc/self"));  // refused even to root
}

TEST(IsFolderWritable, LeftoverCheckFileMakesItFailAndStays) {
  TempDir dir;
  WriteBytes(dir / "chk.tmp", "someone's");
  EXPECT_FALSE(IsFolderWritable(dir.path()));
  EXPECT_EQ(ReadBytes(dir / "chk.tmp"), "someone's");
}

TEST(SettingsFolder, WritableProgramFolder) {
  TempDir program, config;
  EXPECT_EQ(SettingsFolder(program.path(), "KORVANE", "Cellverter", config.path()),
            program.path() / "");
  EXPECT_TRUE(config.Names().empty());
}

TEST(SettingsFolder, OtherwiseThePerUserFolderIsCreated) {
  TempDir program, config;
  WriteBytes(program / "chk.tmp", "");
  const fs::path folder = SettingsFolder(program.path(), "KORVANE", "Cellverter", config.path());
  EXPECT_EQ(folder, config.path() / "KORVANE" / "Cellverter" / "");
  EXPECT_TRUE(fs::is_directory(folder));

  SettingsStore store(folder);
  store.WriteString(kSeparatorKey, ",");
  EXPECT_TRUE(fs::exists(config.path() / "KORVANE" / "Cellverter" / "settings.ini"));
  EXPECT_EQ(program.Names(), std::vector<std::string>{"chk.tmp"});
}

TEST(SettingsFolder, CreationFailuresAreIgnored) {
  TempDir program, config;
  WriteBytes(program / "chk.tmp", "");
  WriteBytes(config / "KORVANE", "a file where the folder belongs");
  const fs::path folder = SettingsFolder(program.path(), "KORVANE", "Cellverter", config.path());
  EXPECT_EQ(folder, config.path() / "KORVANE" / "Cellverter" / "");
  EXPECT_THROW(SettingsStore(folder).WriteString(kSeparatorKey, ","), Error);
}

// --- Defaults ------------------------------------------------------------------------

struct SeparatorCase {
  const char* locale;
  const char* separator;
};

class ListSeparator : public testing::TestWithParam<SeparatorCase> {};

TEST_P(ListSeparator, FollowsTheDecimalSeparator) {
  EXPECT_EQ(ListSeparatorForLocale(GetParam().locale), GetParam().separator) << GetParam().locale;
}

INSTANTIATE_TEST_SUITE_P(
    Locales, ListSeparator,
    testing::Values(SeparatorCase{"de_DE.UTF-8", ";"}, SeparatorCase{"fr_FR", ";"},
                    SeparatorCase{"ru_RU.UTF-8", ";"}, SeparatorCase{"pt_BR.UTF-8", ";"},
                    SeparatorCase{"de_DE@euro", ";"}, SeparatorCase{"de_CH.UTF-8", ","},
                    SeparatorCase{"en_US.UTF-8", ","}, SeparatorCase{"ja_JP.UTF-8", ","},
                    SeparatorCase{"C.UTF-8", ","}, SeparatorCase{"POSIX", ","},
                    SeparatorCase{"", ","}));

struct DesktopCase {
  const char* name;
  std::optional<std::string> userDirs;  // content of user-dirs.dirs
  std::string expected;                 // relative to the home folder unless absolute
};

void PrintTo(const DesktopCase& c, std::ostream* os) { *os << c.name; }

class DesktopFolderTest : public testing::TestWithParam<DesktopCase> {};

TEST_P(DesktopFolderTest, Resolves) {
  const DesktopCase& c = GetParam();
  TempDir config;
  if (c.userDirs) WriteBytes(config / "user-dirs.dirs", *c.userDirs);
  const fs::path home = "/home/anna";
  EXPECT_EQ(DesktopFolderFor(home, config.path()), c.expected.empty() ? home : home / c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    UserDirs, DesktopFolderTest,
    testing::Values(
        DesktopCase{"NoFile", std::nullopt, "Desktop"},
        DesktopCase{"Translated",
                    "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
                    "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n",
                    "Schreibtisch"},
        DesktopCase{"Absolute", "XDG_DESKTOP_DIR=\"/srv/desk top\"\n", "/srv/desk top"},
        DesktopCase{"HomeItself", "XDG_DESKTOP_DIR=\"$HOME/\"\n", ""},
        DesktopCase{"EscapedQuote", "XDG_DESKTOP_DIR=\"$HOME/My \\\"Desk\\\"\"\n", "My \"Desk\""},
        DesktopCase{"CommentedOut", "# XDG_DESKTOP_DIR=\"$HOME/Old\"\n", "Desktop"},
        DesktopCase{"Unterminated", "XDG_DESKTOP_DIR=\"$HOME/Broken\n", "Desktop"}),
    CaseName<DesktopCase>);

// The environment decides the user's defaults; restored after each test.
class UserEnvironment : public testing::Test {
 protected:
  void TearDown() override { environment_.Restore(); }
  void Set(const std::string& name, const char* value) { environment_.Set(name, value); }

 private:
  testing_support::ScopedEnvironment environment_;
};

TEST_F(UserEnvironment, DefaultsComeFromTheUsersFoldersAndLocale) {
  TempDir home;
  fs::create_directory(home.path() / ".config");
  WriteBytes(home / ".config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
  Set("HOME", home.path().c_str());
  Set("XDG_CONFIG_HOME", nullptr);
  Set("LC_ALL", nullptr);
  Set("LC_NUMERIC", "fr_FR.UTF-8");
  Set("LANG", "en_US.UTF-8");
  EXPECT_EQ(UserConfigFolder(), home.path() / ".config");
  EXPECT_EQ(DefaultDestination(), (home.path() / "Bureau").string());
  EXPECT_EQ(DefaultSeparator(), ";");

  Set("XDG_CONFIG_HOME", "relative/ignored");
  EXPECT_EQ(UserConfigFolder(), home.path() / ".config");
  Set("XDG_CONFIG_HOME", "/etc/xdg-elsewhere");
  EXPECT_EQ(UserConfigFolder(), fs::path("/etc/xdg-elsewhere"));
  Set("LC_ALL", "en_GB.UTF-8");
  EXPECT_EQ(DefaultSeparator(), ",");
}

}  // namespace
}  // namespace cellverter
