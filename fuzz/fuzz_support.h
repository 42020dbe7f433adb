// What the fuzz targets share: their entry point, the bytes as a file, and the reading of a
// whole sheet with the checks of the engine's expectations on a SheetSource.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/error.h"
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

// Hidden lines ascending, disjoint, not touching, from line 1 and within the sheet's `limit`.
inline void CheckLineSpans(const std::vector<LineSpan>& spans, uint32_t limit) {
  for (size_t i = 0; i < spans.size(); ++i) {
    if (spans[i].first == 0 || spans[i].first > spans[i].last || spans[i].last > limit) {
      std::abort();
    }
    if (i > 0 && spans[i].first <= spans[i - 1].last + 1) std::abort();
  }
}

// What the conversion options rely on of the layout: lines as above, merged areas of two
// cells or more with their corners in order and inside the largest sheet.
inline void CheckLayout(const SheetLayout& layout) {
  constexpr uint32_t kRows = 1048576;
  constexpr uint32_t kColumns = 16384;
  CheckLineSpans(layout.hiddenRows, kRows);
  CheckLineSpans(layout.hiddenColumns, kColumns);
  if (layout.mergedAreas.size() > kMaxMergedAreas) std::abort();
  for (const CellArea& area : layout.mergedAreas) {
    if (area.firstRow == 0 || area.firstColumn == 0 || area.firstRow > area.lastRow ||
        area.firstColumn > area.lastColumn || area.lastRow > kRows || area.lastColumn > kColumns ||
        (area.firstRow == area.lastRow && area.firstColumn == area.lastColumn)) {
      std::abort();
    }
  }
}

// What the engine relies on: rows and columns ascending and inside the last used cell, twice
// over (after a rewind), a format for every cell's style, and a sound layout.
inline void ExerciseSheetSource(SheetSource& source) {
  const uint32_t lastRow = source.LastRow();
  const uint32_t lastColumn = source.LastColumn();
  CheckLayout(source.Layout());
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

// Every sheet of the list, and the worksheets among the first few read through (by
// `readSheet`), one after the other from the one workbook; a sheet that fails leaves the
// others to be read.
inline void ExerciseWorkbook(WorkbookSource& workbook,
                             void (*readSheet)(SheetSource&) = ExerciseSheetSource) {
  constexpr size_t kMaxSheetsRead = 8;
  size_t read = 0;
  for (size_t i = 0; i < workbook.Sheets().size(); ++i) {
    const SheetEntry& entry = workbook.Sheets()[i];
    if (entry.name.size() > kMaxSheetNameBytes) std::abort();
    if (entry.kind != SheetKind::kWorksheet || read == kMaxSheetsRead) continue;
    ++read;
    try {
      auto sheet = workbook.OpenSheet(i);
      readSheet(*sheet);
    } catch (const Error&) {
    }
  }
}

// Opens the bytes as a workbook with `open` (path -> SheetSource) and reads the sheet through:
// any bytes must end in rows or in cellverter::Error, never in a crash.
template <typename Open>
int ReadWholeSheet(const uint8_t* data, size_t size, Open open) {
  MemoryFile file(data, size);
  try {
    auto source = open(file.path());
    ExerciseSheetSource(*source);
  } catch (const Error&) {
  }
  return 0;
}

}  // namespace cellverter::fuzzing
