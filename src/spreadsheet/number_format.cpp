// Placeholder rendering (General only) until the number-format engine lands.
#include "spreadsheet/number_format.h"

#include <cstdio>

namespace cellverter {
namespace {

class GeneralFormat final : public NumberFormat {
 public:
  void Render(const CellValue& value, bool, std::string& out) const override {
    switch (value.kind) {
      case CellValue::Kind::Empty:
        return;
      case CellValue::Kind::Number: {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.10G", value.number);
        out += buffer;
        return;
      }
      case CellValue::Kind::String:
      case CellValue::Kind::Error:
        out += value.text;
        return;
      case CellValue::Kind::Boolean:
        out += value.number != 0 ? "TRUE" : "FALSE";
        return;
    }
  }
};

}  // namespace

FormatLocale FormatLocale::ForName(std::string_view) { return {}; }
const FormatLocale& FormatLocale::EnUs() {
  static const FormatLocale locale;
  return locale;
}
const FormatLocale& FormatLocale::User() { return EnUs(); }

NumberFormatCache::NumberFormatCache(FormatLocale locale) : locale_(std::move(locale)) {}
NumberFormatCache::~NumberFormatCache() = default;

const NumberFormat& NumberFormatCache::Get(const NumberFormatRef& format) {
  const std::string key = format.code.empty() ? BuiltInFormatCode(format.builtInId, locale_)
                                              : format.code;
  auto& slot = byCode_[key];
  if (!slot) slot = std::make_unique<GeneralFormat>();
  return *slot;
}

std::string BuiltInFormatCode(int, const FormatLocale&) { return "General"; }

std::string FormatCellText(const CellValue& value, std::string_view formatCode, bool date1904,
                           const FormatLocale& locale) {
  NumberFormatCache cache(locale);
  std::string out;
  cache.Get({0, std::string(formatCode)}).Render(value, date1904, out);
  return out;
}

}  // namespace cellverter
