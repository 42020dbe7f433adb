#pragma once

// The record layer of the binary parts of an .xlsb package (MS-XLSB 2.1.4): records of a
// variable-length type and size, read one at a time from a part's inflated bytes, and the
// fields inside one record.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "spreadsheet/container/zip_archive.h"

namespace cellverter::xlsb {

// Record types (MS-XLSB 2.3), those the reader acts on.
enum RecordType : uint16_t {
  kRowHdr = 0,
  kCellBlank = 1,
  kCellRk = 2,
  kCellError = 3,
  kCellBool = 4,
  kCellReal = 5,
  kCellSt = 6,
  kCellIsst = 7,
  kFmlaString = 8,
  kFmlaNum = 9,
  kFmlaBool = 10,
  kFmlaError = 11,
  kShortBlank = 12,
  kShortRk = 13,
  kShortError = 14,
  kShortBool = 15,
  kShortReal = 16,
  kShortSt = 17,
  kShortIsst = 18,
  kSstItem = 19,
  kCellRString = 62,
  kFmt = 44,
  kXf = 47,
  kColInfo = 60,
  kBeginSheet = 129,
  kBeginBook = 131,
  kBeginSheetData = 145,
  kEndSheetData = 146,
  kWbProp = 153,
  kBundleSh = 156,
  kMergeCell = 176,
  kBeginList = 343,
  kWsFmtInfo = 485,
  kBeginFmts = 615,
  kEndFmts = 616,
  kBeginCellXfs = 617,
  kEndCellXfs = 618,
  kBeginComment = 635,
  kListPart = 661,
};

// Records larger than this mark a damaged part: Excel's largest (a rich string of 32,767
// characters with its runs and phonetic text, a long formula) stay far below.
inline constexpr size_t kMaxRecordSize = size_t{4} << 20;

// The records of one part, in order. A record is never taken beyond the part's end.
class RecordReader {
 public:
  explicit RecordReader(ByteStream& in) : in_(in) {}

  // The next record; false at the end of the part. Throws WorkbookDamaged when a record is
  // cut off, too large or of an invalid header.
  bool Next();
  uint32_t Type() const { return type_; }
  std::string_view Data() const { return data_; }

 private:
  bool Fill(size_t need);
  [[noreturn]] static void CutOff();

  ByteStream& in_;
  std::string buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  uint32_t type_ = 0;
  std::string_view data_;
};

// The fields of one record, read in order. Reading past its end throws WorkbookDamaged.
class RecordFields {
 public:
  explicit RecordFields(std::string_view data) : data_(data) {}

  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  double F64();
  void Skip(size_t size);
  size_t Remaining() const { return data_.size() - pos_; }
  // XLWideString (2.5.166): a count of UTF-16 units and the units, as UTF-8 in `out`.
  void WideString(std::string& out);
  // XLNullableWideString (2.5.165): false, and `out` empty, for the null string.
  bool NullableWideString(std::string& out);

 private:
  const char* Take(size_t size);
  void Utf16(uint32_t units, std::string& out);

  std::string_view data_;
  size_t pos_ = 0;
};

}  // namespace cellverter::xlsb
