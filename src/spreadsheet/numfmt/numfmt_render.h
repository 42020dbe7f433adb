#pragma once

// What the rendering paths of a compiled format share, and the paths themselves: General
// (numfmt_general.cpp), number (numfmt_number.cpp), fraction (numfmt_fraction.cpp), date and
// time (numfmt_datetime.cpp) and text (numfmt_text.cpp). number_format.cpp picks the
// section and the sign and hands the value to one of them.

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "spreadsheet/numfmt/number_format.h"
#include "spreadsheet/numfmt/numfmt_code.h"
#include "spreadsheet/numfmt/numfmt_decimal.h"

namespace cellverter::numfmt {

// What Excel shows for a date out of its range, or a number that no section accepts.
inline constexpr std::string_view kNoDisplay = "########";

// Collects the text of one cell in a small stack buffer and appends it to the caller's
// string in a few pieces rather than character by character. What happens when the buffer
// is full stays out of line, so that Put is inlined wherever a path calls it.
class Sink {
 public:
  explicit Sink(std::string& out) : out_(out) {}
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  void Put(char c) {
    if (size_ == kCapacity) [[unlikely]] {
      Spill();
    }
    buffer_[size_++] = c;
  }
  void Put(std::string_view text) {
    if (text.size() == 1) {
      Put(text[0]);
      return;
    }
    if (text.size() > kCapacity - size_) [[unlikely]] {
      PutLong(text);
      return;
    }
    std::memcpy(buffer_ + size_, text.data(), text.size());
    size_ += text.size();
  }
  void Put(const char* begin, const char* end) {
    Put(std::string_view(begin, static_cast<size_t>(end - begin)));
  }
  void Fill(size_t count, char c) {
    while (count > 0) {
      if (size_ == kCapacity) Spill();
      const size_t n = std::min(count, kCapacity - size_);
      std::memset(buffer_ + size_, c, n);
      size_ += n;
      count -= n;
    }
  }
  // Must be called once all the text is in.
  void Flush() {
    out_.append(buffer_, size_);
    size_ = 0;
  }

 private:
  [[gnu::noinline]] void Spill() { Flush(); }
  // A text longer than what is left of the buffer.
  [[gnu::noinline]] void PutLong(std::string_view text) {
    Flush();
    if (text.size() > kCapacity) {
      out_.append(text);
      return;
    }
    std::memcpy(buffer_, text.data(), text.size());
    size_ = text.size();
  }

  static constexpr size_t kCapacity = 192;
  char buffer_[kCapacity];
  size_t size_ = 0;
  std::string& out_;
};

inline void AppendInt(long long value, int minDigits, Sink& out) {
  // Months, days, hours, minutes and seconds: one or two digits.
  if (value >= 0 && value < 100 && minDigits <= 2) {
    if (value >= 10 || minDigits == 2) out.Put(static_cast<char>('0' + value / 10));
    out.Put(static_cast<char>('0' + value % 10));
    return;
  }
  char buffer[24];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  const long digits = end - buffer;
  if (digits < minDigits) out.Fill(static_cast<size_t>(minDigits - digits), '0');
  out.Put(buffer, end);
}

// The digits of a non-negative integer, most significant first, in `buffer`.
struct Digits {
  char buffer[330];
  int length = 0;

  void FromDecimalInteger(const Decimal& d) {
    length = std::clamp(d.point, 0, static_cast<int>(sizeof buffer));
    const int stored = std::min(length, d.count);
    std::memcpy(buffer, d.digits.data(), static_cast<size_t>(stored));
    if (length > stored) std::memset(buffer + stored, '0', static_cast<size_t>(length - stored));
  }
  void FromInt(long long value) {
    length = 0;
    if (value == 0) return;
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    length = static_cast<int>(end - buffer);
  }
};

// One placeholder of a right-aligned run of `count` placeholders (integer part, exponent,
// numerator): the first one also takes the digits that do not fit.
inline void AppendRightAligned(const Token& token, int count, const Digits& digits, bool grouping,
                               std::string_view groupSeparator, Sink& out) {
  const int position = count - 1 - token.index;  // from the right
  const auto emit = [&](char digit, int at) {
    out.Put(digit);
    if (grouping && at > 0 && at % 3 == 0) out.Put(groupSeparator);
  };
  if (token.index == 0) {
    const int extra = digits.length - count;
    if (!grouping && extra > 0) {
      out.Put(digits.buffer, digits.buffer + extra);
    } else {
      for (int k = 0; k < extra; ++k) emit(digits.buffer[k], digits.length - 1 - k);
    }
  }
  if (position < digits.length) {
    emit(digits.buffer[digits.length - 1 - position], position);
  } else if (token.placeholder == '0') {
    emit('0', position);
  } else if (token.placeholder == '?') {
    out.Put(' ');
    if (grouping && position > 0 && position % 3 == 0) out.Put(' ');
  }
}

template <typename Int>
constexpr Int FloorDiv(Int a, Int b) {
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Excel's General for `value`, sign included: at most eleven characters besides the sign.
void AppendGeneral(double value, const FormatLocale& locale, std::string& out);

// The format of a code that is General alone.
std::unique_ptr<NumberFormat> MakeGeneralFormat(const FormatLocale& locale);

// A General section with text around it ("x"General, or [DBNum1]General).
void RenderGeneralSection(const Section& s, double magnitude, bool minus,
                          const FormatLocale& locale, std::string& out);

// Where the integer placeholders of a number section form one unbroken run of tokens:
// [begin, end), or begin = -1 when they do not. Found once per section, when compiling.
struct IntegerRun {
  int begin = -1;
  int end = -1;
};
IntegerRun FindIntegerRun(const Section& s);

// A number section: digits, grouping, scaling (%, commas) and the exponent.
void RenderNumberSection(const Section& s, IntegerRun run, double magnitude, bool minus,
                         const FormatLocale& locale, std::string& out);

// A fraction section: the whole number, numerator and denominator.
void RenderFractionSection(const Section& s, double magnitude, bool minus, std::string& out);

// A date-time section, elapsed times included, for the serial date `serial` >= 0 (with a
// minus before it in the 1904 system).
void RenderDateTimeSection(const Section& s, double serial, bool minus, bool date1904,
                           const FormatLocale& locale, std::string& out);

// The text section for a text value.
void RenderTextSection(const Section& s, const std::string& text, std::string& out);

// A cell that is not a number: a text (through `textSection` when the code has one), TRUE or
// FALSE, an error's text; nothing for an empty cell.
void RenderNotNumber(const CellValue& value, const Section* textSection, std::string& out);

// Appends `text`. Out of line, so that the section choice, which ends with it or with a
// path, needs no stack frame of its own.
void AppendText(std::string_view text, std::string& out);

}  // namespace cellverter::numfmt
