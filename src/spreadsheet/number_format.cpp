// Rendering of compiled format codes: pick the section, then the General, number, fraction,
// date-time or text path. Everything appends to the caller's string without allocating.
#include "spreadsheet/number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "spreadsheet/numfmt_code.h"
#include "spreadsheet/numfmt_decimal.h"
#include "spreadsheet/serial_date.h"

namespace cellverter {
namespace {

using numfmt::Decimal;
using numfmt::Part;
using numfmt::Section;
using numfmt::SectionKind;
using numfmt::Tok;
using numfmt::Token;

// What Excel shows for a date out of its range, or a number that no section accepts.
constexpr std::string_view kNoDisplay = "########";

// Collects the text of one cell in a small stack buffer and appends it to the caller's
// string in a few pieces rather than character by character.
class Sink {
 public:
  explicit Sink(std::string& out) : out_(out) {}
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  void Put(char c) {
    if (size_ == kCapacity) Flush();
    buffer_[size_++] = c;
  }
  void Put(std::string_view text) {
    if (text.size() == 1) {
      Put(text[0]);
      return;
    }
    if (text.size() > kCapacity - size_) {
      Flush();
      if (text.size() > kCapacity) {
        out_.append(text);
        return;
      }
    }
    std::memcpy(buffer_ + size_, text.data(), text.size());
    size_ += text.size();
  }
  void Put(const char* begin, const char* end) {
    Put(std::string_view(begin, static_cast<size_t>(end - begin)));
  }
  void Fill(size_t count, char c) {
    while (count > 0) {
      if (size_ == kCapacity) Flush();
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
  static constexpr size_t kCapacity = 192;
  char buffer_[kCapacity];
  size_t size_ = 0;
  std::string& out_;
};

void AppendInt(long long value, int minDigits, Sink& out) {
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

// d.ddd in fixed notation; no trailing zeros are stored, so none are shown.
void AppendFixed(const Decimal& d, std::string_view decimalSeparator, Sink& out) {
  const char* digits = d.digits.data();
  if (d.point <= 0) {
    out.Put('0');
  } else {
    const int stored = std::min(d.point, d.count);
    out.Put(digits, digits + stored);
    if (d.point > stored) out.Fill(static_cast<size_t>(d.point - stored), '0');
  }
  if (d.count > d.point) {
    out.Put(decimalSeparator);
    if (d.point < 0) {
      out.Fill(static_cast<size_t>(-d.point), '0');
      out.Put(digits, digits + d.count);
    } else {
      out.Put(digits + d.point, digits + d.count);
    }
  }
}

// Excel's General: at most eleven characters besides the sign. Integers of twelve or more
// digits and magnitudes below 1E-4 switch to scientific; decimals are rounded to fit.
void AppendGeneral(double value, const FormatLocale& locale, Sink& out) {
  if (value < 0) {
    out.Put('-');
    value = -value;
  }
  // Whole numbers of at most eleven digits are shown as they are.
  if (value < 1e11) {
    const auto whole = static_cast<uint64_t>(value);
    if (static_cast<double>(whole) == value) {
      char buffer[24];
      out.Put(buffer, std::to_chars(buffer, buffer + sizeof buffer, whole).ptr);
      return;
    }
  }
  // 10^-4 <= value < 10^11, not within rounding distance of a power of ten: the number of
  // integer digits is known without the decimal digits, and so is the rounding.
  static constexpr double kPowers[] = {1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2,  1e3,
                                       1e4,  1e5,  1e6,  1e7,  1e8, 1e9, 1e10, 1e11};
  if (value >= kPowers[0] && value < kPowers[15]) {
    int point = -3;  // 10^(point - 1) <= value < 10^point
    while (value >= kPowers[point + 4]) ++point;
    if (value > kPowers[point + 3] * (1 + 1e-14) && value < kPowers[point + 4] * (1 - 1e-14)) {
      const Decimal fixed =
          numfmt::ToDecimalRounded(value, point >= 1 ? std::max(0, 10 - point) : 9);
      if (fixed.point <= 11) {
        AppendFixed(fixed, locale.decimalSeparator, out);
        return;
      }
    }
  }
  Decimal d = numfmt::ToDecimal(value);
  if (d.IsZero()) {
    out.Put('0');
    return;
  }
  const int exponent10 = d.point - 1;
  if (exponent10 >= -4 && exponent10 < 11) {
    Decimal fixed = d;
    numfmt::RoundToDecimals(fixed, exponent10 >= 0 ? std::max(0, 10 - d.point) : 9);
    if (fixed.point <= 11) {
      AppendFixed(fixed, locale.decimalSeparator, out);
      return;
    }
  }
  // Below 1E-4 the plain form is kept when every significant digit fits in the eleven
  // characters ("0.000000012").
  if (exponent10 < -4 && 2 - d.point + d.count <= 11) {
    AppendFixed(d, locale.decimalSeparator, out);
    return;
  }
  const bool wideExponent = exponent10 >= 99 || exponent10 <= -99;
  numfmt::RoundToDigits(d, wideExponent ? 5 : 6);
  const int exponent = d.point - 1;
  out.Put(d.Digit(0));
  if (d.count > 1) {
    out.Put(locale.decimalSeparator);
    out.Put(d.digits.data() + 1, d.digits.data() + d.count);
  }
  out.Put(exponent < 0 ? "E-" : "E+");
  AppendInt(std::abs(exponent), 2, out);
}

void AppendGeneral(double value, const FormatLocale& locale, std::string& out) {
  Sink sink(out);
  AppendGeneral(value, locale, sink);
  sink.Flush();
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
void AppendRightAligned(const Token& token, int count, const Digits& digits, bool grouping,
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

// All the placeholders of an integer part that are written next to each other, from
// tokens[0] to tokens[count - 1]: the same text as AppendRightAligned for each of them.
void AppendIntegerRun(const Token* tokens, int count, const Digits& digits, bool grouping,
                      std::string_view groupSeparator, Sink& out) {
  const int length = digits.length;
  for (int position = std::max(count, length) - 1; position >= 0; --position) {
    if (position < length) {
      out.Put(digits.buffer[length - 1 - position]);
    } else {
      const char placeholder = tokens[count - 1 - position].placeholder;
      if (placeholder == '#') continue;
      if (placeholder == '?') {
        // A blank as wide as the digit, and one for the separator it would bring.
        out.Put(' ');
        if (grouping && position > 0 && position % 3 == 0) out.Put(' ');
        continue;
      }
      out.Put('0');
    }
    if (grouping && position > 0 && position % 3 == 0) out.Put(groupSeparator);
  }
}

// Where the integer placeholders of `s` form one unbroken run of tokens: [begin, end), or
// begin = -1 when they do not.
struct IntegerRun {
  int begin = -1;
  int end = -1;
};

IntegerRun FindIntegerRun(const Section& s) {
  IntegerRun run;
  const int size = static_cast<int>(s.tokens.size());
  for (int i = 0; i < size; ++i) {
    const Token& token = s.tokens[i];
    if (token.kind != Tok::Digit || token.part != Part::Integer) continue;
    if (run.begin < 0) {
      run.begin = i;
    } else if (run.end != i) {
      return {};
    }
    if (token.index != i - run.begin) return {};
    run.end = i + 1;
  }
  if (run.begin < 0 || run.end - run.begin != s.integerDigits) return {};
  return run;
}

template <typename Int>
constexpr Int FloorDiv(Int a, Int b) {
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// The exponent is a multiple of the number of integer placeholders, whatever they are:
// ##0.0E+0 is engineering notation, 0000.0000E-0 shows 123456.789 as 0012.3457E4 and
// 00.0E+00 shows 100 as 01.0E+02. Without integer placeholders (.00E+0) the mantissa is
// below one.
int ScientificExponent(const Section& s, int point) {
  if (s.integerDigits == 0) return point;
  return FloorDiv(point - 1, s.integerDigits) * s.integerDigits;
}

class CompiledFormat final : public NumberFormat {
 public:
  CompiledFormat(numfmt::ParsedFormat parsed, const FormatLocale& locale)
      : sections_(std::move(parsed.sections)), textSection_(parsed.textSection), locale_(locale) {
    numberSections_ = static_cast<int>(sections_.size());
    integerRuns_.reserve(sections_.size());
    for (const Section& section : sections_) integerRuns_.push_back(FindIntegerRun(section));
    if (textSection_ >= 0 && numberSections_ > 1) numberSections_ = textSection_;
  }

  void Render(const CellValue& value, bool date1904, std::string& out) const override {
    switch (value.kind) {
      case CellValue::Kind::Empty:
        return;
      case CellValue::Kind::Boolean:
        out += value.number != 0 ? "TRUE" : "FALSE";
        return;
      case CellValue::Kind::Error:
        out += value.text;
        return;
      case CellValue::Kind::String:
        if (textSection_ >= 0) {
          RenderText(sections_[textSection_], value.text, out);
        } else {
          out += value.text;
        }
        return;
      case CellValue::Kind::Number:
        RenderNumber(value.number, date1904, out);
        return;
    }
  }

 private:
  // The section for `value` and whether its own minus sign is shown, or kNoSection when no
  // section takes the value, kGeneral when it is shown in General.
  static constexpr int kNoSection = -1;
  static constexpr int kGeneral = -2;

  // A section whose condition only negative numbers meet shows no minus of its own
  // ([<0], [<=-1], [=-5]); [<=0] or [>-6] keep it.
  static bool OnlyNegatives(const numfmt::Condition& condition) {
    using numfmt::CompareOp;
    return (condition.op == CompareOp::Less && condition.operand <= 0) ||
           (condition.op == CompareOp::LessEqual && condition.operand < 0) ||
           (condition.op == CompareOp::Equal && condition.operand < 0);
  }

  int Choose(double value, bool& minus) const {
    using numfmt::CompareOp;
    const Section& first = sections_[0];
    const bool conditional = first.condition.op != CompareOp::None ||
                             (numberSections_ > 1 && sections_[1].condition.op != CompareOp::None);
    if (!conditional) {
      if (numberSections_ == 1 || value > 0 || (value == 0 && numberSections_ == 2)) {
        minus = value < 0;
        return 0;
      }
      minus = false;
      return value < 0 ? 1 : 2;
    }
    minus = value < 0;
    if (numberSections_ == 1) {
      // One conditional section keeps the minus; a value it does not take shows in General.
      return first.condition.Holds(value) ? 0 : kGeneral;
    }
    // Without a condition of its own, the first section takes positive numbers and the
    // second (of three) negative ones.
    int chosen = kNoSection;
    if (first.condition.op == CompareOp::None ? value > 0 : first.condition.Holds(value)) {
      chosen = 0;
    } else if (const Section& second = sections_[1]; second.condition.op == CompareOp::None
                                                         ? (numberSections_ < 3 || value < 0)
                                                         : second.condition.Holds(value)) {
      chosen = 1;
    } else if (numberSections_ > 2) {
      chosen = 2;
    }
    if (chosen < 0) return chosen;
    const numfmt::Condition& condition = sections_[chosen].condition;
    if (OnlyNegatives(condition) || (chosen == 1 && condition.op == CompareOp::None)) {
      minus = false;
    }
    return chosen;
  }

  void RenderNumber(double value, bool date1904, std::string& out) const {
    if (!std::isfinite(value)) {
      out += "#NUM!";
      return;
    }
    if (value == 0) value = 0;  // no negative zero
    bool minus = false;
    const int chosen = Choose(value, minus);
    if (chosen == kGeneral) {
      AppendGeneral(value, locale_, out);
      return;
    }
    if (chosen == kNoSection) {
      out += kNoDisplay;
      return;
    }
    const Section& s = sections_[chosen];
    const double magnitude = std::abs(value);
    switch (s.kind) {
      case SectionKind::Text:
        AppendGeneral(value, locale_, out);
        return;
      case SectionKind::General:
        if (minus) out += '-';
        for (const Token& token : s.tokens) {
          if (token.kind == Tok::Literal) {
            out += token.text;
          } else if (s.dbNum == 0 || !AppendIdeographic(s, magnitude, out)) {
            AppendGeneral(magnitude, locale_, out);
          }
        }
        return;
      case SectionKind::Number:
        // A code of text alone shows no minus.
        if (s.integerDigits + s.fractionDigits + s.exponentDigits == 0) minus = false;
        RenderDigits(s, magnitude, minus, out);
        return;
      case SectionKind::Fraction:
        RenderFraction(s, magnitude, minus, out);
        return;
      case SectionKind::DateTime:
        // The 1904 system shows negative dates and times with a minus; the 1900 one cannot.
        if (minus && !date1904) {
          out += kNoDisplay;
          return;
        }
        if (minus) out += '-';
        RenderDateTime(s, magnitude, date1904, out);
        return;
    }
  }

  // The numbers of a date under [DBNum1] to [DBNum3]: a year digit by digit, others as
  // numbers (2016-12-08 in [DBNum2][$-804] is 贰零壹陆, 壹拾贰, 捌), and [DBNum3] in full-width
  // digits; a locale without such numerals keeps its digits.
  [[gnu::cold, gnu::noinline]] void AppendNumeral(const Section& s, long long value, int minDigits,
                                                  bool year, Sink& out) const {
    std::string digits;
    {
      Sink plain(digits);
      AppendInt(value, minDigits, plain);
      plain.Flush();
    }
    if (s.dbNum == 3) {
      for (char c : digits) {
        const char wide[] = {'\xEF', '\xBC', static_cast<char>('\x90' + (c - '0'))};
        out.Put(std::string_view(wide, sizeof wide));
      }
      return;
    }
    const std::string& localeName = (s.names ? *s.names : locale_).name;
    std::string spelled;
    if (year) {
      for (char c : digits) spelled += numfmt::IdeographicNumber(c - '0', localeName, s.dbNum);
    } else {
      spelled = numfmt::IdeographicNumber(value, localeName, s.dbNum);
    }
    out.Put(spelled.empty() ? std::string_view(digits) : std::string_view(spelled));
  }

  // [DBNum1] and [DBNum2] write whole numbers in the numerals of the section's locale.
  bool AppendIdeographic(const Section& s, double magnitude, std::string& out) const {
    if (magnitude >= 1e15 || magnitude != std::floor(magnitude)) return false;
    const std::string spelled = numfmt::IdeographicNumber(
        static_cast<long long>(magnitude), (s.names ? *s.names : locale_).name, s.dbNum);
    out += spelled;
    return !spelled.empty();
  }

  void RenderDigits(const Section& s, double magnitude, bool minus, std::string& text) const {
    Decimal d;
    int exponent = 0;
    if (!s.scientific) {
      // Shifting the point by decimalShift, then rounding to fractionDigits decimals.
      d = numfmt::ToDecimalRounded(magnitude, s.fractionDigits + s.decimalShift);
      if (!d.IsZero()) d.point += s.decimalShift;
    } else if (d = numfmt::ToDecimal(magnitude); !d.IsZero()) {
      d.point += s.decimalShift;
      exponent = ScientificExponent(s, d.point);
      Decimal mantissa = d;
      mantissa.point -= exponent;
      numfmt::RoundToDecimals(mantissa, s.fractionDigits);
      // Rounding up may reach the next power of ten (9.99 -> 10.0).
      if (const int again = ScientificExponent(s, mantissa.point + exponent); again != exponent) {
        mantissa.point += exponent - again;
        exponent = again;
      }
      d = mantissa;
    }

    Digits integer;
    integer.FromDecimalInteger(d);
    Digits exponentDigits;
    exponentDigits.FromInt(std::abs(exponent));
    const int lastFractionDigit = d.count - 1 - d.point;  // last non-zero one

    Sink out(text);
    if (minus) out.Put('-');
    const Token* tokens = s.tokens.data();
    const int tokenCount = static_cast<int>(s.tokens.size());
    const IntegerRun run = integerRuns_[&s - sections_.data()];
    for (int i = 0; i < tokenCount; ++i) {
      if (i == run.begin) {
        AppendIntegerRun(tokens + i, s.integerDigits, integer, s.grouping, locale_.groupSeparator,
                         out);
        i = run.end - 1;
        continue;
      }
      const Token& token = tokens[i];
      switch (token.kind) {
        case Tok::Literal:
          out.Put(token.text);
          break;
        case Tok::Point:
          // Without integer placeholders the whole number still shows unless it is zero
          // (.00 shows 3.14159 as 3.14 and 0.5 as .50).
          if (s.integerDigits == 0 && !s.scientific)
            out.Put(integer.buffer, integer.buffer + integer.length);
          out.Put(locale_.decimalSeparator);
          break;
        case Tok::Exponent:
          out.Put(token.text.empty() ? std::string_view("E") : std::string_view(token.text));
          if (exponent < 0) {
            out.Put('-');
          } else if (token.plus) {
            out.Put('+');
          }
          break;
        case Tok::Digit:
          if (token.part == Part::Integer) {
            AppendRightAligned(token, s.integerDigits, integer, s.grouping, locale_.groupSeparator,
                               out);
          } else if (token.part == Part::Exponent) {
            AppendRightAligned(token, s.exponentDigits, exponentDigits, false, {}, out);
          } else if (token.index <= lastFractionDigit) {
            out.Put(d.Digit(d.point + token.index));
          } else if (token.placeholder == '0') {
            out.Put('0');
          } else if (token.placeholder == '?') {
            out.Put(' ');
          }
          break;
        default:
          break;
      }
    }
    out.Flush();
  }

  void RenderFraction(const Section& s, double magnitude, bool minus, std::string& text) const {
    double x = magnitude;
    if (s.decimalShift != 0) x *= std::pow(10.0, s.decimalShift);
    // Past 15 digits a double has no fraction worth showing.
    const bool huge = x >= 1e15;
    double whole = 0;
    long long numerator = 0;
    long long denominator = 1;
    if (huge) {
      whole = std::floor(x);
    } else if (s.fixedDenominator > 0) {
      if (s.integerDigits > 0) whole = std::floor(x);
      denominator = s.fixedDenominator;
      numerator = std::llround((x - whole) * static_cast<double>(denominator));
      if (s.integerDigits > 0 && numerator == denominator) whole += 1, numerator = 0;
    } else {
      long long maxDenominator = 1;
      for (int i = 0; i < std::min(s.denominatorLimitDigits, 9); ++i) maxDenominator *= 10;
      ContinuedFraction(x, maxDenominator - 1, numerator, denominator);
      if (s.integerDigits > 0) {
        whole = static_cast<double>(numerator / denominator);
        numerator %= denominator;
      }
    }
    const bool noFraction = numerator == 0 && s.integerDigits > 0;

    Digits wholeDigits;
    wholeDigits.FromDecimalInteger(numfmt::ToDecimal(whole));
    // A whole number with nothing else to show is shown as 0 rather than nothing.
    if (noFraction && wholeDigits.length == 0) wholeDigits.buffer[0] = '0', wholeDigits.length = 1;
    Digits numeratorDigits;
    numeratorDigits.FromInt(numerator);
    if (numeratorDigits.length == 0) numeratorDigits.buffer[0] = '0', numeratorDigits.length = 1;
    Digits denominatorDigits;
    denominatorDigits.FromInt(denominator);

    // Text between the whole number and the numerator goes with the whole number when that
    // shows nothing (#\:#/# shows 0.75 as 3/4), but blanks stay (# ?/? shows  1/3); with
    // no fraction to show, # placeholders leave out the fraction and its bar altogether.
    bool wholeBlank = wholeDigits.length == 0;
    bool fractionPads = false;
    for (const Token& token : s.tokens) {
      if (token.kind != Tok::Digit) continue;
      if (token.part == Part::Integer && token.placeholder != '#') wholeBlank = false;
      if (token.part != Part::Integer && token.placeholder == '?') fractionPads = true;
    }
    const bool dropFraction = noFraction && !fractionPads;
    enum class Region { Whole, Between, Fraction, After } region = Region::Whole;

    Sink out(text);
    if (minus) out.Put('-');
    for (const Token& token : s.tokens) {
      switch (token.kind) {
        case Tok::Literal:
          if (region == Region::Between && !dropFraction && wholeBlank) {
            for (char c : token.text) {
              if (c == ' ') out.Put(' ');
            }
          } else if (!dropFraction || region == Region::Whole || region == Region::After) {
            out.Put(token.text);
          }
          break;
        case Tok::FractionBar:
          region = s.fixedDenominator > 0 ? Region::After : Region::Fraction;
          if (dropFraction) break;
          if (noFraction) {
            out.Fill(1 + token.text.size(), ' ');
          } else {
            out.Put('/');
            out.Put(token.text);
          }
          break;
        case Tok::Digit:
          if (token.part == Part::Integer) {
            AppendRightAligned(token, s.integerDigits, wholeDigits, false, {}, out);
            if (token.index == s.integerDigits - 1) region = Region::Between;
            break;
          }
          region = token.part == Part::Denominator && token.index == s.denominatorDigits - 1
                       ? Region::After
                       : Region::Fraction;
          if (noFraction) {
            if (!dropFraction && token.placeholder == '?') out.Put(' ');
          } else if (token.part == Part::Numerator) {
            AppendRightAligned(token, s.numeratorDigits, numeratorDigits, false, {}, out);
          } else {
            // The denominator is aligned to the left.
            const int count = s.denominatorLimitDigits;
            if (token.index < denominatorDigits.length) {
              out.Put(denominatorDigits.buffer[token.index]);
              if (token.index == count - 1) {
                out.Put(denominatorDigits.buffer + count,
                        denominatorDigits.buffer + denominatorDigits.length);
              }
            } else if (token.placeholder == '?') {
              out.Put(' ');
            } else if (token.placeholder == '0') {
              out.Put('0');
            }
          }
          break;
        default:
          break;
      }
    }
    out.Flush();
  }

  // Excel's fraction: the last convergent of the continued fraction of `x` (the whole value,
  // in double arithmetic) whose denominator is at most `maxDenominator`; not always the
  // closest fraction (12.3 in # ?/? is 12 1/3, not 12 2/7).
  static void ContinuedFraction(double x, long long maxDenominator, long long& numerator,
                                long long& denominator) {
    long long p2 = 0, p1 = 1, q2 = 1, q1 = 0;
    long long p = 0, q = 1;
    double b = x;
    while (q1 < maxDenominator) {
      const double a = std::floor(b);
      // Stop before the terms outgrow 64 bits (huge improper fractions), and at once for a
      // value scaled to infinity or NaN (so many % signs).
      if (!(a * static_cast<double>(std::max<long long>({p1, q1, 1})) <= 1e18)) break;
      const auto ai = static_cast<long long>(a);
      p = ai * p1 + p2;
      q = ai * q1 + q2;
      // Close enough: the rest of the expansion, or what numerator and denominator miss.
      if (b - a < 5e-8 || std::abs(x * static_cast<double>(q) - static_cast<double>(p)) < 5e-8)
        break;
      b = 1 / (b - a);
      p2 = p1, p1 = p;
      q2 = q1, q1 = q;
    }
    if (q > maxDenominator) {
      if (q1 > maxDenominator) {
        p = p2, q = q2;
      } else {
        p = p1, q = q1;
      }
    }
    numerator = p;
    denominator = q;
  }

  void RenderDateTime(const Section& s, double serial, bool date1904, std::string& text) const {
    // The last day: 31 December 9999.
    const long long lastDay = date1904 ? 2957003 : 2958465;
    long long unitsPerSecond = 1;
    for (int i = 0; i < s.subSecondDigits; ++i) unitsPerSecond *= 10;
    if (serial >= static_cast<double>(lastDay + 1)) {
      text += kNoDisplay;
      return;
    }
    // Excel rounds to the shown precision of seconds (never to minutes), then truncates.
    const double scaled = serial * 86400.0 * static_cast<double>(unitsPerSecond);
    const auto units = static_cast<long long>(std::floor(scaled + 0.5 + scaled * 1e-15));
    const long long unitsPerDay = 86400 * unitsPerSecond;
    const long long day = units / unitsPerDay;
    if (day > lastDay) {
      text += kNoDisplay;
      return;
    }
    const long long totalSeconds = units / unitsPerSecond;
    const long long subUnits = units % unitsPerSecond;
    const int hour = static_cast<int>(totalSeconds / 3600 % 24);
    const int minute = static_cast<int>(totalSeconds / 60 % 60);
    const int second = static_cast<int>(totalSeconds % 60);

    int year = 0, month = 0, dayOfMonth = 0, weekday = 0;
    CivilDate(day, date1904, year, month, dayOfMonth, weekday);
    if (s.hijri) HijriDate(day, date1904, year, month, dayOfMonth);
    const FormatLocale& names = s.names ? *s.names : locale_;

    Sink out(text);
    const auto number = [&](long long value, int minDigits, bool isYear) {
      if (s.dbNum == 0) [[likely]] {
        AppendInt(value, minDigits, out);
      } else {
        AppendNumeral(s, value, minDigits, isYear, out);
      }
    };
    for (const Token& token : s.tokens) {
      switch (token.kind) {
        case Tok::Literal:
          out.Put(token.text);
          break;
        case Tok::Year2:
          number(year % 100, 2, true);
          break;
        case Tok::Year4:
          number(year, 4, true);
          break;
        case Tok::BuddhistYear2:
          number((year + 543) % 100, 2, true);
          break;
        case Tok::BuddhistYear4:
          number(year + 543, 4, true);
          break;
        case Tok::Month:
        case Tok::Month2:
          number(month, token.kind == Tok::Month2 ? 2 : 1, false);
          break;
        case Tok::MonthAbbr:
          out.Put(names.monthAbbreviations[month - 1]);
          break;
        case Tok::MonthName:
          out.Put(names.monthNames[month - 1]);
          break;
        case Tok::MonthLetter: {
          const std::string& name = names.monthNames[month - 1];
          size_t length = name.empty() ? 0 : 1;
          while (length < name.size() &&
                 (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) {
            ++length;
          }
          out.Put(std::string_view(name).substr(0, length));
          break;
        }
        case Tok::Day:
        case Tok::Day2:
          number(dayOfMonth, token.kind == Tok::Day2 ? 2 : 1, false);
          break;
        case Tok::DayAbbr:
          out.Put(names.dayAbbreviations[weekday]);
          break;
        case Tok::DayName:
          out.Put(names.dayNames[weekday]);
          break;
        case Tok::Hour:
        case Tok::Hour2: {
          int shown = hour;
          if (s.hour12) shown = hour % 12 == 0 ? 12 : hour % 12;
          number(shown, token.kind == Tok::Hour2 ? 2 : 1, false);
          break;
        }
        case Tok::Minute:
        case Tok::Minute2:
          number(minute, token.kind == Tok::Minute2 ? 2 : 1, false);
          break;
        case Tok::Second:
        case Tok::Second2:
          number(second, token.kind == Tok::Second2 ? 2 : 1, false);
          break;
        case Tok::SubSecond: {
          out.Put(locale_.decimalSeparator);
          char buffer[8];
          for (int i = s.subSecondDigits - 1, rest = static_cast<int>(subUnits); i >= 0; --i) {
            buffer[i] = static_cast<char>('0' + rest % 10);
            rest /= 10;
          }
          out.Put(buffer, buffer + token.width);
          break;
        }
        case Tok::ElapsedHours:
          AppendInt(totalSeconds / 3600, token.width, out);
          break;
        case Tok::ElapsedMinutes:
          AppendInt(totalSeconds / 60, token.width, out);
          break;
        case Tok::ElapsedSeconds:
          AppendInt(totalSeconds, token.width, out);
          break;
        case Tok::AmPm:
          out.Put(hour < 12 ? names.amText : names.pmText);
          break;
        case Tok::AOrP:
          out.Put(token.text[hour < 12 ? 0 : 1]);
          break;
        default:
          break;
      }
    }
    out.Flush();
  }

  // The date of a serial (serial_date.h), and the two days of the 1900 system that no
  // calendar has: "0 January 1900" and 29 February 1900.
  static void CivilDate(long long serialDay, bool date1904, int& year, int& month, int& day,
                        int& weekday) {
    if (date1904) {
      weekday = static_cast<int>((serialDay + 5) % 7);  // 1 January 1904 was a Friday
    } else {
      weekday = static_cast<int>((serialDay + 6) % 7);  // serial 1 is a Sunday in Excel
      if (serialDay == 0) {
        year = 1900, month = 1, day = 0;
        return;
      }
      if (serialDay == 60) {
        year = 1900, month = 2, day = 29;
        return;
      }
    }
    const std::chrono::year_month_day date = DateOfSerialDay(serialDay, date1904);
    year = static_cast<int>(date.year());
    month = static_cast<int>(static_cast<unsigned>(date.month()));
    day = static_cast<int>(static_cast<unsigned>(date.day()));
  }

  // B2: the tabular Hijri calendar (30-year cycle, epoch 15 July 622 Julian), which gives
  // Excel's 1317-10-28 for serial 59 and 1345-11-17 for serial 10000. The 1900 system's
  // serial 0 shows as serial 1 does.
  [[gnu::cold, gnu::noinline]] static void HijriDate(long long serialDay, bool date1904, int& year,
                                                     int& month, int& day) {
    long long daysAfter1899 = serialDay;  // days after 31 December 1899
    if (date1904) {
      daysAfter1899 = serialDay + (kFirstDay1904 - kDayBeforeSerial1).count();
    } else if (serialDay == 0) {
      daysAfter1899 = 1;
    } else if (serialDay > 60) {
      daysAfter1899 = serialDay - 1;
    }
    constexpr long long kEpoch = 1948439;  // Julian day number of 1 Muharram 1 AH
    const long long julianDay = 2415020 + daysAfter1899;
    const auto firstDay = [](long long y, long long m) {
      return (59 * (m - 1) + 1) / 2 + (y - 1) * 354 + FloorDiv(3 + 11 * y, 30LL) + kEpoch;
    };
    const long long y = FloorDiv(30 * (julianDay - kEpoch) + 10646, 10631LL);
    const long long m =
        std::min<long long>(12, -FloorDiv(-2 * (julianDay - 29 - firstDay(y, 1)), 59LL) + 1);
    year = static_cast<int>(y);
    month = static_cast<int>(m);
    day = static_cast<int>(julianDay - firstDay(y, m) + 1);
  }

  void RenderText(const Section& s, const std::string& text, std::string& out) const {
    for (const Token& token : s.tokens) {
      if (token.kind == Tok::TextValue || token.kind == Tok::General) {
        out += text;
      } else if (token.kind == Tok::Literal) {
        out += token.text;
      }
    }
  }

  std::vector<Section> sections_;
  int textSection_ = -1;
  int numberSections_ = 1;
  std::vector<IntegerRun> integerRuns_;  // one per section
  const FormatLocale& locale_;
};

class GeneralFormat final : public NumberFormat {
 public:
  explicit GeneralFormat(const FormatLocale& locale) : locale_(locale) {}
  void Render(const CellValue& value, bool, std::string& out) const override {
    switch (value.kind) {
      case CellValue::Kind::Empty:
        return;
      case CellValue::Kind::Number:
        if (std::isfinite(value.number)) {
          AppendGeneral(value.number, locale_, out);
        } else {
          out += "#NUM!";
        }
        return;
      case CellValue::Kind::String:
      case CellValue::Kind::Error:
        out += value.text;
        return;
      case CellValue::Kind::Boolean:
        out += value.number != 0 ? "TRUE" : "FALSE";
        return;
    }
  }

 private:
  const FormatLocale& locale_;
};

}  // namespace

std::unique_ptr<NumberFormat> CompileNumberFormat(std::string_view code,
                                                  const FormatLocale& locale) {
  numfmt::ParsedFormat parsed = numfmt::ParseFormatCode(code, locale);
  const bool plainGeneral = parsed.valid && parsed.sections.size() == 1 &&
                            parsed.sections[0].kind == SectionKind::General &&
                            parsed.sections[0].tokens.size() == 1 && parsed.sections[0].dbNum == 0;
  if (!parsed.valid || plainGeneral) return std::make_unique<GeneralFormat>(locale);
  return std::make_unique<CompiledFormat>(std::move(parsed), locale);
}

NumberFormatCache::NumberFormatCache(FormatLocale locale) : locale_(std::move(locale)) {}
NumberFormatCache::~NumberFormatCache() = default;

const NumberFormat& NumberFormatCache::Get(const NumberFormatRef& format) {
  const std::string key =
      format.code.empty() ? BuiltInFormatCode(format.builtInId, locale_) : format.code;
  auto& slot = byCode_[key];
  if (!slot) slot = CompileNumberFormat(key, locale_);
  return *slot;
}

std::string FormatCellText(const CellValue& value, std::string_view formatCode, bool date1904,
                           const FormatLocale& locale) {
  std::string out;
  CompileNumberFormat(formatCode, locale)->Render(value, date1904, out);
  return out;
}

}  // namespace cellverter
