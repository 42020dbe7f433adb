#include "spreadsheet/workbook_source.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/unique_fd.h"
#include "spreadsheet/container/compound_file.h"
#include "spreadsheet/container/workbook_file.h"
#include "spreadsheet/crypto/encrypted_package.h"
#include "spreadsheet/first_worksheet.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/xls/xls_reader.h"
#include "spreadsheet/xlsx/xlsx_reader.h"

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

}  // namespace

std::unique_ptr<WorkbookSource> OpenWorkbook(const std::string& path, std::string_view password) {
  // The file is opened once here; the reader gets the descriptor or the container.
  UniqueFd file(OpenWorkbookFile(path));
  unsigned char magic[8] = {};
  const bool longEnough = ReadAt(file.get(), 0, magic, sizeof magic);
  // Every zip package is taken for Office Open XML: the one place to tell other kinds of zip.
  if (longEnough && (std::memcmp(magic, kZipSignature, 4) == 0 ||
                     std::memcmp(magic, kEmptyZipSignature, 4) == 0)) {
    return OpenXlsxWorkbook(path, file.release());
  }
  if (longEnough && std::memcmp(magic, kCompoundFileSignature, 8) == 0) {
    auto compound = std::make_unique<CompoundFile>(path, file.release());
    // A password-protected .xlsx is stored as an "EncryptedPackage" stream.
    if (compound->FindStream("EncryptedPackage")) return OpenEncryptedPackage(*compound, password);
    return OpenXlsWorkbook(std::move(compound), password, CompoundFile::Container::kCompoundFile);
  }
  // Bare Excel 2.x-4.x files: the .xls reader says they are not supported. A bare BIFF8
  // workbook stream it reads.
  const std::string_view head(reinterpret_cast<const char*>(magic), sizeof magic);
  if (longEnough && LooksLikeOldBiffFile(head)) return OpenXlsWorkbook(path, password);
  if (longEnough && LooksLikeBareBiff8Stream(head)) {
    return OpenXlsWorkbook(
        std::make_unique<CompoundFile>(path, file.release(), CompoundFile::Container::kBareStream),
        password, CompoundFile::Container::kBareStream);
  }
  ThrowWorkbookError(path, "it is not an Excel workbook", ErrorKind::kNotAWorkbook);
}

std::unique_ptr<SheetSource> OpenWorkbookSource(const std::string& path,
                                                std::string_view password) {
  return OpenFirstWorksheet(OpenWorkbook(path, password), path);
}

}  // namespace cellverter
