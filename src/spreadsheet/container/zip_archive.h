#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cellverter {

// A forward stream of bytes. Read() fills up to `capacity` bytes and returns how many; 0 at
// the end. Damage is thrown as WorkbookDamaged.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  virtual size_t Read(char* buffer, size_t capacity) = 0;
};

// Limits on what one entry may inflate to; the defaults let the largest real workbooks
// through and stop zip bombs before they cost much time.
struct ZipLimits {
  uint64_t maxEntrySize = uint64_t{8} << 30;  // bytes after inflating
  uint64_t maxRatio = 500;                    // inflated : compressed, above `ratioFloor`
  uint64_t ratioFloor = uint64_t{8} << 20;
};

// A zip container read from a file descriptor (PKWARE APPNOTE 6.3: central directory,
// zip64 end records and extra fields, stored and deflated entries, data descriptors). Entry
// names are found case-insensitively, with "\" taken as "/", as Excel tolerates. Inflated
// bytes are checked against the directory's size and CRC-32.
class ZipArchive {
 public:
  struct Entry {
    std::string name;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t localHeaderOffset = 0;
    uint32_t crc32 = 0;
    uint16_t method = 0;
    uint16_t flags = 0;
  };

  // Takes ownership of `fd`. Throws WorkbookDamaged when the directory cannot be read.
  ZipArchive(int fd, ZipLimits limits = {});
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // The entry of a part name ("xl/workbook.xml"; a leading "/" is ignored), or null.
  const Entry* Find(std::string_view name) const;
  const std::vector<Entry>& entries() const { return entries_; }

  // A stream of the entry's inflated bytes; the archive must outlive it.
  std::unique_ptr<ByteStream> Open(const Entry& entry) const;
  // The whole entry, for small parts; `maxSize` bounds it.
  std::string ReadAll(const Entry& entry, uint64_t maxSize) const;

  // Reads exactly `size` bytes at `offset` or throws WorkbookDamaged.
  void ReadAt(uint64_t offset, void* buffer, size_t size) const;
  uint64_t fileSize() const { return fileSize_; }
  // Whether a part opened so far had a local header whose sizes disagree with the directory;
  // the directory's sizes were used, and the inflated bytes checked against them as always.
  bool LocalSizesDisagreed() const { return localSizesDisagreed_; }

 private:
  void ReadDirectory();

  int fd_;
  ZipLimits limits_;
  uint64_t fileSize_ = 0;
  std::vector<Entry> entries_;
  mutable bool localSizesDisagreed_ = false;
  std::vector<std::string> folded_;     // FoldZipName of each entry
  std::vector<uint32_t> byFoldedName_;  // indexes into entries_, sorted by folded name
};

// The name as the archive compares it: ASCII lower case, "\" as "/", no leading "/".
std::string FoldZipName(std::string_view name);

}  // namespace cellverter
