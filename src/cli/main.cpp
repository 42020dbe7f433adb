// cellverter-cli: converts workbooks to CSV files with the rules of the desktop program.

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_report.h"
#include "cli/interrupt.h"
#include "convert/batch_run.h"
#include "convert/csv_encoding.h"
#include "convert/workbook_to_csv.h"
#include "platform/ansi_code_page.h"
#include "platform/error.h"
#include "platform/workbook_names.h"
#include "sources/folder_scan.h"

namespace cellverter {
namespace {

constexpr int kAllConverted = 0;
constexpr int kSomeFailed = 1;
constexpr int kBadUsage = 2;

constexpr int kInterrupted = 130;  // as a shell reports a command ended by Ctrl-C

unsigned CoreCount() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A folder adds its workbooks (scanned as the window's "Add Folder" does); anything else
// is listed as it stands, and the run reports it if it is no workbook. A folder named on
// the command line that cannot be read is reported (the scan itself skips unreadable
// folders in silence, which would turn it into a run with nothing to do); false then.
bool AddPath(const std::string& path, bool includeSubfolders, std::vector<std::string>& list) {
  if (!IsFolder(path)) {
    list.push_back(path);
    return true;
  }
  if (::access(path.c_str(), R_OK | X_OK) != 0) {
    std::fprintf(stderr, "cellverter-cli: cannot read the folder \"%s\": %s\n", path.c_str(),
                 SystemMessage(errno).c_str());
    return false;
  }
  AddAllFilesInDir(path, includeSubfolders,
                   [&](const std::string& found) { list.push_back(found); });
  return true;
}

// The words of an option, for the option parser's check.
template <typename Value, size_t N>
std::vector<std::string> Words(const std::array<OptionWord<Value>, N>& words) {
  std::vector<std::string> all;
  for (const OptionWord<Value>& known : words) all.emplace_back(known.word);
  return all;
}

// "--separator=" must mean the empty separator, but the option parser would then take the
// next argument as the value; the separate form ("--separator" "") it reads right.
std::vector<std::string> SplitEmptyValues(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i > 0 && arg.size() > 3 && arg.starts_with("--") && arg.back() == '=' &&
        arg.find('=') == arg.size() - 1) {
      args.push_back(arg.substr(0, arg.size() - 1));
      args.emplace_back();
    } else {
      args.push_back(arg);
    }
  }
  return args;
}

// The first line of a password file, without its line end. The password never appears in a
// message.
bool ReadPasswordFile(const std::string& path, std::string& password) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "cellverter-cli: cannot read the password file \"%s\": %s\n", path.c_str(),
                 SystemMessage(errno).c_str());
    return false;
  }
  // Office passwords have at most 255 characters; a longer line is not a password file.
  constexpr size_t kMaxLine = 4096;
  password.clear();
  for (int c; password.size() <= kMaxLine && (c = std::fgetc(file)) != EOF && c != '\n';) {
    password += static_cast<char>(c);
  }
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed || password.size() > kMaxLine) {
    std::fprintf(stderr, "cellverter-cli: cannot read the password file \"%s\": %s\n", path.c_str(),
                 failed ? SystemMessage(error).c_str() : "its first line is too long");
    return false;
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return true;
}

// --list-sheets: a line per sheet on standard output, a failing workbook's message on
// standard error. False when a workbook failed.
bool ListSheets(const std::vector<std::string>& workbooks, const std::string& password) {
  bool all = true;
  for (const std::string& workbook : workbooks) {
    try {
      for (const SheetDescription& sheet : DescribeSheets(workbook, password)) {
        const std::string number =
            sheet.worksheetNumber > 0 ? std::to_string(sheet.worksheetNumber) : "";
        std::printf("%s\t%s\t%s\t%s\t%s\t%s\n", QuotedPath(workbook).c_str(), number.c_str(),
                    QuotedPath(sheet.name).c_str(), sheet.kind.c_str(), sheet.visibility.c_str(),
                    sheet.usedRange.c_str());
      }
    } catch (const std::exception& error) {
      std::fflush(stdout);
      std::fprintf(stderr, "cellverter-cli: %s\n", error.what());
      all = false;
    }
  }
  std::fflush(stdout);
  return all;
}

