#include "platform/pending_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace cellverter {
namespace {

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

// Every case runs with both ways of keeping the file pending: the unnamed file, and the
// hidden name that file systems without unnamed files get.
class PendingFileTest : public testing::TestWithParam<PendingFile::Method> {
 protected:
  bool Unnamed() const { return GetParam() == PendingFile::Method::kUnnamed; }
};

TEST_P(PendingFileTest, AppearsCompleteUnderItsNameAndOnlyThen) {
  TempDir dir;
  PendingFile file(GetParam());
  ASSERT_EQ(file.Create(dir.path().string()), 0);
  ASSERT_EQ(file.Write("first "), 0);
  ASSERT_EQ(file.Write("second"), 0);
  if (Unnamed()) {
    EXPECT_TRUE(dir.Names().empty());
    EXPECT_EQ(file.HiddenPath(), "");
  } else {
    // Short, so that the longest legal final name still fits beside it.
    ASSERT_EQ(dir.Names().size(), 1u);
    EXPECT_EQ(dir.Names()[0].rfind(".cellverter-", 0), 0u);
    EXPECT_EQ(dir.Names()[0].size(), 18u);
    EXPECT_EQ(file.HiddenPath(), dir / dir.Names()[0]);
  }
  ASSERT_EQ(file.Publish(dir / "out.csv"), 0);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.csv"});
  EXPECT_EQ(ReadBytes(dir / "out.csv"), "first second");
}

TEST_P(PendingFileTest, GetsTheModeOfAPlainCreation) {
  TempDir dir;
  const mode_t saved = ::umask(0);
  for (const mode_t mask : {022, 077, 027, 0}) {
    ::umask(mask);
    const std::string name = "mask" + std::to_string(mask);
    {
      PendingFile file(GetParam());
      ASSERT_EQ(file.Create(dir.path().string()), 0);
      ASSERT_EQ(file.Publish(dir / name), 0);
    }
    const int plain = ::open((dir / (name + ".plain")).c_str(), O_CREAT | O_WRONLY, 0666);
    ASSERT_GE(plain, 0);
    ::close(plain);
    struct stat published {};
    struct stat created {};
    ASSERT_EQ(::stat((dir / name).c_str(), &published), 0);
    ASSERT_EQ(::stat((dir / (name + ".plain")).c_str(), &created), 0);
    EXPECT_EQ(published.st_mode & 07777, 0666 & ~mask) << "umask " << mask;
    EXPECT_EQ(published.st_mode & 07777, created.st_mode & 07777) << "umask " << mask;
  }
  ::umask(saved);
}

TEST_P(PendingFileTest, NeverTakesANameThatExists) {
  TempDir dir;
  WriteBytes(dir / "file", "precious");
  std::filesystem::create_symlink(dir / "missing", dir / "dangling");
  std::filesystem::create_symlink(dir / "file", dir / "link");
  std::filesystem::create_directory(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);

  PendingFile file(GetParam());
  ASSERT_EQ(file.Create(dir.path().string()), 0);
  ASSERT_EQ(file.Write("new"), 0);
  for (const char* taken : {"file", "dangling", "link", "folder", "fifo"}) {
    EXPECT_EQ(file.Publish(dir / taken), EEXIST) << taken;
  }
  // Nothing was written through a link, and the file is still pending.
  EXPECT_EQ(ReadBytes(dir / "file"), "precious");
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
  ASSERT_EQ(file.Publish(dir / "free"), 0);
  EXPECT_EQ(ReadBytes(dir / "free"), "new");
  EXPECT_EQ(dir.Names(),
            (std::vector<std::string>{"dangling", "fifo", "file", "folder", "free", "link"}));
}

TEST_P(PendingFileTest, EveryLegalNameIsWritable) {
  TempDir dir;
  for (const size_t length : {248u, 255u}) {
    const std::string name = std::string(length - 4, 'n') + ".csv";
    PendingFile file(GetParam());
    ASSERT_EQ(file.Create(dir.path().string()), 0);
    ASSERT_EQ(file.Write("x"), 0);
    EXPECT_EQ(file.Publish(dir / name), 0) << length;
    EXPECT_EQ(ReadBytes(dir / name), "x") << length;
  }
  // One byte too long fails, and leaves nothing behind.
  {
    PendingFile file(GetParam());
    ASSERT_EQ(file.Create(dir.path().string()), 0);
    EXPECT_EQ(file.Publish(dir / std::string(256, 'n')), ENAMETOOLONG);
  }
  EXPECT_EQ(dir.Names().size(), 2u);
}

TEST_P(PendingFileTest, LeavesNothingWhenNotPublished) {
  TempDir dir;
  {
    PendingFile file(GetParam());
    ASSERT_EQ(file.Create(dir.path().string()), 0);
    ASSERT_EQ(file.Write(std::string(1 << 20, 'x')), 0);
  }
  EXPECT_TRUE(dir.Names().empty());
}

TEST_P(PendingFileTest, CreateFailuresGiveTheCause) {
  TempDir dir;
  WriteBytes(dir / "plain", "");
  PendingFile missing(GetParam());
  EXPECT_EQ(missing.Create(dir / "missing"), ENOENT);
  PendingFile notFolder(GetParam());
  EXPECT_EQ(notFolder.Create(dir / "plain"), ENOTDIR);
  if (::geteuid() != 0) {  // root writes into read-only folders anyway
    std::filesystem::create_directory(dir / "locked");
    std::filesystem::permissions(
        dir / "locked", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    PendingFile locked(GetParam());
    EXPECT_EQ(locked.Create(dir / "locked"), EACCES);
  }
  EXPECT_EQ(missing.Write("x"), EBADF);
  EXPECT_EQ(missing.Publish(dir / "out"), EBADF);
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

// Replace() puts the new bytes in the place of the old file, handing its permissions on,
// and leaves no temporary behind, whether the file existed or not.
TEST(PendingFileReplace, TakesThePlaceAndThePermissionsOfTheOldFile) {
  TempDir dir;
  const std::string path = dir / "store.ini";
  for (const bool existed : {false, true}) {
    if (existed) {
      WriteBytes(path, "old");
      ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    }
    PendingFile file(PendingFile::Method::kHiddenName);
    ASSERT_EQ(file.Create(dir.path().string(), 0600), 0);
    ASSERT_EQ(file.Write("new"), 0);
    ASSERT_EQ(file.Replace(path), 0);
    EXPECT_EQ(ReadBytes(path), "new");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, existed ? 0640u : 0600u) << existed;
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"store.ini"});
    ASSERT_EQ(::unlink(path.c_str()), 0);
  }
}

TEST(PendingFileReplace, FailureKeepsTheOldFileAndLeavesNoTemporary) {
  TempDir dir;
  const std::string path = dir / "taken";
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((path + "/inside").c_str(), 0755), 0);  // a full folder is not replaced
  PendingFile file(PendingFile::Method::kHiddenName);
  ASSERT_EQ(file.Create(dir.path().string()), 0);
  EXPECT_NE(file.Replace(path), 0);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"taken"});

  PendingFile unnamed(PendingFile::Method::kUnnamed);
  ASSERT_EQ(unnamed.Create(dir.path().string()), 0);
  if (unnamed.HiddenPath().empty()) {
    EXPECT_EQ(unnamed.Replace(dir / "other"), EINVAL);
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, PendingFileTest,
                         testing::Values(PendingFile::Method::kUnnamed,
                                         PendingFile::Method::kHiddenName),
                         [](const testing::TestParamInfo<PendingFile::Method>& p) {
                           return p.param == PendingFile::Method::kUnnamed ? "Unnamed"
                                                                           : "HiddenName";
                         });

}  // namespace
}  // namespace cellverter
