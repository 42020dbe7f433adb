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
    ReadOldBiff(reader, bofType, truncated);
    return;
  }
  if (bofType != kBof || reader.data().size() < 4) {
    ThrowDamaged("the workbook stream does not start with a BOF record");
  }
  const uint16_t version = LoadLe16(reader.data().data());
  version_ = version == 0x0600 || (version != 0x0500 && reader.data().size() >= 16) ? 8 : 5;
  formats_ = CellFormatTable(version_);
  if (LoadLe16(reader.data().data() + 2) != kGlobalsSubstream) {
    ThrowDamaged("the workbook globals are missing");
  }
  const bool biff8 = Biff8();
  if (!biff8) codePage_.SetCodePage(1252);
  bool ended = false;
  while (!ended && reader.Next()) {
    const std::string_view data = reader.data();
    switch (reader.type()) {
      case kEof:
        ended = true;
        break;
      case kFilePass:
        if (!biff8) {
          throw PasswordRefused(std::string(kPasswordProtectedCause));
        }
        reader.SetDecryptor(OpenBiffDecryptor(data, password));
        break;
      case kCodePage:
        if (data.size() >= 2 && !biff8) codePage_.SetCodePage(LoadLe16(data.data()));
        break;
      case kDateMode:
        date1904_ = data.size() >= 2 && LoadLe16(data.data()) == 1;
        break;
      case kFormat:
      case kXf:
        formats_.Read(reader.type(), data, codePage_);
        break;
      case kBoundSheet:
        ReadBoundSheet(data);
        break;
      case kSst:
        if (biff8) ReadSharedStrings(reader, data, repairs);
        break;
      default:
        break;
    }
  }
  if (!ended && !truncated) ThrowDamaged("the workbook globals have no end");
  if (!biff8) DecodeSheetNames();
}

// 8-bit sheet names, kept as read until the code page was known: Excel writes CODEPAGE
// before the sheet list, but nothing makes a writer do so.
void WorkbookGlobals::DecodeSheetNames() {
  for (BoundSheet& sheet : sheets_) {
    std::string raw = std::move(sheet.name);
    sheet.name.clear();
    codePage_.Append(raw.data(), raw.size(), sheet.name);
  }
}

