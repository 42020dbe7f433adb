// libFuzzer target for the whole conversion of one workbook (.xlsx or .xls, told apart by
// content) to CSV files, its first worksheet or all of them: readers, cell formats, displayed
// texts, CSV quoting, encoders and the writer. Any bytes must end in a published CSV file or in
// cellverter::Error with nothing left in the output folder, never in a crash or a hang. Built with
// -DCELLVERTER_FUZZ=ON (clang) it fuzzes, with a mutator that keeps .xlsx checksums right; in the
// test build it replays its seeds.
//
// The CSV and conversion options follow from the input's length, so that every encoding,
// separator and option is reached and a saved input converts the same way again. The CSV file is
// limited to 8 MiB (RLIMIT_FSIZE): the used range may rightly ask for gigabytes of separators, and
// the limit turns that into a write error at once. Run the fuzzer with its log on a pipe, not a
// file.
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/output_path.h"
#include "convert/workbook_to_csv.h"
#include "fuzz_support.h"
#include "platform/error.h"
#ifdef CELLVERTER_LIBFUZZER
#include "fuzz_zip_mutator.h"
#endif

namespace {

class OutputFolder {
 public:
  OutputFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fuzz-convert-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = rlim_t{8} << 20;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~OutputFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const OutputFolder folder;
  static const char* const kSeparators[] = {",", ";", "\t"};
  static const int kCodePages[] = {1252, 1251, 932};
  cellverter::CsvOptions options;
  options.encoding = static_cast<cellverter::CsvEncoding>(size % 5);
  options.separator = kSeparators[size / 5 % 3];
  options.ansiCodePage = kCodePages[size / 15 % 3];
  // Each conversion option on one length in two, three, ..., so that their mixes are met too.
  options.values =
      size / 90 % 2 == 1 ? cellverter::CellValues::kRaw : cellverter::CellValues::kDisplayed;
  options.fillMerged = size / 180 % 3 != 0;
  options.skipHidden = size / 540 % 2 == 1;
  options.trim = size / 1080 % 2 == 1;
  options.quoting =
      size / 2160 % 2 == 1 ? cellverter::CsvQuoting::kAll : cellverter::CsvQuoting::kMinimal;
  options.lineEnding = size % 7 == 0 ? cellverter::LineEnding::kLf : cellverter::LineEnding::kCrLf;

  // Every other length converts every worksheet, each into a file named after its sheet.
  cellverter::SheetChoice choice;
  choice.all = size / 45 % 2 == 1;
  const std::string destination = folder.path().string();

  cellverter::fuzzing::MemoryFile file(data, size);
  try {
    const std::vector<std::string> written = cellverter::ConvertWorkbookToCSV(
        file.path(), choice,
        [&](const std::string& sheet) {
          return cellverter::UniqueFileName(
              choice.all ? cellverter::OutputPathForSheet(destination, "book.xlsx", sheet)
                         : destination + "/book.csv");
        },
        options);
    for (const std::string& path : written) {
      if (std::filesystem::path(path).parent_path() != folder.path()) std::abort();
      std::filesystem::remove(path);
    }
  } catch (const cellverter::Error&) {
  }
  // A failed conversion leaves nothing behind; a published one left only its file.
  if (!std::filesystem::is_empty(folder.path())) std::abort();
  return 0;
}
