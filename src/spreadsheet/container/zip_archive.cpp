#include "spreadsheet/container/zip_archive.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#if CELLVERTER_HAVE_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/little_endian.h"
#include "spreadsheet/workbook_error.h"

namespace cellverter {
namespace {

constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr uint32_t kCentralHeader = 0x02014b50;
constexpr uint32_t kEndOfDirectory = 0x06054b50;
constexpr uint32_t kZip64Locator = 0x07064b50;
constexpr uint32_t kZip64EndOfDirectory = 0x06064b50;
constexpr size_t kInputChunk = 256 * 1024;

uint32_t LoadLe32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
}
uint64_t LoadLe64(const unsigned char* p) { return LoadLe32(p) | uint64_t{LoadLe32(p + 4)} << 32; }

[[noreturn]] void Damaged(const char* detail) { throw WorkbookDamaged(detail); }

uint32_t Crc32(uint32_t crc, const char* data, size_t size) {
#if CELLVERTER_HAVE_ISAL
  return crc32_gzip_refl(crc, reinterpret_cast<const unsigned char*>(data), size);
#else
  return static_cast<uint32_t>(crc32_z(crc, reinterpret_cast<const Bytef*>(data), size));
#endif
}

// Inflates a part as zlib does, from the start of its data.
class ZlibInflater {
 public:
  ZlibInflater() {
    if (inflateInit2(&z_, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
  }
  ~ZlibInflater() { inflateEnd(&z_); }
  ZlibInflater(const ZlibInflater&) = delete;
  ZlibInflater& operator=(const ZlibInflater&) = delete;

  void Input(unsigned char* data, size_t size) {
    z_.next_in = data;
    z_.avail_in = static_cast<uInt>(size);
  }
  bool NeedsInput() const { return z_.avail_in == 0; }
  // Fills `out` as far as the input goes: the bytes written, and whether the stream ended.
  // Throws on a corrupt stream.
  size_t Inflate(char* out, size_t size, bool& ended) {
    z_.next_out = reinterpret_cast<Bytef*>(out);
    z_.avail_out = static_cast<uInt>(size);
    const int status = inflate(&z_, Z_NO_FLUSH);
    ended = status == Z_STREAM_END;
    // Z_BUF_ERROR is no progress for want of input, which the caller judges.
    if (!ended && status != Z_OK && status != Z_BUF_ERROR) Damaged("a compressed part is corrupt");
    return size - z_.avail_out;
  }

 private:
  z_stream z_{};
};

#if CELLVERTER_HAVE_ISAL
// ISA-L's inflate: several times zlib's speed on the parts that dominate a workbook.
class IsalInflater {
 public:
  IsalInflater() : state_(std::make_unique<inflate_state>()) { isal_inflate_init(state_.get()); }

  void Input(unsigned char* data, size_t size) {
    state_->next_in = data;
    state_->avail_in = static_cast<uint32_t>(size);
  }
  bool NeedsInput() const { return state_->avail_in == 0; }
  // As ZlibInflater's, except that a stream ISA-L refuses, or where it makes no progress,
  // gives false instead of throwing: zlib has the last word on what is corrupt.
  bool Inflate(char* out, size_t size, size_t& written, bool& ended) {
    state_->next_out = reinterpret_cast<uint8_t*>(out);
    state_->avail_out = static_cast<uint32_t>(size);
    const uint32_t input = state_->avail_in;
    const int status = isal_inflate(state_.get());
    written = size - state_->avail_out;
    ended = state_->block_state == ISAL_BLOCK_FINISH;
    return status >= 0 && (ended || written > 0 || state_->avail_in < input);
  }

 private:
  std::unique_ptr<inflate_state> state_;  // 40 KB of tables
};
#endif

class EntryStream final : public ByteStream {
 public:
  EntryStream(const ZipArchive& archive, const ZipArchive::Entry& entry, uint64_t dataOffset,
              const ZipLimits& limits)
      : archive_(archive),
        entry_(entry),
        start_(dataOffset),
        next_(dataOffset),
        remaining_(entry.compressedSize),
        limit_(std::min<uint64_t>(entry.uncompressedSize, limits.maxEntrySize)) {
    if (entry.uncompressedSize > limits.maxEntrySize) Damaged("a part is too large");
    if (entry.uncompressedSize > limits.ratioFloor &&
        entry.uncompressedSize / std::max<uint64_t>(entry.compressedSize, 1) > limits.maxRatio) {
      Damaged("a part is compressed beyond any real workbook");
    }
    if (entry_.method == 8) {
#if CELLVERTER_HAVE_ISAL
      isal_.emplace();
#else
      zlib_.emplace();
#endif
      // A small part's compressed bytes, not a whole chunk's zeroed room.
      input_.resize(static_cast<size_t>(
          std::clamp<uint64_t>(entry.compressedSize, 1, uint64_t{kInputChunk})));
    } else if (entry_.method == 0) {
      if (entry.compressedSize != entry.uncompressedSize) Damaged("a stored part has two sizes");
    } else {
      Damaged("a part uses an unknown compression method");
    }
  }

  size_t Read(char* buffer, size_t capacity) override {
    if (done_ || capacity == 0) return 0;
    size_t produced = 0;
    if (entry_.method == 0) {
      produced = static_cast<size_t>(std::min<uint64_t>(capacity, remaining_));
      archive_.ReadAt(next_, buffer, produced);
      next_ += produced;
      remaining_ -= produced;
      ended_ = remaining_ == 0;
    } else {
      produced = Inflate(buffer, std::min<size_t>(capacity, 1u << 30));
    }
    total_ += produced;
    if (total_ > limit_) Damaged("a part is longer than its directory entry says");
    crc_ = Crc32(crc_, buffer, produced);
    if (ended_) {
      if (total_ != entry_.uncompressedSize) {
        Damaged("a part is shorter than its directory entry says");
      }
      if (crc_ != entry_.crc32) Damaged("a part fails its checksum");
      done_ = true;
    }
    return produced;
  }

 private:
  // Gives the next input chunk to `inflater` once it has used up the last one. At the end of
  // the part it is left to finish what it holds: the last chunk's output may not fit at once.
  template <typename Inflater>
  void Feed(Inflater& inflater) {
    if (!inflater.NeedsInput() || remaining_ == 0) return;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(input_.size(), remaining_));
    archive_.ReadAt(next_, input_.data(), n);
    next_ += n;
    remaining_ -= n;
    inflater.Input(input_.data(), n);
  }

  // An inflater that gave nothing, though not at its stream's end: the part ends too early
  // when it has no input left.
  template <typename Inflater>
  void StalledAtTheEnd(const Inflater& inflater) const {
    if (inflater.NeedsInput() && remaining_ == 0) Damaged("a compressed part ends too early");
  }

  size_t Inflate(char* buffer, size_t capacity) {
    size_t produced = 0;
#if CELLVERTER_HAVE_ISAL
    while (isal_ && produced < capacity) {
      Feed(*isal_);
      size_t written = 0;
      if (!isal_->Inflate(buffer + produced, capacity - produced, written, ended_)) {
        SwitchToZlib();
        break;
      }
      produced += written;
      if (ended_) return produced;
    }
    if (isal_) return produced;
#endif
    while (produced < capacity) {
      Feed(*zlib_);
      const size_t written = zlib_->Inflate(buffer + produced, capacity - produced, ended_);
      produced += written;
      if (ended_) break;
      if (written == 0) StalledAtTheEnd(*zlib_);
    }
    return produced;
  }

#if CELLVERTER_HAVE_ISAL
  // ISA-L refused the stream: zlib inflates it again from its start, and the bytes already
  // handed out (by ISA-L, identical) are skipped, so that zlib decides whether it is corrupt.
  void SwitchToZlib() {
    isal_.reset();
    zlib_.emplace();
    next_ = start_;
    remaining_ = entry_.compressedSize;
    std::vector<char> skipped(std::min<uint64_t>(std::max<uint64_t>(total_, 1), kInputChunk));
    for (uint64_t left = total_; left > 0;) {
      Feed(*zlib_);
      const size_t want = static_cast<size_t>(std::min<uint64_t>(left, skipped.size()));
      const size_t written = zlib_->Inflate(skipped.data(), want, ended_);
      left -= written;
      if (written == 0 && !ended_) StalledAtTheEnd(*zlib_);
      if (ended_ && left > 0) Damaged("a compressed part is corrupt");
    }
    ended_ = false;
  }
#endif

  const ZipArchive& archive_;
  ZipArchive::Entry entry_;
  uint64_t start_;
  uint64_t next_;
  uint64_t remaining_;
  uint64_t limit_;
  uint64_t total_ = 0;
  uint32_t crc_ = 0;
  std::vector<unsigned char> input_;
#if CELLVERTER_HAVE_ISAL
  std::optional<IsalInflater> isal_;
#endif
  std::optional<ZlibInflater> zlib_;
  bool ended_ = false;
  bool done_ = false;
};

}  // namespace

std::string FoldZipName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '\\') c = '/';
  }
  size_t start = 0;
  while (start < folded.size() && folded[start] == '/') ++start;
  return folded.substr(start);
}

