#include "spreadsheet/container/compound_file.h"

#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/little_endian.h"
#include "platform/utf8.h"
#include "spreadsheet/container/workbook_file.h"
#include "spreadsheet/workbook_error.h"

namespace cellverter {
namespace {

constexpr char kSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kLastRegularSector = 0xFFFFFFF9;
constexpr size_t kUntilEnd = SIZE_MAX;
constexpr uint32_t kMiniSectorSize = 64;
constexpr size_t kHeaderDifatEntries = 109;
constexpr size_t kDirectoryEntrySize = 128;

enum EntryType : uint8_t { kStorage = 1, kStreamEntry = 2, kRoot = 5 };

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

// Directory names are UTF-16LE, up to their first NUL.
std::string EntryName(const char* p, size_t byteLength) {
  std::string name;
  Utf16ToUtf8 utf16;
  for (size_t i = 0; i + 1 < byteLength; i += 2) {
    const uint16_t unit = LoadLe16(p + i);
    if (unit == 0) break;
    utf16.Append(unit, name);
  }
  utf16.Finish(name);
  return name;
}

}  // namespace

bool CompoundFile::HasSignature(std::string_view head) {
  return head.size() >= 8 && head.substr(0, 8) == std::string_view(kSignature, 8);
}

CompoundFile::CompoundFile(std::string path, Container container)
    : CompoundFile(path, OpenWorkbookFile(path), container) {}

CompoundFile::CompoundFile(std::string path, int fd, Container container)
    : path_(std::move(path)), fd_(fd) {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    const int error = errno;
    ::close(fd_);
    ThrowWorkbookError(path_, SystemMessage(error), ErrorKind::kInputOutput);
  }
  fileSize_ = static_cast<uint64_t>(info.st_size);
  if (container == Container::kBareStream) {
    bare_ = true;
    return;
  }
  try {
    char header[512];
    if (fileSize_ < sizeof header) {
      if (fileSize_ >= 8 && [&] {
            ReadAt(0, header, 8);
            return HasSignature(std::string_view(header, 8));
          }()) {
        Damaged("the file is truncated");
      }
      ThrowWorkbookError(path_, kNotAWorkbookCause, ErrorKind::kNotAWorkbook);
    }
    ReadAt(0, header, sizeof header);
    if (!HasSignature(std::string_view(header, 8))) {
      ThrowWorkbookError(path_, kNotAWorkbookCause, ErrorKind::kNotAWorkbook);
    }
    sectorShift_ = LoadLe16(header + 30);
    if ((sectorShift_ != 9 && sectorShift_ != 12) || LoadLe16(header + 28) != 0xFFFE ||
        LoadLe16(header + 32) != 6) {
      Damaged("the compound file header is invalid");
    }
    sectorSize_ = 1u << sectorShift_;
    sectorCount_ = fileSize_ > sectorSize_ ? (fileSize_ - 1) / sectorSize_ : 0;
    miniCutoff_ = LoadLe32(header + 56);
    if (miniCutoff_ == 0 || miniCutoff_ > (1u << 20)) miniCutoff_ = 4096;

    // FAT sectors: the first 109 listed in the header, the rest in the DIFAT chain.
    const uint32_t fatSectorCount = LoadLe32(header + 44);
    if (fatSectorCount > sectorCount_) Damaged("the sector table is larger than the file");
    std::vector<uint32_t> fatSectors;
    fatSectors.reserve(fatSectorCount);
    for (size_t i = 0; i < kHeaderDifatEntries && fatSectors.size() < fatSectorCount; ++i) {
      fatSectors.push_back(LoadLe32(header + 76 + 4 * i));
    }
    const size_t perSector = sectorSize_ / 4;
    std::vector<char> sector(sectorSize_);
    std::vector<bool> seen(sectorCount_);
    // A sector number past the end of the file, not a special mark: the file was cut off.
    auto pastTheEnd = [&](uint32_t s) { return s >= sectorCount_ && s <= kLastRegularSector; };
    uint32_t difat = LoadLe32(header + 68);
    const uint32_t difatCount = LoadLe32(header + 72);
    for (uint32_t i = 0; i < difatCount && fatSectors.size() < fatSectorCount; ++i) {
      if (pastTheEnd(difat)) {
        cutOff_ = true;
        break;
      }
      if (difat >= sectorCount_)
        Damaged("the sector table list refers to a sector outside the file");
      if (seen[difat]) Damaged("the sector table list loops");
      seen[difat] = true;
      ReadAt(static_cast<uint64_t>(difat + 1) << sectorShift_, sector.data(), sectorSize_);
      for (size_t k = 0; k + 1 < perSector && fatSectors.size() < fatSectorCount; ++k) {
        fatSectors.push_back(LoadLe32(sector.data() + 4 * k));
      }
      difat = LoadLe32(sector.data() + 4 * (perSector - 1));
    }
    if (fatSectors.size() < fatSectorCount && !cutOff_) {
      Damaged("the sector table list is incomplete");
    }

    // The entries of FAT sectors that are missing stay free: chains through them end there.
    fat_.assign(static_cast<size_t>(fatSectorCount) * perSector, kFreeSector);
    for (size_t i = 0; i < fatSectors.size(); ++i) {
      if (pastTheEnd(fatSectors[i])) {
        cutOff_ = true;
        continue;
      }
      if (fatSectors[i] >= sectorCount_) {
        Damaged("the sector table refers to a sector outside the file");
      }
      ReadAt(static_cast<uint64_t>(fatSectors[i] + 1) << sectorShift_, sector.data(), sectorSize_);
      for (size_t k = 0; k < perSector; ++k)
        fat_[i * perSector + k] = LoadLe32(sector.data() + 4 * k);
    }
    for (size_t k = sectorCount_; k < fat_.size() && !cutOff_; ++k) {
      cutOff_ = fat_[k] != kFreeSector;
    }

    // Directory.
    const std::vector<uint32_t> directorySectors =
        Chain(LoadLe32(header + 48), fat_, sectorCount_, kUntilEnd, "the directory");
    const size_t perDirectorySector = sectorSize_ / kDirectoryEntrySize;
    directory_.reserve(directorySectors.size() * perDirectorySector);
    for (uint32_t s : directorySectors) {
      // A file cut off inside its last directory sector keeps the entries wholly held.
      const uint64_t offset = static_cast<uint64_t>(s + 1) << sectorShift_;
      const size_t held = static_cast<size_t>(std::min<uint64_t>(sectorSize_, fileSize_ - offset));
      if (held < sectorSize_) truncated_ = true;
      ReadAt(offset, sector.data(), held);
      for (size_t k = 0; k < held / kDirectoryEntrySize; ++k) {
        const char* p = sector.data() + k * kDirectoryEntrySize;
        DirectoryEntry entry;
        entry.name = EntryName(p, std::min<size_t>(LoadLe16(p + 64), 64));
        entry.type = static_cast<uint8_t>(p[66]);
        entry.left = LoadLe32(p + 68);
        entry.right = LoadLe32(p + 72);
        entry.child = LoadLe32(p + 76);
        entry.startSector = LoadLe32(p + 116);
        // Version 3 files may leave garbage in the high half of the size.
        entry.size = sectorShift_ == 9 ? LoadLe32(p + 120) : LoadLe64(p + 120);
        directory_.push_back(std::move(entry));
      }
    }
    if (directory_.empty() && truncated_) Damaged("the file is truncated");
    if (directory_.empty() || directory_[0].type != kRoot) {
      Damaged("the root directory entry is missing");
    }
    miniStreamSize_ = directory_[0].size;

    // Mini FAT (small streams live in the root entry's mini stream).
    const std::vector<uint32_t> miniFatSectors =
        LoadLe32(header + 60) == kEndOfChain
            ? std::vector<uint32_t>()
            : Chain(LoadLe32(header + 60), fat_, sectorCount_, kUntilEnd, "the small sector table");
    miniFat_.resize(miniFatSectors.size() * perSector);
    for (size_t i = 0; i < miniFatSectors.size(); ++i) {
      ReadAt(static_cast<uint64_t>(miniFatSectors[i] + 1) << sectorShift_, sector.data(),
             sectorSize_);
      for (size_t k = 0; k < perSector; ++k) {
        miniFat_[i * perSector + k] = LoadLe32(sector.data() + 4 * k);
      }
    }
  } catch (...) {
    ::close(fd_);
    throw;
  }
}

