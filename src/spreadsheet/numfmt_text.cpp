// The text path: the text section of a code for a text value; its @ (or General) stands for
// the text.
#include "spreadsheet/numfmt_render.h"

namespace cellverter::numfmt {

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
