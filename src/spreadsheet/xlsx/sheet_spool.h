#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/small_copy.h"
#include "spreadsheet/cell_value.h"
#include "spreadsheet/xlsx/xml_values.h"

namespace cellverter {

// A number written by AppendVarint, read back by `in.ReadByte()`.
template <class Reader>
uint64_t ReadVarintFrom(Reader& in) {
  uint64_t value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    const uint8_t b = in.ReadByte();
    value |= uint64_t{b & 0x7Fu} << shift;
    if ((b & 0x80) == 0) return value;
  }
  return value;
}

// Bytes written once and read back in order, any number of times, or at any offset: in
// memory up to `memoryLimit`, then in an unlinked temporary file, so a sheet or a string table
// of any length costs bounded memory. Failures of the temporary file are thrown as
// WorkbookFault of kind kInputOutput ("No space left on device in the temporary folder /tmp")
// for the reader to wrap with the workbook's name.
class SheetSpool {
 public:
  explicit SheetSpool(size_t memoryLimit = 16 << 20);
  ~SheetSpool();
  SheetSpool(const SheetSpool&) = delete;
  SheetSpool& operator=(const SheetSpool&) = delete;

  void Append(std::string_view bytes);
  void FinishWriting();

  // Reading, after FinishWriting().
  void Rewind();
  bool AtEnd() const { return readPos_ == readEnd_ && fileOffset_ >= fileSize_; }
  uint8_t ReadByte() {
    if (readPos_ == readEnd_) Fill();
    return static_cast<uint8_t>((*source_)[readPos_++]);
  }
  uint64_t ReadVarint() { return ReadVarintFrom(*this); }
  void ReadBytes(size_t size, std::string& out);
  // Where the next sequential read starts.
  uint64_t Tell() const { return fd_ < 0 ? readPos_ : fileOffset_ - (readEnd_ - readPos_); }
  // Random access, after FinishWriting(): `size` bytes at `offset` into `out`.
  void ReadAt(uint64_t offset, size_t size, std::string& out) const;

  uint64_t written() const { return fileSize_ + memory_.size(); }
  bool spilled() const { return fd_ >= 0; }

 private:
  void Fill();
  void ReadFile(uint64_t offset, char* buffer, size_t size) const;
  void Spill();
  void WriteOut(std::string_view bytes);

  size_t memoryLimit_;
  std::string memory_;  // everything while small, else the write buffer
  int fd_ = -1;
  uint64_t fileSize_ = 0;
  uint64_t fileOffset_ = 0;
  std::string readBuffer_;
  const std::string* source_ = nullptr;
  size_t readPos_ = 0;
  size_t readEnd_ = 0;
};

// An unlinked file in $TMPDIR (default /tmp), open for reading and writing; and writing all
// of `bytes` at `offset` into it. Failures are thrown as WorkbookFault, as above.
int OpenTemporaryFile();
void WriteTemporaryFile(int fd, uint64_t offset, std::string_view bytes);

// Spooled bytes that do not read back as they were written: the temporary file was changed
// under us. Thrown as WorkbookFault of kind kInputOutput.
[[noreturn]] void SpoolCorrupt(const char* cause);

// Writes `value` as a varint at `at`, which has room for 10 bytes; returns how many it took.
// Callers gather what they write into one append, whatever the compiler inlines of std::string.
[[gnu::always_inline]] inline size_t PutVarint(uint64_t value, char* at) {
  size_t size = 0;
  while (value >= 0x80) {
    at[size++] = static_cast<char>(value | 0x80);
    value >>= 7;
  }
  at[size++] = static_cast<char>(value);
  return size;
}

// Bytes written a few at a time, as a row's cells are spooled: the small appends copy inline
// instead of calling into the library, and room for a whole cell is made with one check.
// Grows by doubling, never shrinks.
class SpoolBytes {
 public:
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const char* data() const { return data_.get(); }
  std::string_view view() const { return {data_.get(), size_}; }
  void clear() { size_ = 0; }
  // Room for `n` more bytes, to be written from the returned pointer and taken by Commit().
  [[gnu::always_inline]] char* Room(size_t n) {
    if (capacity_ - size_ < n) Grow(n);
    return data_.get() + size_;
  }
  // Takes the bytes written from Room() up to `end`.
  [[gnu::always_inline]] void Commit(const char* end) {
    size_ = static_cast<size_t>(end - data_.get());
  }
  [[gnu::always_inline]] void append(const char* bytes, size_t n) {
    Commit(PutBytes(std::string_view(bytes, n), Room(n)));
  }
  SpoolBytes& operator+=(char c) {
    *Room(1) = c;
    ++size_;
    return *this;
  }
  SpoolBytes& operator+=(std::string_view bytes) {
    append(bytes.data(), bytes.size());
    return *this;
  }

