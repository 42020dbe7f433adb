#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/zip_archive.h"

namespace cellverter {

// A pull scanner for the XML of spreadsheet packages, tuned for large sheets: it reads the
// stream in chunks, hands out views into its buffer, and allocates nothing per element once
// warm. Namespace prefixes are dropped (transitional and strict packages use the same local
// names); DTDs are refused (packages have none, and entity expansion is a classic bomb);
// depth and token sizes are bounded. Malformed input is thrown as WorkbookDamaged naming
// the part, e.g. "the sheet XML is malformed".
class XmlScanner {
 public:
  enum class Event { Start, End, Text, EndOfDocument };

  // `part` names the part in messages ("the sheet", "the shared strings").
  XmlScanner(ByteStream& input, std::string_view part);

  Event Next();

  // Start and End: the element's local name. Valid until the next call of Next().
  std::string_view Name() const { return name_; }
  // Start and End: the element's depth, 1 for the root.
  size_t Depth() const { return depth_; }
  // Start: the raw value of an attribute by local name (entities not resolved), or empty.
  std::string_view RawAttribute(std::string_view localName) const;
  bool HasAttribute(std::string_view localName) const;
  // Start: the value with entities resolved.
  std::string Attribute(std::string_view localName) const;
  // Text: one piece of character data, entities and CDATA resolved. A long text may come in
  // several pieces. Valid until the next call of Next().
  std::string_view Text() const { return text_; }

  [[noreturn]] void Fail(std::string_view detail = {}) const;

  static constexpr size_t kMaxDepth = 256;
  static constexpr size_t kMaxToken = 8 << 20;

 private:
  struct RawAttr {
    std::string_view name;
    std::string_view value;
  };

  bool Refill();  // false at the end of the input
  Event ScanTag();
  Event ScanText();
  bool SkipUntil(std::string_view terminator);
  void DecodeInto(std::string_view raw, std::string& out) const;

  ByteStream& input_;
  std::string part_;
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
  bool pendingEnd_ = false;
  bool started_ = false;
  bool popPending_ = false;  // the last event was an End: leave its depth on the next call
  bool rootSeen_ = false;

  std::string_view name_;
  size_t depth_ = 0;
  std::vector<RawAttr> attributes_;
  std::string_view text_;
  std::string scratch_;
  std::string openNames_;            // the names of open elements, back to back
  std::vector<size_t> nameOffsets_;  // where each open name starts in openNames_
};

// Appends the UTF-8 form of a code point.
void AppendUtf8(char32_t codePoint, std::string& out);

}  // namespace cellverter
