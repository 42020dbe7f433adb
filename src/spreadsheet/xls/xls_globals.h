#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "spreadsheet/sheet_source.h"
#include "spreadsheet/xls/xls_records.h"

namespace cellverter::biff {

// A sheet of the sheet list (BOUNDSHEET, MS-XLS 2.4.28): where its BOF lies in the stream,
// its type (dt), its visibility (hsState) and its name in UTF-8.
struct BoundSheet {
  uint32_t offset = 0;
  uint8_t type = 0;    // 0 worksheet or dialog sheet, 1 macro sheet, 2 chart, 6 VBA module
  uint8_t hidden = 0;  // 0 visible, 1 hidden, 2 very hidden
  std::string name;
};

// Number formats and cell formats (XF) as a table from a cell's style index to its number
// format. BIFF5 and BIFF8 give each format an id, and ids under 50 are mostly Excel's
// built-in formats; BIFF2-BIFF4 files hold every format they use as a FORMAT record, and
// their XF records and BIFF2 cells refer to them by their position among those records.
class CellFormatTable {
 public:
  // `version` 2, 3 or 4 for Excel 2.x-4.x files, else 5 or 8.
  explicit CellFormatTable(int version = 8) : version_(version) {}

  // FORMAT, XF and (BIFF2-4) their record types; false for any other record.
  bool Read(uint16_t type, std::string_view data, CodePageDecoder& codePage);
  NumberFormatRef CellFormat(uint32_t styleIndex) const;
  size_t CellFormatCount() const { return xfFormats_.size(); }
  // BIFF2 cells carry their number format's position themselves; their style index is that.
  void SetStyleIsFormat() { styleIsFormat_ = true; }

 private:
  void ReadFormat(std::string_view data, CodePageDecoder& codePage);

  int version_;
  bool styleIsFormat_ = false;
  std::unordered_map<uint16_t, std::string> formats_;
  std::vector<uint16_t> xfFormats_;
};

// The sheet list is bounded: sheet indexes in the format's records are 16-bit.
inline constexpr size_t kMaxBoundSheets = 0xFFFF;

// The workbook globals substream: version, protection, code page, date system, formats,
// cell formats, shared strings and the sheet list. An Excel 2.x-4.x worksheet file is its
// own globals and its one sheet; an Excel 4.0 workbook (BIFF4W) holds its sheets' substreams
// inside or after its globals, each after a record naming it.
class WorkbookGlobals {
 public:
  // Reads the substream from the stream's first record to its EOF. A workbook that cannot be
  // read (a password that does not open it) or is damaged throws WorkbookFault of that kind.
  void Read(RecordReader& reader, std::string_view password, bool truncated, RepairLog& repairs);

  bool Biff8() const { return version_ == 8; }
  // 2, 3 or 4 for Excel 2.x-4.x files (BIFF2-BIFF4), 5 for BIFF5/BIFF7, 8 for BIFF8.
  int Version() const { return version_; }
  bool OldBiff() const { return version_ < 5; }
  bool Date1904() const { return date1904_; }
  // The sheets of an Excel 2.x-4.x file have no name but for BIFF4W's: their name is empty.
  const std::vector<BoundSheet>& Sheets() const { return sheets_; }
  const CellFormatTable& Formats() const { return formats_; }
  NumberFormatRef CellFormat(uint32_t styleIndex) const { return formats_.CellFormat(styleIndex); }
  size_t CellFormatCount() const { return formats_.CellFormatCount(); }
  size_t SharedStringCount() const { return sstEnds_.size(); }
  // `index` < SharedStringCount().
  std::string_view SharedString(size_t index) const {
    const size_t begin = index == 0 ? 0 : sstEnds_[index - 1];
    return std::string_view(sstText_).substr(begin, sstEnds_[index] - begin);
  }
  // The 8-bit text of BIFF5/BIFF7 workbooks, in the code page of the CODEPAGE record.
  CodePageDecoder& CodePage() { return codePage_; }

 private:
  void ReadOldBiff(RecordReader& reader, uint16_t bofType, bool truncated);
  static void ReadSheetHeader(std::string_view data, std::string& name, bool& named);
  void ReadBoundSheet(std::string_view data);
  void DecodeSheetNames();
  void ReadSharedStrings(RecordReader& reader, std::string_view first, RepairLog& repairs);

  int version_ = 8;
  bool date1904_ = false;
  CodePageDecoder codePage_;
  CellFormatTable formats_;
  std::string sstText_;
  std::vector<size_t> sstEnds_;
  std::vector<BoundSheet> sheets_;
};

}  // namespace cellverter::biff
