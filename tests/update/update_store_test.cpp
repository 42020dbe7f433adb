#include "update/update_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "http/local_maker.h"
#include "platform/error.h"
#include "temp_dir.h"

namespace cellverter {
namespace {

using testing_support::ReadBytes;
using testing_support::TempDir;

TEST(UpdateStoreTest, OpensAFolderNamedByTheKeyAndKeepsValuesAsText) {
  TempDir config;
  UpdateStore store = UpdateStore::Open(config.path() / "deep" / "er", "ABC123");
  EXPECT_EQ(store.file(), config.path() / "deep" / "er" / "ABC123" / "update.ini");
  EXPECT_EQ(store.Read("ShowUpdate"), std::nullopt);
  store.Write("ShowUpdate", "0");
  store.Write("LastUpdateCheck", "1/5/24");
  store.Write("showupdate", "1");  // names ignore case, as registry value names do
  EXPECT_EQ(ReadBytes(store.file()), "[Settings]\nShowUpdate=1\nLastUpdateCheck=1/5/24\n");
  EXPECT_EQ(UpdateStore::Open(config.path() / "deep" / "er", "ABC123").Read("SHOWUPDATE"), "1");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(store.file().parent_path()),
                          std::filesystem::directory_iterator()),
            1);  // no temporary file left behind
}

TEST(UpdateStoreTest, KeepsWhatElseTheFileHolds) {
  TempDir config;
  UpdateStore store = UpdateStore::Open(config.path(), "K");
  std::ofstream(store.file())
      << "; note\n[Other]\nShowUpdate=other\n\n[Settings]\nCurrentURL = AB \n\n"
         "[Later]\nx=1\n";
  EXPECT_EQ(store.Read("CurrentURL"), "AB");
  EXPECT_EQ(store.Read("x"), std::nullopt);
  store.Write("ShowUpdate", "1");
  store.Write("CurrentURL", "CD");
  EXPECT_EQ(ReadBytes(store.file()),
            "; note\n[Other]\nShowUpdate=other\n\n[Settings]\nCurrentURL=CD\nShowUpdate=1\n\n"
            "[Later]\nx=1\n");
}

// {the stored text, the integer read with the fallback 99}
class UpdateStoreIntegerTest : public ::testing::TestWithParam<std::pair<std::string, int>> {};

TEST_P(UpdateStoreIntegerTest, ReadsIntegersWithAFallback) {
  TempDir config;
  UpdateStore store = UpdateStore::Open(config.path(), "K");
  store.Write("Count", GetParam().first);
  EXPECT_EQ(store.ReadInteger("Count", 99), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Texts, UpdateStoreIntegerTest,
                         ::testing::Values(std::pair{"12", 12}, std::pair{"-3", -3},
                                           std::pair{"+4", 4}, std::pair{"007", 7},
                                           std::pair{"x", 99}, std::pair{"", 99},
                                           std::pair{"1.5", 99}, std::pair{"99999999999", 99},
                                           std::pair{"2147483647", 2147483647}));

TEST(UpdateStoreTest, MissingValuesReadAsTheFallbackAndEmptyText) {
  TempDir config;
  UpdateStore store = UpdateStore::Open(config.path(), "K");
  EXPECT_EQ(store.ReadInteger("Missing", 5), 5);
  EXPECT_EQ(store.ReadText("Missing"), "");
}

TEST(UpdateStoreTest, FailuresThrowAndLeaveTheFileAsItWas) {
  TempDir config;
  std::ofstream(config.path() / "file") << "x";
  EXPECT_THROW(UpdateStore::Open(config.path() / "file", "K"), Error);
  EXPECT_THROW(UpdateStore::Open(config.path(), ""), Error);

  UpdateStore store = UpdateStore::Open(config.path(), "K");
  store.Write("ShowUpdate", "1");
  EXPECT_THROW(store.Write("CurrentVersion", "2.2\r\n[Evil]"), Error);
  if (::geteuid() != 0) {
    std::filesystem::permissions(
        store.file().parent_path(),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    try {
      store.Write("ShowUpdate", "0");
      ADD_FAILURE() << "wrote into a read-only folder";
    } catch (const Error& error) {
      EXPECT_NE(std::string(error.what()).find(store.file().string()), std::string::npos);
    }
    std::filesystem::permissions(store.file().parent_path(), std::filesystem::perms::owner_all);
  }
  EXPECT_EQ(ReadBytes(store.file()), "[Settings]\nShowUpdate=1\n");
}

}  // namespace
}  // namespace cellverter
