// The text path: text values through the text section of a code, whose @ (or General)
// stands for the text; booleans, errors and empty cells.
#include "spreadsheet/numfmt/numfmt_render.h"

namespace cellverter::numfmt {

void AppendText(std::string_view text, std::string& out) { out += text; }

void RenderNotNumber(const CellValue& value, const Section* textSection, std::string& out) {
  switch (value.kind) {
    case CellValue::Kind::Empty:
    case CellValue::Kind::Number:
      return;
    case CellValue::Kind::Boolean:
      out += value.number != 0 ? "TRUE" : "FALSE";
      return;
    case CellValue::Kind::Error:
      out += value.text;
      return;
    case CellValue::Kind::String:
      if (textSection != nullptr) {
        RenderTextSection(*textSection, value.text, out);
      } else {
        out += value.text;
      }
      return;
  }
}

void RenderTextSection(const Section& s, const std::string& text, std::string& out) {
  for (const Token& token : s.tokens) {
    if (token.kind == Tok::TextValue || token.kind == Tok::General) {
      out += text;
    } else if (token.kind == Tok::Literal) {
      out += token.text;
    }
  }
}

}  // namespace cellverter::numfmt