CompoundFile::~CompoundFile() { ::close(fd_); }

void CompoundFile::Damaged(const std::string& cause) const {
  ThrowWorkbookError(path_, "the file is damaged (" + cause + ")", ErrorKind::kDamaged);
}

void CompoundFile::ReadAt(uint64_t offset, char* buffer, size_t count) const {
  while (count > 0) {
    const ssize_t got = ::pread(fd_, buffer, count, static_cast<off_t>(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowWorkbookError(path_, SystemMessage(errno), ErrorKind::kInputOutput);
    }
    if (got == 0) Damaged("the file is truncated");
    buffer += got;
    offset += static_cast<uint64_t>(got);
    count -= static_cast<size_t>(got);
  }
}

std::vector<uint32_t> CompoundFile::Chain(uint32_t start, const std::vector<uint32_t>& table,
                                          uint64_t limit, size_t count, const char* what) const {
  std::vector<uint32_t> chain;
  if (count != kUntilEnd) chain.reserve(static_cast<size_t>(std::min<uint64_t>(count, limit)));
  std::vector<bool> seen(limit);
  uint32_t s = start;
  while (chain.size() < count) {
    if (s == kEndOfChain && count == kUntilEnd) break;
    if (s == kEndOfChain) Damaged(std::string(what) + " is shorter than its size");
    if (s >= limit || s >= table.size()) {
      if (cutOff_) {
        truncated_ = true;
        break;
      }
      Damaged(std::string(what) + " refers to a sector outside the file");
    }
    if (seen[s]) Damaged(std::string("the sector chain of ") + what + " loops");
    seen[s] = true;
    chain.push_back(s);
    s = table[s];
  }
  return chain;
}

std::optional<CompoundFile::Entry> CompoundFile::FindStream(std::string_view name) const {
  if (bare_) {
    if (!EqualsIgnoringAsciiCase(name, "Workbook")) return std::nullopt;
    return Entry{"Workbook", 0, fileSize_};
  }
  std::vector<uint32_t> pending{directory_[0].child};
  std::vector<bool> seen(directory_.size());
  while (!pending.empty()) {
    const uint32_t index = pending.back();
    pending.pop_back();
    if (index == kNoStream) continue;
    // Entries past the end of a directory cut off are missing, not broken.
    if (index >= directory_.size() && truncated_) continue;
    if (index >= directory_.size() || seen[index]) Damaged("the directory tree is broken");
    seen[index] = true;
    const DirectoryEntry& entry = directory_[index];
    if (entry.type == kStreamEntry && EqualsIgnoringAsciiCase(entry.name, name)) {
      return Entry{entry.name, entry.startSector, entry.size};
    }
    pending.push_back(entry.left);
    pending.push_back(entry.right);
  }
  return std::nullopt;
}

uint64_t CompoundFile::BytesHeld(const std::vector<uint32_t>& sectors, uint64_t size) const {
  if (sectors.empty()) return 0;
  const uint64_t lastOffset = (static_cast<uint64_t>(sectors.back()) + 1) * sectorSize_;
  const uint64_t held = (sectors.size() - 1) * uint64_t{sectorSize_} +
                        std::min<uint64_t>(sectorSize_, fileSize_ - lastOffset);
  return std::min(held, size);
}

CompoundFile::Stream CompoundFile::OpenStream(const Entry& entry) const {
  if (bare_) return Stream(*this, {}, fileSize_, Stream::Kind::kWholeFile);
  const std::string what = "stream \"" + entry.name + "\"";
  if (entry.size < miniCutoff_) {
    if (entry.size > miniStreamSize_) Damaged(what + " is larger than the file");
    if (miniStreamSectors_.empty() && miniStreamSize_ > 0) {
      if (miniStreamSize_ > sectorCount_ * sectorSize_ && !cutOff_)
        Damaged("the small stream area is larger than the file");
      miniStreamSectors_ =
          Chain(directory_[0].startSector, fat_, sectorCount_,
                static_cast<size_t>((miniStreamSize_ + sectorSize_ - 1) / sectorSize_),
                "the small stream area");
      miniStreamHeld_ = BytesHeld(miniStreamSectors_, miniStreamSize_);
    }
    const uint64_t miniLimit = (miniStreamHeld_ + kMiniSectorSize - 1) / kMiniSectorSize;
    const size_t count = static_cast<size_t>((entry.size + kMiniSectorSize - 1) / kMiniSectorSize);
    std::vector<uint32_t> sectors =
        Chain(entry.startSector, miniFat_, miniLimit, count, what.c_str());
    uint64_t size = 0;
    if (!sectors.empty()) {
      const uint64_t last = uint64_t{sectors.back()} * kMiniSectorSize;
      size = std::min(entry.size, (sectors.size() - 1) * uint64_t{kMiniSectorSize} +
                                      std::min<uint64_t>(kMiniSectorSize, miniStreamHeld_ - last));
    }
    if (size < entry.size) truncated_ = true;
    return Stream(*this, std::move(sectors), size, Stream::Kind::kMini);
  }
  if (entry.size > sectorCount_ * sectorSize_ && !cutOff_) {
    Damaged(what + " is larger than the file");
  }
  const uint64_t count = (entry.size + sectorSize_ - 1) / sectorSize_;
  std::vector<uint32_t> sectors =
      Chain(entry.startSector, fat_, sectorCount_,
            static_cast<size_t>(std::min<uint64_t>(count, SIZE_MAX - 1)), what.c_str());
  // A file cut off inside the stream's last sector holds only the bytes before the cut.
  const uint64_t size = BytesHeld(sectors, entry.size);
  if (size < entry.size) truncated_ = true;
  return Stream(*this, std::move(sectors), size, Stream::Kind::kRegular);
}

void CompoundFile::ReadRegular(const std::vector<uint32_t>& sectors, uint64_t offset, char* buffer,
                               size_t count) const {
  while (count > 0) {
    size_t index = static_cast<size_t>(offset >> sectorShift_);
    const uint32_t within = static_cast<uint32_t>(offset & (sectorSize_ - 1));
    // Read runs of consecutive sectors with one call.
    size_t run = std::min<size_t>(count, sectorSize_ - within);
    while (run < count && index + 1 < sectors.size() && sectors[index + 1] == sectors[index] + 1) {
      ++index;
      run = std::min<size_t>(count, run + sectorSize_);
    }
    const size_t first = static_cast<size_t>(offset >> sectorShift_);
    ReadAt((static_cast<uint64_t>(sectors[first]) + 1) * sectorSize_ + within, buffer, run);
    buffer += run;
    offset += run;
    count -= run;
  }
}

void CompoundFile::ReadMini(const std::vector<uint32_t>& sectors, uint64_t offset, char* buffer,
                            size_t count) const {
  while (count > 0) {
    const size_t index = static_cast<size_t>(offset / kMiniSectorSize);
    const uint32_t within = static_cast<uint32_t>(offset % kMiniSectorSize);
    const size_t run = std::min<size_t>(count, kMiniSectorSize - within);
    ReadRegular(miniStreamSectors_,
                static_cast<uint64_t>(sectors[index]) * kMiniSectorSize + within, buffer, run);
    buffer += run;
    offset += run;
    count -= run;
  }
}

CompoundFile::Stream::Stream(const CompoundFile& file, std::vector<uint32_t> sectors, uint64_t size,
                             Kind kind)
    : file_(&file), sectors_(std::move(sectors)), size_(size), kind_(kind) {}

void CompoundFile::Stream::Seek(uint64_t offset) { position_ = std::min(offset, size_); }

size_t CompoundFile::Stream::Read(char* buffer, size_t count) {
  const size_t n = static_cast<size_t>(std::min<uint64_t>(count, size_ - position_));
  if (n == 0) return 0;
  switch (kind_) {
    case Kind::kRegular:
      file_->ReadRegular(sectors_, position_, buffer, n);
      break;
    case Kind::kMini:
      file_->ReadMini(sectors_, position_, buffer, n);
      break;
    case Kind::kWholeFile:
      file_->ReadAt(position_, buffer, n);
      break;
  }
  position_ += n;
  return n;
}

}  // namespace cellverter
