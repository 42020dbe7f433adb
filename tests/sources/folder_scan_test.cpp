#include "sources/folder_scan.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace cellverter {
namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::WriteBytes;

std::vector<std::string> Scan(const std::string& folder, bool includeSubfolders) {
  std::vector<std::string> found;
  AddAllFilesInDir(folder, includeSubfolders,
                   [&](const std::string& path) { found.push_back(path); });
  return found;
}

// The names of a folder in the order the directory listing gives them.
std::vector<std::string> ListingOrder(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(AddAllFilesInDirTest, ListsWorkbooksOfAnyCaseAndHiddenOnesInListingOrder) {
  TempDir dir;
  for (const char* name :
       {"Book.xlsx", "Old.XLS", "Data.csv", "~$Book.xlsx", ".hidden.xls", "notes.xls.bak",
        "a.b.xlsx", "c.xlsm", "d", "e.f", "f.ODS", "g.xlsb", "h.fods", "i.odt"}) {
    WriteBytes(dir / name, "x");
  }
  fs::create_directory(dir / "folder.xlsx");  // a folder is never listed as a workbook

  std::vector<std::string> expected;
  for (const std::string& name : ListingOrder(dir.path())) {
    if (name == "Book.xlsx" || name == "Old.XLS" || name == "~$Book.xlsx" ||
        name == ".hidden.xls" || name == "a.b.xlsx" || name == "c.xlsm" || name == "f.ODS" ||
        name == "g.xlsb" || name == "h.fods") {
      expected.push_back(dir / name);
    }
  }
  ASSERT_EQ(expected.size(), 9u);
  EXPECT_EQ(Scan(dir.path(), false), expected);
  EXPECT_EQ(Scan(dir.path(), true), expected);
}

// Builds root/{a.xlsx, sub/{b.xls, deeper/{c.xlsx}, x.csv}, z.xls, sub2/{d.xlsx}} and
// gives the expected depth-first list for it, walking the listing order independently.
void ExpectedWalk(const std::string& folder, std::vector<std::string>& out) {
  for (const std::string& name : ListingOrder(folder)) {
    const std::string path = folder + "/" + name;
    if (fs::is_directory(path)) {
      ExpectedWalk(path, out);
    } else if (path.ends_with(".xls") || path.ends_with(".xlsx")) {
      out.push_back(path);
    }
  }
}

TEST(AddAllFilesInDirTest, DescendsDepthFirstOnlyWhenAsked) {
  TempDir dir;
  const std::string root = dir.path().string();
  fs::create_directories(root + "/sub/deeper");
  fs::create_directories(root + "/sub2");
  fs::create_directories(root + "/empty");
  for (const char* name : {"a.xlsx", "z.xls", "sub/b.xls", "sub/x.csv", "sub/deeper/c.xlsx",
                           "sub2/d.xlsx", "m.xlsx", "sub/n.xls"}) {
    WriteBytes(root + "/" + name, "x");
  }

  std::vector<std::string> deep;
  ExpectedWalk(root, deep);
  ASSERT_EQ(deep.size(), 7u);
  EXPECT_EQ(Scan(root, true), deep);

  std::vector<std::string> flat;
  for (const std::string& name : ListingOrder(root)) {
    if (name.ends_with(".xls") || name.ends_with(".xlsx")) flat.push_back(root + "/" + name);
  }
  EXPECT_EQ(Scan(root, false), flat);
}

TEST(AddAllFilesInDirTest, PutsExactlyOneSeparatorBetweenFolderAndName) {
  TempDir dir;
  fs::create_directory(dir / "in");
  WriteBytes(dir / "in/book.xlsx", "x");
  fs::create_directory(dir / "in/sub");
  WriteBytes(dir / "in/sub/deep.xls", "x");

  const std::string withSlash = dir / "in/";
  std::vector<std::string> found = Scan(withSlash, true);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{dir / "in/book.xlsx", dir / "in/sub/deep.xls"}));

  // A relative folder stays relative, as typed.
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  found = Scan("in", true);
  fs::current_path(previous);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"in/book.xlsx", "in/sub/deep.xls"}));
}

