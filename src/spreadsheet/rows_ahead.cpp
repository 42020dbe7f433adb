#include "spreadsheet/rows_ahead.h"

#include <system_error>
#include <utility>

namespace cellverter {
namespace {

// Three batches: one being read, one ready, one being filled. A batch ends after this many
// cells (a row counting one more) or this much text, read or rendered, so the rows ahead cost
// about a megabyte, or a few rows when rows are larger than that.
constexpr size_t kBatches = 3;
constexpr size_t kBatchCells = 4096;
constexpr size_t kBatchText = size_t{1} << 20;

// A row slot keeps what its row needs, not what a larger row left behind in it: the batches
// then hold about what their rows hold, whatever came before. Gives the bytes of the row's
// texts.
size_t ReleaseSlack(SheetRow& row) {
  if (row.cells.capacity() > 2 * row.cells.size() + 64) row.cells.shrink_to_fit();
  size_t bytes = 0;
  for (SheetCell& cell : row.cells) {
    std::string& text = cell.value.text;
    if (text.capacity() > 2 * text.size() + 256) text.shrink_to_fit();
    bytes += text.size();
  }
  return bytes;
}

}  // namespace

RowsAhead::RowsAhead(SheetSource& source, const FormatLocale& locale)
    : source_(source), formats_(locale), date1904_(source.Date1904()) {
  for (size_t i = 0; i < kBatches; ++i) free_.push_back(&batches_.emplace_back());
}

const SheetRow* RowsAhead::Next() {
  while (current_ == nullptr || next_ == current_->count) {
    if (current_ != nullptr) {
      if (current_->error) std::rethrow_exception(current_->error);
      if (current_->end) return nullptr;
      {
        const std::lock_guard lock(mutex_);
        free_.push_back(current_);
      }
      changed_.notify_all();
      current_ = nullptr;
    }
    if (!thread_.joinable() && !finished_) Start();
    std::unique_lock lock(mutex_);
    if (full_.empty()) {
      readerWaits_.store(true, std::memory_order_relaxed);
      changed_.wait(lock, [&] { return !full_.empty(); });
      readerWaits_.store(false, std::memory_order_relaxed);
    }
    current_ = full_.front();
    full_.pop_front();
    next_ = 0;
  }
  // Lent, neither copied nor swapped: a copy costs the reader the row's texts once more, and
  // handing the reader's row memory to the thread made every write of the thread into it a
  // cache miss (measured: the thread took twice as long). The batch is the thread's again
  // only once the reader has moved past its last row.
  rowRendered_ = next_ < current_->renderedRows;
  if (rowRendered_) {
    const size_t first = current_->firstText[next_];
    rendered_.columns = current_->columns.data() + (first - next_);
    rendered_.ends = current_->textEnds.data() + first;
    rendered_.texts = current_->texts.data();
    rendered_.cells = current_->rows[next_].cells.size();
    rendered_.values = current_->values[next_];
  }
  return &current_->rows[next_++];
}

void RowsAhead::Start() {
  stop_ = false;
  try {
    thread_ = std::thread(&RowsAhead::Run, this);
  } catch (const std::system_error&) {
    // No thread to be had: the reader fills the next batch itself (when every batch is
    // filled already, it reads those first).
    if (free_.empty()) return;
    Batch* batch = free_.back();
    free_.pop_back();
    FillAndHandOver(*batch);
  }
}

void RowsAhead::Pause() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void RowsAhead::Run() {
  for (;;) {
    Batch* batch = nullptr;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || !free_.empty(); });
      if (stop_) return;
      batch = free_.back();
      free_.pop_back();
    }
    if (!FillAndHandOver(*batch)) return;
  }
}

bool RowsAhead::FillAndHandOver(Batch& batch) {
  const bool more = Fill(batch);
  {
    const std::lock_guard lock(mutex_);
    full_.push_back(&batch);
    if (!more) finished_ = true;
  }
  changed_.notify_all();
  return more;
}

bool RowsAhead::Fill(Batch& batch) {
  batch.count = 0;
  batch.textEnds.clear();
  batch.firstText.clear();
  batch.columns.clear();
  batch.values.clear();
  batch.texts.clear();
  // The texts of a very large row are not kept for the batches after it.
  if (batch.texts.capacity() > 2 * kBatchText) std::string().swap(batch.texts);
  batch.renderedRows = 0;
  bool render = textsWanted_.load(std::memory_order_relaxed);
  batch.end = false;
  batch.error = nullptr;
  try {
    size_t cells = 0;
    size_t text = 0;
    while (cells < kBatchCells && text < kBatchText && batch.texts.size() < kBatchText &&
           !stop_.load(std::memory_order_relaxed)) {
      if (batch.count == batch.rows.size()) batch.rows.emplace_back();
      SheetRow& row = batch.rows[batch.count];
      if (!source_.NextRow(row)) {
        batch.end = true;
        return false;
      }
      text += ReleaseSlack(row);
      ++batch.count;
      cells += row.cells.size() + 1;
      // While the reader waits for rows, this thread is the slower side: the rest of the
      // batch goes without its texts, which the reader renders, so that both keep busy.
      if (!render || readerWaits_.load(std::memory_order_relaxed)) {
        render = false;
        continue;
      }
      ++batch.renderedRows;
      batch.firstText.push_back(batch.textEnds.size());
      batch.textEnds.push_back(batch.texts.size());
      uint32_t values = 0;
      for (const SheetCell& cell : row.cells) {
        formats_.AppendText(source_, cell, date1904_, batch.texts);
        batch.textEnds.push_back(batch.texts.size());
        batch.columns.push_back(cell.column);
        values += cell.value.kind != CellValue::Kind::Empty;
      }
      batch.values.push_back(values);
    }
    return true;
  } catch (...) {
    batch.error = std::current_exception();
    return false;
  }
}

}  // namespace cellverter
