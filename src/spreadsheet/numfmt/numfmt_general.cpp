// The General path: General codes, the General section of other codes, and the values that
// a code hands to General (a number in a text-only code, one its condition does not take).
#include <cmath>
#include <cstdint>

#include "spreadsheet/numfmt/numfmt_render.h"

namespace cellverter::numfmt {
namespace {

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
// Inlined into its one caller, which holds the sink: a General cell takes one call.
[[gnu::always_inline]] inline void AppendGeneralTo(Sink& out, double value,
                                                   const FormatLocale& locale) {
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
      const Decimal fixed = ToDecimalRounded(value, point >= 1 ? std::max(0, 10 - point) : 9);
      if (fixed.point <= 11) {
        AppendFixed(fixed, locale.decimalSeparator, out);
        return;
      }
    }
  }
  Decimal d = ToDecimal(value);
  if (d.IsZero()) {
    out.Put('0');
    return;
  }
  const int exponent10 = d.point - 1;
  if (exponent10 >= -4 && exponent10 < 11) {
    Decimal fixed = d;
    RoundToDecimals(fixed, exponent10 >= 0 ? std::max(0, 10 - d.point) : 9);
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
  RoundToDigits(d, wideExponent ? 5 : 6);
  const int exponent = d.point - 1;
  out.Put(d.Digit(0));
  if (d.count > 1) {
    out.Put(locale.decimalSeparator);
    out.Put(d.digits.data() + 1, d.digits.data() + d.count);
  }
  out.Put(exponent < 0 ? "E-" : "E+");
  AppendInt(std::abs(exponent), 2, out);
}

}  // namespace

void AppendGeneral(double value, const FormatLocale& locale, std::string& out) {
  Sink sink(out);
  AppendGeneralTo(sink, value, locale);
  sink.Flush();
}

namespace {

// [DBNum1] and [DBNum2] write whole numbers in the numerals of the section's locale.
bool AppendIdeographic(const Section& s, double magnitude, const FormatLocale& locale,
                       std::string& out) {
  if (magnitude >= 1e15 || magnitude != std::floor(magnitude)) return false;
  const std::string spelled = IdeographicNumber(static_cast<long long>(magnitude),
                                                (s.names ? *s.names : locale).name, s.dbNum);
  out += spelled;
  return !spelled.empty();
}

class GeneralFormat final : public NumberFormat {
 public:
  explicit GeneralFormat(const FormatLocale& locale) : locale_(locale) {}
  void Render(const CellValue& value, bool, std::string& out) const override {
    if (value.kind != CellValue::Kind::Number) {
      RenderNotNumber(value, nullptr, out);
    } else if (std::isfinite(value.number)) {
      AppendGeneral(value.number, locale_, out);
    } else {
      AppendText("#NUM!", out);
    }
  }

 private:
  const FormatLocale& locale_;
};

}  // namespace

std::unique_ptr<NumberFormat> MakeGeneralFormat(const FormatLocale& locale) {
  return std::make_unique<GeneralFormat>(locale);
}

void RenderGeneralSection(const Section& s, double magnitude, bool minus,
                          const FormatLocale& locale, std::string& out) {
  if (minus) out += '-';
  for (const Token& token : s.tokens) {
    if (token.kind == Tok::Literal) {
      out += token.text;
    } else if (s.dbNum == 0 || !AppendIdeographic(s, magnitude, locale, out)) {
      AppendGeneral(magnitude, locale, out);
    }
  }
}

}  // namespace cellverter::numfmt
