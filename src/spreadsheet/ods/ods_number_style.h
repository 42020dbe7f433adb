#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "spreadsheet/xlsx/xml_scanner.h"

namespace cellverter {

// The data styles of an OpenDocument spreadsheet (ODF 1.2 16.27: <number:number-style>,
// percentage, currency, date, time, boolean and text styles, with their <style:map>
// conditions), read from the XML and turned into the Excel format codes that the number
// format engine renders, so that an .ods cell displays in the user's locale like any other.
// A style that no format code can say (eras, quarters, weeks, embedded texts) has no code:
// its cells show the text the file stores for them.
class OdsDataStyles {
 public:
  // Whether the element at the scanner's Start event is a data style.
  static bool IsDataStyle(const XmlScanner& xml);

  // Reads the data style at the scanner's Start event, up to its End. Damage (too many
  // styles, too many parts) is thrown as WorkbookDamaged.
  void Read(XmlScanner& xml);

  // The format code of the style called `name`; nullopt for an unknown style or one that no
  // format code can say. "" is General.
  std::optional<std::string> Code(std::string_view name) const;

  size_t size() const { return styles_.size(); }

  static constexpr size_t kMaxStyles = 1 << 16;
  static constexpr size_t kMaxParts = 64;  // per style
  // Bytes of all names, literals and conditions: real documents hold a few kilobytes.
  static constexpr size_t kMaxBytes = 64 << 20;

 private:
  enum class Kind : unsigned char {
    kNumber,
    kPercentage,
    kCurrency,
    kDate,
    kTime,
    kBoolean,
    kText
  };
  struct Part {
    enum class Type : unsigned char {
      kText,
      kNumber,
      kScientific,
      kFraction,
      kCurrencySymbol,
      kDay,
      kMonth,
      kYear,
      kDayOfWeek,
      kHours,
      kMinutes,
      kSeconds,
      kAmPm,
      kTextContent,
      kBoolean,
      kUnsupported,
    };
    Type type = Type::kText;
    std::string text;  // kText: the literal; kCurrencySymbol: the symbol
    bool longForm = false;
    bool textual = false;
    bool grouping = false;
    bool hasInteger = false;
    int decimals = -1;  // -1: not given
    int minDecimals = -1;
    int minInteger = 1;
    int minExponent = 0;
    int minNumerator = 0;
    int minDenominator = 0;
    int denominator = 0;
    double displayFactor = 1;
    std::string language;
    std::string country;
  };
  struct Map {
    std::string condition;
    std::string style;
  };
  struct Style {
    Kind kind = Kind::kNumber;
    bool elapsed = false;  // a time style whose hours run past 24 (truncate-on-overflow false)
    std::vector<Part> parts;
    std::vector<Map> maps;
  };

  // The code of one style's own parts, without its maps.
  static std::optional<std::string> SectionCode(const Style& style);

  std::unordered_map<std::string, Style> styles_;
  size_t bytes_ = 0;
};

}  // namespace cellverter
