#include "spreadsheet/xls_globals.h"

#include <stdexcept>
#include <utility>

#include "platform/little_endian.h"
#include "spreadsheet/office_crypto.h"
#include "spreadsheet/workbook_error.h"

namespace cellverter::biff {

void WorkbookGlobals::Read(RecordReader& reader, const std::string& path, std::string_view password,
                           bool truncated, RepairLog& repairs) {
  if (!reader.Next())
    ThrowWorkbookError(path, "the file is damaged (the workbook stream is empty)",
                       ErrorKind::kDamaged);
  const uint16_t bofType = reader.type();
  if (bofType == kBofBiff2 || bofType == kBofBiff3 || bofType == kBofBiff4) {
    ThrowWorkbookError(
        path, "Excel 2.x-4.x workbooks are not supported; save it as a newer Excel workbook",
        ErrorKind::kUnsupportedVersion);
  }
  if (bofType != kBof || reader.data().size() < 4) {
    ThrowWorkbookError(path,
                       "the file is damaged (the workbook stream does not start with a BOF record)",
                       ErrorKind::kDamaged);
  }
  const uint16_t version = LoadLe16(reader.data().data());
  biff8_ = version == 0x0600 || (version != 0x0500 && reader.data().size() >= 16);
  if (LoadLe16(reader.data().data() + 2) != kGlobalsSubstream) {
    ThrowWorkbookError(path, "the file is damaged (the workbook globals are missing)",
                       ErrorKind::kDamaged);
  }
  if (!biff8_) codePage_.SetCodePage(1252);
  while (reader.Next()) {
    const std::string_view data = reader.data();
    switch (reader.type()) {
      case kEof:
        return;
      case kFilePass:
        if (!biff8_)
          ThrowWorkbookError(path, kPasswordProtectedCause, ErrorKind::kPasswordProtected);
        try {
          reader.SetDecryptor(OpenBiffDecryptor(data, password));
        } catch (const WorkbookFault& refused) {
          ThrowWorkbookError(path, refused.what(), refused.Kind());
        }
        break;
      case kCodePage:
        if (data.size() >= 2 && !biff8_) codePage_.SetCodePage(LoadLe16(data.data()));
        break;
      case kDateMode:
        date1904_ = data.size() >= 2 && LoadLe16(data.data()) == 1;
        break;
      case kFormat:
        ReadFormat(data);
        break;
      case kXf:
        if (data.size() >= 4) xfFormats_.push_back(LoadLe16(data.data() + 2));
        break;
      case kBoundSheet:
        if (data.size() >= 6) {
          sheets_.push_back({LoadLe32(data.data()), static_cast<uint8_t>(data[5])});
        }
        break;
      case kSst:
        if (biff8_) ReadSharedStrings(reader, data, repairs);
        break;
      default:
        break;
    }
  }
  if (truncated) return;
  throw Damaged{"the workbook globals have no end"};
}

NumberFormatRef WorkbookGlobals::CellFormat(uint32_t styleIndex) const {
  if (styleIndex >= xfFormats_.size()) return {};
  const uint16_t id = xfFormats_[styleIndex];
  // Excel shows its own built-in formats for these ids whatever the file's FORMAT record
  // says (the short date follows the user's locale); the currency formats 5-8 and 41-44
  // and the East Asian dates 23-36 (not built into every Excel) are the file's.
  const bool builtIn =
      id < 50 && !(id >= 5 && id <= 8) && !(id >= 41 && id <= 44) && !(id >= 23 && id <= 36);
  if (!builtIn) {
    const auto found = formats_.find(id);
    if (found != formats_.end()) return {0, found->second};
  }
  return {id, {}};
}

// FORMAT (MS-XLS 2.4.126): a format id and its code.
void WorkbookGlobals::ReadFormat(std::string_view data) {
  if (data.size() < 3) throw Damaged{"a FORMAT record is too short"};
  std::string code;
  if (biff8_) {
    ContinuedData text;
    text.Append(data.substr(2));
    ReadBiff8String(text, false, code);
  } else {
    const size_t count = static_cast<uint8_t>(data[2]);
    if (data.size() < 3 + count) throw Damaged{"a FORMAT record is too short"};
    codePage_.Append(data.data() + 3, count, code);
  }
  formats_[LoadLe16(data.data())] = std::move(code);
}

// SST (MS-XLS 2.4.265) with its CONTINUE records.
void WorkbookGlobals::ReadSharedStrings(RecordReader& reader, std::string_view first,
                                        RepairLog& repairs) {
  if (first.size() < 8) throw Damaged{"the shared string table is too short"};
  const uint32_t unique = LoadLe32(first.data() + 4);
  ContinuedData data;
  data.Append(first.substr(8));
  while (reader.Next()) {
    if (reader.type() != kContinue) {
      reader.Unread();
      break;
    }
    data.Append(reader.data());
  }
  // The strings the records hold are read whatever the counts say, as Excel reads them; a
  // string cut off by the end of the records keeps the characters there.
  sstEnds_.clear();
  bool cutOff = false;
  while (!cutOff && !data.AtEnd()) {
    cutOff = !ReadBiff8String(data, false, sstText_, true);
    sstEnds_.push_back(sstText_.size());
  }
  if (cutOff) {
    repairs.Note(kSharedStringCutOffRepair);
  } else if (sstEnds_.size() != unique) {
    repairs.Note(kSharedStringCountRepair);
  }
}

}  // namespace cellverter::biff
