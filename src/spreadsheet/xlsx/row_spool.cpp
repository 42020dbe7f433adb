#include "spreadsheet/xlsx/row_spool.h"

#include <algorithm>
#include <iterator>

namespace cellverter {

void RowSpool::FinishRow(uint32_t row, UsedRangeBounds& usedRange) {
  mostRowText_ = std::max(mostRowText_, rowText_);
  mostRowShared_ = std::max(mostRowShared_, rowShared_);
  rowText_ = 0;
  rowShared_ = 0;
  if (used_ == 0) return;
  // The record: the row, its cell count (doubled, plus one when the texts of cells the row
  // gave twice follow them), then the cells. Cells given in order are spooled as written.
  char head[2 * kMaxVarint];
  size_t headSize = PutVarint(row, head);
  std::string_view cells = body_.view();
  if (!rowSorted_) {
    cells = SortedCells();
    headSize +=
        PutVarint(uint64_t{used_} * 2 + (cells.size() > sortedCells_ ? 1 : 0), head + headSize);
  } else {
    headSize += PutVarint(uint64_t{used_} * 2, head + headSize);
  }
  const size_t size = headSize + cells.size();
  if (row <= lastSpooledRow_ || !spooledInOrder_) {
    // Out of order: from here on every record's place is kept, to be served sorted.
    if (spooledInOrder_) orderedEnd_ = spool_.written();
    spooledInOrder_ = false;
    if (indexed_.size() >= kMaxRowRecords) ThrowDamaged("the sheet gives too many rows");
    indexed_.push_back(RowRecord{spool_.written(), row, static_cast<uint32_t>(size)});
  }
  lastSpooledRow_ = row;
  spool_.Append(std::string_view(head, headSize));
  spool_.Append(cells);
  usedRange.AddCell(row, cells_[used_ - 1].column);
  held_ += used_;
  used_ = 0;
  body_.clear();
  rowSorted_ = true;
}

std::string_view RowSpool::SortedCells() {
  const size_t given = used_;
  for (size_t i = 0; i < given; ++i) {
    cells_[i].end = i + 1 < given ? cells_[i + 1].begin : body_.size();
  }
  used_ = KeepLastOfEachColumn(cells_, used_);
  auto bytesOf = [this](const PendingCell& cell) {
    return body_.view().substr(cell.begin, cell.end - cell.begin);
  };
  record_.clear();
  for (size_t i = 0; i < used_; ++i) record_ += bytesOf(cells_[i]);
  sortedCells_ = record_.size();
  // The texts of the cells given twice still count toward the row's text, which is known only
  // once the shared strings are: they follow the cells.
  overridden_.clear();
  uint64_t overriddenText = 0;
  size_t overriddenShared = 0;
  for (size_t i = used_; i < given; ++i) {
    RecordCursor cell(bytesOf(cells_[i]));
    cell.ReadVarint();  // column
    cell.ReadVarint();  // style
    const std::string_view value = cell.Rest();
    if (value.empty()) continue;
    if (value[0] == static_cast<char>(kShared)) {
      overridden_ += value.substr(1);
      ++overriddenShared;
    } else if (value[0] == static_cast<char>(kInline) ||
               value[0] == static_cast<char>(kErrorCode)) {
      cell.ReadByte();
      overriddenText += cell.ReadVarint();
    }
  }
  if (!overridden_.empty() || overriddenText > 0) {
    AppendVarint(overriddenText, record_);
    AppendVarint(overriddenShared, record_);
    record_ += overridden_;
  }
  return record_;
}

void RowSpool::FinishWriting() {
  spool_.FinishWriting();
  if (!spooledInOrder_) IndexRowsInOrder();
}

void RowSpool::SettleSharedStrings(RepairLog& repairs) {
  for (const SharedReach& reach : reach_) {
    if (reach.highest >= shared_.size()) {
      repairs.NoteAt(reach.notes, kMissingSharedStringRepair);
      break;
    }
  }
  // The rows are read through only when the longest string repeated in the row with the most
  // of them could pass the bound.
  if (mostRowShared_ > 0 &&
      mostRowText_ + uint64_t{mostRowShared_} * shared_.MaxLength() > kMaxRowText) {
    CheckRowText();
  }
}

// Every record in the order it was written, as the scan met the rows.
void RowSpool::CheckRowText() {
  SheetRow row;
  while (!spool_.AtEnd()) {
    uint64_t text = ReadRecord<true>(spool_, row);
    for (const SheetCell& cell : row.cells) text += cell.value.text.size();
    if (text > kMaxRowText) ThrowDamaged("a row holds too much text");
  }
  spool_.Rewind();
}

// The records before the first one out of order were not indexed as they were spooled:
// their places are found by reading them once, then all are sorted by row, stably, so that
// of a row given twice the later record comes later.
void RowSpool::IndexRowsInOrder() {
  std::vector<RowRecord> front;
  SheetRow scratch;
  while (spool_.Tell() < orderedEnd_) {
    const uint64_t start = spool_.Tell();
    ReadRecord<false>(spool_, scratch);
    front.push_back(RowRecord{start, scratch.row, static_cast<uint32_t>(spool_.Tell() - start)});
  }
  if (front.size() + indexed_.size() > kMaxRowRecords) {
    ThrowDamaged("the sheet gives too many rows");
  }
  indexed_.insert(indexed_.begin(), front.begin(), front.end());
  std::stable_sort(indexed_.begin(), indexed_.end(),
                   [](const RowRecord& a, const RowRecord& b) { return a.row < b.row; });
  spool_.Rewind();
}

void RowSpool::ReadIndexedRecord(size_t i, SheetRow& row) {
  spool_.ReadAt(indexed_[i].offset, indexed_[i].size, record_);
  RecordCursor cursor(record_);
  ReadRecord<true>(cursor, row);
}

bool RowSpool::NextIndexedRow(SheetRow& row) {
  if (nextIndexed_ == indexed_.size()) return false;
  ReadIndexedRecord(nextIndexed_++, row);
  // A row given again is one row, as LibreOffice reads it: the later of two cells in one
  // place stands. Its cells gather behind the merged ones and are merged when they are as
  // many or hold a row's worth of text: a row given a million times costs no more than the
  // cells it gives, and memory stays within three rows' text.
  size_t merged = row.cells.size();
  size_t gatheredText = 0;
  auto merge = [&] {
    merged = KeepLastOfEachColumn(row.cells, row.cells.size());
    row.cells.resize(merged);
    size_t text = 0;
    for (const SheetCell& cell : row.cells) text += cell.value.text.size();
    if (text > kMaxRowText) ThrowDamaged("a row holds too much text");
    gatheredText = 0;
  };
  while (nextIndexed_ < indexed_.size() && indexed_[nextIndexed_].row == row.row) {
    ReadIndexedRecord(nextIndexed_++, repeated_);
    for (const SheetCell& cell : repeated_.cells) gatheredText += cell.value.text.size();
    row.cells.insert(row.cells.end(), std::make_move_iterator(repeated_.cells.begin()),
                     std::make_move_iterator(repeated_.cells.end()));
    if (row.cells.size() - merged >= merged || gatheredText > kMaxRowText) merge();
  }
  if (row.cells.size() != merged) merge();
  return true;
}

}  // namespace cellverter
