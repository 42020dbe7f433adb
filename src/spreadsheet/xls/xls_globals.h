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

// The sheet list is bounded: sheet indexes in the format's records are 16-bit.
inline constexpr size_t kMaxBoundSheets = 0xFFFF;

// The workbook globals substream: version, protection, code page, date system, formats,
// cell formats, shared strings and the sheet list.
class WorkbookGlobals {
 public:
  // Reads the substream from the stream's first record to its EOF. A workbook that cannot be
  // read (Excel 2.x-4.x, a password that does not open it) or is damaged throws WorkbookFault
  // of that kind.
  void Read(RecordReader& reader, std::string_view password, bool truncated, RepairLog& repairs);

  bool Biff8() const { return biff8_; }
  bool Date1904() const { return date1904_; }
  const std::vector<BoundSheet>& Sheets() const { return sheets_; }
  NumberFormatRef CellFormat(uint32_t styleIndex) const;
  size_t CellFormatCount() const { return xfFormats_.size(); }
  size_t SharedStringCount() const { return sstEnds_.size(); }
  // `index` < SharedStringCount().
  std::string_view SharedString(size_t index) const {
    const size_t begin = index == 0 ? 0 : sstEnds_[index - 1];
    return std::string_view(sstText_).substr(begin, sstEnds_[index] - begin);
  }
  // The 8-bit text of BIFF5/BIFF7 workbooks, in the code page of the CODEPAGE record.
  CodePageDecoder& CodePage() { return codePage_; }

 private:
  void ReadFormat(std::string_view data);
  void ReadBoundSheet(std::string_view data);
  void ReadSharedStrings(RecordReader& reader, std::string_view first, RepairLog& repairs);

  bool biff8_ = true;
  bool date1904_ = false;
  CodePageDecoder codePage_;
  std::unordered_map<uint16_t, std::string> formats_;
  std::vector<uint16_t> xfFormats_;
  std::string sstText_;
  std::vector<size_t> sstEnds_;
  std::vector<BoundSheet> sheets_;
};

}  // namespace cellverter::biff