TEST(AddAllFilesInDirTest, NeverFollowsALinkBackIntoAFolderBeingScanned) {
  TempDir dir;
  const std::string root = dir / "root";
  fs::create_directories(root + "/sub/inner");
  fs::create_directories(dir / "elsewhere");
  WriteBytes(root + "/top.xlsx", "x");
  WriteBytes(root + "/sub/mid.xls", "x");
  WriteBytes(root + "/sub/inner/low.xlsx", "x");
  WriteBytes(dir / "elsewhere/far.xlsx", "x");
  fs::create_directory_symlink("../..", root + "/sub/inner/up");  // back to root
  fs::create_directory_symlink(".", root + "/sub/self");
  fs::create_directory_symlink(root, root + "/sub/absolute");
  fs::create_directory_symlink("../elsewhere", root + "/away");  // a link out is entered
  fs::create_symlink("top.xlsx", root + "/alias.xlsx");          // a link to a file is a file
  fs::create_symlink("missing.xlsx", root + "/broken.xlsx");

  std::vector<std::string> found = Scan(root, true);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{root + "/alias.xlsx", root + "/away/far.xlsx",
                                             root + "/broken.xlsx", root + "/sub/inner/low.xlsx",
                                             root + "/sub/mid.xls", root + "/top.xlsx"}));
}

TEST(AddAllFilesInDirTest, SiblingLinksToTheSameFolderAreEachScanned) {
  // Only links back into the folders being scanned are cut; two ways to one folder list
  // its workbooks twice, as scanning it twice would.
  TempDir dir;
  fs::create_directories(dir / "root/real");
  WriteBytes(dir / "root/real/one.xlsx", "x");
  fs::create_directory_symlink("real", dir / "root/again");
  std::vector<std::string> found = Scan(dir / "root", true);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found,
            (std::vector<std::string>{dir / "root/again/one.xlsx", dir / "root/real/one.xlsx"}));
}

TEST(AddAllFilesInDirTest, MissingOrEmptyFolderAddsNothing) {
  TempDir dir;
  EXPECT_TRUE(Scan(dir / "missing", true).empty());
  EXPECT_TRUE(Scan(dir.path(), true).empty());
  EXPECT_TRUE(Scan("", true).empty());
  WriteBytes(dir / "file.xlsx", "x");
  EXPECT_TRUE(Scan(dir / "file.xlsx", true).empty());
}

TEST(AddAllFilesInDirTest, SkipsUnreadableFoldersSilently) {
  // Under /tmp, whose parents every user may enter, wherever TMPDIR or the checkout lie.
  TempDir dir("/tmp");
  const std::string root = dir / "root";
  fs::create_directories(root + "/locked");
  fs::create_directories(root + "/open");
  WriteBytes(root + "/locked/hidden.xlsx", "x");
  WriteBytes(root + "/open/seen.xlsx", "x");
  WriteBytes(root + "/top.xls", "x");
  fs::permissions(dir.path(), fs::perms::all);
  fs::permissions(root, fs::perms::all);
  fs::permissions(root + "/open", fs::perms::all);
  fs::permissions(root + "/locked", fs::perms::none);

  // Root reads every folder, so the scan runs as an ordinary user in a child process.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    std::string joined;
    for (const std::string& path : Scan(root, true)) joined += path + "\n";
    const bool ok =
        ::write(pipeFds[1], joined.data(), joined.size()) == static_cast<ssize_t>(joined.size());
    ::_exit(ok ? 0 : 4);
  }
  ::close(pipeFds[1]);
  std::string joined;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) joined.append(buffer, n);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 3) {
    GTEST_SKIP() << "root cannot become user 65534 here (a user namespace without it?)";
  }
  ASSERT_EQ(WEXITSTATUS(status), 0);

  std::vector<std::string> found;
  for (size_t start = 0, end; (end = joined.find('\n', start)) != std::string::npos;
       start = end + 1) {
    found.push_back(joined.substr(start, end - start));
  }
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{root + "/open/seen.xlsx", root + "/top.xls"}));
}

TEST(AddMyFolderTest, ShowsTheScanBetweenItsTwoStatusTexts) {
  TempDir dir;
  WriteBytes(dir / "book.xlsx", "x");
  std::vector<std::string> events;
  AddMyFolder(
      dir.path(), false, [&](const std::string& path) { events.push_back("add " + path); },
      [&](const std::string& text) { events.push_back(text); });
  EXPECT_EQ(events,
            (std::vector<std::string>{"Scanning folder " + dir.path().string() + "...",
                                      "add " + (dir / "book.xlsx"), "Finished folder scan"}));
}

}  // namespace
}  // namespace cellverter