ZipArchive::ZipArchive(int fd, ZipLimits limits) : fd_(fd), limits_(limits) {
  try {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) Damaged("the file cannot be read");
    fileSize_ = static_cast<uint64_t>(info.st_size);
    ReadDirectory();
  } catch (...) {
    ::close(fd_);
    throw;
  }
}

ZipArchive::~ZipArchive() { ::close(fd_); }

void ZipArchive::ReadAt(uint64_t offset, void* buffer, size_t size) const {
  if (offset > fileSize_ || size > fileSize_ - offset)
    Damaged("a part lies beyond the end of the file");
  auto* out = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::pread(fd_, out, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Damaged("the file cannot be read to its end");
    out += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<size_t>(n);
  }
}

void ZipArchive::ReadDirectory() {
  if (fileSize_ < 22) Damaged("the zip directory is missing");
  const uint64_t tailSize = std::min<uint64_t>(fileSize_, 22 + 65535 + 20);
  std::vector<unsigned char> tail(tailSize);
  ReadAt(fileSize_ - tailSize, tail.data(), tailSize);
  int64_t eocd = -1;
  for (int64_t i = static_cast<int64_t>(tailSize) - 22; i >= 0; --i) {
    if (LoadLe32(&tail[i]) == kEndOfDirectory) {
      eocd = i;
      break;
    }
  }
  if (eocd < 0) Damaged("the zip directory is missing");
  const unsigned char* end = &tail[eocd];
  uint64_t count = LoadLe16(end + 10);
  uint64_t directorySize = LoadLe32(end + 12);
  uint64_t directoryOffset = LoadLe32(end + 16);
  if (eocd >= 20 && LoadLe32(&tail[eocd - 20]) == kZip64Locator) {
    const uint64_t zip64Offset = LoadLe64(&tail[eocd - 20 + 8]);
    unsigned char record[56];
    ReadAt(zip64Offset, record, sizeof record);
    if (LoadLe32(record) != kZip64EndOfDirectory) Damaged("the zip64 directory is missing");
    count = LoadLe64(record + 32);
    directorySize = LoadLe64(record + 40);
    directoryOffset = LoadLe64(record + 48);
  }
  if (directoryOffset > fileSize_ || directorySize > fileSize_ - directoryOffset ||
      count > directorySize / 46) {
    Damaged("the zip directory is unreadable");
  }
  // Workbooks hold dozens of parts; a million names would only cost memory.
  if (count > 100000) Damaged("the package holds too many parts");
  std::vector<unsigned char> directory(directorySize);
  ReadAt(directoryOffset, directory.data(), directorySize);
  entries_.reserve(count);
  size_t pos = 0;
  for (uint64_t i = 0; i < count; ++i) {
    if (directorySize - pos < 46 || LoadLe32(&directory[pos]) != kCentralHeader) {
      Damaged("the zip directory is unreadable");
    }
    const unsigned char* h = &directory[pos];
    Entry entry;
    entry.flags = LoadLe16(h + 8);
    entry.method = LoadLe16(h + 10);
    entry.crc32 = LoadLe32(h + 16);
    entry.compressedSize = LoadLe32(h + 20);
    entry.uncompressedSize = LoadLe32(h + 24);
    entry.localHeaderOffset = LoadLe32(h + 42);
    const size_t nameLength = LoadLe16(h + 28);
    const size_t extraLength = LoadLe16(h + 30);
    const size_t commentLength = LoadLe16(h + 32);
    const size_t recordLength = 46 + nameLength + extraLength + commentLength;
    if (directorySize - pos < recordLength) Damaged("the zip directory is unreadable");
    entry.name.assign(reinterpret_cast<const char*>(h + 46), nameLength);
    // Zip64 extended information: only the fields whose 32-bit value is all ones, in order.
    const unsigned char* extra = h + 46 + nameLength;
    for (size_t e = 0; e + 4 <= extraLength;) {
      const uint16_t id = LoadLe16(extra + e);
      const uint16_t size = LoadLe16(extra + e + 2);
      if (e + 4 + size > extraLength) break;
      if (id == 0x0001) {
        const unsigned char* field = extra + e + 4;
        size_t left = size;
        auto take = [&](uint64_t& value) {
          if (value != 0xFFFFFFFF) return;
          if (left < 8) Damaged("the zip directory is unreadable");
          value = LoadLe64(field);
          field += 8;
          left -= 8;
        };
        take(entry.uncompressedSize);
        take(entry.compressedSize);
        take(entry.localHeaderOffset);
      }
      e += 4 + size;
    }
    entries_.push_back(std::move(entry));
    pos += recordLength;
  }
  byFoldedName_.resize(entries_.size());
  for (uint32_t i = 0; i < entries_.size(); ++i) byFoldedName_[i] = i;
  folded_.resize(entries_.size());
  for (size_t i = 0; i < entries_.size(); ++i) folded_[i] = FoldZipName(entries_[i].name);
  // Stable, so that of two names differing only in case the first in the directory wins.
  std::stable_sort(byFoldedName_.begin(), byFoldedName_.end(),
                   [&](uint32_t a, uint32_t b) { return folded_[a] < folded_[b]; });
}

