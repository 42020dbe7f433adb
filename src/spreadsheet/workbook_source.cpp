#include "spreadsheet/workbook_source.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/little_endian.h"
#include "platform/unique_fd.h"
#include "spreadsheet/encrypted_package.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/workbook_file.h"
#include "spreadsheet/xls_reader.h"
#include "spreadsheet/xlsx_reader.h"

namespace cellverter {
namespace {

constexpr unsigned char kZipSignature[4] = {'P', 'K', 0x03, 0x04};
constexpr unsigned char kEmptyZipSignature[4] = {'P', 'K', 0x05, 0x06};
constexpr unsigned char kCompoundFileSignature[8] = {0xD0, 0xCF, 0x11, 0xE0,
                                                     0xA1, 0xB1, 0x1A, 0xE1};

bool ReadAt(int fd, uint64_t offset, void* buffer, size_t size) {
  auto* out = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::pread(fd, out, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<size_t>(n);
  }
  return true;
}

uint32_t LoadLe32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
}

// Whether the compound file's directory names a stream "EncryptedPackage" (MS-CFB 2.2 header,
// 2.3 FAT chains, 2.6 directory entries). Only as much of the container as the directory
// needs is read; anything unreadable counts as "no".
bool HoldsEncryptedPackage(int fd, uint64_t fileSize) {
  unsigned char header[512];
  if (!ReadAt(fd, 0, header, sizeof header)) return false;
  const uint16_t sectorShift = LoadLe16(header + 0x1E);
  if (sectorShift != 9 && sectorShift != 12) return false;
  const uint64_t sectorSize = uint64_t{1} << sectorShift;
  const uint64_t sectorCount = fileSize / sectorSize;
  auto sectorOffset = [&](uint32_t sector) { return (uint64_t{sector} + 1) * sectorSize; };

  // The FAT sectors listed in the header (enough for directories of files up to ~7 MiB with
  // 512-byte sectors), then the DIFAT chain for the rest.
  std::vector<uint32_t> fatSectors;
  for (int i = 0; i < 109; ++i) {
    const uint32_t s = LoadLe32(header + 0x4C + 4 * i);
    if (s < sectorCount) fatSectors.push_back(s);
  }
  uint32_t difat = LoadLe32(header + 0x44);
  std::vector<unsigned char> sector(sectorSize);
  for (uint64_t guard = 0; difat < sectorCount && guard < sectorCount; ++guard) {
    if (!ReadAt(fd, sectorOffset(difat), sector.data(), sectorSize)) break;
    for (uint64_t i = 0; i + 1 < sectorSize / 4; ++i) {
      const uint32_t s = LoadLe32(sector.data() + 4 * i);
      if (s < sectorCount) fatSectors.push_back(s);
    }
    difat = LoadLe32(sector.data() + sectorSize - 4);
  }
  auto nextSector = [&](uint32_t s) -> uint32_t {
    const uint64_t perSector = sectorSize / 4;
    const uint64_t index = s / perSector;
    if (index >= fatSectors.size()) return 0xFFFFFFFE;
    unsigned char entry[4];
    if (!ReadAt(fd, sectorOffset(fatSectors[index]) + (s % perSector) * 4, entry, 4)) {
      return 0xFFFFFFFE;
    }
    return LoadLe32(entry);
  };

  static const char16_t kName[] = u"EncryptedPackage";
  uint32_t dir = LoadLe32(header + 0x30);
  for (uint64_t guard = 0; dir < sectorCount && guard < sectorCount; ++guard) {
    if (!ReadAt(fd, sectorOffset(dir), sector.data(), sectorSize)) return false;
    for (uint64_t e = 0; e < sectorSize / 128; ++e) {
      const unsigned char* entry = sector.data() + e * 128;
      const uint16_t nameBytes = LoadLe16(entry + 0x40);
      if (nameBytes != sizeof kName || entry[0x42] != 2) continue;  // 2: a stream
      bool same = true;
      for (size_t i = 0; i + 1 < sizeof kName / 2 && same; ++i) {
        same = LoadLe16(entry + 2 * i) == kName[i];
      }
      if (same) return true;
    }
    dir = nextSector(dir);
  }
  return false;
}

// Until the readers list their sheets: the first worksheet as the only one.
class FirstSheetOnly final : public WorkbookSource {
 public:
  FirstSheetOnly(const std::string& path, std::string_view password)
      : path_(path), password_(password) {
    sheets_.push_back({"Sheet1", SheetKind::kWorksheet, SheetVisibility::kVisible});
  }
  std::unique_ptr<SheetSource> OpenSheet(size_t) override {
    return OpenWorkbookSource(path_, password_);
  }

 private:
  std::string path_;
  std::string password_;
};

}  // namespace

std::unique_ptr<WorkbookSource> OpenWorkbook(const std::string& path, std::string_view password) {
  OpenWorkbookSource(path, password);  // fails as the readers do
  return std::make_unique<FirstSheetOnly>(path, password);
}

std::unique_ptr<SheetSource> OpenWorkbookSource(const std::string& path,
                                                std::string_view password) {
  uint64_t fileSize = 0;
  UniqueFd file(OpenWorkbookFile(path, &fileSize));

  unsigned char magic[8] = {};
  const bool longEnough = ReadAt(file.get(), 0, magic, sizeof magic);
  if (longEnough && (std::memcmp(magic, kZipSignature, 4) == 0 ||
                     std::memcmp(magic, kEmptyZipSignature, 4) == 0)) {
    return OpenXlsxSource(path);
  }
  if (longEnough && std::memcmp(magic, kCompoundFileSignature, 8) == 0) {
    if (HoldsEncryptedPackage(file.get(), fileSize)) {
      return OpenEncryptedPackage(path, password);
    }
    return OpenXlsSource(path, password);
  }
  // Bare Excel 2.x-4.x files: the .xls reader says they are not supported. A bare BIFF8
  // workbook stream it reads.
  const std::string_view head(reinterpret_cast<const char*>(magic), sizeof magic);
  if (longEnough && LooksLikeOldBiffFile(head)) return OpenXlsSource(path);
  if (longEnough && LooksLikeBareBiff8Stream(head)) return OpenXlsSource(path, password);
  ThrowWorkbookError(path, "it is not an Excel workbook", ErrorKind::kNotAWorkbook);
}

}  // namespace cellverter
