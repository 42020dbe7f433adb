#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cellverter {

// A compound file (OLE2 structured storage, MS-CFB) opened read-only: the container of the
// legacy .xls workbook. Every sector chain is checked as it is followed (no loops, no
// sector outside the file, no chain shorter than its stream), so a damaged or hostile file
// ends in an Error instead of a hang or an out-of-range read. Only the tables (FAT, mini
// FAT, directory) are held in memory; stream contents are read on demand.
//
// A file cut off after it was written (its tables use sectors past its end) is read as far as
// it goes: sectors past the end count as missing, a chain that reaches them ends there and
// its stream is shortened to the bytes held, a directory sector cut off keeps the entries it
// holds whole; Truncated() then says so.
class CompoundFile {
 public:
  // kBareStream: the file is one stream without a container (some writers store a BIFF8
  // workbook stream so); it is served as the stream "Workbook".
  enum class Container { kCompoundFile, kBareStream };

  // Opens `path` and reads its header, FAT, mini FAT and directory. Throws Error with a
  // message that names the file and the cause.
  explicit CompoundFile(std::string path, Container container = Container::kCompoundFile);
  // The same over `fd`, the file already open for reading (owned from here on); `path` only
  // names the workbook in messages.
  CompoundFile(std::string path, int fd, Container container = Container::kCompoundFile);
  ~CompoundFile();
  CompoundFile(const CompoundFile&) = delete;
  CompoundFile& operator=(const CompoundFile&) = delete;

  // True when `head` (the first bytes of a file) carries the compound file signature.
  static bool HasSignature(std::string_view head);

  struct Entry {
    std::string name;  // UTF-8
    uint32_t startSector = 0;
    uint64_t size = 0;
  };

  // A stream directly below the root storage, found by name without regard to ASCII case
  // (as the format compares names).
  std::optional<Entry> FindStream(std::string_view name) const;

  // A stream's bytes, read sequentially or from any position.
  class Stream {
   public:
    uint64_t size() const { return size_; }
    uint64_t position() const { return position_; }
    // Moves to `offset` (clamped to the end of the stream).
    void Seek(uint64_t offset);
    // Reads up to `count` bytes; fewer only at the end of the stream. Throws Error when the
    // file cannot be read.
    size_t Read(char* buffer, size_t count);

   private:
    friend class CompoundFile;
    enum class Kind { kRegular, kMini, kWholeFile };
    Stream(const CompoundFile& file, std::vector<uint32_t> sectors, uint64_t size, Kind kind);

    const CompoundFile* file_;
    std::vector<uint32_t> sectors_;  // the chain, in stream order
    uint64_t size_;
    Kind kind_;  // kMini: sectors are mini sectors inside the mini stream
    uint64_t position_ = 0;
  };

  // Opens a stream found by FindStream. Throws Error when its chain is damaged.
  Stream OpenStream(const Entry& entry) const;

  const std::string& path() const { return path_; }

  // True when the file ends before sectors that its tables use: it was cut off.
  bool Truncated() const { return truncated_; }

 private:
  struct DirectoryEntry {
    std::string name;
    uint8_t type = 0;
    uint32_t left = 0, right = 0, child = 0;
    uint32_t startSector = 0;
    uint64_t size = 0;
  };

  [[noreturn]] void Damaged(const std::string& cause) const;
  void ReadAt(uint64_t offset, char* buffer, size_t count) const;
  // The sectors of a chain from `start`: exactly `count` of them, or (count == kUntilEnd) up
  // to the end-of-chain mark. `table` is the FAT or the mini FAT, `limit` the number of
  // sectors that exist. In a truncated file the chain ends early where it leaves the file.
  std::vector<uint32_t> Chain(uint32_t start, const std::vector<uint32_t>& table, uint64_t limit,
                              size_t count, const char* what) const;
  // How many of `size` bytes the chain `sectors` holds before the end of the file.
  uint64_t BytesHeld(const std::vector<uint32_t>& sectors, uint64_t size) const;
  void ReadRegular(const std::vector<uint32_t>& sectors, uint64_t offset, char* buffer,
                   size_t count) const;
  void ReadMini(const std::vector<uint32_t>& sectors, uint64_t offset, char* buffer,
                size_t count) const;

  std::string path_;
  int fd_ = -1;
  uint64_t fileSize_ = 0;
  uint32_t sectorShift_ = 9;
  uint32_t sectorSize_ = 512;
  uint64_t sectorCount_ = 0;  // sectors that the file holds (the last may be partial)
  uint32_t miniCutoff_ = 4096;
  std::vector<uint32_t> fat_;
  std::vector<uint32_t> miniFat_;
  mutable std::vector<uint32_t> miniStreamSectors_;  // the root entry's chain, read on first use
  uint64_t miniStreamSize_ = 0;
  mutable uint64_t miniStreamHeld_ = 0;  // the bytes of the mini stream the file holds
  std::vector<DirectoryEntry> directory_;
  bool bare_ = false;
  bool cutOff_ = false;             // the tables use sectors past the end of the file
  mutable bool truncated_ = false;  // a chain was shortened because of it
};

}  // namespace cellverter
