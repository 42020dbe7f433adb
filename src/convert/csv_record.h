#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cellverter {

// Which fields are quoted: those that need it (holding the separator or a double quote), or all.
enum class CsvQuoting : uint8_t { kMinimal, kAll };
enum class LineEnding : uint8_t { kCrLf, kLf };

// The field for one cleaned cell text: quoted, with its double quotes doubled, when it
// holds the whole (non-empty) separator or a double quote; otherwise the text unchanged.
std::string QuoteCsvField(std::string_view text, std::string_view separator);

// One CSV line (without terminator) for the cell texts of a row, column 1 first: line
// feeds become blanks, each text goes through QuoteCsvField (with kAll: every text is quoted
// so), fields are joined by the separator. n texts give n fields and n - 1 separators.
std::string BuildCsvLine(std::span<const std::string> cellTexts, std::string_view separator,
                         CsvQuoting quoting = CsvQuoting::kMinimal);

// The same, appended to `line`, so a caller can reuse one buffer for every row.
void AppendCsvLine(std::span<const std::string> cellTexts, std::string_view separator,
                   std::string& line, CsvQuoting quoting = CsvQuoting::kMinimal);

}  // namespace cellverter
