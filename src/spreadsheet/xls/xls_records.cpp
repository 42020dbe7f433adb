#include "spreadsheet/xls/xls_records.h"

#include <unicode/ucnv.h>

#include "platform/utf8.h"

namespace cellverter::biff {
namespace {

// Appends UTF-16LE text; `utf16` keeps a high surrogate across calls, because a continued
// string may split a surrogate pair between records.
void AppendUtf16(const char* p, size_t count, std::string& out, Utf16ToUtf8& utf16) {
  for (size_t i = 0; i < count; ++i) utf16.Append(LoadLe16(p + 2 * i), out);
}

// "Compressed" BIFF8 characters are the low bytes of UTF-16 code units: Latin-1. Runs of
// ASCII, most texts whole, go in at once.
void AppendLatin1(const char* p, size_t count, std::string& out) {
  for (size_t i = 0; i < count;) {
    const size_t start = i;
    while (i < count && static_cast<uint8_t>(p[i]) < 0x80) ++i;
    out.append(p + start, i - start);
    if (i < count) AppendUtf8(static_cast<uint8_t>(p[i++]), out);
  }
}

}  // namespace

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

CodePageDecoder::~CodePageDecoder() {
  if (converter_) ucnv_close(converter_);
}

void CodePageDecoder::SetCodePage(uint16_t codePage) {
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

void CodePageDecoder::Append(const char* p, size_t count, std::string& out) {
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
  const int32_t length = ucnv_toUChars(converter_, units.data(), static_cast<int32_t>(units.size()),
                                       p, static_cast<int32_t>(count), &status);
  if (U_FAILURE(status)) {
    AppendLatin1(p, count, out);
    return;
  }
  Utf16ToUtf8 utf16;
  for (int32_t i = 0; i < length; ++i) utf16.Append(units[i], out);
  utf16.Finish(out);
}

bool ContinuedData::Characters(size_t count, bool highByte, std::string& out) {
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
    if (take == 0) ThrowDamaged("a string is split inside a character");
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

size_t ReadBiff8StringInRecord(std::string_view record, bool lengthIsByte, std::string& out) {
  const size_t lengthSize = lengthIsByte ? 1 : 2;
  if (record.size() < lengthSize + 1) return 0;
  const size_t count = lengthIsByte ? static_cast<uint8_t>(record[0]) : LoadLe16(record.data());
  const auto flags = static_cast<uint8_t>(record[lengthSize]);
  size_t at = lengthSize + 1;
  const size_t runsAt = at;
  if (flags & 0x08) at += 2;
  const size_t extAt = at;
  if (flags & 0x04) at += 4;
  if (record.size() < at) return 0;
  const uint64_t runs = (flags & 0x08) ? LoadLe16(record.data() + runsAt) : 0;
  const uint64_t extSize = (flags & 0x04) ? LoadLe32(record.data() + extAt) : 0;
  const bool highByte = flags & 0x01;
  const uint64_t size = at + count * (highByte ? 2 : 1) + 4 * runs + extSize;
  if (record.size() < size) return 0;
  if (highByte) {
    Utf16ToUtf8 utf16;
    AppendUtf16(record.data() + at, count, out, utf16);
    utf16.Finish(out);
  } else {
    AppendLatin1(record.data() + at, count, out);
  }
  return static_cast<size_t>(size);
}

bool ReadBiff8String(ContinuedData& data, bool lengthIsByte, std::string& out, bool takeCutOff) {
  if (const size_t size = ReadBiff8StringInRecord(data.RecordRest(), lengthIsByte, out)) {
    data.Skip(size);
    return true;
  }
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
    if (!takeCutOff) ThrowDamaged("a string is cut off");
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

}  // namespace cellverter::biff
