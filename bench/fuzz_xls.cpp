// libFuzzer target for the .xls reader: any bytes must end in rows or in cellverter::Error,
// never in a crash, a hang or unbounded memory. Built with -DCELLVERTER_FUZZ=ON (clang) it
// fuzzes; in the ordinary build it replays the files and folders named on its command line,
// so that the seed corpus runs as a test.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/error.h"
#include "spreadsheet/xls_reader.h"

namespace {

// The reader opens files by name; a memory file keeps the fuzzer off the disk.
class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size) : fd_(::memfd_create("xls", MFD_CLOEXEC)) {
    for (size_t done = 0; fd_ >= 0 && done < size;) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  ~MemoryFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};

void Exercise(cellverter::SheetSource& source) {
  const uint32_t lastRow = source.LastRow();
  const uint32_t lastColumn = source.LastColumn();
  cellverter::SheetRow row;
  for (int pass = 0; pass < 2; ++pass) {
    while (source.NextRow(row)) {
      if (row.row > lastRow) std::abort();
      for (const cellverter::SheetCell& cell : row.cells) {
        if (cell.column > lastColumn) std::abort();
        source.CellFormat(cell.styleIndex);
      }
    }
    source.Rewind();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFile file(data, size);
  try {
    auto source = cellverter::OpenXlsSource(file.path());
    Exercise(*source);
  } catch (const cellverter::Error&) {
  }
  return 0;
}

#ifndef CELLVERTER_LIBFUZZER
int main(int argc, char** argv) {
  int replayed = 0;
  auto replay = [&](const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++replayed;
  };
  for (int i = 1; i < argc; ++i) {
    if (std::filesystem::is_directory(argv[i])) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
        if (entry.is_regular_file()) replay(entry.path());
      }
    } else {
      replay(argv[i]);
    }
  }
  std::printf("replayed %d inputs\n", replayed);
  return replayed > 0 ? 0 : 1;
}
#endif
