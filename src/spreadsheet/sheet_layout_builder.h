#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "spreadsheet/sheet_source.h"
#include "spreadsheet/workbook_error.h"

namespace cellverter {

// Sorts `spans` and joins those that overlap or touch.
inline void NormaliseLineSpans(std::vector<LineSpan>& spans) {
  std::sort(spans.begin(), spans.end(),
            [](const LineSpan& a, const LineSpan& b) { return a.first < b.first; });
  size_t kept = 0;
  for (const LineSpan& span : spans) {
    if (kept > 0 && span.first <= spans[kept - 1].last + 1) {
      spans[kept - 1].last = std::max(spans[kept - 1].last, span.last);
    } else {
      spans[kept++] = span;
    }
  }
  spans.resize(kept);
}

// Adds lines `first` to `last` (first <= last). Files list rows and columns in order, so a
// span that continues the last one is joined to it at once. Out of order they are sorted and
// joined whenever the list reaches a bound: a file that lists two lines by turns a billion
// times keeps no more than the bound in memory (joined, no more than half a sheet's lines
// remain, so the sorting is rare).
inline void AddLineSpan(std::vector<LineSpan>& spans, uint32_t first, uint32_t last) {
  if (!spans.empty()) {
    LineSpan& back = spans.back();
    if (first <= back.last + 1 && last + 1 >= back.first) {
      back.first = std::min(back.first, first);
      back.last = std::max(back.last, last);
      return;
    }
  }
  constexpr size_t kSortAt = size_t{1} << 20;
  if (spans.size() >= kSortAt) NormaliseLineSpans(spans);
  spans.push_back({first, last});
}

// Which rows are hidden: each row the file gives says so itself; the rows it does not give
// take the sheet's default, which is shown unless the file hides them all.
class RowVisibility {
 public:
  void SetDefaultHidden(bool hidden) { defaultHidden_ = hidden; }
  void Note(uint32_t row, bool hidden) { AddLineSpan(hidden ? hidden_ : shown_, row, row); }

  // The hidden rows of a sheet of `rowCount` rows, ascending and joined.
  std::vector<LineSpan> Finish(uint32_t rowCount) {
    NormaliseLineSpans(hidden_);
    if (!defaultHidden_) return std::move(hidden_);
    // Every row that is not given as shown; a row given both ways stays hidden.
    NormaliseLineSpans(shown_);
    std::vector<LineSpan> hidden = std::move(hidden_);
    uint32_t next = 1;
    for (const LineSpan& span : shown_) {
      if (span.first > next) hidden.push_back({next, span.first - 1});
      next = span.last + 1;
    }
    if (next <= rowCount) hidden.push_back({next, rowCount});
    NormaliseLineSpans(hidden);
    return hidden;
  }

 private:
  bool defaultHidden_ = false;
  std::vector<LineSpan> hidden_;
  std::vector<LineSpan> shown_;
};

// Adds the merged area between two corners given in any order, its columns cut at
// `columnCount`; an area of one cell merges nothing and is left out. Areas that overlap (Excel
// refuses to make them) are kept as the file lists them.
inline void AddMergedArea(std::vector<CellArea>& areas, uint32_t row1, uint32_t column1,
                          uint32_t row2, uint32_t column2, uint32_t columnCount) {
  if (row1 > row2) std::swap(row1, row2);
  if (column1 > column2) std::swap(column1, column2);
  if (column1 > columnCount) return;
  column2 = std::min(column2, columnCount);
  if (row1 == row2 && column1 == column2) return;
  if (areas.size() >= kMaxMergedAreas) ThrowDamaged("there are too many merged areas");
  areas.push_back({row1, column1, row2, column2});
}

}  // namespace cellverter
