#include "convert/csv_record.h"

#include <algorithm>

namespace cellverter {
namespace {

bool NeedsQuotes(std::string_view text, std::string_view separator) {
  return text.find('"') != std::string_view::npos ||
         (!separator.empty() && text.find(separator) != std::string_view::npos);
}

// Appends the field for `text`, with line feeds already replaced by blanks.
void AppendField(std::string_view text, std::string_view separator, CsvQuoting quoting,
                 std::string& out) {
  if (quoting == CsvQuoting::kMinimal && !NeedsQuotes(text, separator)) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendCleanedField(std::string_view text, std::string_view separator, CsvQuoting quoting,
                        std::string& out) {
  if (text.find('\n') == std::string_view::npos) {
    AppendField(text, separator, quoting, out);
    return;
  }
  // The separator may itself hold a blank, so cleaning must come before the quoting test.
  std::string cleaned(text);
  std::replace(cleaned.begin(), cleaned.end(), '\n', ' ');
  AppendField(cleaned, separator, quoting, out);
}

}  // namespace

std::string QuoteCsvField(std::string_view text, std::string_view separator) {
  std::string field;
  AppendField(text, separator, CsvQuoting::kMinimal, field);
  return field;
}

void AppendCsvLine(std::span<const std::string> cellTexts, std::string_view separator,
                   std::string& line, CsvQuoting quoting) {
  for (size_t i = 0; i < cellTexts.size(); ++i) {
    if (i > 0) line += separator;
    AppendCleanedField(cellTexts[i], separator, quoting, line);
  }
}

std::string BuildCsvLine(std::span<const std::string> cellTexts, std::string_view separator,
                         CsvQuoting quoting) {
  std::string line;
  AppendCsvLine(cellTexts, separator, line, quoting);
  return line;
}

}  // namespace cellverter
