#include "spreadsheet/container/prefetch_stream.h"

#include <algorithm>
#include <cstring>

namespace cellverter {

PrefetchStream::PrefetchStream(ByteStream& inner, size_t chunkSize, size_t chunkCount,
                               ChunkObserver* observer)
    : inner_(inner), chunkSize_(chunkSize), chunkCount_(chunkCount), observer_(observer) {
  thread_ = std::thread([this] { Run(); });
}

PrefetchStream::~PrefetchStream() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void PrefetchStream::Run() {
  uint64_t offset = 0;  // of the chunk in the stream
  for (;;) {
    std::string chunk;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || ready_.size() < chunkCount_; });
      if (stopping_) return;
      if (!spare_.empty()) {
        chunk.swap(spare_.back());
        spare_.pop_back();
      }
    }
    chunk.resize(chunkSize_);
    size_t filled = 0;
    std::exception_ptr error;
    try {
      while (filled < chunk.size()) {
        const size_t n = inner_.Read(chunk.data() + filled, chunk.size() - filled);
        if (n == 0) break;
        filled += n;
      }
    } catch (...) {
      error = std::current_exception();
    }
    chunk.resize(filled);
    // A reader already waiting gets the bytes at once: the observer's work would hold it.
    if (observer_ != nullptr && filled > 0 && !readerWaits_.load(std::memory_order_relaxed)) {
      observer_->Observe(offset, chunk, readerWaits_);
    }
    offset += filled;
    {
      std::lock_guard lock(mutex_);
      if (filled > 0) ready_.push_back(std::move(chunk));
      if (error || filled == 0) {
        error_ = error;
        ended_ = true;
      }
    }
    changed_.notify_all();
    if (error || filled == 0) return;
  }
}

size_t PrefetchStream::Read(char* buffer, size_t capacity) {
  if (currentPos_ == current_.size()) {
    std::unique_lock lock(mutex_);
    if (!current_.empty()) spare_.push_back(std::move(current_));
    current_.clear();
    currentPos_ = 0;
    changed_.notify_all();
    readerWaits_.store(ready_.empty() && !ended_, std::memory_order_relaxed);
    changed_.wait(lock, [&] { return !ready_.empty() || ended_; });
    readerWaits_.store(false, std::memory_order_relaxed);
    if (ready_.empty()) {
      if (error_) std::rethrow_exception(error_);
      return 0;
    }
    current_ = std::move(ready_.front());
    ready_.pop_front();
    changed_.notify_all();
  }
  const size_t n = std::min(capacity, current_.size() - currentPos_);
  std::memcpy(buffer, current_.data() + currentPos_, n);
  currentPos_ += n;
  return n;
}

}  // namespace cellverter