// The one CSV file of `folder` (a private folder the run wrote into) copied to standard
// output; the file and the folder are removed first, so nothing is left whatever happens to
// the copy. False, with the cause on standard error, when it fails.
bool CopyToStandardOutput(const std::string& folder) {
  std::vector<std::string> all;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") all.push_back(folder + "/" + name);
    }
    ::closedir(dir);
  }
  const int fd = all.size() == 1 ? ::open(all.front().c_str(), O_RDONLY | O_CLOEXEC) : -1;
  const int openError = errno;
  for (const std::string& path : all) ::unlink(path.c_str());
  ::rmdir(folder.c_str());
  if (all.empty()) return true;  // a worksheet without a line gives nothing
  if (fd < 0) {
    std::fprintf(stderr, "cellverter-cli: cannot read the converted file: %s\n",
                 SystemMessage(openError).c_str());
    return false;
  }
  // The kernel copies the file where it can (sendfile takes any output since Linux 2.6.33),
  // from where it stopped the loop below takes over.
  bool ok = std::fflush(stdout) == 0;
  for (ssize_t sent = 1; ok && sent > 0;) {
    sent = ::sendfile(STDOUT_FILENO, fd, nullptr, 1 << 30);
    if (sent < 0 && errno == EINTR) sent = 1;
    if (sent < 0 && errno != EINVAL && errno != ENOSYS) ok = false;
  }
  std::vector<char> buffer(ok ? 1 << 20 : 0);
  while (ok) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (std::fwrite(buffer.data(), 1, static_cast<size_t>(got), stdout) !=
        static_cast<size_t>(got)) {
      ok = false;
      break;
    }
  }
  const int error = errno;
  ::close(fd);
  if (std::fflush(stdout) != 0) ok = false;
  if (!ok) {
    std::fprintf(stderr, "cellverter-cli: cannot write to standard output: %s\n",
                 SystemMessage(error).c_str());
  }
  return ok;
}

