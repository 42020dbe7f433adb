#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/numfmt/number_format.h"

namespace cellverter::numfmt {

// The pieces of one section of a format code, in order.
enum class Tok : uint8_t {
  Literal,      // text shown as it is
  Digit,        // 0 # ? in the integer, fraction, exponent, numerator or denominator part
  Point,        // the decimal point
  Exponent,     // E+ / E- (or e+ / e-); text holds the letter as written
  FractionBar,  // the / of a fraction
  TextValue,    // @
  General,      // the word General inside a section
  Year2,
  Year4,
  BuddhistYear2,
  BuddhistYear4,
  Month,         // m
  Month2,        // mm
  MonthAbbr,     // mmm
  MonthName,     // mmmm
  MonthLetter,   // mmmmm
  Day,           // d
  Day2,          // dd
  DayAbbr,       // ddd
  DayName,       // dddd
  Hour,          // h
  Hour2,         // hh
  Minute,        // m after an hour or before a second
  Minute2,       // mm likewise
  Second,        // s
  Second2,       // ss
  SubSecond,     // .0 .00 .000 after seconds; width = digits
  ElapsedHours,  // [h]; width = minimum digits
  ElapsedMinutes,
  ElapsedSeconds,
  AmPm,   // AM/PM: the locale's texts
  AOrP,   // A/P: text holds the two letters as written
  Comma,  // , before it is resolved into grouping, scaling or a literal
};

// Which part of a number a digit placeholder belongs to.
enum class Part : uint8_t { Integer, Fraction, Exponent, Numerator, Denominator };

struct Token {
  Token() = default;
  explicit Token(Tok tokenKind, std::string tokenText = {})
      : kind(tokenKind), text(std::move(tokenText)) {}
  static Token Placeholder(char c) {
    Token token(Tok::Digit);
    token.placeholder = c;
    return token;
  }

  Tok kind = Tok::Literal;
  char placeholder = 0;  // Digit: '0', '#' or '?'
  Part part = Part::Integer;
  bool plus = false;   // Exponent: E+ (sign always) rather than E-
  uint16_t index = 0;  // Digit: position within its part, from the left
  uint16_t width = 0;  // SubSecond / elapsed: digits
  std::string text;    // Literal text; AOrP letters; FractionBar: fixed denominator digits
};

enum class SectionKind : uint8_t { Number, Fraction, DateTime, Text, General };

enum class CompareOp : uint8_t { None, Less, LessEqual, Greater, GreaterEqual, Equal, NotEqual };

struct Condition {
  CompareOp op = CompareOp::None;
  double operand = 0;
  // Inline: the section choice tests it for every cell.
  bool Holds(double value) const {
    switch (op) {
      case CompareOp::None:
        return true;
      case CompareOp::Less:
        return value < operand;
      case CompareOp::LessEqual:
        return value <= operand;
      case CompareOp::Greater:
        return value > operand;
      case CompareOp::GreaterEqual:
        return value >= operand;
      case CompareOp::Equal:
        return value == operand;
      case CompareOp::NotEqual:
        return value != operand;
    }
    return false;
  }
};

struct Section {
  SectionKind kind = SectionKind::Number;
  std::vector<Token> tokens;
  Condition condition;

  // Numbers and fractions
  int decimalShift = 0;  // +2 per %, -3 per scaling comma
  int integerDigits = 0;
  int fractionDigits = 0;
  int exponentDigits = 0;
  int numeratorDigits = 0;
  int denominatorDigits = 0;
  int denominatorLimitDigits = 0;  // the first run after the bar: the largest denominator
  int fixedDenominator = 0;        // # ?/8
  bool grouping = false;
  bool scientific = false;

  // Dates and times
  bool hour12 = false;
  bool hijri = false;  // B2: dates in the Hijri calendar
  uint8_t dbNum = 0;   // [DBNum1] to [DBNum4]: East Asian numerals
  int subSecondDigits = 0;
  // Names from a [$-LCID] tag; otherwise those of the format's locale.
  std::shared_ptr<const FormatLocale> names;
};

// A parsed format code. `valid` false means the code renders as General.
struct ParsedFormat {
  bool valid = false;
  std::vector<Section> sections;  // the number sections, then the text section if any
  int textSection = -1;           // index of the section used for text values, or -1
};

// Splits, tokenizes and resolves `code`. `locale` supplies the long date and time codes
// that [$-F800] and [$-F400] stand for.
ParsedFormat ParseFormatCode(std::string_view code, const FormatLocale& locale);

// A whole number in the numerals of [DBNum1] (一万二千三百二十三, Chinese or Japanese) or
// [DBNum2] (financial, Chinese: 壹万贰仟叁佰贰拾叁) of a locale such as "zh-CN"; empty for
// other locales and kinds, which keep their digits.
std::string IdeographicNumber(long long value, std::string_view localeName, int dbNum);

}  // namespace cellverter::numfmt
