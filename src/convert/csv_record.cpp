#include "convert/csv_record.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace cellverter {
namespace {

bool NeedsQuotes(std::string_view text, std::string_view separator) {
  return text.find('"') != std::string_view::npos ||
         (!separator.empty() && text.find(separator) != std::string_view::npos);
}

// Whether `text` holds a quote, a line feed or the one-byte `separator`: a word of 8 or 4
// bytes at a time, the last one overlapping those before, over the short texts of cells, where
// three searches cost more than the bytes they look at. A word holds a byte `b` when word ^
// b...b has a zero byte, which the bit trick below tells exactly as a yes or no.
template <typename Word>
bool WordsHold(std::string_view text, char separator) {
  constexpr Word kOnes = static_cast<Word>(0x0101010101010101);
  constexpr Word kHighs = static_cast<Word>(0x8080808080808080);
  auto hasZeroByte = [](Word word) { return ((word - kOnes) & ~word & kHighs) != 0; };
  auto holds = [&](size_t at) {
    Word word;
    std::memcpy(&word, text.data() + at, sizeof word);
    return hasZeroByte(word ^ (kOnes * '"')) || hasZeroByte(word ^ (kOnes * '\n')) ||
           hasZeroByte(word ^ (kOnes * static_cast<unsigned char>(separator)));
  };
  for (size_t i = 0; i + sizeof(Word) <= text.size(); i += sizeof(Word)) {
    if (holds(i)) return true;
  }
  return holds(text.size() - sizeof(Word));
}

bool HoldsQuoteFeedOrSeparator(std::string_view text, char separator) {
  if (text.size() >= 8) return WordsHold<uint64_t>(text, separator);
  if (text.size() >= 4) return WordsHold<uint32_t>(text, separator);
  for (const char c : text) {
    if (c == '"' || c == '\n' || c == separator) return true;
  }
  return false;
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
  // Up to each quote at once, the quote then doubled.
  for (size_t quote; (quote = text.find('"')) != std::string_view::npos;) {
    out.append(text.substr(0, quote + 1));
    out += '"';
    text.remove_prefix(quote + 1);
  }
  out += text;
  out += '"';
}

template <CsvQuoting quoting>
void AppendCleanedField(std::string_view text, std::string_view separator, std::string& out) {
  // Most fields need neither quotes nor cleaning: tell them at once.
  if (quoting == CsvQuoting::kMinimal && separator.size() == 1 &&
      !HoldsQuoteFeedOrSeparator(text, separator[0])) {
    out += text;
    return;
  }
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
