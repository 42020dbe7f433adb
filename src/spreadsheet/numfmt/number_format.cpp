// Rendering of compiled format codes: pick the section and the sign, then hand the value to
// the General, number, fraction, date-time or text path (numfmt_render.h). Everything
// appends to the caller's string without allocating.
#include "spreadsheet/numfmt/number_format.h"

#include <cmath>

#include "spreadsheet/numfmt/numfmt_code.h"
#include "spreadsheet/numfmt/numfmt_render.h"

namespace cellverter {
namespace {

using numfmt::kNoDisplay;
using numfmt::Section;
using numfmt::SectionKind;

class CompiledFormat final : public NumberFormat {
 public:
  CompiledFormat(numfmt::ParsedFormat parsed, const FormatLocale& locale)
      : sections_(std::move(parsed.sections)), textSection_(parsed.textSection), locale_(locale) {
    numberSections_ = static_cast<int>(sections_.size());
    integerRuns_.reserve(sections_.size());
    for (const Section& section : sections_) {
      integerRuns_.push_back(numfmt::FindIntegerRun(section));
    }
    if (textSection_ >= 0 && numberSections_ > 1) numberSections_ = textSection_;
    meanings_.reserve(sections_.size());
    for (const Section& section : sections_) meanings_.push_back(MeaningOfSection(section));
  }

  Meaning MeaningOf(double value) const override {
    if (!std::isfinite(value)) return Meaning::kNumber;
    bool minus = false;
    const int chosen = Choose(value == 0 ? 0 : value, minus);
    return chosen < 0 ? Meaning::kNumber : meanings_[static_cast<size_t>(chosen)];
  }

  void Render(const CellValue& value, bool date1904, std::string& out) const override {
    if (value.kind == CellValue::Kind::Number) {
      RenderNumber(value.number, date1904, out);
    } else {
      numfmt::RenderNotNumber(value, textSection_ >= 0 ? &sections_[textSection_] : nullptr, out);
    }
  }

 private:
  static Meaning MeaningOfSection(const Section& section) {
    using numfmt::Tok;
    if (section.kind != SectionKind::DateTime) return Meaning::kNumber;
    bool date = false;
    bool time = false;
    for (const numfmt::Token& token : section.tokens) {
      switch (token.kind) {
        case Tok::Year2:
        case Tok::Year4:
        case Tok::BuddhistYear2:
        case Tok::BuddhistYear4:
        case Tok::Month:
        case Tok::Month2:
        case Tok::MonthAbbr:
        case Tok::MonthName:
        case Tok::MonthLetter:
        case Tok::Day:
        case Tok::Day2:
        case Tok::DayAbbr:
        case Tok::DayName:
          date = true;
          break;
        case Tok::Hour:
        case Tok::Hour2:
        case Tok::Minute:
        case Tok::Minute2:
        case Tok::Second:
        case Tok::Second2:
        case Tok::SubSecond:
        case Tok::ElapsedHours:
        case Tok::ElapsedMinutes:
        case Tok::ElapsedSeconds:
        case Tok::AmPm:
        case Tok::AOrP:
          time = true;
          break;
        default:
          break;
      }
    }
    if (date && time) return Meaning::kDateTime;
    return date ? Meaning::kDate : Meaning::kTime;
  }

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
      numfmt::AppendText("#NUM!", out);
      return;
    }
    if (value == 0) value = 0;  // no negative zero
    bool minus = false;
    const int chosen = Choose(value, minus);
    if (chosen == kGeneral) {
      numfmt::AppendGeneral(value, locale_, out);
      return;
    }
    if (chosen == kNoSection) {
      numfmt::AppendText(kNoDisplay, out);
      return;
    }
    const Section& s = sections_[chosen];
    const double magnitude = std::abs(value);
    switch (s.kind) {
      case SectionKind::Text:
        numfmt::AppendGeneral(value, locale_, out);
        return;
      case SectionKind::General:
        numfmt::RenderGeneralSection(s, magnitude, minus, locale_, out);
        return;
      case SectionKind::Number:
        // A code of text alone shows no minus.
        if (s.integerDigits + s.fractionDigits + s.exponentDigits == 0) minus = false;
        numfmt::RenderNumberSection(s, integerRuns_[chosen], magnitude, minus, locale_, out);
        return;
      case SectionKind::Fraction:
        numfmt::RenderFractionSection(s, magnitude, minus, out);
        return;
      case SectionKind::DateTime:
        // The 1904 system shows negative dates and times with a minus; the 1900 one cannot.
        if (minus && !date1904) {
          numfmt::AppendText(kNoDisplay, out);
          return;
        }
        numfmt::RenderDateTimeSection(s, magnitude, minus, date1904, locale_, out);
        return;
    }
  }

  std::vector<Section> sections_;
  int textSection_ = -1;
  int numberSections_ = 1;
  std::vector<numfmt::IntegerRun> integerRuns_;  // one per section
  std::vector<Meaning> meanings_;                // one per section
  const FormatLocale& locale_;
};

}  // namespace

std::unique_ptr<NumberFormat> CompileNumberFormat(std::string_view code,
                                                  const FormatLocale& locale) {
  numfmt::ParsedFormat parsed = numfmt::ParseFormatCode(code, locale);
  const bool plainGeneral = parsed.valid && parsed.sections.size() == 1 &&
                            parsed.sections[0].kind == SectionKind::General &&
                            parsed.sections[0].tokens.size() == 1 && parsed.sections[0].dbNum == 0;
  if (!parsed.valid || plainGeneral) return numfmt::MakeGeneralFormat(locale);
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
