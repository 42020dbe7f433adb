// What the reader fuzz targets share: the bytes as a file, the checks of the engine's
// expectations on a SheetSource, and the replay of saved inputs in ordinary builds.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "spreadsheet/sheet_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace cellverter::fuzzing {

// The readers open files by name; a memory file keeps the fuzzer off the disk.
class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size) : fd_(::memfd_create("workbook", MFD_CLOEXEC)) {
    for (size_t done = 0; fd_ >= 0 && done < size;) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  ~MemoryFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};

// What the engine relies on: rows and columns ascending and inside the last used cell, twice
// over (after a rewind), and a format for every cell's style.
inline void ExerciseSheetSource(SheetSource& source) {
  const uint32_t lastRow = source.LastRow();
  const uint32_t lastColumn = source.LastColumn();
  SheetRow row;
  for (int pass = 0; pass < 2; ++pass) {
    uint32_t previousRow = 0;
    while (source.NextRow(row)) {
      if (row.row <= previousRow || row.row > lastRow) std::abort();
      previousRow = row.row;
      uint32_t previousColumn = 0;
      for (const SheetCell& cell : row.cells) {
        if (cell.column <= previousColumn || cell.column > lastColumn) std::abort();
        previousColumn = cell.column;
        source.CellFormat(cell.styleIndex);
      }
    }
    source.Rewind();
  }
}

// Feeds every file named, and every file in every folder named, to the fuzz target.
inline int ReplayMain(int argc, char** argv) {
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

}  // namespace cellverter::fuzzing
