#pragma once

#include <cstddef>
#include <string>

#include "spreadsheet/workbook_error.h"
#include "spreadsheet/xlsx/xml_scanner.h"

namespace cellverter {

// Skips to the End of the element at a Start event; true when it held a child element.
inline bool SkipOdsElement(XmlScanner& xml) {
  const size_t depth = xml.Depth();
  bool children = false;
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    if (e == XmlScanner::Event::End && xml.Depth() == depth) break;
    children = children || e == XmlScanner::Event::Start;
  }
  return children;
}

// The character data of the element at a Start event, up to its End; more than `limit`
// bytes is damage.
inline std::string OdsElementText(XmlScanner& xml, size_t limit) {
  std::string text;
  const size_t depth = xml.Depth();
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    if (e == XmlScanner::Event::End && xml.Depth() == depth) break;
    if (e == XmlScanner::Event::Text) {
      if (text.size() + xml.Text().size() > limit) ThrowDamaged("a style is too long");
      text += xml.Text();
    }
  }
  return text;
}

}  // namespace cellverter
