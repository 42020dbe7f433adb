#include "spreadsheet/xlsx/sheet_spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include "platform/error.h"
#include "spreadsheet/workbook_error.h"

namespace cellverter {
namespace {

constexpr size_t kIoChunk = 1 << 20;

std::string TemporaryFolder() {
  const char* dir = std::getenv("TMPDIR");
  return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

[[noreturn]] void SpoolFailure(int error) {
  throw WorkbookFault(SystemMessage(error) + " in the temporary folder " + TemporaryFolder(),
                      ErrorKind::kInputOutput);
}

}  // namespace

void SpoolCorrupt(const char* cause) { throw WorkbookFault(cause, ErrorKind::kInputOutput); }

int OpenTemporaryFile() {
  const std::string folder = TemporaryFolder();
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::string pattern = folder + "/cellverter-spool-XXXXXX";
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) SpoolFailure(errno);
    ::unlink(pattern.c_str());
  }
  return fd;
}

void WriteTemporaryFile(int fd, uint64_t offset, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) SpoolFailure(errno);
    if (n == 0) SpoolFailure(ENOSPC);
    offset += static_cast<uint64_t>(n);
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

void SpoolBytes::Grow(size_t n) {
  const size_t capacity = std::max(size_ + n, std::max<size_t>(capacity_ * 2, 256));
  auto grown = std::make_unique_for_overwrite<char[]>(capacity);
  if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
  data_ = std::move(grown);
  capacity_ = capacity;
}

SheetSpool::SheetSpool(size_t memoryLimit) : memoryLimit_(memoryLimit) {}

SheetSpool::~SheetSpool() {
  if (fd_ >= 0) ::close(fd_);
}

void SheetSpool::Append(std::string_view bytes) {
  if (fd_ < 0 && memory_.size() + bytes.size() > memoryLimit_) Spill();
  if (fd_ < 0) {
    // The in-memory stretch is reserved whole: growing by doubling would copy up to the limit
    // and hold old and new at once (a 16 MiB spool peaked at 32 MiB). Pages not yet written
    // are address space only.
    if (memory_.size() + bytes.size() > memory_.capacity()) memory_.reserve(memoryLimit_);
    memory_.append(bytes);
    return;
  }
  memory_.append(bytes);
  if (memory_.size() >= kIoChunk) {
    WriteOut(memory_);
    memory_.clear();
  }
}

void SheetSpool::Spill() {
  fd_ = OpenTemporaryFile();
  WriteOut(memory_);
  memory_.clear();
  memory_.shrink_to_fit();
  memory_.reserve(kIoChunk * 2);
}

void SheetSpool::WriteOut(std::string_view bytes) {
  WriteTemporaryFile(fd_, fileSize_, bytes);
  fileSize_ += bytes.size();
}

void SheetSpool::FinishWriting() {
  if (fd_ >= 0) {
    WriteOut(memory_);
    memory_.clear();
    memory_.shrink_to_fit();
    readBuffer_.resize(kIoChunk);
  }
  Rewind();
}

void SheetSpool::Rewind() {
  fileOffset_ = 0;
  readPos_ = 0;
  if (fd_ < 0) {
    source_ = &memory_;
    readEnd_ = memory_.size();
  } else {
    source_ = &readBuffer_;
    readEnd_ = 0;
  }
}

void SheetSpool::ReadFile(uint64_t offset, char* buffer, size_t size) const {
  if (fd_ < 0 || offset > fileSize_ || size > fileSize_ - offset) {
    SpoolCorrupt("the sheet spool ends early");
  }
  for (size_t got = 0; got < size;) {
    const ssize_t n = ::pread(fd_, buffer + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) SpoolFailure(n < 0 ? errno : EIO);
    got += static_cast<size_t>(n);
  }
}

void SheetSpool::Fill() {
  const size_t want = static_cast<size_t>(
      std::min<uint64_t>(kIoChunk, fileSize_ - std::min(fileOffset_, fileSize_)));
  if (want == 0) SpoolCorrupt("the sheet spool ends early");
  ReadFile(fileOffset_, readBuffer_.data(), want);
  fileOffset_ += want;
  readPos_ = 0;
  readEnd_ = want;
}

void SheetSpool::ReadAt(uint64_t offset, size_t size, std::string& out) const {
  if (fd_ < 0) {
    if (offset > memory_.size() || size > memory_.size() - offset) {
      SpoolCorrupt("the sheet spool ends early");
    }
    out.assign(memory_, static_cast<size_t>(offset), size);
    return;
  }
  out.resize(size);
  ReadFile(offset, out.data(), size);
}

void SheetSpool::ReadBytes(size_t size, std::string& out) {
  out.clear();
  while (size > 0) {
    if (readPos_ == readEnd_) Fill();
    const size_t n = std::min(size, readEnd_ - readPos_);
    out.append(source_->data() + readPos_, n);
    readPos_ += n;
    size -= n;
  }
}

}  // namespace cellverter
