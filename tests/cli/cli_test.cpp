// cellverter-cli end to end: the built program on real workbooks in a temporary folder.

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "convert/csv_encoding.h"
#include "temp_dir.h"
#include "xlsx_maker.h"

namespace cellverter {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;
using testing_support::WriteXlsx;

const std::string kProgram = std::string(CELLVERTER_BIN_DIR) + "/cellverter-cli";

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program in `folder` with `input` on standard input; with `terminal` its
// standard error is a pseudo-terminal.
struct RunOptions {
  std::string input;      // standard input
  bool terminal = false;  // standard error is a pseudo-terminal
  bool asNobody = false;  // root drops to an ordinary user, who cannot read every folder
  // Called with the child's id and the path of its standard output while it runs.
  std::function<void(pid_t, const std::string&)> whileRunning;
};

RunOptions WithInput(std::string input) {
  RunOptions options;
  options.input = std::move(input);
  return options;
}
RunOptions OnATerminal() {
  RunOptions options;
  options.terminal = true;
  return options;
}
RunOptions AsNobody() {
  RunOptions options;
  options.asNobody = true;
  return options;
}

Outcome RunCli(const std::string& folder, const std::vector<std::string>& args,
               const RunOptions& options = {}) {
  const std::string& input = options.input;
  const bool terminal = options.terminal;
  const auto& whileRunning = options.whileRunning;
  const std::string inPath = folder + "/.stdin";
  const std::string outPath = folder + "/.stdout";
  const std::string errPath = folder + "/.stderr";
  WriteBytes(inPath, input);
  int master = -1;
  int slave = -1;
  if (terminal && ::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    const int in = ::open(inPath.c_str(), O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = terminal ? slave : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (options.asNobody && ::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(126);
    }
    std::vector<char*> argv{const_cast<char*>(kProgram.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(kProgram.c_str(), argv.data());
    ::_exit(127);
  }
  Outcome outcome;
  if (whileRunning) whileRunning(child, outPath);
  if (terminal) {
    ::close(slave);
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) outcome.err.append(buffer, n);
    ::close(master);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.out = ReadBytes(outPath);
  if (!terminal) outcome.err = ReadBytes(errPath);
  fs::remove(inPath);
  fs::remove(outPath);
  fs::remove(errPath);
  return outcome;
}

std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = ReadBytes(entry.path().string());
  }
  return files;
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(CliTest, BadUsageExitsWithTwoAndConvertsNothing) {
  TempDir dir;
  WriteXlsx(dir / "book.xlsx", {{"x"}});
  const std::vector<std::vector<std::string>> cases = {
      {"-e", "utf8", "book.xlsx"},  // encoding words compare exactly
      {"-e", "UTF-8", "book.xlsx"},    {"-e", "ANSI ", "book.xlsx"},
      {"--encoding=", "book.xlsx"},    {"-j", "0", "book.xlsx"},
      {"-j", "two", "book.xlsx"},      {"--bogus", "book.xlsx"},
      {"-d", "", "book.xlsx"},              // "Unable to create directory"
      {"--destination=", "book.xlsx"}, {},  // no path
  };
  for (const auto& args : cases) {
    const Outcome outcome = RunCli(dir.path(), args);
    std::string shown;
    for (const std::string& arg : args) shown += "[" + arg + "] ";
    EXPECT_EQ(outcome.status, 2) << shown << outcome.err;
    EXPECT_FALSE(outcome.err.empty()) << shown;
    EXPECT_TRUE(outcome.out.empty()) << shown;
    EXPECT_FALSE(fs::exists(dir / "book.csv")) << shown;
  }
  EXPECT_NE(RunCli(dir.path(), {"-d", "", "book.xlsx"}).err.find("Unable to create directory"),
            std::string::npos);
}

TEST(CliTest, HelpAndVersion) {
  TempDir dir;
  Outcome outcome = RunCli(dir.path(), {"--version"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "cellverter-cli " CELLVERTER_VERSION "\n");
  outcome = RunCli(dir.path(), {"--help"});
  EXPECT_EQ(outcome.status, 0);
  for (const char* option :
       {"--destination", "--separator", "--encoding", "UTF16BEBOM", "--include-subfolders",
        "--jobs", "--version", "--password", "--password-file"}) {
    EXPECT_NE(outcome.out.find(option), std::string::npos) << option;
  }
}

TEST(CliTest, ConvertsFoldersAndFilesReportingEachFailure) {
  TempDir dir;
  fs::create_directories(dir / "in/sub");
  WriteXlsx(dir / "in/a.xlsx", {{"Name", "Amount, EUR"}, {"Ünïcode \"q\"", "", "3"}});
  WriteXlsx(dir / "in/sub/deep.xlsx", {{"deep"}});
  WriteBytes(dir / "in/broken.xlsx", "not a workbook");
  WriteBytes(dir / "in/notes.txt", "not listed");
  WriteXlsx(dir / "single.xlsx", {{"single"}});

  Outcome outcome = RunCli(dir.path(), {"-d", "out/nested", "in", "single.xlsx"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(Count(outcome.err, "broken.xlsx"), 1) << outcome.err;
  EXPECT_NE(outcome.err.find("Converted 2 of 3 workbooks"), std::string::npos) << outcome.err;
  EXPECT_EQ(outcome.err.find('\r'), std::string::npos);  // no progress line into a file
  EXPECT_EQ(Count(outcome.out, "\n"), 2);
  EXPECT_NE(outcome.out.find("out/nested/a.csv\n"), std::string::npos);
  EXPECT_EQ(Files(dir / "out/nested"),
            (std::map<std::string, std::string>{{"a.csv",
                                                 "Name,\"Amount, EUR\",\r\n\"\xC3\x9Cn\xC3\xAF"
                                                 "code \"\"q\"\"\",,3\r\n"},
                                                {"single.csv", "single\r\n"}}));

  // With subfolders, on the same destination: nothing is overwritten.
  outcome = RunCli(dir.path(), {"-r", "-d", "out/nested", "-s", "", "in"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(ReadBytes(dir / "out/nested/deep.csv"), "deep\r\n");
  EXPECT_EQ(ReadBytes(dir / "out/nested/a.csv").substr(0, 6), "Name,\"");
  EXPECT_EQ(ReadBytes(dir / "out/nested/a (2).csv").substr(0, 17), "NameAmount, EUR\r\n");

  outcome = RunCli(dir.path(), {"single.xlsx"});  // the current folder by default
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(ReadBytes(dir / "single.csv"), "single\r\n");
}

TEST(CliTest, PasswordOptionsOpenEncryptedWorkbooksAndNeverShowThePassword) {
  TempDir dir;
  for (const char* name : {"lo-rc4-secret.xls", "agile-default.xlsx"}) {
    fs::copy_file(std::string(CELLVERTER_TEST_DATA "/encrypted/") + name, dir / name);
  }
  // Excel's default password opens its workbook silently; the other one stays protected.
  Outcome outcome = RunCli(dir.path(), {"-d", "none", "lo-rc4-secret.xls", "agile-default.xlsx"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("\"lo-rc4-secret.xls\": the workbook is protected by a password."),
            std::string::npos)
      << outcome.err;
  EXPECT_EQ(Files(dir / "none").count("agile-default.csv"), 1u);

  outcome = RunCli(dir.path(), {"-d", "wrong", "--password", "Sesame-42", "lo-rc4-secret.xls"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("\"lo-rc4-secret.xls\": the password is wrong."), std::string::npos)
      << outcome.err;
  EXPECT_EQ(outcome.err.find("Sesame-42"), std::string::npos);

  outcome = RunCli(dir.path(), {"-d", "given", "--password", "secret", "lo-rc4-secret.xls"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(ReadBytes(dir / "given/lo-rc4-secret.csv").substr(0, 11), "Kontostand ");

  // The first line of the file, without its line end.
  WriteBytes(dir / "password.txt", "secret\r\nnot this line\n");
  outcome = RunCli(dir.path(), {"-d", "file", "--password-file", "password.txt",
                                "lo-rc4-secret.xls", "agile-default.xlsx"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(Files(dir / "file").size(), 2u);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--password-file", "missing.txt", "lo-rc4-secret.xls"},
        std::vector<std::string>{"--password-file", "/dev/zero", "lo-rc4-secret.xls"},
        std::vector<std::string>{"--password", "x", "--password-file", "password.txt",
                                 "lo-rc4-secret.xls"}}) {
    outcome = RunCli(dir.path(), args);
    EXPECT_EQ(outcome.status, 2) << outcome.err;
    EXPECT_EQ(outcome.err.find("secret"), std::string::npos) << outcome.err;
  }
}

TEST(CliTest, WritesEachEncoding) {
  TempDir dir;
  WriteXlsx(dir / "book.xlsx", {{"\xC3\xA9"}});  // é
  const std::map<std::string, std::string> expected = {
      {"ANSI", "\xE9\r\n"},
      {"UTF8", "\xC3\xA9\r\n"},
      {"UTF8BOM", "\xEF\xBB\xBF\xC3\xA9\r\n"},
      {"UTF16BEBOM", std::string("\xFE\xFF\0\xE9\0\r\0\n", 8)},
      {"UTF16LEBOM", std::string("\xFF\xFE\xE9\0\r\0\n\0", 8)},
  };
  for (const auto& [word, bytes] : expected) {
    const Outcome outcome = RunCli(dir.path(), {"-e", word, "-d", word, "book.xlsx"});
    EXPECT_EQ(outcome.status, 0) << word << outcome.err;
    EXPECT_EQ(ReadBytes(dir / (word + "/book.csv")), bytes) << word;
  }
}

TEST(CliTest, ReadsPathsFromStandardInput) {
  TempDir dir;
  fs::create_directories(dir / "in folder");
  WriteXlsx(dir / "in folder/one two.xlsx", {{"1"}});
  WriteXlsx(dir / "three.xls", {{"3"}});
  const Outcome outcome = RunCli(dir.path(), {"-d", "out", "-"},
                                 WithInput("three.xls\r\n\nin folder\n" + (dir / "missing.xlsx")));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "out/three.csv\nout/one two.csv\n");
  EXPECT_EQ(Count(outcome.err, "missing.xlsx"), 1) << outcome.err;
}

TEST(CliTest, SeveralJobsGiveTheNamesBytesAndOutputOfOneByOne) {
  TempDir dir;
  std::vector<std::string> args = {"-s", ";"};
  for (int i = 0; i < 5; ++i) {
    const std::string folder = "f" + std::to_string(i);
    fs::create_directories(dir / folder);
    WriteXlsx(dir / (folder + "/sales.xlsx"), {{"sales", folder}});
    WriteXlsx(dir / (folder + "/Sales (2).xlsx"), {{"sales two", folder}});
    WriteXlsx(dir / (folder + "/own" + std::to_string(i) + ".xlsx"), {{"own", folder}});
    if (i == 1) WriteBytes(dir / (folder + "/sales.xls"), "broken");
    args.push_back(folder);
  }
  std::vector<Outcome> outcomes;
  std::vector<std::map<std::string, std::string>> results;
  for (const char* jobs : {"1", "4", "16"}) {
    std::vector<std::string> run = args;
    run.insert(run.begin(), {"-j", jobs, "-d", "out"});
    fs::remove_all(dir / "out");
    fs::create_directories(dir / "out");
    WriteBytes(dir / "out/sales (2).csv", "already there");
    outcomes.push_back(RunCli(dir.path(), run));
    results.push_back(Files(dir / "out"));
  }
  EXPECT_EQ(results[0].size(), 16u);
  EXPECT_EQ(results[0].at("sales (2).csv"), "already there");
  for (size_t i = 1; i < outcomes.size(); ++i) {
    EXPECT_EQ(results[i], results[0]);
    EXPECT_EQ(outcomes[i].status, outcomes[0].status);
    EXPECT_EQ(outcomes[i].out, outcomes[0].out);
    EXPECT_EQ(outcomes[i].err, outcomes[0].err);
  }
  EXPECT_EQ(outcomes[0].status, 1);
}

TEST(CliTest, ShowsProgressOnlyOnATerminal) {
  TempDir dir;
  WriteXlsx(dir / "book.xlsx", {{"x"}});
  const Outcome outcome =
      RunCli(dir.path(), {"-d", "out", "book.xlsx", "missing.xlsx"}, OnATerminal());
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("2/2"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("missing.xlsx"), std::string::npos);
  EXPECT_NE(outcome.err.find("Converted 1 of 2"), std::string::npos);
  EXPECT_EQ(outcome.out, "out/book.csv\n");
}

TEST(CliTest, AFolderNamedThatCannotBeReadIsAnErrorButNotOneMetWhileScanning) {
  TempDir dir;
  fs::create_directories(dir / "in/locked");
  fs::create_directories(dir / "in/open");
  WriteXlsx(dir / "in/locked/hidden.xlsx", {{"hidden"}});
  WriteXlsx(dir / "in/open/seen.xlsx", {{"seen"}});
  fs::permissions(dir.path(), fs::perms::all);
  fs::permissions(dir / "in", fs::perms::all);
  fs::permissions(dir / "in/open", fs::perms::all);
  fs::permissions(dir / "in/open/seen.xlsx", fs::perms::all);
  fs::permissions(dir / "in/locked", fs::perms::none);

  Outcome outcome = RunCli(dir.path(), {"-d", "out", "in/locked", "in/open"}, AsNobody());
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("cannot read the folder \"in/locked\": Permission denied"),
            std::string::npos)
      << outcome.err;
  EXPECT_EQ(outcome.out, "out/seen.csv\n");

  outcome = RunCli(dir.path(), {"-r", "-d", "out2", "in"}, AsNobody());
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "out2/seen.csv\n");
}

TEST(CliTest, CtrlCFinishesTheWorkbooksUnderWayAndStartsNoOther) {
  TempDir dir;
  fs::create_directories(dir / "in");
  std::vector<std::vector<std::string>> rows(200, std::vector<std::string>(10, "cell"));
  const std::string bytes = testing_support::MakeXlsx(rows);
  for (int i = 0; i < 400; ++i) WriteBytes(dir / ("in/book" + std::to_string(i) + ".xlsx"), bytes);

  for (const char* jobs : {"1", "3"}) {
    const std::string out = std::string("out") + jobs;
    RunOptions options;
    options.whileRunning = [](pid_t child, const std::string& outPath) {
      // Interrupt as soon as the first file is reported.
      while (ReadBytes(outPath).find('\n') == std::string::npos) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      ::kill(child, SIGINT);
    };
    const Outcome outcome = RunCli(dir.path(), {"-j", jobs, "-d", out, "in"}, options);
    EXPECT_EQ(outcome.status, 130) << jobs << " jobs: " << outcome.err;
    EXPECT_NE(outcome.err.find("Interrupted"), std::string::npos) << outcome.err;
    // Every file reported is there, complete; nothing else is, not even a temporary file.
    std::map<std::string, std::string> reported;
    for (size_t start = 0, end; (end = outcome.out.find('\n', start)) != std::string::npos;
         start = end + 1) {
      const std::string path = outcome.out.substr(start, end - start);
      reported[fs::path(path).filename().string()] = ReadBytes(dir / path);
    }
    EXPECT_GE(reported.size(), 1u);
    EXPECT_LT(reported.size(), 400u);
    EXPECT_EQ(Files(dir / out), reported) << jobs << " jobs";
    for (const auto& [name, csv] : reported) EXPECT_EQ(csv.size(), 200u * 51u) << name;
  }
}

}  // namespace
}  // namespace cellverter
