#include "spreadsheet/xls/xls_globals.h"

#include <stdexcept>
#include <utility>

#include "platform/little_endian.h"
#include "spreadsheet/crypto/office_crypto.h"
#include "spreadsheet/workbook_error.h"

namespace cellverter::biff {

void WorkbookGlobals::Read(RecordReader& reader, std::string_view password, bool truncated,
                           RepairLog& repairs) {
  if (!reader.Next()) ThrowDamaged("the workbook stream is empty");
  const uint16_t bofType = reader.type();
  if (bofType == kBofBiff2 || bofType == kBofBiff3 || bofType == kBofBiff4) {
    throw WorkbookFault(kOldBiffCause, ErrorKind::kUnsupportedVersion);
  }
  if (bofType != kBof || reader.data().size() < 4) {
    ThrowDamaged("the workbook stream does not start with a BOF record");
  }
  const uint16_t version = LoadLe16(reader.data().data());
  biff8_ = version == 0x0600 || (version != 0x0500 && reader.data().size() >= 16);
  if (LoadLe16(reader.data().data() + 2) != kGlobalsSubstream) {
    ThrowDamaged("the workbook globals are missing");
  }
  if (!biff8_) codePage_.SetCodePage(1252);
  bool ended = false;
  while (!ended && reader.Next()) {
    const std::string_view data = reader.data();
    switch (reader.type()) {
      case kEof:
        ended = true;
        break;
      case kFilePass:
        if (!biff8_) {
          throw PasswordRefused(std::string(kPasswordProtectedCause));
        }
        reader.SetDecryptor(OpenBiffDecryptor(data, password));
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
        ReadBoundSheet(data);
        break;
      case kSst:
        if (biff8_) ReadSharedStrings(reader, data, repairs);
        break;
      default:
        break;
    }
  }
  if (!ended && !truncated) ThrowDamaged("the workbook globals have no end");
  if (!biff8_) {
    // Excel writes CODEPAGE before the sheet list, but nothing makes a writer do so.
    for (BoundSheet& sheet : sheets_) {
      std::string raw = std::move(sheet.name);
      sheet.name.clear();
      codePage_.Append(raw.data(), raw.size(), sheet.name);
    }
  }
}

// BOUNDSHEET: the name is a ShortXLUnicodeString in BIFF8, 8-bit text in BIFF5/BIFF7 (kept
// as it is until the code page is known). Either is at most 255 characters, so a name can
// never pass kMaxSheetNameBytes once in UTF-8.
static_assert(255 * 3 <= kMaxSheetNameBytes);
void WorkbookGlobals::ReadBoundSheet(std::string_view data) {
  if (sheets_.size() >= kMaxBoundSheets) ThrowDamaged("the sheet list is too long");
  if (data.size() < (biff8_ ? 8u : 7u)) ThrowDamaged("a sheet's name is cut off");
  BoundSheet sheet;
  sheet.offset = LoadLe32(data.data());
  sheet.hidden = static_cast<uint8_t>(data[4]) & 0x03;
  sheet.type = static_cast<uint8_t>(data[5]);
  const size_t count = static_cast<uint8_t>(data[6]);
  if (biff8_) {
    ContinuedData text;
    text.Append(data.substr(8));
    if (!text.Characters(count, static_cast<uint8_t>(data[7]) & 1, sheet.name)) {
      ThrowDamaged("a sheet's name is cut off");
    }
  } else {
    if (data.size() - 7 < count) ThrowDamaged("a sheet's name is cut off");
    sheet.name.assign(data.substr(7, count));
  }
  sheets_.push_back(std::move(sheet));
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
  if (data.size() < 3) ThrowDamaged("a FORMAT record is too short");
  std::string code;
  if (biff8_) {
    ContinuedData text;
    text.Append(data.substr(2));
    ReadBiff8String(text, false, code);
  } else {
    const size_t count = static_cast<uint8_t>(data[2]);
    if (data.size() < 3 + count) ThrowDamaged("a FORMAT record is too short");
    codePage_.Append(data.data() + 3, count, code);
  }
  formats_[LoadLe16(data.data())] = std::move(code);
}

// SST (MS-XLS 2.4.265) with its CONTINUE records.
void WorkbookGlobals::ReadSharedStrings(RecordReader& reader, std::string_view first,
                                        RepairLog& repairs) {
  if (first.size() < 8) ThrowDamaged("the shared string table is too short");
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
