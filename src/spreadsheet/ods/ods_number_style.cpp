#include "spreadsheet/ods/ods_number_style.h"

#include <unicode/uloc.h>

#include <cstdio>

#include "spreadsheet/ods/ods_xml.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/xlsx/xml_values.h"

namespace cellverter {
namespace {

constexpr XmlNamespace kNumber = XmlNamespace::OdfNumber;
constexpr XmlNamespace kStyle = XmlNamespace::OdfStyle;
constexpr size_t kMaxText = 4096;  // bytes of one literal, symbol or condition

int IntAttribute(const XmlScanner& xml, std::string_view name, int fallback) {
  bool found = false;
  const std::string_view raw = xml.RawAttribute(kNumber, name, &found);
  uint64_t value = 0;
  if (!found || !ParseUnsigned(raw, value)) return fallback;
  return value > 30 ? 30 : static_cast<int>(value);  // Excel shows 30 decimals at most
}

bool TrueAttribute(const XmlScanner& xml, XmlNamespace ns, std::string_view name) {
  return xml.RawAttribute(ns, name) == "true";
}

// A literal of a format code: characters the engine takes as they are, or quoted.
void AppendLiteral(std::string_view text, bool percentSign, std::string& code) {
  bool quoted = false;
  for (char c : text) {
    const bool plain = c == ' ' || c == '-' || c == '(' || c == ')' || (percentSign && c == '%');
    if (plain || c == '"') {
      if (quoted) code += '"';
      quoted = false;
      if (c == '"') code += '\\';
      code += c;
      continue;
    }
    if (!quoted) code += '"';
    quoted = true;
    code += c;
  }
  if (quoted) code += '"';
}

// The integer digits of a number: "0" for each digit always shown, "#" to place grouping.
std::string IntegerDigits(int minInteger, bool grouping) {
  if (!grouping) return minInteger <= 0 ? "#" : std::string(static_cast<size_t>(minInteger), '0');
  const size_t width = static_cast<size_t>(minInteger > 4 ? minInteger : 4);
  std::string digits(width, '#');
  for (size_t i = 0; i < static_cast<size_t>(minInteger > 0 ? minInteger : 0); ++i) {
    digits[width - 1 - i] = '0';
  }
  std::string grouped;
  for (size_t i = 0; i < width; ++i) {
    if (i > 0 && (width - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string DecimalDigits(int decimals, int minDecimals) {
  if (decimals <= 0) return {};
  const int shown = minDecimals < 0 || minDecimals > decimals ? decimals : minDecimals;
  return "." + std::string(static_cast<size_t>(shown), '0') +
         std::string(static_cast<size_t>(decimals - shown), '#');
}

// The Windows locale id of a language and country ("de", "DE" -> 0x407), 0 when unknown.
unsigned LcidOf(const std::string& language, const std::string& country) {
  if (language.empty() || language.size() > 8 || country.size() > 8) return 0;
  const std::string name = country.empty() ? language : language + "_" + country;
  return uloc_getLCID(name.c_str());
}

// "value()>=0" as the engine's condition "[>=0]"; nullopt when it is no simple comparison.
std::optional<std::string> ConditionCode(std::string_view condition) {
  constexpr std::string_view kValue = "value()";
  size_t i = 0;
  while (i < condition.size() && condition[i] == ' ') ++i;
  if (condition.substr(i, kValue.size()) != kValue) return std::nullopt;
  i += kValue.size();
  while (i < condition.size() && condition[i] == ' ') ++i;
  size_t opEnd = i;
  while (opEnd < condition.size() && opEnd - i < 2 &&
         (condition[opEnd] == '<' || condition[opEnd] == '>' || condition[opEnd] == '=' ||
          condition[opEnd] == '!')) {
    ++opEnd;
  }
  std::string op(condition.substr(i, opEnd - i));
  if (op == "!=") op = "<>";
  if (op == "==") op = "=";
  if (op != "<" && op != ">" && op != "=" && op != "<=" && op != ">=" && op != "<>") {
    return std::nullopt;
  }
  double operand = 0;
  if (!ParseNumber(condition.substr(opEnd), operand)) return std::nullopt;
  char number[32];
  std::snprintf(number, sizeof number, "%.15g", operand);
  return "[" + op + number + "]";
}

}  // namespace

bool OdsDataStyles::IsDataStyle(const XmlScanner& xml) {
  if (xml.Namespace() != kNumber) return false;
  const std::string_view n = xml.Name();
  return n == "number-style" || n == "percentage-style" || n == "currency-style" ||
         n == "date-style" || n == "time-style" || n == "boolean-style" || n == "text-style";
}

void OdsDataStyles::Read(XmlScanner& xml) {
  Style style;
  const std::string_view element = xml.Name();
  if (element == "percentage-style") style.kind = Kind::kPercentage;
  if (element == "currency-style") style.kind = Kind::kCurrency;
  if (element == "date-style") style.kind = Kind::kDate;
  if (element == "time-style") style.kind = Kind::kTime;
  if (element == "boolean-style") style.kind = Kind::kBoolean;
  if (element == "text-style") style.kind = Kind::kText;
  std::string name = xml.Attribute(kStyle, "name");
  if (name.size() > kMaxText) ThrowDamaged("a data style's name is too long");
  style.elapsed = xml.RawAttribute(kNumber, "truncate-on-overflow") == "false";
  const size_t depth = xml.Depth();
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    if (e == XmlScanner::Event::End && xml.Depth() == depth) break;
    if (e != XmlScanner::Event::Start) continue;
    if (xml.Is(kStyle, "map")) {
      if (style.maps.size() >= kMaxParts) ThrowDamaged("a data style has too many parts");
      Map map{xml.Attribute(kStyle, "condition"), xml.Attribute(kStyle, "apply-style-name")};
      if (map.condition.size() + map.style.size() > kMaxText) {
        ThrowDamaged("a data style is too long");
      }
      style.maps.push_back(std::move(map));
      SkipOdsElement(xml);
      continue;
    }
    if (xml.Namespace() != kNumber) {
      SkipOdsElement(xml);  // text properties (colours), which no CSV shows
      continue;
    }
    if (style.parts.size() >= kMaxParts) ThrowDamaged("a data style has too many parts");
    Part part;
    part.longForm = xml.RawAttribute(kNumber, "style") == "long";
    const std::string_view n = xml.Name();
    using Type = Part::Type;
    if (n == "text") {
      part.text = OdsElementText(xml, kMaxText);
      style.parts.push_back(std::move(part));
      continue;
    }
    if (n == "currency-symbol") {
      part.type = Type::kCurrencySymbol;
      part.language = xml.Attribute(kNumber, "language");
      part.country = xml.Attribute(kNumber, "country");
      part.text = OdsElementText(xml, kMaxText);
      style.parts.push_back(std::move(part));
      continue;
    }
    if (n == "number" || n == "scientific-number" || n == "fraction") {
      part.type = n == "number"     ? Type::kNumber
                  : n == "fraction" ? Type::kFraction
                                    : Type::kScientific;
      part.decimals = IntAttribute(xml, "decimal-places", -1);
      part.minDecimals = IntAttribute(xml, "min-decimal-places", -1);
      part.hasInteger = !xml.RawAttribute(kNumber, "min-integer-digits").empty();
      part.minInteger = IntAttribute(xml, "min-integer-digits", 1);
      part.grouping = TrueAttribute(xml, kNumber, "grouping");
      part.minExponent = IntAttribute(xml, "min-exponent-digits", 1);
      part.minNumerator = IntAttribute(xml, "min-numerator-digits", 1);
      part.minDenominator = IntAttribute(xml, "min-denominator-digits", 1);
      part.denominator = IntAttribute(xml, "denominator-value", 0);
      ParseNumber(xml.RawAttribute(kNumber, "display-factor"), part.displayFactor);
      // Embedded texts ("000-000") have no format code.
      if (SkipOdsElement(xml)) part.type = Type::kUnsupported;
      style.parts.push_back(std::move(part));
      continue;
    }
    if (n == "day") {
      part.type = Type::kDay;
    } else if (n == "month") {
      part.type = Type::kMonth;
      part.textual = TrueAttribute(xml, kNumber, "textual");
    } else if (n == "year") {
      part.type = Type::kYear;
    } else if (n == "day-of-week") {
      part.type = Type::kDayOfWeek;
    } else if (n == "hours") {
      part.type = Type::kHours;
    } else if (n == "minutes") {
      part.type = Type::kMinutes;
    } else if (n == "seconds") {
      part.type = Type::kSeconds;
      part.decimals = IntAttribute(xml, "decimal-places", 0);
    } else if (n == "am-pm") {
      part.type = Type::kAmPm;
    } else if (n == "text-content") {
      part.type = Type::kTextContent;
    } else if (n == "boolean") {
      part.type = Type::kBoolean;
    } else {
      part.type = Type::kUnsupported;  // era, quarter, week-of-year, fill-character
    }
    SkipOdsElement(xml);
    style.parts.push_back(std::move(part));
  }
  if (name.empty()) return;
  bytes_ += name.size();
  for (const Part& part : style.parts) bytes_ += part.text.size() + sizeof(Part);
  for (const Map& map : style.maps) bytes_ += map.condition.size() + map.style.size();
  if (bytes_ > kMaxBytes) ThrowDamaged("the data styles are too large");
  if (styles_.size() >= kMaxStyles && !styles_.contains(name)) {
    ThrowDamaged("there are too many data styles");
  }
  styles_[std::move(name)] = std::move(style);
}

std::optional<std::string> OdsDataStyles::SectionCode(const Style& style) {
  using Type = Part::Type;
  if (style.kind == Kind::kBoolean) return "\"TRUE\";\"TRUE\";\"FALSE\"";
  std::string code;
  bool hoursSeen = false;
  for (const Part& part : style.parts) {
    switch (part.type) {
      case Type::kText:
        AppendLiteral(part.text, style.kind == Kind::kPercentage, code);
        break;
      case Type::kNumber:
        if (part.decimals < 0 && style.parts.size() == 1) return std::string();  // General
        if (part.decimals < 0) return std::nullopt;
        code += IntegerDigits(part.minInteger, part.grouping);
        code += DecimalDigits(part.decimals, part.minDecimals);
        if (part.displayFactor == 1000) {
          code += ',';
        } else if (part.displayFactor == 1000000) {
          code += ",,";
        } else if (part.displayFactor != 1) {
          return std::nullopt;
        }
        break;
      case Type::kScientific:
        code += IntegerDigits(part.minInteger, part.grouping);
        code += DecimalDigits(part.decimals < 0 ? 0 : part.decimals, part.minDecimals);
        code += "E+" +
                std::string(static_cast<size_t>(part.minExponent > 0 ? part.minExponent : 1), '0');
        break;
      case Type::kFraction:
        if (part.hasInteger)
          code += (part.minInteger > 0 ? IntegerDigits(part.minInteger, false) : "#") + " ";
        code +=
            std::string(static_cast<size_t>(part.minNumerator > 0 ? part.minNumerator : 1), '?');
        code += '/';
        if (part.denominator > 0) {
          code += std::to_string(part.denominator);
        } else {
          code += std::string(
              static_cast<size_t>(part.minDenominator > 0 ? part.minDenominator : 1), '?');
        }
        break;
      case Type::kCurrencySymbol: {
        code += "[$" + part.text;
        if (const unsigned lcid = LcidOf(part.language, part.country); lcid != 0) {
          char id[16];
          std::snprintf(id, sizeof id, "-%X", lcid);
          code += id;
        }
        code += ']';
        break;
      }
      case Type::kDay:
        code += part.longForm ? "dd" : "d";
        break;
      case Type::kMonth:
        code += part.textual ? (part.longForm ? "mmmm" : "mmm") : (part.longForm ? "mm" : "m");
        break;
      case Type::kYear:
        code += part.longForm ? "yyyy" : "yy";
        break;
      case Type::kDayOfWeek:
        code += part.longForm ? "dddd" : "ddd";
        break;
      case Type::kHours: {
        const std::string hours = part.longForm ? "hh" : "h";
        code += style.elapsed && !hoursSeen ? "[" + hours + "]" : hours;
        hoursSeen = true;
        break;
      }
      case Type::kMinutes: {
        const std::string minutes = part.longForm ? "mm" : "m";
        code += style.elapsed && !hoursSeen ? "[" + minutes + "]" : minutes;
        hoursSeen = true;
        break;
      }
      case Type::kSeconds:
        code += part.longForm ? "ss" : "s";
        if (part.decimals > 0) code += "." + std::string(static_cast<size_t>(part.decimals), '0');
        break;
      case Type::kAmPm:
        code += "AM/PM";
        break;
      case Type::kTextContent:
        code += '@';
        break;
      case Type::kBoolean:
        return "\"TRUE\";\"TRUE\";\"FALSE\"";
      case Type::kUnsupported:
        return std::nullopt;
    }
  }
  // A format of literals alone would show them for any value, as LibreOffice does too.
  return code;
}

std::optional<std::string> OdsDataStyles::Code(std::string_view name) const {
  const auto found = styles_.find(std::string(name));
  if (found == styles_.end()) return std::nullopt;
  const Style& style = found->second;
  std::optional<std::string> own = SectionCode(style);
  if (!own || style.maps.empty()) return own;
  if (own->empty()) own = "General";
  // Conditional sections: each map's style where its condition holds, this one elsewhere.
  if (style.maps.size() > 2) return std::nullopt;
  std::vector<std::string> conditions;
  std::vector<std::string> sections;
  for (const Map& map : style.maps) {
    const auto mapped = styles_.find(map.style);
    if (mapped == styles_.end() || !mapped->second.maps.empty()) return std::nullopt;
    std::optional<std::string> section = SectionCode(mapped->second);
    std::optional<std::string> condition = ConditionCode(map.condition);
    if (!section || !condition || section->find(';') != std::string::npos) return std::nullopt;
    if (section->empty()) section = "General";
    conditions.push_back(std::move(*condition));
    sections.push_back(std::move(*section));
  }
  // LibreOffice's own patterns are Excel's plain sections: positive (and zero), negative;
  // or positive, negative, zero.
  if (conditions.size() == 1 && conditions[0] == "[>=0]") return sections[0] + ";" + *own;
  if (conditions.size() == 2 && conditions[0] == "[>0]" && conditions[1] == "[<0]") {
    return sections[0] + ";" + sections[1] + ";" + *own;
  }
  std::string code;
  for (size_t i = 0; i < sections.size(); ++i) code += conditions[i] + sections[i] + ";";
  return code + *own;
}

}  // namespace cellverter
