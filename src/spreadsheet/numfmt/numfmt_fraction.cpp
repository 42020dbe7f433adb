// The fraction path: the whole number, then the numerator and the denominator of the
// fraction Excel finds for the rest.
#include <cmath>

#include "spreadsheet/numfmt/numfmt_render.h"

namespace cellverter::numfmt {
namespace {

// Excel's fraction: the last convergent of the continued fraction of `x` (the whole value,
// in double arithmetic) whose denominator is at most `maxDenominator`; not always the
// closest fraction (12.3 in # ?/? is 12 1/3, not 12 2/7).
void ContinuedFraction(double x, long long maxDenominator, long long& numerator,
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
    if (b - a < 5e-8 || std::abs(x * static_cast<double>(q) - static_cast<double>(p)) < 5e-8) break;
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

}  // namespace

void RenderFractionSection(const Section& s, double magnitude, bool minus, std::string& text) {
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
  wholeDigits.FromDecimalInteger(ToDecimal(whole));
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

}  // namespace cellverter::numfmt