int Run(int argc, char** argv) {
  CLI::App app{
      "Converts the first worksheet of each workbook (" + WorkbookExtensionsText() +
          ") into a CSV file in the destination folder, every cell as the text the spreadsheet "
          "displays. An existing file is "
          "never overwritten: a numbered name such as \"book (2).csv\" is chosen instead.\n\n"
          "--sheet and --all-sheets choose other worksheets. When a workbook may give more than "
          "one "
          "file (--all-sheets, or --sheet given twice or more) each is named \"<workbook> - "
          "<sheet>.csv\", with \"/\" and control characters of the sheet's name written as "
          "\"_\".\n\n"
          "Exit status: 0 every workbook converted, 1 some failed, 2 bad usage, 130 interrupted.",
      "cellverter-cli"};
  app.footer(
      "The paths of the CSV files written are printed on standard output, one a line, as they "
      "are; a path holding a control character (a line break, a tab) or beginning with a "
      "double quote is printed in double quotes with C escapes instead (\\n, \\t, \\\", "
      "\\\\, \\ooo), so no path spans two lines. With -0 every path is printed as it is, "
      "followed by a NUL.\n\n"
      "A workbook whose used range (A1 to its last used cell) has more than 1,000,000 cells "
      "and more than 100 times the cells its file holds (with a value or a style) is warned "
      "about on standard error: its CSV file is mostly separators, and one styled cell at "
      "XFD1048576 makes 16 GiB. --max-cells refuses such workbooks.\n\n"
      "Ctrl-C (or SIGTERM, SIGHUP) stops at the next row: the workbook under way is abandoned, "
      "no part of it is left, and the files already written are listed. A second Ctrl-C ends "
      "at once, still listing them and removing unfinished files.");
  app.set_version_flag("--version", "cellverter-cli " CELLVERTER_VERSION);

  std::string destination = ".";
  std::string separator = ",";
  std::string encodingWord = "UTF8";
  bool includeSubfolders = false;
  unsigned jobs = CoreCount();
  long long maxCells = 0;
  bool nulSeparated = false;
  std::string password;
  std::string passwordFile;
  std::vector<std::string> paths;
  SheetChoice sheets;
  bool listSheets = false;

  app.add_option("-d,--destination", destination,
                 "Folder for the CSV files, created with its parents when missing; - writes "
                 "the CSV to standard output (one workbook, one worksheet)")
      ->capture_default_str()
      ->type_name("DIR");
  app.add_option("-s,--separator", separator, "Field separator, any text (also empty)")
      ->capture_default_str()
      ->type_name("TEXT");
  std::string words;
  for (const CsvEncodingInfo& info : kCsvEncodings) {
    words += (words.empty() ? "" : ", ") + std::string(info.storedWord);
  }
  app.add_option("-e,--encoding", encodingWord, "Output encoding: " + words)
      ->capture_default_str()
      ->type_name("WORD")
      ->check(CLI::Validator(
          [](std::string& word) -> std::string {
            for (const CsvEncodingInfo& info : kCsvEncodings) {
              if (word == info.storedWord) return {};
            }
            return "unknown encoding \"" + word + "\"";
          },
          "", "encoding word"));
  app.add_flag("-r,--include-subfolders", includeSubfolders,
               "Scan the subfolders of every folder given as well");
  app.add_option("-j,--jobs", jobs, "Workbooks converted at once (default: the number of cores)")
      ->type_name("N")
      ->check(CLI::Range(1u, 1024u).description(""));
  app.add_option("--max-cells", maxCells,
                 "Refuse a workbook whose used range has more than N cells, writing nothing "
                 "for it (default: no bound)")
      ->type_name("N")
      ->check(CLI::Range(1LL, std::numeric_limits<long long>::max()).description(""));
  app.add_flag("-0,--null", nulSeparated,
               "End each path printed with a NUL instead of a line feed, as find -print0");
  CLI::Option* passwordOption =
      app.add_option("--password", password,
                     "Password tried on encrypted workbooks after Excel's default one")
          ->type_name("TEXT");
  app.add_option("--password-file", passwordFile,
                 "Like --password, with the password in the first line of FILE")
      ->type_name("FILE")
      ->excludes(passwordOption);
  CLI::Option* sheetOption =
      app.add_option("--sheet", sheets.sheets,
                     "Convert this worksheet instead of the first: a name (exact, else equal "
                     "but for case) or a number among the worksheets, 1 the first; repeatable. "
                     "A workbook without it fails, nothing written for it")
          ->type_name("NAME|NUMBER")
          ->allow_extra_args(false);
  app.add_flag("--all-sheets", sheets.all,
               "Convert every worksheet, hidden ones too (chart and dialog sheets hold no cells)")
      ->excludes(sheetOption);
  app.add_flag("--list-sheets", listSheets,
               "Convert nothing; print each sheet of each workbook, tab-separated: the workbook, "
               "the number --sheet accepts (empty for a sheet that is no worksheet), the name, "
               "the kind, the visibility and the used range");
  std::string valuesWord(kCellValuesWords[0].word);
  std::string quotingWord(kQuotingWords[0].word);
  std::string lineEndingWord(kLineEndingWords[0].word);
  bool skipHidden = false;
  bool fillMerged = false;
  bool trim = false;
  app.add_option("--values", valuesWord,
                 "displayed: each cell as the spreadsheet shows it; raw: the stored value "
                 "(numbers with all their digits, dates and times as 2024-01-15T08:30:00, "
                 "TRUE/FALSE, error codes)")
      ->capture_default_str()
      ->type_name("WORD")
      ->check(CLI::IsMember(Words(kCellValuesWords)));
  app.add_flag("--skip-hidden", skipHidden,
               "Leave out hidden rows and columns (and, with --all-sheets, hidden worksheets)");
  app.add_flag("--fill-merged", fillMerged,
               "Give every cell of a merged area the text of its top-left cell");
  app.add_flag("--trim", trim,
               "Leave out trailing rows and columns that show no text (reads each worksheet "
               "twice)");
  app.add_option("--quote", quotingWord,
                 "minimal: quote a field only when it holds the separator or a double quote; "
                 "all: quote every field")
      ->capture_default_str()
      ->type_name("WORD")
      ->check(CLI::IsMember(Words(kQuotingWords)));
  app.add_option("--line-ending", lineEndingWord, "crlf or lf")
      ->capture_default_str()
      ->type_name("WORD")
      ->check(CLI::IsMember(Words(kLineEndingWords)));
  app.add_option("paths", paths,
                 "Workbooks and folders to convert (a folder adds its workbooks by those "
                 "names); - reads paths from standard input, one a line")
      ->required()
      ->type_name("PATH");

  std::vector<std::string> args = SplitEmptyValues(argc, argv);
  std::vector<char*> argPointers;
  for (std::string& arg : args) argPointers.push_back(arg.data());
  try {
    app.parse(static_cast<int>(argPointers.size()), argPointers.data());
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? kAllConverted : kBadUsage;
  }

  const bool toStandardOutput = destination == "-";
  if (toStandardOutput && sheets.NamesSheets()) {
    std::fprintf(stderr,
                 "cellverter-cli: -d - writes one CSV file to standard output: it takes at most "
                 "one --sheet and no --all-sheets\n");
    return kBadUsage;
  }
  if (!passwordFile.empty() && !ReadPasswordFile(passwordFile, password)) return kBadUsage;

  std::vector<std::string> workbooks;
  bool stdinRead = false;
  bool allRead = true;
  for (const std::string& path : paths) {
    if (path != "-") {
      allRead &= AddPath(path, includeSubfolders, workbooks);
      continue;
    }
    if (stdinRead) continue;  // standard input holds one list
    stdinRead = true;
    for (std::string line; std::getline(std::cin, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) allRead &= AddPath(line, includeSubfolders, workbooks);
    }
  }

  CsvOptions options;
  options.separator = separator;
  options.encoding = kCsvEncodings[EncodingIndexFromStoredWord(encodingWord)].encoding;
  options.ansiCodePage = UserAnsiCodePage();
  options.maxCells = maxCells;
  options.password = password;
  options.values = *OptionValue(kCellValuesWords, valuesWord);
  options.skipHidden = skipHidden;
  options.fillMerged = fillMerged;
  options.trim = trim;
  options.quoting = *OptionValue(kQuotingWords, quotingWord);
  options.lineEnding = *OptionValue(kLineEndingWords, lineEndingWord);

  if (listSheets) return ListSheets(workbooks, password) && allRead ? kAllConverted : kSomeFailed;

  // Standard output takes the file of one workbook, written first into a private folder so
  // that a workbook failing half-way sends nothing.
  std::string runFolder = destination;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> pathsOut(nullptr, std::fclose);
  if (toStandardOutput) {
    if (workbooks.size() != 1) {
      std::fprintf(stderr,
                   "cellverter-cli: -d - writes one CSV file to standard output: it takes "
                   "exactly one workbook (%zu given)\n",
                   workbooks.size());
      return kBadUsage;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/cellverter-cli.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::fprintf(stderr, "cellverter-cli: cannot make a temporary folder in \"%s\": %s\n",
                   pattern.c_str(), SystemMessage(errno).c_str());
      return kSomeFailed;
    }
    runFolder = pattern;
    // The file is read back and removed at once: it need not wait for the disk.
    options.durability = PendingFile::Durability::kPassing;
    pathsOut.reset(std::fopen("/dev/null", "we"));
    if (!pathsOut) return kSomeFailed;
  }

  CliReport report(workbooks.size(), toStandardOutput ? pathsOut.get() : stdout, stderr,
                   ::isatty(STDERR_FILENO) == 1, nulSeparated);
  const std::set<int> inherited = OpenDescriptors();
  BatchSummary summary;
  {
    // A second interrupt does not wait for the workbooks under way (a large one may still be
    // loading): it removes their unfinished files, lists what was written and ends.
    InterruptWatcher watcher([&] {
      RemoveUnfinishedFiles(runFolder, inherited);
      if (toStandardOutput) ::rmdir(runFolder.c_str());
      report.EndAtOnce(destination);
      ::_exit(kInterrupted);
    });
    report.StopWhen(watcher.Interrupted());
    try {
      summary = RunBatchInParallel(workbooks, runFolder, options, jobs, report, sheets);
    } catch (const Error& error) {
      // Only the empty destination text ends a run this way: a usage error here.
      std::fprintf(stderr, "cellverter-cli: %s\n", error.what());
      return kBadUsage;
    }
    if (toStandardOutput && !CopyToStandardOutput(runFolder)) return kSomeFailed;
    report.Finish(summary, destination);
  }
  if (summary.stopped) return kInterrupted;
  if (!allRead || !summary.destinationReady || summary.failed > 0) return kSomeFailed;
  return kAllConverted;
}

}  // namespace
}  // namespace cellverter

int main(int argc, char** argv) {
  try {
    return cellverter::Run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "cellverter-cli: %s\n", error.what());
    return 1;
  }
}
