#include "convert/csv_record.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/small_copy.h"

namespace cellverter {
namespace {

bool NeedsQuotes(std::string_view text, std::string_view separator) {
  return text.find('"') != std::string_view::npos ||
         (!separator.empty() && text.find(separator) != std::string_view::npos);
}

// What a field needs under the minimal rule, with a one-byte separator.
enum class FieldNeed : uint8_t {
  kNothing,
  kQuotes,    // it holds the separator but neither a quote nor a line feed: only enclosed
  kHandling,  // it holds a quote or a line feed: AppendCleanedField
};

// The lanes of `word` that hold `byte`, as the high bit of each (word ^ byte...byte has a zero
// byte there): exact as a yes or no.
template <typename Word>
[[gnu::always_inline]] inline Word LanesHolding(Word word, unsigned char byte) {
  constexpr Word kOnes = static_cast<Word>(0x0101010101010101);
  constexpr Word kHighs = static_cast<Word>(0x8080808080808080);
  const Word x = word ^ static_cast<Word>(kOnes * byte);
  return (x - kOnes) & ~x & kHighs;
}

// FieldNeeds for a text of at least one Word: a word of 8 or 4 bytes at a time, the last one
// overlapping those before, over the short texts of cells, where three searches cost more
// than the bytes they look at.
template <typename Word>
[[gnu::always_inline]] inline FieldNeed WordsNeed(std::string_view text, char separator) {
  bool separated = false;
  auto handling = [&](size_t at) {
    Word word;
    std::memcpy(&word, text.data() + at, sizeof word);
    if (LanesHolding<Word>(word, '"') != 0 || LanesHolding<Word>(word, '\n') != 0) return true;
    separated |= LanesHolding<Word>(word, static_cast<unsigned char>(separator)) != 0;
    return false;
  };
  for (size_t i = 0; i + sizeof(Word) <= text.size(); i += sizeof(Word)) {
    if (handling(i)) return FieldNeed::kHandling;
  }
  if (handling(text.size() - sizeof(Word))) return FieldNeed::kHandling;
  return separated ? FieldNeed::kQuotes : FieldNeed::kNothing;
}

// What `text` needs as a field, under the minimal rule with the one-byte `separator`.
[[gnu::always_inline]] inline FieldNeed FieldNeeds(std::string_view text, char separator) {
  if (text.size() >= 8) return WordsNeed<uint64_t>(text, separator);
  if (text.size() >= 4) return WordsNeed<uint32_t>(text, separator);
  FieldNeed need = FieldNeed::kNothing;
  for (const char c : text) {
    if (c == '"' || c == '\n') return FieldNeed::kHandling;
    if (c == separator) need = FieldNeed::kQuotes;
  }
  return need;
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

// Appends the field for `text`, its line feeds replaced by blanks first.
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

// Appends the fields [from, to) of a line, `size` bytes, none of which needs more than
// enclosing quotes (field i those when bit i - from of `quoted` is set), each after a
// separator but the line's first: into room made once, each field's few bytes copied without
// a call.
void AppendSimpleRun(std::span<const std::string> cellTexts, size_t from, size_t to,
                     uint64_t quoted, size_t size, char separator, std::string& line) {
  const size_t start = line.size();
  line.resize(start + size);
  char* at = line.data() + start;
  for (size_t i = from; i < to; ++i) {
    if (i > 0) *at++ = separator;
    const bool enclosed = (quoted >> (i - from) & 1) != 0;
    if (enclosed) *at++ = '"';
    at = PutBytes(cellTexts[i], at);
    if (enclosed) *at++ = '"';
  }
}

template <CsvQuoting quoting>
void AppendFields(std::span<const std::string> cellTexts, std::string_view separator,
                  std::string& line) {
  if (quoting == CsvQuoting::kMinimal && separator.size() == 1) {
    // Runs of up to 64 fields that need at most enclosing quotes, as most do, each run written
    // at once; a field with a quote or a line feed on its own.
    const char ours = separator[0];
    for (size_t i = 0; i < cellTexts.size();) {
      size_t end = i;
      size_t size = 0;
      uint64_t quoted = 0;
      bool handling = false;
      for (; end < cellTexts.size() && end - i < 64; ++end) {
        const FieldNeed need = FieldNeeds(cellTexts[end], ours);
        if (need == FieldNeed::kHandling) {
          handling = true;
          break;
        }
        if (need == FieldNeed::kQuotes) {
          quoted |= uint64_t{1} << (end - i);
          size += 2;
        }
        size += cellTexts[end].size() + (end > 0 ? 1 : 0);
      }
      if (end > i) AppendSimpleRun(cellTexts, i, end, quoted, size, ours, line);
      i = end;
      if (!handling) continue;
      if (i > 0) line += ours;
      AppendCleanedField<quoting>(cellTexts[i], separator, line);
      ++i;
    }
    return;
  }
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
