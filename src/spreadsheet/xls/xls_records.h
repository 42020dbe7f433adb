#pragma once

// The record layer of BIFF streams (.xls, MS-XLS 2.1): record types, the buffered record
// reader, a record with its CONTINUE records and the strings they hold. The workbook
// globals, the sheet scan and the cell decoding read through it.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/little_endian.h"
#include "spreadsheet/container/compound_file.h"
#include "spreadsheet/crypto/office_crypto.h"
#include "spreadsheet/workbook_error.h"

struct UConverter;

namespace cellverter::biff {

// Record types (MS-XLS 2.3).
enum RecordType : uint16_t {
  kBof = 0x0809,
  kBofBiff2 = 0x0009,
  kBofBiff3 = 0x0209,
  kBofBiff4 = 0x0409,
  kEof = 0x000A,
  kContinue = 0x003C,
  kFilePass = 0x002F,
  kCodePage = 0x0042,
  kDateMode = 0x0022,
  kFormat = 0x041E,
  kXf = 0x00E0,
  kBoundSheet = 0x0085,
  kSst = 0x00FC,
  kWsBool = 0x0081,
  kDimension = 0x0200,
  kNumber = 0x0203,
  kRk = 0x027E,
  kMulRk = 0x00BD,
  kLabelSst = 0x00FD,
  kLabel = 0x0204,
  kRString = 0x00D6,
  kFormula = 0x0006,
  kFormulaBiff4 = 0x0406,
  kBoolErr = 0x0205,
  kBlank = 0x0201,
  kMulBlank = 0x00BE,
  kString = 0x0207,
  kShrFmla = 0x04BC,
  kArray = 0x0221,
  kTable = 0x0236,
  kRow = 0x0208,
  kColInfo = 0x007D,
  kNote = 0x001C,
  kDefaultRowHeight = 0x0225,
  kMergedCells = 0x00E5,
  kFormulaBiff3 = 0x0206,
  // Records of Excel 2.x-4.x files (BIFF2-BIFF4) that later versions renumbered or dropped.
  kBlankBiff2 = 0x0001,
  kIntegerBiff2 = 0x0002,
  kNumberBiff2 = 0x0003,
  kLabelBiff2 = 0x0004,
  kBoolErrBiff2 = 0x0005,
  kStringBiff2 = 0x0007,
  kRowBiff2 = 0x0008,
  kArrayBiff2 = 0x0021,
  kColWidthBiff2 = 0x0024,
  kDefaultRowHeightBiff2 = 0x0025,
  kFormatBiff2 = 0x001E,  // BIFF2 and BIFF3; BIFF4 uses kFormat
  kXfBiff2 = 0x0043,
  kXfBiff3 = 0x0243,
  kXfBiff4 = 0x0443,
  kSheetHeaderBiff4W = 0x008F,  // the name of the sheet whose substream follows
};

// The rows and columns of a BIFF8 worksheet.
constexpr uint32_t kMaxBiffRows = 65536;
constexpr uint32_t kMaxBiffColumns = 256;

// BOF substream types (MS-XLS 2.4.21).
constexpr uint16_t kWorksheetSubstream = 0x0010;
constexpr uint16_t kGlobalsSubstream = 0x0005;
constexpr uint16_t kChartSubstream = 0x0020;
constexpr uint16_t kMacroSubstream = 0x0040;
constexpr uint16_t kWorkbookBiff4W = 0x0100;  // the globals of an Excel 4.0 workbook

inline bool IsCellRecord(uint16_t type) {
  switch (type) {
    case kNumber:
    case kRk:
    case kMulRk:
    case kLabelSst:
    case kLabel:
    case kRString:
    case kFormula:
    case kFormulaBiff4:
    case kBoolErr:
    case kBlank:
    case kMulBlank:
      return true;
    default:
      return false;
  }
}

// The cell records of BIFF2 (`version` 2: a 3-byte cell attribute field where later versions
// hold the XF index) and BIFF3 (3: its FORMULA) that IsCellRecord leaves out; BIFF2's FORMULA
// has BIFF5's number.
inline bool IsOldBiffCellRecord(uint16_t type, int version) {
  return version == 2 ? type >= kBlankBiff2 && type <= kBoolErrBiff2
                      : version == 3 && type == kFormulaBiff3;
}

inline bool IsBof(uint16_t type) {
  return type == kBof || type == kBofBiff2 || type == kBofBiff3 || type == kBofBiff4;
}

inline double F64(const char* p) {
  const uint64_t bits = LoadLe64(p);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// RkNumber (MS-XLS 2.5.217): a 30-bit integer or the high 30 bits of a double, optionally
// divided by 100.
inline double RkValue(uint32_t rk) {
  double value;
  if (rk & 2) {
    value = static_cast<double>(static_cast<int32_t>(rk) >> 2);
  } else {
    const uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&value, &bits, sizeof value);
  }
  return (rk & 1) ? value / 100 : value;
}

// BErr (MS-XLS 2.5.10).
std::string ErrorText(uint8_t code);

// 8-bit text of BIFF2-BIFF7 workbooks, in the code page of the CODEPAGE record.
class CodePageDecoder {
 public:
  CodePageDecoder() = default;
  ~CodePageDecoder();
  CodePageDecoder(const CodePageDecoder&) = delete;
  CodePageDecoder& operator=(const CodePageDecoder&) = delete;

