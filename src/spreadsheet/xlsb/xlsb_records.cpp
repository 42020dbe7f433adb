#include "spreadsheet/xlsb/xlsb_records.h"

#include <algorithm>
#include <cstring>

#include "platform/little_endian.h"
#include "platform/utf8.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/xls/xls_records.h"

namespace cellverter::xlsb {
namespace {

constexpr size_t kReadChunk = 64 << 10;

}  // namespace

void RecordReader::CutOff() { ThrowDamaged("a record is cut off"); }

// At least `need` bytes from pos_ on in the buffer; false when the part ends first.
bool RecordReader::Fill(size_t need) {
  if (end_ - pos_ >= need) return true;
  if (pos_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (buffer_.size() < std::max(need, kReadChunk)) buffer_.resize(std::max(need, kReadChunk));
  while (end_ < need) {
    const size_t n = in_.Read(buffer_.data() + end_, buffer_.size() - end_);
    if (n == 0) return false;
    end_ += n;
  }
  return true;
}

// The header (2.1.4): a type of one or two bytes and a size of one to four, seven bits in
// each byte, the high bit saying that another byte follows.
bool RecordReader::Next() {
  Fill(6);  // the longest header, or as much as the part still holds
  if (pos_ == end_) return false;
  auto byte = [&] {
    if (pos_ == end_) CutOff();
    return static_cast<uint8_t>(buffer_[pos_++]);
  };
  const uint8_t t0 = byte();
  type_ = t0 & 0x7Fu;
  if (t0 & 0x80) {
    const uint8_t t1 = byte();
    if (t1 & 0x80) ThrowDamaged("a record type is invalid");
    type_ |= static_cast<uint32_t>(t1) << 7;
  }
  uint32_t size = 0;
  for (int i = 0;; ++i) {
    const uint8_t b = byte();
    size |= static_cast<uint32_t>(b & 0x7Fu) << (7 * i);
    if ((b & 0x80) == 0) break;
    if (i == 3) ThrowDamaged("a record size is invalid");
  }
  if (size > kMaxRecordSize) ThrowDamaged("a record is too large");
  if (!Fill(size)) CutOff();
  data_ = std::string_view(buffer_.data() + pos_, size);
  pos_ += size;
  return true;
}

const char* RecordFields::Take(size_t size) {
  if (size > data_.size() - pos_) ThrowDamaged("a record is shorter than its fields");
  const char* at = data_.data() + pos_;
  pos_ += size;
  return at;
}

uint8_t RecordFields::U8() { return static_cast<uint8_t>(*Take(1)); }
uint16_t RecordFields::U16() { return LoadLe16(Take(2)); }
uint32_t RecordFields::U32() { return LoadLe32(Take(4)); }
double RecordFields::F64() { return biff::F64(Take(8)); }
void RecordFields::Skip(size_t size) { Take(size); }

void RecordFields::Utf16(uint32_t units, std::string& out) {
  // The count is checked against the record before anything is allocated from it.
  if (units > Remaining() / 2) ThrowDamaged("a text runs past the end of its record");
  const char* p = Take(size_t{units} * 2);
  out.clear();
  out.reserve(units);
  Utf16ToUtf8 utf16;
  for (uint32_t i = 0; i < units; ++i) utf16.Append(LoadLe16(p + 2 * i), out);
  utf16.Finish(out);
}

void RecordFields::WideString(std::string& out) { Utf16(U32(), out); }

bool RecordFields::NullableWideString(std::string& out) {
  const uint32_t units = U32();
  if (units == 0xFFFFFFFF) {
    out.clear();
    return false;
  }
  Utf16(units, out);
  return true;
}

}  // namespace cellverter::xlsb
