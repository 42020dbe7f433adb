// libFuzzer target for number formats: any format code, compiled for one of several locales,
// must render any value (numbers of every kind, texts through the text section, booleans,
// errors, empty cells) without a crash, a hang or unbounded output. Built with
// -DCELLVERTER_FUZZ=ON (clang) it fuzzes; in the test build it replays its seeds.
//
// Input: one byte choosing the locale (bits 0-2), the 1904 date system (bit 3) and the kind
// of the first value (bits 4-6); eight bytes of the number, as stored in memory; then the
// format code, and after a NUL byte, if any, the text rendered through the text section. An
// empty code stands for the built-in format whose id is the first byte.
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "spreadsheet/numfmt/number_format.h"

namespace {

const cellverter::FormatLocale& LocaleOf(uint8_t selector) {
  static const std::array<cellverter::FormatLocale, 8> locales = {
      cellverter::FormatLocale::EnUs(),           cellverter::FormatLocale::ForName("de-DE"),
      cellverter::FormatLocale::ForName("fr-FR"), cellverter::FormatLocale::ForName("ja-JP"),
      cellverter::FormatLocale::ForName("ar-SA"), cellverter::FormatLocale::ForName("ru-RU"),
      cellverter::FormatLocale::ForName("hi-IN"), cellverter::FormatLocale::ForName("de-CH")};
  return locales[selector & 7];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  const uint8_t selector = data[0];
  double number;
  std::memcpy(&number, data + 1, sizeof number);
  const std::string_view rest(reinterpret_cast<const char*>(data + 9), size - 9);
  const size_t nul = rest.find('\0');
  const std::string_view code = rest.substr(0, nul);
  const std::string text(nul == std::string_view::npos ? "text" : rest.substr(nul + 1));

  const cellverter::FormatLocale& locale = LocaleOf(selector);
  const bool date1904 = (selector & 8) != 0;
  const std::string codeText =
      code.empty() ? cellverter::BuiltInFormatCode(selector, locale) : std::string(code);
  const auto format = cellverter::CompileNumberFormat(codeText, locale);

  cellverter::CellValue first;
  switch ((selector >> 4) & 7) {
    case 0:
      first = cellverter::CellValue::Empty();
      break;
    case 1:
      first = cellverter::CellValue::Boolean(number != 0);
      break;
    case 2:
      first = cellverter::CellValue::ErrorCode("#DIV/0!");
      break;
    case 3:
      first = cellverter::CellValue::Number(
          static_cast<double>(static_cast<int64_t>(number > -1e18 && number < 1e18 ? number : 0)));
      break;
    default:
      first = cellverter::CellValue::Number(number);
      break;
  }
  std::string out;
  for (const cellverter::CellValue& value :
       {first, cellverter::CellValue::String(text), cellverter::CellValue::Number(-number)}) {
    out.clear();
    format->Render(value, date1904, out);
    // Each character of the code shows at most the text, a number's digits or a locale's
    // name: anything longer is a runaway loop.
    if (out.size() > (codeText.size() + 1) * (text.size() + 1024)) std::abort();
  }
  return 0;
}
