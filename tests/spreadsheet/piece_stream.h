#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "spreadsheet/container/zip_archive.h"

namespace cellverter::testing_support {

// Bytes from memory handed out in pieces of at most `piece` bytes, as an inflating stream
// hands them out, so that every token can meet a buffer's edge.
class PieceStream final : public ByteStream {
 public:
  explicit PieceStream(std::string bytes, size_t piece = std::string::npos)
      : bytes_(std::move(bytes)), piece_(piece) {}
  size_t Read(char* buffer, size_t capacity) override {
    const size_t n = std::min({capacity, piece_, bytes_.size() - pos_});
    std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  std::string bytes_;
  size_t piece_;
  size_t pos_ = 0;
};

}  // namespace cellverter::testing_support
