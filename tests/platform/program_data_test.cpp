#include "platform/program_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "temp_dir.h"

namespace cellverter {
namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::WriteBytes;

// The two layouts on disk: a build folder (bin/ holds the programs and their data) and an
// installed prefix (bin/ holds the programs, share/cellverter/ the data).
class ProgramDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(bin_);
    fs::create_directories(share_);
  }
  // A file or folder of that name in `folder`.
  static void Put(const fs::path& folder, const std::string& name, bool asFolder) {
    if (asFolder) {
      fs::create_directory(folder / name);
      WriteBytes((folder / name / "LanguageCodes.csv").string(), "1031;German.lang.txt\n");
    } else {
      WriteBytes((folder / name).string(), "terms");
    }
  }

  TempDir root_;
  const fs::path bin_ = root_.path() / "bin";
  const fs::path share_ = root_.path() / "share" / "cellverter";
};

TEST_F(ProgramDataTest, BesideTheProgramThenInstalledThenBeside) {
  struct Case {
    const char* name;
    bool asFolder;
  };
  for (const Case& c : {Case{"license.txt", false}, Case{"Languages", true}}) {
    SCOPED_TRACE(c.name);
    // Neither place: the path beside the program, as messages have always named it.
    EXPECT_EQ(ProgramDataPath(bin_, c.name), bin_ / c.name);

    // Installed: <prefix>/share/cellverter, written without "bin/..".
    Put(share_, c.name, c.asFolder);
    EXPECT_EQ(ProgramDataPath(bin_, c.name), share_ / c.name);
    EXPECT_TRUE(fs::exists(ProgramDataPath(bin_, c.name)));

    // Beside the program wins, so a build folder inside a prefix keeps its own files.
    Put(bin_, c.name, c.asFolder);
    EXPECT_EQ(ProgramDataPath(bin_, c.name), bin_ / c.name);
  }
}

TEST_F(ProgramDataTest, LinksAreFollowedAndDanglingOnesIgnored) {
  Put(share_, "license.txt", false);
  fs::create_symlink(root_.path() / "gone.txt", bin_ / "license.txt");
  EXPECT_EQ(ProgramDataPath(bin_, "license.txt"), share_ / "license.txt")
      << "a dangling link beside the program";

  WriteBytes((root_.path() / "gone.txt").string(), "terms");
  EXPECT_EQ(ProgramDataPath(bin_, "license.txt"), bin_ / "license.txt");

  // An installed folder reached through a link (share/cellverter -> elsewhere).
  fs::remove(bin_ / "license.txt");
  fs::remove_all(share_);
  fs::create_directories(root_.path() / "elsewhere");
  Put(root_.path() / "elsewhere", "Languages", true);
  fs::create_directory_symlink(root_.path() / "elsewhere", share_);
  EXPECT_EQ(ProgramDataPath(bin_, "Languages"), share_ / "Languages");
}

TEST_F(ProgramDataTest, ARelativeProgramFolder) {
  // A program started as "bin/cellverter" from the prefix has the folder "bin".
  Put(share_, "license.txt", false);
  const fs::path saved = fs::current_path();
  fs::current_path(root_.path());
  const fs::path found = ProgramDataPath("bin", "license.txt");
  const bool exists = fs::exists(found);
  fs::current_path(saved);
  EXPECT_EQ(found, fs::path("share/cellverter/license.txt"));
  EXPECT_TRUE(exists);
}

}  // namespace
}  // namespace cellverter