  void SetCodePage(uint16_t codePage);
  void Append(const char* p, size_t count, std::string& out);

 private:
  UConverter* converter_ = nullptr;
};

// Reads the records of a BIFF stream through a buffer, so that a sheet of any size is read
// with constant memory.
class RecordReader {
 public:
  explicit RecordReader(CompoundFile::Stream& stream) : stream_(stream), buffer_(kBufferSize) {}

  // Positions the reader at the record header at stream offset `offset`. `sequential`
  // says that many records will follow: the reader then fills its whole buffer, else it
  // reads little, so that jumping between scattered records stays cheap.
  void Seek(uint64_t offset, bool sequential) {
    unread_ = false;
    chunk_ = sequential ? buffer_.size() : kRandomChunk;
    if (offset >= bufferStart_ && offset <= bufferStart_ + end_) {
      begin_ = static_cast<size_t>(offset - bufferStart_);
      return;
    }
    stream_.Seek(offset);
    bufferStart_ = stream_.position();
    begin_ = end_ = 0;
  }

  // The next record; false at the end of the stream.
  bool Next() {
    if (unread_) {
      unread_ = false;
      return true;
    }
    if (!Fill(4)) {
      if (end_ - begin_ == 0 || endAtCutOff_) return false;
      ThrowDamaged("a record is cut off");
    }
    type_ = LoadLe16(&buffer_[begin_]);
    const uint16_t length = LoadLe16(&buffer_[begin_ + 2]);
    if (!Fill(4 + static_cast<size_t>(length))) {
      if (endAtCutOff_) return false;
      ThrowDamaged("a record is cut off");
    }
    offset_ = bufferStart_ + begin_;
    data_ = std::string_view(&buffer_[begin_ + 4], length);
    begin_ += 4 + static_cast<size_t>(length);
    if (decryptor_) {
      // The buffer keeps the stream's bytes as they are, since a seek may read them again.
      record_.assign(data_);
      decryptor_->DecryptRecord(type_, offset_ + 4, record_.data(), record_.size());
      data_ = record_;
    }
    return true;
  }

  // Records after FILEPASS are decrypted as they are read.
  void SetDecryptor(std::unique_ptr<BiffDecryptor> decryptor) { decryptor_ = std::move(decryptor); }

  // For a stream whose file was cut off: a record cut off at its end ends it, as the end of
  // the stream would.
  void EndAtCutOff() { endAtCutOff_ = true; }

  // Makes the next call of Next() return the current record again.
  void Unread() { unread_ = true; }

  uint16_t type() const { return type_; }
  std::string_view data() const { return data_; }
  uint64_t offset() const { return offset_; }  // stream offset of the record header

 private:
  static constexpr size_t kBufferSize = 256 * 1024;
  static constexpr size_t kRandomChunk = 1024;

  // Makes `count` bytes available from begin_; false when the stream ends first.
  bool Fill(size_t count) {
    if (end_ - begin_ >= count) return true;
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    bufferStart_ += begin_;
    end_ -= begin_;
    begin_ = 0;
    while (end_ < count) {
      const size_t want = std::min(buffer_.size() - end_, std::max(count - end_, chunk_));
      const size_t got = stream_.Read(buffer_.data() + end_, want);
      if (got == 0) return false;
      end_ += got;
    }
    return true;
  }

