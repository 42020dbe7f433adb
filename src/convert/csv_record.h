#pragma once

#include <span>
#include <string>
#include <string_view>

namespace cellverter {

// The field for one cleaned cell text: quoted, with its double quotes doubled, when it
// holds the whole (non-empty) separator or a double quote; otherwise the text unchanged.
std::string QuoteCsvField(std::string_view text, std::string_view separator);

// One CSV line (without terminator) for the cell texts of a row, column 1 first: line
// feeds become blanks, each text goes through QuoteCsvField, fields are joined by the
// separator. n texts give n fields and n - 1 separators.
std::string BuildCsvLine(std::span<const std::string> cellTexts, std::string_view separator);

// The same, appended to `line`, so a caller can reuse one buffer for every row.
void AppendCsvLine(std::span<const std::string> cellTexts, std::string_view separator,
                   std::string& line);

}  // namespace cellverter