 private:
  void Grow(size_t n);

  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// The spooling functions below write into a std::string or SpoolBytes alike: `write(at)`
// writes at most kMost bytes from `at` and returns their end.
template <size_t kMost, class Write>
[[gnu::always_inline]] inline void WriteAtMost(SpoolBytes& bytes, Write write) {
  bytes.Commit(write(bytes.Room(kMost)));
}
template <size_t kMost, class Write>
[[gnu::always_inline]] inline void WriteAtMost(std::string& bytes, Write write) {
  char buffer[kMost];
  bytes.append(buffer, static_cast<size_t>(write(buffer) - buffer));
}

template <class Bytes>
[[gnu::always_inline]] inline void AppendVarint(uint64_t value, Bytes& out) {
  WriteAtMost<10>(out, [value](char* at) { return at + PutVarint(value, at); });
}

// How a spooled cell value starts: its kind, then its payload (a double's 8 bytes, a
// zigzag varint, a shared string's index, or a text's length and bytes).
enum SpoolKind : uint8_t {
  kEmpty,
  kNumber,
  kInteger,
  kShared,
  kInline,
  kFalse,
  kTrue,
  kErrorCode,
};

// A value's kind and a varint after it, in one append.
template <class Bytes>
[[gnu::always_inline]] inline void AppendKindAndVarint(SpoolKind kind, uint64_t value,
                                                       Bytes& bytes) {
  WriteAtMost<11>(bytes, [&](char* at) {
    *at = static_cast<char>(kind);
    return at + 1 + PutVarint(value, at + 1);
  });
}

// Of magnitude below 10^15: kInteger, a zigzag varint.
inline constexpr int64_t kMaxSpooledInteger = 999'999'999'999'999;
template <class Bytes>
[[gnu::always_inline]] inline void AppendSpooledInteger(int64_t integer, Bytes& bytes) {
  AppendKindAndVarint(kInteger,
                      (static_cast<uint64_t>(integer) << 1) ^ static_cast<uint64_t>(integer >> 63),
                      bytes);
}

// A number, as kInteger when it is a whole number that a varint holds, else as kNumber.
template <class Bytes>
[[gnu::always_inline]] inline void AppendSpooledNumber(double number, Bytes& bytes) {
  if (number == std::trunc(number) && std::fabs(number) <= kMaxSpooledInteger &&
      !(number == 0 && std::signbit(number))) {
    AppendSpooledInteger(static_cast<int64_t>(number), bytes);
  } else {
    WriteAtMost<1 + sizeof number>(bytes, [&](char* at) {
      *at = static_cast<char>(kNumber);
      std::memcpy(at + 1, &number, sizeof number);
      return at + 1 + sizeof number;
    });
  }
}

// A plain decimal of XML as AppendSpooledNumber(decimal.Value()) spools it: a whole number
// straight from its digits, without the division and the double.
template <class Bytes>
[[gnu::always_inline]] inline void AppendSpooledDecimal(const PlainDecimal& decimal, Bytes& bytes) {
  if (decimal.decimals == 0 && decimal.digits <= kMaxSpooledInteger &&
      !(decimal.negative && decimal.digits == 0)) {
    const auto integer = static_cast<int64_t>(decimal.digits);
    AppendSpooledInteger(decimal.negative ? -integer : integer, bytes);
    return;
  }
  AppendSpooledNumber(decimal.Value(), bytes);
}

// An XML Schema boolean ("true", "false", "1", "0") as kTrue or kFalse; false for any other
// text, which adds nothing.
template <class Bytes>
inline bool AppendSpooledXmlBoolean(std::string_view value, Bytes& bytes) {
  if (value == "1" || value == "true") {
    bytes += static_cast<char>(kTrue);
  } else if (value == "0" || value == "false") {
    bytes += static_cast<char>(kFalse);
  } else {
    return false;
  }
  return true;
}

template <class Bytes>
inline void AppendSpooledBoolean(bool value, Bytes& bytes) {
  bytes += static_cast<char>(value ? kTrue : kFalse);
}

// A cell without a value (a formatted one, or a formula without its result).
template <class Bytes>
inline void AppendSpooledEmpty(Bytes& bytes) {
  bytes += static_cast<char>(kEmpty);
}

// A text of kind kInline or kErrorCode.
template <class Bytes>
[[gnu::always_inline]] inline void AppendSpooledText(SpoolKind kind, std::string_view text,
                                                     Bytes& bytes) {
  AppendKindAndVarint(kind, text.size(), bytes);
  bytes += text;
}

// One spooled value read back by `in` (ReadByte, ReadVarint, ReadBytes); `shared(index, text)`
// gives a shared string, or returns false when there is none (an empty cell).
// Always inlined: the callers' row loops are the readers' hot paths.
template <class Reader, class Shared>
[[gnu::always_inline]] inline void ReadSpooledValue(Reader& in, const Shared& shared,
                                                    CellValue& v) {
  v.text.clear();
  switch (in.ReadByte()) {
    case kEmpty:
      v.kind = CellValue::Kind::Empty;
      break;
    case kNumber: {
      unsigned char bytes[sizeof(double)];
      for (unsigned char& b : bytes) b = in.ReadByte();
      v.kind = CellValue::Kind::Number;
      std::memcpy(&v.number, bytes, sizeof bytes);
      break;
    }
    case kInteger: {
      const uint64_t z = in.ReadVarint();
      const int64_t integer = static_cast<int64_t>(z >> 1) ^ -static_cast<int64_t>(z & 1);
      v.kind = CellValue::Kind::Number;
      v.number = static_cast<double>(integer);
      break;
    }
    case kShared:
      v.kind = shared(static_cast<size_t>(in.ReadVarint()), v.text) ? CellValue::Kind::String
                                                                    : CellValue::Kind::Empty;
      break;
    case kInline:
      v.kind = CellValue::Kind::String;
      in.ReadBytes(static_cast<size_t>(in.ReadVarint()), v.text);
      break;
    case kErrorCode:
      v.kind = CellValue::Kind::Error;
      in.ReadBytes(static_cast<size_t>(in.ReadVarint()), v.text);
      break;
    case kFalse:
      v.kind = CellValue::Kind::Boolean;
      v.number = 0;
      break;
    case kTrue:
      v.kind = CellValue::Kind::Boolean;
      v.number = 1;
      break;
    default:
      SpoolCorrupt("the sheet spool is corrupt");
  }
}

}  // namespace cellverter
