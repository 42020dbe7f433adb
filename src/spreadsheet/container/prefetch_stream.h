#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "spreadsheet/container/zip_archive.h"

namespace cellverter {

// Reads another stream ahead on a second thread, a few chunks at most, so that inflating
// the sheet and scanning its XML overlap. Failures of the inner stream reach the reader at
// the point where its bytes would have.
class PrefetchStream final : public ByteStream {
 public:
  explicit PrefetchStream(ByteStream& inner, size_t chunkSize = 1 << 20, size_t chunkCount = 3);
  ~PrefetchStream() override;
  PrefetchStream(const PrefetchStream&) = delete;
  PrefetchStream& operator=(const PrefetchStream&) = delete;

  size_t Read(char* buffer, size_t capacity) override;

 private:
  void Run();

  ByteStream& inner_;
  const size_t chunkSize_;
  const size_t chunkCount_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> ready_;
  std::vector<std::string> spare_;
  std::exception_ptr error_;
  bool ended_ = false;
  bool stopping_ = false;
  std::string current_;
  size_t currentPos_ = 0;
  std::thread thread_;
};

}  // namespace cellverter