const ZipArchive::Entry* ZipArchive::Find(std::string_view name) const {
  const std::string wanted = FoldZipName(name);
  auto it =
      std::lower_bound(byFoldedName_.begin(), byFoldedName_.end(), wanted,
                       [&](uint32_t index, const std::string& w) { return folded_[index] < w; });
  if (it == byFoldedName_.end() || folded_[*it] != wanted) return nullptr;
  return &entries_[*it];
}

std::unique_ptr<ByteStream> ZipArchive::Open(const Entry& entry) const {
  if (entry.flags & 1) Damaged("a part is encrypted");
  unsigned char local[30];
  ReadAt(entry.localHeaderOffset, local, sizeof local);
  if (LoadLe32(local) != kLocalHeader) Damaged("a part's local header is missing");
  // Sizes deferred to a data descriptor are zero here, and all ones when in a zip64 field.
  const bool deferred =
      (LoadLe16(local + 6) & 0x0008) != 0 && LoadLe32(local + 18) == 0 && LoadLe32(local + 22) == 0;
  auto differs = [](uint32_t inHeader, uint64_t central) {
    return inHeader != 0xFFFFFFFF && inHeader != central;
  };
  if (!deferred && (differs(LoadLe32(local + 18), entry.compressedSize) ||
                    differs(LoadLe32(local + 22), entry.uncompressedSize))) {
    localSizesDisagreed_ = true;
  }
  const uint64_t dataOffset =
      entry.localHeaderOffset + 30 + LoadLe16(local + 26) + LoadLe16(local + 28);
  if (dataOffset > fileSize_ || entry.compressedSize > fileSize_ - dataOffset) {
    Damaged("a part lies beyond the end of the file");
  }
  return std::make_unique<EntryStream>(*this, entry, dataOffset, limits_);
}

std::string ZipArchive::ReadAll(const Entry& entry, uint64_t maxSize) const {
  if (entry.uncompressedSize > maxSize) Damaged("a part is too large");
  auto stream = Open(entry);
  std::string bytes(static_cast<size_t>(entry.uncompressedSize), '\0');
  size_t filled = 0;
  while (filled < bytes.size()) {
    const size_t n = stream->Read(bytes.data() + filled, bytes.size() - filled);
    if (n == 0) break;
    filled += n;
  }
  char probe;
  if (stream->Read(&probe, 1) != 0) Damaged("a part is longer than its directory entry says");
  bytes.resize(filled);
  return bytes;
}

}  // namespace cellverter
