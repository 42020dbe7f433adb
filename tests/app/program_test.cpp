// The desktop program end to end: a copy of the built executable started as a scheduler
// would start it.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.h"
#include "tiny_xlsx.h"
#include "update/installation.h"
#include "update/update_store.h"

extern char** environ;

namespace cellverter {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;
using testing_support::WriteTinyXlsx;

// Runs `program` with `arguments` under the offscreen platform and waits up to `limit`
// for it to end by itself; returns its exit status, or -1 when it had to be stopped.
int RunUntilItEnds(const fs::path& program, const fs::path& home, std::chrono::seconds limit,
                   std::vector<std::string> arguments = {}) {
  std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "LC_ALL=C.UTF-8",
                                  "ASAN_OPTIONS=detect_leaks=0", "HOME=" + home.string(),
                                  "XDG_CONFIG_HOME=" + (home / ".config").string()};
  if (const char* path = getenv("PATH")) env.push_back(std::string("PATH=") + path);
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string file = program.string();
  std::vector<char*> argv = {file.data()};
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, file.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return -2;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
}

TEST(ProgramTest, UnattendedRunConvertsBesideTheProgramAndEnds) {
  TempDir root;
  const fs::path folder = root.path() / "prog";
  fs::create_directories(folder);
  fs::create_directories(root.path() / "home");
  fs::copy_file(fs::path(CELLVERTER_BIN_DIR) / "cellverter", folder / "cellverter");
  if (fs::exists(fs::path(CELLVERTER_BIN_DIR) / "Languages")) {
    fs::copy(fs::path(CELLVERTER_BIN_DIR) / "Languages", folder / "Languages",
             fs::copy_options::recursive);
  }
  WriteTinyXlsx((folder / "north.xlsx").string(), {{"Region", "Sales"}, {"North", "12"}});
  WriteTinyXlsx((folder / "south.xlsx").string(), {{"Region", "Sales"}, {"South", "7"}});
  WriteBytes((folder / "settings.ini").string(),
             "\xEF\xBB\xBF[Settings]\r\nSeparator=,\r\nEncoding=UTF8\r\n"
             "AutomaticallyAddExcelFiles=True\r\nAutomaticallyConverttoCSV=True\r\n"
             "AutomaticallyCloseApplication=True\r\nStartMinimized=True\r\n\r\n");

  // Update notifications off, so the run stays on this machine.
  UpdateStore::Open(root.path() / "home" / ".config", ApplicationKey("KORVANE - Cellverter"))
      .Write("ShowUpdate", "0");

  EXPECT_EQ(RunUntilItEnds(folder / "cellverter", root.path() / "home", std::chrono::seconds(60)),
            0);
  EXPECT_EQ(ReadBytes((folder / "north.csv").string()), "Region,Sales\r\nNorth,12\r\n");
  EXPECT_EQ(ReadBytes((folder / "south.csv").string()), "Region,Sales\r\nSouth,7\r\n");
  EXPECT_EQ(ReadBytes((folder / "settings.ini").string()).find("Destination"), std::string::npos);
}

// "Open with" of a file manager: the paths (names or file: addresses) are taken as a drop,
// a folder becoming the destination, and the unattended run converts them.
TEST(ProgramTest, PathsOnTheCommandLineAreTakenAsADrop) {
  TempDir root;
  const fs::path folder = root.path() / "prog";
  const fs::path data = root.path() / "data";
  const fs::path out = root.path() / "out";
  for (const fs::path& made : {folder, data, out, root.path() / "home"}) {
    fs::create_directories(made);
  }
  fs::copy_file(fs::path(CELLVERTER_BIN_DIR) / "cellverter", folder / "cellverter");
  WriteTinyXlsx((data / "one.xlsx").string(), {{"1"}});
  WriteTinyXlsx((data / "two words.xlsx").string(), {{"2"}});
  WriteBytes((folder / "settings.ini").string(),
             "\xEF\xBB\xBF[Settings]\r\nAutomaticallyConverttoCSV=True\r\n"
             "AutomaticallyCloseApplication=True\r\n\r\n");
  UpdateStore::Open(root.path() / "home" / ".config", ApplicationKey("KORVANE - Cellverter"))
      .Write("ShowUpdate", "0");

  EXPECT_EQ(RunUntilItEnds(folder / "cellverter", root.path() / "home", std::chrono::seconds(60),
                           {(data / "one.xlsx").string(),
                            "file://" + data.string() + "/two%20words.xlsx", out.string()}),
            0);
  EXPECT_EQ(ReadBytes((out / "one.csv").string()), "1\r\n");
  EXPECT_EQ(ReadBytes((out / "two words.csv").string()), "2\r\n");
  EXPECT_NE(ReadBytes((folder / "settings.ini").string()).find("Destination=" + out.string()),
            std::string::npos);
}

}  // namespace
}  // namespace cellverter
