// The number path: integer digits with their grouping, decimals, scaling by % and commas,
// and the exponent of scientific notation.
#include <cmath>

#include "spreadsheet/numfmt/numfmt_render.h"

namespace cellverter::numfmt {
namespace {

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

// The exponent is a multiple of the number of integer placeholders, whatever they are:
// ##0.0E+0 is engineering notation, 0000.0000E-0 shows 123456.789 as 0012.3457E4 and
// 00.0E+00 shows 100 as 01.0E+02. Without integer placeholders (.00E+0) the mantissa is
// below one.
int ScientificExponent(const Section& s, int point) {
  if (s.integerDigits == 0) return point;
  return FloorDiv(point - 1, s.integerDigits) * s.integerDigits;
}

}  // namespace

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

void RenderNumberSection(const Section& s, IntegerRun run, double magnitude, bool minus,
                         const FormatLocale& locale, std::string& text) {
  Decimal d;
  int exponent = 0;
  if (!s.scientific) {
    // Shifting the point by decimalShift, then rounding to fractionDigits decimals.
    d = ToDecimalRounded(magnitude, s.fractionDigits + s.decimalShift);
    if (!d.IsZero()) d.point += s.decimalShift;
  } else if (d = ToDecimal(magnitude); !d.IsZero()) {
    d.point += s.decimalShift;
    exponent = ScientificExponent(s, d.point);
    Decimal mantissa = d;
    mantissa.point -= exponent;
    RoundToDecimals(mantissa, s.fractionDigits);
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
  for (int i = 0; i < tokenCount; ++i) {
    if (i == run.begin) {
      AppendIntegerRun(tokens + i, s.integerDigits, integer, s.grouping, locale.groupSeparator,
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
        out.Put(locale.decimalSeparator);
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
          AppendRightAligned(token, s.integerDigits, integer, s.grouping, locale.groupSeparator,
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

}  // namespace cellverter::numfmt