// BOUNDSHEET: the name is a ShortXLUnicodeString in BIFF8, 8-bit text in BIFF5/BIFF7 (kept
// as it is until the code page is known). Either is at most 255 characters, so a name can
// never pass kMaxSheetNameBytes once in UTF-8.
static_assert(255 * 3 <= kMaxSheetNameBytes);
void WorkbookGlobals::ReadBoundSheet(std::string_view data) {
  if (sheets_.size() >= kMaxBoundSheets) ThrowDamaged("the sheet list is too long");
  if (data.size() < (Biff8() ? 8u : 7u)) ThrowDamaged("a sheet's name is cut off");
  BoundSheet sheet;
  sheet.offset = LoadLe32(data.data());
  sheet.hidden = static_cast<uint8_t>(data[4]) & 0x03;
  sheet.type = static_cast<uint8_t>(data[5]);
  const size_t count = static_cast<uint8_t>(data[6]);
  if (Biff8()) {
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

// The globals of an Excel 2.x-4.x file: the BOF's sheet type says whether the file is one
// worksheet, chart or macro sheet, or (BIFF4W) a workbook of such sheets. The records are read
// through to the end of the globals; a workbook's walk goes on to the end of the stream for
// the sheets stored after its globals.
void WorkbookGlobals::ReadOldBiff(RecordReader& reader, uint16_t bofType, bool truncated) {
  version_ = bofType == kBofBiff2 ? 2 : bofType == kBofBiff3 ? 3 : 4;
  formats_ = CellFormatTable(version_);
  codePage_.SetCodePage(1252);
  if (reader.data().size() < 4) {
    ThrowDamaged("the workbook stream does not start with a BOF record");
  }
  auto sheetType = [](uint16_t dt) -> int {
    switch (dt) {
      case kWorksheetSubstream:
        return 0;
      case kMacroSubstream:
        return 1;
      case kChartSubstream:
        return 2;
      default:
        return -1;
    }
  };
  const uint16_t dt = LoadLe16(reader.data().data() + 2);
  const bool workbook = version_ == 4 && dt == kWorkbookBiff4W;
  if (!workbook) {
    if (sheetType(dt) < 0) ThrowDamaged("the file starts with a BOF record of an unknown type");
    sheets_.push_back({0, static_cast<uint8_t>(sheetType(dt)), 0, {}});
  }
  std::string name;  // of the sheet whose substream comes next (BIFF4W)
  bool named = false;
  int depth = 1;  // 0 past the workbook's globals
  bool ended = false;
  while (reader.Next()) {
    const uint16_t type = reader.type();
    const std::string_view data = reader.data();
    if (IsBof(type)) {
      if (++depth > 64) ThrowDamaged("sheets are nested too deeply");
      // A BIFF4W sheet: a substream within the globals or after them.
      if (workbook && depth == (ended ? 1 : 2)) {
        if (sheets_.size() >= kMaxBoundSheets) ThrowDamaged("the sheet list is too long");
        const int kind = data.size() >= 4 ? sheetType(LoadLe16(data.data() + 2)) : -1;
        // Some other substream (a VBA module has none here): kept as a sheet of no kind,
        // which ListSheets leaves out.
        sheets_.push_back({static_cast<uint32_t>(reader.offset()),
                           static_cast<uint8_t>(kind < 0 ? 0xFF : kind), 0,
                           named ? std::move(name) : std::string()});
        name.clear();
        named = false;
      }
      continue;
    }
    if (type == kEof) {
      if (--depth == 0) {
        if (!workbook) return;
        ended = true;
      }
      continue;
    }
    // Past a workbook's globals only the names of the sheets that follow are read.
    if (ended && depth == 0 && type == kSheetHeaderBiff4W) {
      ReadSheetHeader(data, name, named);
      continue;
    }
    if (depth != 1 || ended) continue;
    switch (type) {
      case kFilePass:
        throw PasswordRefused(std::string(kPasswordProtectedCause));
      case kCodePage:
        if (data.size() >= 2) codePage_.SetCodePage(LoadLe16(data.data()));
        break;
      case kDateMode:
        date1904_ = data.size() >= 2 && LoadLe16(data.data()) == 1;
        break;
      case kSheetHeaderBiff4W:
        if (workbook) ReadSheetHeader(data, name, named);
        break;
      default:
        if (workbook) formats_.Read(type, data, codePage_);
        break;
    }
  }
  if (!truncated && !ended) ThrowDamaged("the workbook globals have no end");
  DecodeSheetNames();
}

// The record before a BIFF4W sheet's substream: the sheet's name as a byte string, then the
// size of the substream. A name cut off is left out.
void WorkbookGlobals::ReadSheetHeader(std::string_view data, std::string& name, bool& named) {
  if (data.empty() || data.size() < 1u + static_cast<uint8_t>(data[0])) return;
  name.assign(data.substr(1, static_cast<uint8_t>(data[0])));
  named = true;
}

bool CellFormatTable::Read(uint16_t type, std::string_view data, CodePageDecoder& codePage) {
  const bool old = version_ < 5;
  switch (type) {
    case kFormat:
      if (version_ == 3 || version_ == 2) return false;
      ReadFormat(data, codePage);
      return true;
    case kFormatBiff2:
      if (!old) return false;
      ReadFormat(data, codePage);
      return true;
    case kXf:
      // XF (MS-XLS 2.4.353): ifmt at offset 2.
      if (old) return false;
      if (data.size() >= 4) xfFormats_.push_back(LoadLe16(data.data() + 2));
      return true;
    case kXfBiff2:
      // The format's position in the low 6 bits of the third byte.
      if (version_ != 2) return false;
      if (data.size() >= 3) xfFormats_.push_back(static_cast<uint8_t>(data[2]) & 0x3F);
      return true;
    case kXfBiff3:
    case kXfBiff4:
      // The format's position in the second byte.
      if (version_ != (type == kXfBiff3 ? 3 : 4)) return false;
      if (data.size() >= 2) xfFormats_.push_back(static_cast<uint8_t>(data[1]));
      return true;
    default:
      return false;
  }
}

NumberFormatRef CellFormatTable::CellFormat(uint32_t styleIndex) const {
  if (version_ < 5) {
    // A format missing from the file is General, as LibreOffice shows it.
    if (!styleIsFormat_) {
      if (styleIndex >= xfFormats_.size()) return {};
      styleIndex = xfFormats_[styleIndex];
    }
    if (styleIndex > 0xFFFF) return {};
    const auto found = formats_.find(static_cast<uint16_t>(styleIndex));
    if (found == formats_.end()) return {};
    return {0, found->second};
  }
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

// FORMAT (MS-XLS 2.4.126): a format id and its code. BIFF2-BIFF4 formats are known by their
// position among the FORMAT records, as LibreOffice numbers them; BIFF4's id field is not
// read, as LibreOffice does not read it.
void CellFormatTable::ReadFormat(std::string_view data, CodePageDecoder& codePage) {
  std::string code;
  if (version_ < 5) {
    const size_t at = version_ == 4 ? 2 : 0;
    if (data.size() < at + 1 || data.size() < at + 1 + static_cast<uint8_t>(data[at])) {
      ThrowDamaged("a FORMAT record is too short");
    }
    codePage.Append(data.data() + at + 1, static_cast<uint8_t>(data[at]), code);
    if (formats_.size() > 0xFFFF) ThrowDamaged("there are too many formats");
    formats_[static_cast<uint16_t>(formats_.size())] = std::move(code);
    return;
  }
  if (data.size() < 3) ThrowDamaged("a FORMAT record is too short");
  if (version_ == 8) {
    ContinuedData text;
    text.Append(data.substr(2));
    ReadBiff8String(text, false, code);
  } else {
    const size_t count = static_cast<uint8_t>(data[2]);
    if (data.size() < 3 + count) ThrowDamaged("a FORMAT record is too short");
    codePage.Append(data.data() + 3, count, code);
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
