#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "spreadsheet/sheet_source.h"
#include "spreadsheet/used_range_bounds.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/xlsx/sheet_spool.h"

namespace cellverter {

// Bounds of the shared strings table of the Excel 2007 package formats (.xlsx and .xlsb).
inline constexpr uint64_t kMaxSharedText = uint64_t{1} << 30;
inline constexpr size_t kMaxSharedStrings = 16 << 20;
// Row records of a sheet whose rows come out of order, each indexed in memory (16 bytes):
// every row once, and as many again given twice.
inline constexpr size_t kMaxRowRecords = size_t{kMaxSheetRows} * 2;

// The shared strings table, compact: the texts end to end in a spool (memory up to a bound,
// then an unlinked temporary file) and the end offset of each. A package may inflate to a
// gigabyte of strings; that costs disk, not memory.
// Written by one thread (possibly beside the sheet's scan); once FinishWriting() is done the
// reading members are const and touch no shared mutable state, so rows may be served from
// any thread.
class SharedStrings {
 public:
  explicit SharedStrings(size_t memoryLimit) : text_(memoryLimit) {}
  size_t size() const { return ends_.size(); }
  size_t Length(size_t i) const { return ends_[i] - Begin(i); }
  // The length of the longest string.
  size_t MaxLength() const { return maxLength_; }
  void Add(std::string_view s) {
    if (text_.written() + s.size() > kMaxSharedText || ends_.size() >= kMaxSharedStrings) {
      ThrowDamaged("the shared strings are too large");
    }
    text_.Append(s);
    ends_.push_back(static_cast<uint32_t>(text_.written()));
    maxLength_ = std::max(maxLength_, s.size());
  }
  void FinishWriting() { text_.FinishWriting(); }
  void Get(size_t i, std::string& out) const { text_.ReadAt(Begin(i), Length(i), out); }

 private:
  uint32_t Begin(size_t i) const { return i == 0 ? 0 : ends_[i - 1]; }

  SheetSpool text_;
  std::vector<uint32_t> ends_;  // kMaxSharedText keeps them in 32 bits
  size_t maxLength_ = 0;
};

// Sorts cells [0, used) by column; of two cells in one place the later one stands, as the
// last write would. Returns how many are kept, in front.
template <class Cell>
size_t KeepLastOfEachColumn(std::vector<Cell>& cells, size_t used) {
  std::stable_sort(cells.begin(), cells.begin() + static_cast<ptrdiff_t>(used),
                   [](const Cell& a, const Cell& b) { return a.column < b.column; });
  size_t kept = 0;
  for (size_t i = 0; i < used; ++i) {
    if (kept > 0 && cells[kept - 1].column == cells[i].column) {
      std::swap(cells[kept - 1], cells[i]);
    } else {
      if (kept != i) std::swap(cells[kept], cells[i]);
      ++kept;
    }
  }
  return kept;
}

// The cells of one sheet, spooled once row by row as a reader meets them (memory up to a
// bound, then an unlinked temporary file) and served back in row order any number of times.
// Rows given out of order, or twice, are served sorted, one row each: the later of two cells
// in one place stands, as LibreOffice and Excel read them.
// The shared strings table may still be loading while the rows are written: what depends on
// it (a string that does not exist, the text a row repeats) is settled by
// SettleSharedStrings() once it is complete, before the first row is served.
class RowSpool {
 public:
  RowSpool(size_t memoryLimit, const SharedStrings& shared)
      : spool_(memoryLimit), shared_(shared) {}

  // Writing. A cell of the current row at `column`, of cell format `style`: its value follows
  // in the returned bytes, by one of the Put functions below or sheet_spool.h's AppendSpooled
  // functions. The cells are written where the row's record will take them, in the order
  // given; FinishRow reorders them only when they came out of order.
  SpoolBytes& AddCell(uint32_t column, uint32_t style) {
    if (used_ >= kMaxSheetColumns * 2) ThrowDamaged("a row holds too many cells");
    if (used_ == cells_.size()) cells_.emplace_back();
    if (used_ > 0 && cells_[used_ - 1].column >= column) rowSorted_ = false;
    cells_[used_++] = PendingCell{column, body_.size(), 0};
    char* at = body_.Room(2 * kMaxVarint);
    at += PutVarint(column, at);
    body_.Commit(at + PutVarint(style, at));
    return body_;
  }
  // The values that count toward the row's text; the others are written into the cell's
  // bytes by sheet_spool.h's AppendSpooled functions.
  // A shared string, by its index; `repairs` is the sheet's log. The table is not looked
  // into here (it may still be loading): SettleSharedStrings() checks the index.
  void PutShared(SpoolBytes& bytes, uint64_t index, const RepairLog& repairs) {
    AppendKindAndVarint(kShared, index, bytes);
    ++rowShared_;
    // The highest index met while the log held so many notes, to place the repair of a
    // missing string where meeting it would have noted it.
    const size_t notes = repairs.Notes().size();
    if (reach_.empty() || reach_.back().notes != notes) {
      reach_.push_back(SharedReach{notes, index});
    } else if (index > reach_.back().highest) {
      reach_.back().highest = index;
    }
  }
  // A text of the cell itself (kInline) or an error code (kErrorCode).
  void PutText(SpoolBytes& bytes, SpoolKind kind, std::string_view text) {
    AppendSpooledText(kind, text, bytes);
    CountRowText(text.size());
  }

