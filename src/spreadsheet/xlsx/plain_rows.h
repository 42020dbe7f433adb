#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "spreadsheet/container/prefetch_stream.h"

namespace cellverter {

// A <row> of <sheetData> in the plain shape that most writers produce, read in place: views into
// the scanned bytes, which stay valid while those bytes do.
struct PlainCell {
  // The raw values of the r, s and t attributes (the first of each), empty when missing.
  std::string_view ref;
  std::string_view style;
  std::string_view type;
  // The text of the last <v>, or of the <t> of <is>: no entity, no carriage return in it.
  std::string_view value;
  bool hasValue = false;
  bool hasFormula = false;
};

struct PlainRow {
  // The raw values of the row's attributes that the reader reads.
  std::string_view number;  // r
  std::string_view hidden;
  std::string_view customFormat;
  std::string_view customHeight;
  std::vector<PlainCell> cells;  // the first `used` hold the row's cells
  size_t used = 0;
};

enum class PlainRowScan : uint8_t {
  kRow,       // a whole plain row, `length` bytes from the start, blanks before it included
  kMore,      // the bytes end inside the row: scan again with more of them
  kNotPlain,  // anything else: the general XML scanner takes it from the start
};

// Scans the row at the start of `bytes`, which follow the start of <sheetData> or the end of a
// row, in a part whose default namespace there is SpreadsheetML's. The plain shape is a subset
// of what the general scanner reads to the same events: unprefixed <row>, <c>, <v>, <f>, <is>
// holding one <t>, blanks between them, no namespace declaration, comment, processing
// instruction or CDATA, no entity in a value and only the five predefined ones in a formula,
// values of at most `maxValue` bytes, at most `maxCells` cells. Whatever falls outside it, well
// formed or not, is kNotPlain, so that the general scanner gives it its usual meaning or error.
PlainRowScan ScanPlainRow(std::string_view bytes, PlainRow& row, size_t& length, size_t maxValue,
                          size_t maxCells);

// The plain rows of a part's chunks, scanned on the prefetching thread (ChunkObserver) while
// the reader scans the chunks before them. ScanPlainRow reads nothing but the bytes from where
// it starts, so a row found at an offset of the part is the row the reader would find there:
// the reader takes it when it reaches that offset between rows, and scans for itself wherever
// nothing was found (the row across two chunks, the first of a chunk after blanks). What it
// keeps is bounded: the results of the last few chunks, each at most the chunk's size.
class PlainRowsAhead final : public ChunkObserver {
 public:
  PlainRowsAhead(size_t maxValue, size_t maxCells) : maxValue_(maxValue), maxCells_(maxCells) {}

  void Observe(uint64_t offset, std::string_view chunk,
               const std::atomic<bool>& readerWaits) noexcept override;

  // The row found at `offset` of the part, whose bytes `bytes` begin with: into `row`, as views
  // into `bytes`, with its length. False when none was found there, or `bytes` ends inside it.
  bool Take(uint64_t offset, std::string_view bytes, PlainRow& row, size_t& length);

  // The reader takes no more rows: the chunks still to come are left alone.
  void Stop() { stopped_.store(true, std::memory_order_relaxed); }

 private:
  struct Span {  // of the row's bytes, from its start
    uint32_t at = 0;
    uint32_t size = 0;
  };
  // A cell's views as offsets from the row's start, 28 bytes: a row with an r, s or t value
  // past 65,535 bytes is left to the reader.
  struct Cell {
    uint32_t refAt, styleAt, typeAt, valueAt, valueSize;
    uint16_t refSize, styleSize, typeSize;
    bool hasValue, hasFormula;
  };
  struct Row {
    uint64_t offset = 0;
    uint32_t length = 0;
    uint32_t firstCell = 0;
    uint32_t cellCount = 0;
    Span number, hidden, customFormat, customHeight;
  };
  struct Block {  // the rows found in one chunk
    uint64_t begin = 0;
    uint64_t end = 0;
    std::vector<Row> rows;  // ascending offsets
    std::vector<Cell> cells;
  };
  // The prefetching runs at most a few chunks ahead of the reader: the chunks it queues, the
  // one the reader reads and the one it fills.
  static constexpr size_t kBlocks = 5;

  // Keeps a row found in `block`; one with an attribute too long for a Cell is left to the
  // reader.
  void Keep(const PlainRow& scanned, uint64_t offset, size_t length, const char* start,
            Block& block);

  const size_t maxValue_;
  const size_t maxCells_;
  std::atomic<bool> stopped_{false};
  PlainRow scratch_;      // the prefetching thread's
  size_t lastCells_ = 0;  // the cells kept from the chunk before, to size the next block
  std::mutex mutex_;
  // A block given up by its last holder, under mutex_: kept for a chunk to come, so that the
  // blocks' memory is written again rather than mapped afresh (a page fault every 4 KiB).
  void Recycle(std::shared_ptr<Block>& block);

  std::deque<std::shared_ptr<Block>> blocks_;  // guarded by mutex_
  std::vector<std::shared_ptr<Block>> spare_;  // guarded by mutex_
  std::shared_ptr<Block> current_;             // the reader's; set and dropped under mutex_
  size_t next_ = 0;  // the reader's: the row of `current_` after the one it took last
};

}  // namespace cellverter
