#include "convert/csv_record.h"

#include <algorithm>

namespace cellverter {
namespace {

bool NeedsQuotes(std::string_view text, std::string_view separator) {
  return text.find('"') != std::string_view::npos ||
         (!separator.empty() && text.find(separator) != std::string_view::npos);
}

// Appends the field for `text`, with line feeds already replaced by blanks. The quoting is a
// template argument so that the minimal rule, every cell's path, pays nothing for the other.
template <CsvQuoting quoting>
void AppendField(std::string_view text, std::string_view separator, std::string& out) {
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

template <CsvQuoting quoting>
void AppendCleanedField(std::string_view text, std::string_view separator, std::string& out) {
  if (text.find('\n') == std::string_view::npos) {
    AppendField<quoting>(text, separator, out);
    return;
  }
  // The separator may itself hold a blank, so cleaning must come before the quoting test.
  std::string cleaned(text);
  std::replace(cleaned.begin(), cleaned.end(), '\n', ' ');
  AppendField<quoting>(cleaned, separator, out);
}

template <CsvQuoting quoting>
void AppendFields(std::span<const std::string> cellTexts, std::string_view separator,
                  std::string& line) {
  for (size_t i = 0; i < cellTexts.size(); ++i) {
    if (i > 0) line += separator;
    AppendCleanedField<quoting>(cellTexts[i], separator, line);
  }
}

}  // namespace

std::string QuoteCsvField(std::string_view text, std::string_view separator) {
  std::string field;
  AppendField<CsvQuoting::kMinimal>(text, separator, field);
  return field;
}

void AppendCsvLine(std::span<const std::string> cellTexts, std::string_view separator,
                   std::string& line, CsvQuoting quoting) {
  if (quoting == CsvQuoting::kAll) {
    AppendFields<CsvQuoting::kAll>(cellTexts, separator, line);
  } else {
    AppendFields<CsvQuoting::kMinimal>(cellTexts, separator, line);
  }
}

std::string BuildCsvLine(std::span<const std::string> cellTexts, std::string_view separator,
                         CsvQuoting quoting) {
  std::string line;
  AppendCsvLine(cellTexts, separator, line, quoting);
  return line;
}

}  // namespace cellverter