  // Ends row `row` (1-based): its cells go to the spool and widen `usedRange`.
  void FinishRow(uint32_t row, UsedRangeBounds& usedRange);
  // Ends the writing. The shared strings table may still be loading.
  void FinishWriting();
  // Once the writing is finished and the shared strings table is complete: a shared string
  // that does not exist is an empty cell, as Excel and LibreOffice show it, noted in `repairs`
  // as though when the first cell met it; a row whose texts, shared ones repeated included,
  // pass kMaxRowText is damage. The rows can be read from here on.
  void SettleSharedStrings(RepairLog& repairs);
  uint64_t CellsHeld() const { return held_; }

  // Reading: the rows in ascending order.
  bool NextRow(SheetRow& row) {
    if (!indexed_.empty()) return NextIndexedRow(row);
    if (spool_.AtEnd()) return false;
    ReadRecord<true>(spool_, row);
    return true;
  }
  void Rewind() {
    spool_.Rewind();
    nextIndexed_ = 0;
  }

 private:
  // Where a row record lies in the spool, for the rows served out of file order.
  struct RowRecord {
    uint64_t offset;
    uint32_t row;
    uint32_t size;
  };
  // A cell of the row being written: its bytes (column, style, value) in `body_` from `begin`
  // up to `end`, which FinishRow sets.
  struct PendingCell {
    uint32_t column;
    size_t begin;
    size_t end;
  };
  static constexpr size_t kMaxVarint = 10;  // bytes of a 64-bit varint

  // One spooled row record read back whole, for the rows served out of file order; or a
  // cell's bytes.
  class RecordCursor {
   public:
    explicit RecordCursor(std::string_view bytes) : bytes_(bytes) {}
    uint8_t ReadByte() {
      if (pos_ == bytes_.size()) SpoolCorrupt("the sheet spool is corrupt");
      return static_cast<uint8_t>(bytes_[pos_++]);
    }
    uint64_t ReadVarint() { return ReadVarintFrom(*this); }
    void ReadBytes(size_t size, std::string& out) {
      if (size > bytes_.size() - pos_) SpoolCorrupt("the sheet spool is corrupt");
      out.assign(bytes_.substr(pos_, size));
      pos_ += size;
    }
    std::string_view Rest() const { return bytes_.substr(pos_); }

   private:
    std::string_view bytes_;
    size_t pos_ = 0;
  };

  // The highest shared string index met while the sheet's repair log held `notes` notes.
  struct SharedReach {
    size_t notes;
    uint64_t highest;
  };

  // A row is read whole: the texts it repeats count as much as its own.
  void CountRowText(size_t size) {
    rowText_ += size;
    if (rowText_ > kMaxRowText) ThrowDamaged("a row holds too much text");
  }
  // One row record; with `kTexts` false its shared strings are left unread (the table may
  // still be loading). Returns the text of the cells the row gave twice that the record keeps
  // only for the row text bound (zero when !kTexts).
  template <bool kTexts, class Reader>
  uint64_t ReadRecord(Reader& in, SheetRow& row) const;
  // Of a row whose cells came out of order: its cells sorted, one per column, and behind
  // them the texts of those given twice; `sortedCells_` is where those begin.
  std::string_view SortedCells();
  void CheckRowText();
  void IndexRowsInOrder();
  bool NextIndexedRow(SheetRow& row);
  void ReadIndexedRecord(size_t i, SheetRow& row);

  SheetSpool spool_;
  const SharedStrings& shared_;

  // The row being written.
  std::vector<PendingCell> cells_;
  SpoolBytes body_;       // the cells' bytes
  size_t used_ = 0;       // cells in use of `cells_`
  size_t rowText_ = 0;    // of the row's own texts
  size_t rowShared_ = 0;  // shared strings the row refers to
  bool rowSorted_ = true;

  // For SettleSharedStrings(): the highest indexes met, and what bounds a row's text.
  std::vector<SharedReach> reach_;
  size_t mostRowText_ = 0;
  size_t mostRowShared_ = 0;
  std::string overridden_;  // the texts a row gave twice, spooled behind its cells
  size_t sortedCells_ = 0;

  // What went to the spool.
  std::string record_;
  uint32_t lastSpooledRow_ = 0;
  bool spooledInOrder_ = true;
  uint64_t orderedEnd_ = 0;  // where the spool's first record out of order starts
  uint64_t held_ = 0;

  // When the rows came out of order: every record's place, in row order; empty when they
  // came in order and the spool is read straight through.
  std::vector<RowRecord> indexed_;
  size_t nextIndexed_ = 0;
  SheetRow repeated_;  // the cells of a row given again
};

// One row record as FinishRow spooled it, from the spool or from a RecordCursor: the row, its
// cell count (doubled, plus one when the texts of cells the row gave twice follow them), the
// cells, and then those texts: their own length, and the shared strings they referred to.
template <bool kTexts, class Reader>
uint64_t RowSpool::ReadRecord(Reader& in, SheetRow& row) const {
  row.row = static_cast<uint32_t>(in.ReadVarint());
  const uint64_t counted = in.ReadVarint();
  row.cells.resize(static_cast<size_t>(counted >> 1));
  for (SheetCell& cell : row.cells) {
    cell.column = static_cast<uint32_t>(in.ReadVarint());
    cell.styleIndex = static_cast<uint32_t>(in.ReadVarint());
    ReadSpooledValue(
        in,
        [this](size_t i, std::string& text) {
          if (!kTexts) return true;
          if (i >= shared_.size()) return false;
          shared_.Get(i, text);
          return true;
        },
        cell.value);
  }
  if ((counted & 1) == 0) return 0;
  uint64_t overridden = in.ReadVarint();
  for (uint64_t n = in.ReadVarint(); n > 0; --n) {
    const uint64_t i = in.ReadVarint();
    if (kTexts && i < shared_.size()) overridden += shared_.Length(static_cast<size_t>(i));
  }
  return kTexts ? overridden : 0;
}

}  // namespace cellverter
