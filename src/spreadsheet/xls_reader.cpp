#include "spreadsheet/xls_reader.h"

#include <unicode/ucnv.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/error.h"
#include "platform/little_endian.h"
#include "platform/utf8.h"
#include "spreadsheet/compound_file.h"
#include "spreadsheet/office_crypto.h"
#include "spreadsheet/used_range_bounds.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/workbook_file.h"

namespace cellverter {
namespace {

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
};

// BOF substream types (MS-XLS 2.4.21).
constexpr uint16_t kWorksheetSubstream = 0x0010;
constexpr uint16_t kGlobalsSubstream = 0x0005;

bool IsCellRecord(uint16_t type) {
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

bool IsBof(uint16_t type) {
  return type == kBof || type == kBofBiff2 || type == kBofBiff3 || type == kBofBiff4;
}

double F64(const char* p) {
  const uint64_t bits = LoadLe64(p);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// RkNumber (MS-XLS 2.5.217): a 30-bit integer or the high 30 bits of a double, optionally
// divided by 100.
double RkValue(uint32_t rk) {
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
std::string ErrorText(uint8_t code) {
  switch (code) {
    case 0x00:
      return "#NULL!";
    case 0x07:
      return "#DIV/0!";
    case 0x0F:
      return "#VALUE!";
    case 0x17:
      return "#REF!";
    case 0x1D:
      return "#NAME?";
    case 0x24:
      return "#NUM!";
    case 0x2A:
      return "#N/A";
    case 0x2B:
      return "#GETTING_DATA";
    default:
      return "#VALUE!";
  }
}

// Appends UTF-16LE text; `utf16` keeps a high surrogate across calls, because a continued
// string may split a surrogate pair between records.
void AppendUtf16(const char* p, size_t count, std::string& out, Utf16ToUtf8& utf16) {
  for (size_t i = 0; i < count; ++i) utf16.Append(LoadLe16(p + 2 * i), out);
}

// "Compressed" BIFF8 characters are the low bytes of UTF-16 code units: Latin-1.
void AppendLatin1(const char* p, size_t count, std::string& out) {
  for (size_t i = 0; i < count; ++i) AppendUtf8(static_cast<uint8_t>(p[i]), out);
}

// Thrown by the record layer; the reader adds the file's name.
struct Damaged {
  std::string cause;
};

// 8-bit text of BIFF5/BIFF7 workbooks, in the code page of the CODEPAGE record.
class CodePageDecoder {
 public:
  CodePageDecoder() = default;
  ~CodePageDecoder() {
    if (converter_) ucnv_close(converter_);
  }
  CodePageDecoder(const CodePageDecoder&) = delete;
  CodePageDecoder& operator=(const CodePageDecoder&) = delete;

  void SetCodePage(uint16_t codePage) {
    if (converter_) ucnv_close(converter_);
    converter_ = nullptr;
    std::vector<std::string> names;
    switch (codePage) {
      case 367:
        names = {"US-ASCII"};
        break;
      case 1200:
        names = {};
        break;  // UTF-16: BIFF8 only, strings carry their own form
      case 10000:
      case 32768:
        names = {"macintosh"};
        break;
      case 32769:
        names = {"windows-1252"};
        break;
      default: {
        const std::string number = std::to_string(codePage);
        names = {"windows-" + number, "cp" + number, "ibm-" + number};
      }
    }
    for (const std::string& name : names) {
      UErrorCode status = U_ZERO_ERROR;
      converter_ = ucnv_open(name.c_str(), &status);
      if (U_SUCCESS(status)) return;
      converter_ = nullptr;
    }
  }

  void Append(const char* p, size_t count, std::string& out) {
    if (std::all_of(p, p + count, [](char c) { return static_cast<uint8_t>(c) < 0x80; })) {
      out.append(p, count);
      return;
    }
    if (!converter_) SetCodePage(1252);
    if (!converter_) {
      AppendLatin1(p, count, out);
      return;
    }
    std::vector<UChar> units(count * 2 + 2);
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetToUnicode(converter_);
    const int32_t length =
        ucnv_toUChars(converter_, units.data(), static_cast<int32_t>(units.size()), p,
                      static_cast<int32_t>(count), &status);
    if (U_FAILURE(status)) {
      AppendLatin1(p, count, out);
      return;
    }
    Utf16ToUtf8 utf16;
    for (int32_t i = 0; i < length; ++i) utf16.Append(units[i], out);
    utf16.Finish(out);
  }

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
      throw Damaged{"a record is cut off"};
    }
    type_ = LoadLe16(&buffer_[begin_]);
    const uint16_t length = LoadLe16(&buffer_[begin_ + 2]);
    if (!Fill(4 + static_cast<size_t>(length))) {
      if (endAtCutOff_) return false;
      throw Damaged{"a record is cut off"};
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
    if (count > Remaining()) throw Damaged{"a string is cut off"};
    pos_ += static_cast<size_t>(count);
  }
  uint64_t Remaining() const { return bytes_.size() - pos_; }

  // `count` characters starting in the current record in the form `highByte` says. False
  // when the data ends first; the characters it holds are appended.
  bool Characters(size_t count, bool highByte, std::string& out) {
    Utf16ToUtf8 utf16;
    bool complete = true;
    while (count > 0) {
      const bool lastSegment = segment_ + 1 >= ends_.size();
      if (pos_ >= ends_[segment_]) {
        if (lastSegment) {
          complete = false;
          break;
        }
        ++segment_;
        highByte = static_cast<uint8_t>(bytes_[pos_++]) & 1;
        continue;
      }
      const size_t width = highByte ? 2 : 1;
      const size_t take = std::min(count, (ends_[segment_] - pos_) / width);
      if (take == 0 && lastSegment) {
        pos_ = bytes_.size();
        complete = false;
        break;
      }
      if (take == 0) throw Damaged{"a string is split inside a character"};
      if (highByte) {
        AppendUtf16(&bytes_[pos_], take, out, utf16);
      } else {
        utf16.Finish(out);
        AppendLatin1(&bytes_[pos_], take, out);
      }
      pos_ += take * width;
      count -= take;
    }
    utf16.Finish(out);
    return complete;
  }

  // Moves past record boundaries that lie at the current position (no option byte there).
  void Settle() {
    while (segment_ + 1 < ends_.size() && pos_ >= ends_[segment_]) ++segment_;
  }

 private:
  void Need(size_t count) {
    Settle();
    if (count > bytes_.size() - pos_) throw Damaged{"a string is cut off"};
  }

  std::string bytes_;
  std::vector<size_t> ends_;
  size_t pos_ = 0;
  size_t segment_ = 0;
};

// XLUnicodeString / XLUnicodeRichExtendedString (MS-XLS 2.5.294, 2.5.293) read from
// `data`; runs and phonetic blocks are skipped. With `takeCutOff`, a string cut off by the
// end of the data gives the characters it holds and false; else that is damage.
bool ReadBiff8String(ContinuedData& data, bool lengthIsByte, std::string& out,
                     bool takeCutOff = false) {
  data.Settle();
  if (takeCutOff && data.Remaining() < (lengthIsByte ? 2u : 3u)) {
    data.Skip(data.Remaining());
    return false;
  }
  const size_t count = lengthIsByte ? data.U8() : data.U16Value();
  const uint8_t flags = data.U8();
  const uint64_t header = ((flags & 0x08) ? 2 : 0) + ((flags & 0x04) ? 4 : 0);
  if (takeCutOff && data.Remaining() < header) {
    data.Skip(data.Remaining());
    return false;
  }
  const uint16_t runs = (flags & 0x08) ? data.U16Value() : 0;
  const uint32_t extSize = (flags & 0x04) ? data.U32Value() : 0;
  if (!data.Characters(count, flags & 0x01, out)) {
    if (!takeCutOff) throw Damaged{"a string is cut off"};
    return false;
  }
  if (takeCutOff && data.Remaining() < 4ull * runs + extSize) {
    data.Skip(data.Remaining());
    return false;
  }
  data.Skip(4ull * runs);
  data.Skip(extSize);
  return true;
}

struct BoundSheet {
  uint32_t offset;
  uint8_t type;
};

struct CellRecordPosition {
  uint16_t row;
  uint64_t offset;
};

class XlsSheetSource final : public SheetSource {
 public:
  XlsSheetSource(const std::string& path, std::string_view password,
                 CompoundFile::Container container)
      : file_(path, container), password_(password) {
    if (container == CompoundFile::Container::kBareStream) {
      Repairs().Note(kBareWorkbookStreamRepair);
    }
  }

  void Open() {
    std::optional<CompoundFile::Entry> entry = file_.FindStream("Workbook");
    if (!entry) entry = file_.FindStream("Book");
    if (!entry) {
      if (file_.FindStream("EncryptedPackage")) Fail("the workbook is protected by a password");
      Fail("it is not an Excel workbook (it holds no workbook stream)");
    }
    stream_.emplace(file_.OpenStream(*entry));
    reader_.emplace(*stream_);
    if (file_.Truncated()) {
      // LibreOffice reads the records that are whole.
      Repairs().Note(kTruncatedFileRepair);
      reader_->EndAtCutOff();
    }
    const std::vector<BoundSheet> sheets = ReadGlobals();
    sheetOffset_ = FindFirstWorksheet(sheets);
    ScanSheet();
    Rewind();
  }

  template <typename F>
  auto Guard(F&& f) {
    try {
      return f();
    } catch (const Damaged& damaged) {
      Fail("the file is damaged (" + damaged.cause + ")");
    }
  }

  [[noreturn]] void Fail(const std::string& cause) const {
    ThrowWorkbookError(file_.path(), cause);
  }

  bool Date1904() const override { return date1904_; }

  NumberFormatRef CellFormat(uint32_t styleIndex) const override {
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

  uint32_t LastRow() override { return usedRange_.LastRow(); }
  uint32_t LastColumn() override { return usedRange_.LastColumn(); }
  uint64_t CellsHeld() override { return cellsHeld_; }

  bool NextRow(SheetRow& row) override {
    return Guard([&] { return ReadRow(row); });
  }

  void Rewind() override {
    finished_ = false;
    pending_.clear();
    pendingRow_ = 0;
    nextIndex_ = 0;
    depth_ = sheetDepth_;
    reader_->Seek(sheetOffset_, true);
  }

 private:
  // The workbook globals substream: version, protection, code page, date system, formats,
  // cell formats, shared strings and the sheet list.
  std::vector<BoundSheet> ReadGlobals() {
    std::vector<BoundSheet> sheets;
    Guard([&] {
      RecordReader& reader = *reader_;
      if (!reader.Next()) Fail("the file is damaged (the workbook stream is empty)");
      const uint16_t bofType = reader.type();
      if (bofType == kBofBiff2 || bofType == kBofBiff3 || bofType == kBofBiff4) {
        Fail("Excel 2.x-4.x workbooks are not supported; save it as a newer Excel workbook");
      }
      if (bofType != kBof || reader.data().size() < 4) {
        Fail("the file is damaged (the workbook stream does not start with a BOF record)");
      }
      const uint16_t version = LoadLe16(reader.data().data());
      biff8_ = version == 0x0600 || (version != 0x0500 && reader.data().size() >= 16);
      if (LoadLe16(reader.data().data() + 2) != kGlobalsSubstream) {
        Fail("the file is damaged (the workbook globals are missing)");
      }
      if (!biff8_) codePage_.SetCodePage(1252);
      while (reader.Next()) {
        const std::string_view data = reader.data();
        switch (reader.type()) {
          case kEof:
            return;
          case kFilePass:
            if (!biff8_) Fail(std::string(kPasswordProtectedCause));
            try {
              reader.SetDecryptor(OpenBiffDecryptor(data, password_));
            } catch (const std::runtime_error& refused) {
              Fail(refused.what());
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
              sheets.push_back({LoadLe32(data.data()), static_cast<uint8_t>(data[5])});
            }
            break;
          case kSst:
            if (biff8_) ReadSharedStrings(data);
            break;
          default:
            break;
        }
      }
      if (file_.Truncated()) return;
      throw Damaged{"the workbook globals have no end"};
    });
    return sheets;
  }

  // FORMAT (MS-XLS 2.4.126): a format id and its code.
  void ReadFormat(std::string_view data) {
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
  void ReadSharedStrings(std::string_view first) {
    if (first.size() < 8) throw Damaged{"the shared string table is too short"};
    const uint32_t unique = LoadLe32(first.data() + 4);
    ContinuedData data;
    data.Append(first.substr(8));
    while (reader_->Next()) {
      if (reader_->type() != kContinue) {
        reader_->Unread();
        break;
      }
      data.Append(reader_->data());
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
      Repairs().Note(kSharedStringCutOffRepair);
    } else if (sstEnds_.size() != unique) {
      Repairs().Note(kSharedStringCountRepair);
    }
  }

  // The stream offset of the first worksheet's BOF, in workbook order.
  uint64_t FindFirstWorksheet(const std::vector<BoundSheet>& sheets) {
    for (const BoundSheet& sheet : sheets) {
      if (sheet.type != 0) continue;  // 1 macro sheet, 2 chart, 6 VBA module
      if (sheet.offset >= stream_->size())
        Fail("the file is damaged (a sheet lies outside the workbook stream)");
      const bool worksheet = Guard([&] {
        reader_->Seek(sheet.offset, true);
        if (!reader_->Next()) throw Damaged{"a sheet does not start with a BOF record"};
        if (!IsBof(reader_->type())) {
          // Read as a worksheet whose BOF is left out, from the record the sheet list names.
          Repairs().Note(kSheetWithoutBofRepair);
          sheetDepth_ = 1;
          return true;
        }
        if (reader_->type() != kBof || reader_->data().size() < 4) {
          throw Damaged{"a sheet does not start with a BOF record"};
        }
        if (LoadLe16(reader_->data().data() + 2) != kWorksheetSubstream) return false;
        // Dialog sheets share the worksheet type; WSBOOL tells them apart (MS-XLS 2.4.351).
        while (reader_->Next()) {
          const uint16_t type = reader_->type();
          if (type == kWsBool) {
            return reader_->data().empty() || !(static_cast<uint8_t>(reader_->data()[0]) & 0x10);
          }
          if (type == kEof || type == kBof || type == kDimension || IsCellRecord(type)) break;
        }
        return true;
      });
      if (worksheet) return sheet.offset;
    }
    Fail("the workbook has no worksheet");
  }

  // First pass over the worksheet: the used range, and whether cells come in row order
  // (as every Excel writes them). If not, the positions of the cell records are sorted so
  // that rows can still be served in order.
  void ScanSheet() {
    Guard([&] {
      bool ordered = true;
      uint32_t previousRow = 0;
      ForEachSheetRecord([&](uint16_t type, std::string_view data) {
        if (!IsCellRecord(type)) {
          CountInUsedRange(type, data);
          return;
        }
        if (data.size() < 6) throw Damaged{"a cell record is too short"};
        const uint32_t row = LoadLe16(data.data());
        uint32_t first = LoadLe16(data.data() + 2), last = first;
        if (type == kMulRk || type == kMulBlank) last = MulLastColumn(type, data);
        usedRange_.AddCell(row + 1, last + 1);
        cellsHeld_ += last - first + 1;
        NoteMissingCellFormats(type, data);
        if (row < previousRow) ordered = false;
        previousRow = row;
      });
      if (!ordered) {
        ForEachSheetRecord([&](uint16_t type, std::string_view data) {
          if (IsCellRecord(type)) order_.push_back({LoadLe16(data.data()), reader_->offset()});
        });
        std::stable_sort(order_.begin(), order_.end(),
                         [](const auto& a, const auto& b) { return a.row < b.row; });
      }
    });
  }

  // LibreOffice shows a cell whose format index lies past the end of the table as General,
  // as CellFormat() does. A workbook without any cell format is not told of: some writers
  // leave the table out altogether.
  void NoteMissingCellFormats(uint16_t type, std::string_view data) {
    if (xfFormats_.empty()) return;
    // MULRK and MULBLANK hold a format per cell and end with their last column.
    const bool multiple = type == kMulRk || type == kMulBlank;
    const size_t width = type == kMulRk ? 6 : 2;
    const size_t end = multiple ? data.size() - 2 : 6;
    for (size_t at = 4; at + 2 <= end; at += width) {
      if (LoadLe16(data.data() + at) >= xfFormats_.size()) {
        Repairs().Note(kMissingCellFormatRepair);
        return;
      }
    }
  }

  // What widens the used range besides cells. The stored DIMENSIONS is not read.
  void CountInUsedRange(uint16_t type, std::string_view data) {
    switch (type) {
      case kRow:
        // Row (MS-XLS 2.4.221): fGhostDirty (0x80) a row format, fUnsynced (0x40) a height set
        // by hand; either counts in the row bounds.
        if (data.size() >= 16 && (static_cast<uint8_t>(data[12]) & 0xC0) != 0) {
          usedRange_.AddRow(LoadLe16(data.data()) + 1u);
        }
        break;
      case kColInfo:
        // ColInfo (2.4.53): a column format other than the default cell format (XF 15)
        // counts in the column bounds. Some writers close the range at 256.
        if (data.size() >= 8 && LoadLe16(data.data() + 6) != 15) {
          usedRange_.AddColumn(std::min(LoadLe16(data.data() + 2) + 1u, 256u));
        }
        break;
      case kNote:
        // Note (2.4.179): a cell that holds only a note is used. BIFF5 carries a long note's
        // text on in further records whose row is 0xFFFF.
        if (data.size() >= 4 && (biff8_ || LoadLe16(data.data()) != 0xFFFF)) {
          usedRange_.AddCell(LoadLe16(data.data()) + 1u, LoadLe16(data.data() + 2) + 1u);
        }
        break;
      default:
        break;
    }
  }

  static uint32_t MulLastColumn(uint16_t type, std::string_view data) {
    const size_t width = type == kMulRk ? 6 : 2;
    if (data.size() < 6 + width || (data.size() - 6) % width != 0) {
      throw Damaged{"a cell record has a wrong length"};
    }
    const uint32_t last =
        LoadLe16(data.data() + 2) + static_cast<uint32_t>((data.size() - 6) / width) - 1;
    if (last > 0xFFFF) throw Damaged{"a cell record has a wrong length"};
    return last;
  }

  // Calls f(type, data) for the records of the worksheet substream, skipping the substreams
  // of embedded charts.
  template <typename F>
  void ForEachSheetRecord(F&& f) {
    reader_->Seek(sheetOffset_, true);
    int depth = sheetDepth_;
    while (reader_->Next()) {
      const uint16_t type = reader_->type();
      if (IsBof(type)) {
        if (++depth > 64) throw Damaged{"sheets are nested too deeply"};
        continue;
      }
      if (type == kEof) {
        if (--depth == 0) return;
        continue;
      }
      if (depth == 1) f(type, reader_->data());
    }
    if (file_.Truncated()) return;
    throw Damaged{"the worksheet has no end"};
  }

  // The next record of the worksheet that holds cells (sequential mode); false at its end.
  bool NextCellRecord() {
    while (!finished_ && reader_->Next()) {
      const uint16_t type = reader_->type();
      if (IsBof(type)) {
        ++depth_;
      } else if (type == kEof) {
        if (--depth_ == 0) finished_ = true;
      } else if (depth_ == 1 && IsCellRecord(type)) {
        return true;
      }
    }
    finished_ = true;
    return false;
  }

  bool ReadRow(SheetRow& row) {
    row.cells.clear();
    if (!pending_.empty()) {
      row.row = pendingRow_;
      row.cells.swap(pending_);
    }
    for (;;) {
      if (order_.empty()) {
        if (!NextCellRecord()) break;
      } else {
        if (nextIndex_ >= order_.size()) break;
        reader_->Seek(order_[nextIndex_++].offset, false);
        reader_->Next();
      }
      const uint32_t recordRow = LoadLe16(reader_->data().data()) + 1;
      if (!row.cells.empty() && recordRow != row.row) {
        pendingRow_ = recordRow;
        DecodeCells(pending_);
        break;
      }
      row.row = recordRow;
      DecodeCells(row.cells);
    }
    if (row.cells.empty()) return false;
    auto byColumn = [](const SheetCell& a, const SheetCell& b) { return a.column < b.column; };
    if (!std::is_sorted(row.cells.begin(), row.cells.end(), byColumn)) {
      std::stable_sort(row.cells.begin(), row.cells.end(), byColumn);
    }
    // A column written twice keeps its last record.
    auto write = row.cells.begin();
    for (auto read = row.cells.begin(); read != row.cells.end(); ++read) {
      if (write != row.cells.begin() && (write - 1)->column == read->column) {
        *(write - 1) = std::move(*read);
      } else {
        if (write != read) *write = std::move(*read);
        ++write;
      }
    }
    row.cells.erase(write, row.cells.end());
    return true;
  }

  // The cells of the current record, appended to `out`.
  void DecodeCells(std::vector<SheetCell>& out) {
    const uint16_t type = reader_->type();
    const std::string_view data = reader_->data();
    const char* p = data.data();
    const uint32_t column = LoadLe16(p + 2) + 1u;
    // Read before anything else: a formula's text result moves the reader on.
    const uint16_t xf = data.size() >= 6 ? LoadLe16(p + 4) : 0;
    auto need = [&](size_t size) {
      if (data.size() < size) throw Damaged{"a cell record is too short"};
    };
    auto add = [&](uint32_t col, uint16_t style, CellValue value) {
      out.push_back(SheetCell{col, style, std::move(value)});
    };
    switch (type) {
      case kNumber:
        need(14);
        add(column, xf, CellValue::Number(F64(p + 6)));
        break;
      case kRk:
        need(10);
        add(column, xf, CellValue::Number(RkValue(LoadLe32(p + 6))));
        break;
      case kMulRk: {
        const uint32_t last = MulLastColumn(type, data) + 1;
        for (uint32_t c = column, at = 4; c <= last; ++c, at += 6) {
          add(c, LoadLe16(p + at), CellValue::Number(RkValue(LoadLe32(p + at + 2))));
        }
        break;
      }
      case kBlank:
        need(6);
        add(column, xf, CellValue::Empty());
        break;
      case kMulBlank: {
        const uint32_t last = MulLastColumn(type, data) + 1;
        for (uint32_t c = column, at = 4; c <= last; ++c, at += 2) {
          add(c, LoadLe16(p + at), CellValue::Empty());
        }
        break;
      }
      case kLabelSst: {
        need(10);
        const uint32_t index = LoadLe32(p + 6);
        if (index >= sstEnds_.size()) {
          // Excel and LibreOffice show such a cell empty.
          Repairs().Note(kMissingSharedStringRepair);
          add(column, xf, CellValue::Empty());
          break;
        }
        const size_t begin = index == 0 ? 0 : sstEnds_[index - 1];
        add(column, xf, CellValue::String(sstText_.substr(begin, sstEnds_[index] - begin)));
        break;
      }
      case kLabel:
      case kRString: {
        need(8);
        add(column, xf, CellValue::String(ReadCellString(data.substr(6))));
        break;
      }
      case kBoolErr:
        need(8);
        add(column, xf,
            p[7] ? CellValue::ErrorCode(ErrorText(static_cast<uint8_t>(p[6])))
                 : CellValue::Boolean(p[6] != 0));
        break;
      case kFormula:
      case kFormulaBiff4:
        need(14);
        add(column, xf, FormulaResult(p + 6));
        break;
      default:
        break;
    }
  }

  // The text of LABEL / RSTRING (a short XLUnicodeString in BIFF8, code page text before).
  std::string ReadCellString(std::string_view data) {
    std::string text;
    if (biff8_) {
      ContinuedData string;
      string.Append(data);
      ReadBiff8String(string, false, text);
    } else {
      if (data.size() < 2) throw Damaged{"a text cell is too short"};
      const size_t count = LoadLe16(data.data());
      if (data.size() < 2 + count) throw Damaged{"a text cell is too short"};
      codePage_.Append(data.data() + 2, count, text);
    }
    return text;
  }

  // The cached result of a FORMULA record (MS-XLS 2.5.133 FormulaValue). A text result is in
  // the STRING record that follows the formula and its shared-formula/array records.
  CellValue FormulaResult(const char* value) {
    if (static_cast<uint8_t>(value[6]) != 0xFF || static_cast<uint8_t>(value[7]) != 0xFF) {
      return CellValue::Number(F64(value));
    }
    switch (value[0]) {
      case 0:
        return CellValue::String(FollowingString());
      case 1:
        return CellValue::Boolean(value[2] != 0);
      case 2:
        return CellValue::ErrorCode(ErrorText(static_cast<uint8_t>(value[2])));
      default:
        return CellValue::String("");
    }
  }

  std::string FollowingString() {
    while (reader_->Next()) {
      const uint16_t type = reader_->type();
      if (type == kShrFmla || type == kArray || type == kTable) continue;
      if (type != kString) {
        reader_->Unread();
        break;
      }
      std::string text;
      if (biff8_) {
        ContinuedData string;
        string.Append(reader_->data());
        while (reader_->Next()) {
          if (reader_->type() != kContinue) {
            reader_->Unread();
            break;
          }
          string.Append(reader_->data());
        }
        ReadBiff8String(string, false, text);
      } else {
        const std::string_view data = reader_->data();
        if (data.size() < 2 || data.size() < 2u + LoadLe16(data.data())) {
          throw Damaged{"a formula's text is cut off"};
        }
        codePage_.Append(data.data() + 2, LoadLe16(data.data()), text);
      }
      return text;
    }
    return {};
  }

  CompoundFile file_;
  std::string password_;
  std::optional<CompoundFile::Stream> stream_;
  std::optional<RecordReader> reader_;
  bool biff8_ = true;
  bool date1904_ = false;
  CodePageDecoder codePage_;
  std::unordered_map<uint16_t, std::string> formats_;
  std::vector<uint16_t> xfFormats_;
  std::string sstText_;
  std::vector<size_t> sstEnds_;
  uint64_t sheetOffset_ = 0;
  int sheetDepth_ = 0;  // 1 for a sheet whose BOF is left out
  UsedRangeBounds usedRange_;
  uint64_t cellsHeld_ = 0;
  std::vector<CellRecordPosition> order_;  // only for sheets whose cells are out of row order

  // Reading state.
  bool finished_ = false;
  int depth_ = 0;
  size_t nextIndex_ = 0;
  uint32_t pendingRow_ = 0;
  std::vector<SheetCell> pending_;
};

}  // namespace

bool LooksLikeOldBiffFile(std::string_view head) {
  if (head.size() < 4) return false;
  const uint16_t type = LoadLe16(head.data());
  const uint16_t length = LoadLe16(head.data() + 2);
  return (type == kBofBiff2 || type == kBofBiff3 || type == kBofBiff4) && length >= 4 &&
         length <= 16;
}

bool LooksLikeBareBiff8Stream(std::string_view head) {
  if (head.size() < 8) return false;
  const uint16_t length = LoadLe16(head.data() + 2);
  return LoadLe16(head.data()) == kBof && length >= 8 && length <= 32 &&
         LoadLe16(head.data() + 4) == 0x0600 && LoadLe16(head.data() + 6) == kGlobalsSubstream;
}

std::unique_ptr<SheetSource> OpenXlsSource(const std::string& path, std::string_view password) {
  CompoundFile::Container container = CompoundFile::Container::kCompoundFile;
  {
    char head[8] = {};
    const int fd = OpenWorkbookFile(path);
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    if (got > 0 && LooksLikeOldBiffFile(std::string_view(head, static_cast<size_t>(got)))) {
      ThrowWorkbookError(
          path, "Excel 2.x-4.x workbooks are not supported; save it as a newer Excel workbook");
    }
    if (got > 0 && LooksLikeBareBiff8Stream(std::string_view(head, static_cast<size_t>(got)))) {
      container = CompoundFile::Container::kBareStream;
    }
  }
  auto source = std::make_unique<XlsSheetSource>(path, password, container);
  source->Open();
  return source;
}

}  // namespace cellverter