  CompoundFile::Stream& stream_;
  std::vector<char> buffer_;
  uint64_t bufferStart_ = 0;  // stream offset of buffer_[0]
  size_t begin_ = 0, end_ = 0;
  uint16_t type_ = 0;
  uint64_t offset_ = 0;
  std::string_view data_;
  bool unread_ = false;
  bool endAtCutOff_ = false;
  size_t chunk_ = kBufferSize;
  std::unique_ptr<BiffDecryptor> decryptor_;
  std::string record_;  // the decrypted data of the current record
};

// A record with its CONTINUE records (MS-XLS 2.1.7.20): one byte sequence that remembers
// where each record ended, because a string's characters that go on in the next record
// restart with an option byte saying whether they are one or two bytes wide.
class ContinuedData {
 public:
  void Append(std::string_view data) {
    bytes_.append(data);
    ends_.push_back(bytes_.size());
  }
  void Clear() {
    bytes_.clear();
    ends_.clear();
    pos_ = segment_ = 0;
  }
  bool AtEnd() {
    Settle();
    return pos_ >= bytes_.size();
  }

  uint8_t U8() {
    Need(1);
    return static_cast<uint8_t>(bytes_[pos_++]);
  }
  uint16_t U16Value() {
    const uint8_t low = U8();
    return static_cast<uint16_t>(low | U8() << 8);
  }
  uint32_t U32Value() {
    const uint16_t low = U16Value();
    return low | static_cast<uint32_t>(U16Value()) << 16;
  }
  void Skip(uint64_t count) {
    if (count > Remaining()) ThrowDamaged("a string is cut off");
    pos_ += static_cast<size_t>(count);
  }
  uint64_t Remaining() const { return bytes_.size() - pos_; }

  // `count` characters starting in the current record in the form `highByte` says. False
  // when the data ends first; the characters it holds are appended.
  bool Characters(size_t count, bool highByte, std::string& out);

  // The bytes from the current position to the end of the record it lies in.
  std::string_view RecordRest() {
    Settle();
    const size_t end = ends_.empty() ? bytes_.size() : ends_[segment_];
    return std::string_view(bytes_).substr(std::min(pos_, end), end - std::min(pos_, end));
  }

  // Moves past record boundaries that lie at the current position (no option byte there).
  void Settle() {
    while (segment_ + 1 < ends_.size() && pos_ >= ends_[segment_]) ++segment_;
  }

 private:
  void Need(size_t count) {
    Settle();
    if (count > bytes_.size() - pos_) ThrowDamaged("a string is cut off");
  }

  std::string bytes_;
  std::vector<size_t> ends_;
  size_t pos_ = 0;
  size_t segment_ = 0;
};

// A string that lies whole in `record`, as most do, read straight from its bytes: the bytes it
// takes. 0, with nothing read, for any other, which ReadBiff8String then reads.
size_t ReadBiff8StringInRecord(std::string_view record, bool lengthIsByte, std::string& out);

// XLUnicodeString / XLUnicodeRichExtendedString (MS-XLS 2.5.294, 2.5.293) read from
// `data`; runs and phonetic blocks are skipped. With `takeCutOff`, a string cut off by the
// end of the data gives the characters it holds and false; else that is damage.
bool ReadBiff8String(ContinuedData& data, bool lengthIsByte, std::string& out,
                     bool takeCutOff = false);

// The last column of a MULRK or MULBLANK record, from its length.
inline uint32_t MulLastColumn(uint16_t type, std::string_view data) {
  const size_t width = type == kMulRk ? 6 : 2;
  if (data.size() < 6 + width || (data.size() - 6) % width != 0) {
    ThrowDamaged("a cell record has a wrong length");
  }
  const uint32_t last =
      LoadLe16(data.data() + 2) + static_cast<uint32_t>((data.size() - 6) / width) - 1;
  if (last > 0xFFFF) ThrowDamaged("a cell record has a wrong length");
  return last;
}

}  // namespace cellverter::biff
