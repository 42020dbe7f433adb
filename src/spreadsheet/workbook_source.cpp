#include "spreadsheet/workbook_source.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/unique_fd.h"
#include "spreadsheet/container/compound_file.h"
#include "spreadsheet/container/workbook_file.h"
#include "spreadsheet/container/zip_archive.h"
#include "spreadsheet/crypto/encrypted_package.h"
#include "spreadsheet/first_worksheet.h"
#include "spreadsheet/ods/ods_reader.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/xls/xls_reader.h"
#include "spreadsheet/xlsb/xlsb_reader.h"
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

// What a zip package holds, told from its content alone.
enum class PackageKind { kOfficeOpenXml, kBinaryWorkbook, kOpenDocument, kOther };

// Whether `text` names the content type `type` as an attribute value: followed by its quote.
bool NamesContentType(std::string_view text, std::string_view type) {
  for (size_t at = text.find(type); at != std::string_view::npos; at = text.find(type, at + 1)) {
    const size_t end = at + type.size();
    if (at > 0 && end < text.size() && (text[at - 1] == '"' || text[at - 1] == '\'') &&
        text[end] == text[at - 1]) {
      return true;
    }
  }
  return false;
}

// An OpenDocument package starts with its "mimetype"; an Office Open XML package names the
// content type of its main part in "[Content_Types].xml". A package that says neither is left
// to the Office Open XML reader, which repairs what Excel repairs or says what is wrong.
PackageKind KindOfPackage(const ZipArchive& zip) {
  constexpr uint64_t kMaxContentTypes = 4 << 20;
  const std::string mimeType = OpenDocumentMimeType(zip);
  if (mimeType.starts_with(kOdsMimeType)) return PackageKind::kOpenDocument;
  if (mimeType.starts_with("application/vnd.oasis.opendocument.")) return PackageKind::kOther;
  const ZipArchive::Entry* types = zip.Find("[Content_Types].xml");
  if (types == nullptr) {
    const bool openDocument =
        zip.Find("content.xml") != nullptr && zip.Find("META-INF/manifest.xml") != nullptr;
    return openDocument ? PackageKind::kOpenDocument : PackageKind::kOfficeOpenXml;
  }
  const std::string text = zip.ReadAll(*types, kMaxContentTypes);
  if (NamesContentType(text, "application/vnd.ms-excel.sheet.binary.macroEnabled.main")) {
    return PackageKind::kBinaryWorkbook;
  }
  // Workbooks, templates, macro-enabled ones and add-ins of Office Open XML.
  constexpr std::string_view kSpreadsheetMains[] = {
      "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml",
      "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml",
      "application/vnd.ms-excel.sheet.macroEnabled.main+xml",
      "application/vnd.ms-excel.template.macroEnabled.main+xml",
      "application/vnd.ms-excel.addin.macroEnabled.main+xml",
  };
  for (std::string_view type : kSpreadsheetMains) {
    if (NamesContentType(text, type)) return PackageKind::kOfficeOpenXml;
  }
  // A document or a presentation names its own main part.
  return text.find(".main+xml") != std::string::npos ? PackageKind::kOther
                                                     : PackageKind::kOfficeOpenXml;
}

// Text in the first bytes: an XML declaration, a byte order mark or a root element.
bool LooksLikeXml(std::string_view head) {
  return head.starts_with("<?xml") || head.starts_with("\xEF\xBB\xBF") ||
         head.starts_with("<office");
}

}  // namespace

std::unique_ptr<WorkbookSource> OpenWorkbook(const std::string& path, std::string_view password) {
  // The file is opened once here; the reader gets the descriptor or the container.
  UniqueFd file(OpenWorkbookFile(path));
  unsigned char magic[8] = {};
  const bool longEnough = ReadAt(file.get(), 0, magic, sizeof magic);
  if (longEnough && (std::memcmp(magic, kZipSignature, 4) == 0 ||
                     std::memcmp(magic, kEmptyZipSignature, 4) == 0)) {
    return OpenZipWorkbook(path, file.release());
  }
  if (longEnough && std::memcmp(magic, kCompoundFileSignature, 8) == 0) {
    auto compound = std::make_unique<CompoundFile>(path, file.release());
    // A password-protected .xlsx is stored as an "EncryptedPackage" stream.
    if (compound->FindStream("EncryptedPackage")) return OpenEncryptedPackage(*compound, password);
    return OpenXlsWorkbook(std::move(compound), password, CompoundFile::Container::kCompoundFile);
  }
  // Bare Excel 2.x-4.x files and a BIFF8 workbook stream stored bare: the .xls reader reads
  // them as the stream.
  const std::string_view head(reinterpret_cast<const char*>(magic), sizeof magic);
  if (longEnough && LooksLikeOldBiffFile(head)) return OpenXlsWorkbook(path, password);
  if (longEnough && LooksLikeBareBiff8Stream(head)) {
    return OpenXlsWorkbook(
        std::make_unique<CompoundFile>(path, file.release(), CompoundFile::Container::kBareStream),
        password, CompoundFile::Container::kBareStream);
  }
  if (longEnough && LooksLikeXml(head)) return OpenFlatOdsWorkbook(path, file.release());
  ThrowWorkbookError(path, kNotAWorkbookCause, ErrorKind::kNotAWorkbook);
}

std::unique_ptr<WorkbookSource> OpenZipWorkbook(const std::string& path, int fd) {
  auto zip = WithWorkbookErrors(path, [&] { return std::make_unique<ZipArchive>(fd); });
  switch (WithWorkbookErrors(path, [&] { return KindOfPackage(*zip); })) {
    case PackageKind::kOfficeOpenXml:
      return OpenXlsxWorkbook(path, std::move(zip));
    case PackageKind::kBinaryWorkbook:
      return OpenXlsbWorkbook(path, std::move(zip));
    case PackageKind::kOpenDocument:
      return OpenOdsWorkbook(path, std::move(zip));
    case PackageKind::kOther:
      break;
  }
  ThrowWorkbookError(path, kNotAWorkbookCause, ErrorKind::kNotAWorkbook);
}

std::unique_ptr<SheetSource> OpenWorkbookSource(const std::string& path,
                                                std::string_view password) {
  return OpenFirstWorksheet(OpenWorkbook(path, password), path);
}

}  // namespace cellverter
