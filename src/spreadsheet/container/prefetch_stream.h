#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "spreadsheet/container/zip_archive.h"

namespace cellverter {

// Sees the chunks of a PrefetchStream on its thread before the reader gets them, all but those
// the reader is already waiting for: work on the bytes that can be done ahead, beside the
// reader, and left to it when the reader is the faster.
class ChunkObserver {
 public:
  virtual ~ChunkObserver() = default;
  // `offset`: where the chunk begins in the stream. Once `readerWaits` turns true the reader
  // waits for this very chunk: the observer should stop soon and leave the rest to it.
  virtual void Observe(uint64_t offset, std::string_view chunk,
                       const std::atomic<bool>& readerWaits) noexcept = 0;
};

// Reads another stream ahead on a second thread, a few chunks at most, so that inflating
// the sheet and scanning its XML overlap. Failures of the inner stream reach the reader at
// the point where its bytes would have. `observer`, when given, must outlive the stream.
class PrefetchStream final : public ByteStream {
 public:
  explicit PrefetchStream(ByteStream& inner, size_t chunkSize = 1 << 20, size_t chunkCount = 3,
                          ChunkObserver* observer = nullptr);
  ~PrefetchStream() override;
  PrefetchStream(const PrefetchStream&) = delete;
  PrefetchStream& operator=(const PrefetchStream&) = delete;

  size_t Read(char* buffer, size_t capacity) override;

 private:
  void Run();

  ByteStream& inner_;
  const size_t chunkSize_;
  const size_t chunkCount_;
  ChunkObserver* const observer_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> ready_;
  std::vector<std::string> spare_;
  std::exception_ptr error_;
  bool ended_ = false;
  bool stopping_ = false;
  std::string current_;
  size_t currentPos_ = 0;
  std::atomic<bool> readerWaits_{false};  // the reader waits for a chunk
  std::thread thread_;
};

}  // namespace cellverter
