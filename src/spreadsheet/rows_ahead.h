#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "spreadsheet/numfmt/number_format.h"
#include "spreadsheet/sheet_source.h"

namespace cellverter {

// The number format of each cell format of a sheet, compiled once per cell format.
class StyleFormats {
 public:
  explicit StyleFormats(const FormatLocale& locale) : formats_(locale) {}

  [[gnu::always_inline]] const NumberFormat& Of(const SheetSource& source, uint32_t style) {
    if (style >= kCachedStyles) return formats_.Get(source.CellFormat(style));
    if (style >= byStyle_.size()) byStyle_.resize(style + 1, nullptr);
    const NumberFormat*& slot = byStyle_[style];
    if (slot == nullptr) slot = &formats_.Get(source.CellFormat(style));
    return *slot;
  }
  const FormatLocale& Locale() const { return formats_.locale(); }
  // Appends the displayed text of `cell` (nothing for an empty one).
  [[gnu::always_inline]] void AppendText(const SheetSource& source, const SheetCell& cell,
                                         bool date1904, std::string& out) {
    if (cell.value.kind == CellValue::Kind::Empty) return;
    Of(source, cell.styleIndex).Render(cell.value, date1904, out);
  }

 private:
  static constexpr uint32_t kCachedStyles = 1 << 16;

  NumberFormatCache formats_;
  std::vector<const NumberFormat*> byStyle_;
};

// A sheet's rows read from its source on a thread of their own, a few batches ahead of the
// reader, with the displayed text of every cell rendered there too: a conversion then only
// copies texts into lines while the other core decodes and formats. The source is used by
// that thread alone while it runs (Pause() stops it, keeping the rows it has read); the rest
// of the source (its layout, cell formats, bounds) is read-only by then and stays usable.
// An error of the source reaches the reader where it would have met it: after the rows
// before it.
class RowsAhead {
 public:
  RowsAhead(SheetSource& source, const FormatLocale& locale);
  ~RowsAhead() { Pause(); }
  RowsAhead(const RowsAhead&) = delete;
  RowsAhead& operator=(const RowsAhead&) = delete;

  // The next row, or null at the end: valid until the next call of Next() or the end of this
  // object (Pause() keeps it).
  const SheetRow* Next();
  // The row last given as rendered ahead: its cells' columns and displayed texts, and how many
  // of them hold a value. The reader then needs nothing of the row's cells, whose memory stays
  // with the thread that wrote them.
  struct Rendered {
    const uint32_t* columns = nullptr;
    const size_t* ends = nullptr;  // cell i's text is [ends[i], ends[i + 1]) of `texts`
    const char* texts = nullptr;
    size_t cells = 0;
    size_t values = 0;
    std::string_view Text(size_t i) const { return {texts + ends[i], ends[i + 1] - ends[i]}; }
  };
  // Null when the row last given was not rendered ahead.
  const Rendered* RenderedRow() const { return rowRendered_ ? &rendered_ : nullptr; }
  // The reader asks for values rather than texts: batches from here on are not rendered.
  void TextsNotWanted() { textsWanted_.store(false, std::memory_order_relaxed); }
  // Stops the thread, keeping the rows read; the next Next() starts it again from there.
  void Pause();

 private:
  struct Batch {
    std::vector<SheetRow> rows;
    size_t count = 0;  // rows in use
    // The first `renderedRows` rows have their texts: per row, the start of each cell's text
    // in `texts` and the end of its last one; `firstText[r]` is where row r's entries begin,
    // `columns` (one per cell, from firstText[r] - r) gives the cells' columns and
    // `values[r]` how many cells of row r hold a value.
    size_t renderedRows = 0;
    std::vector<size_t> textEnds;
    std::vector<size_t> firstText;
    std::vector<uint32_t> columns;
    std::vector<uint32_t> values;
    std::string texts;
    bool end = false;          // the source has no rows after these
    std::exception_ptr error;  // what the source threw after these rows
  };

  // Starts the thread, or fills the next batch here when no thread can be had.
  void Start();
  void Run();
  // Fills `batch` and hands it to the reader; false when the source has nothing more.
  bool FillAndHandOver(Batch& batch);
  // Fills `batch` from the source, with the cells' texts while texts are wanted and the
  // reader does not wait; false when the source has nothing more to give.
  bool Fill(Batch& batch);

  SheetSource& source_;
  StyleFormats formats_;  // the thread's own
  const bool date1904_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Batch> batches_;  // every batch, never moved once made
  std::vector<Batch*> free_;   // for the thread to fill
  std::deque<Batch*> full_;    // for the reader, in order
  // Read by the thread at every row: kept off the cache line of the reader's fields below,
  // which the reader writes at every row.
  alignas(64) std::atomic<bool> stop_{false};
  std::atomic<bool> readerWaits_{false};  // the reader waits for a batch
  bool finished_ = false;                 // the thread met the end of the source or an error
  std::atomic<bool> textsWanted_{true};
  std::thread thread_;

  // The reader's side.
  alignas(64) Batch* current_ = nullptr;
  size_t next_ = 0;           // next row of `current_`
  Rendered rendered_;         // the last row given, when it has its texts
  bool rowRendered_ = false;  // whether the last row given has its texts
};

}  // namespace cellverter
