#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/utf8.h"
#include "spreadsheet/container/zip_archive.h"

namespace cellverter {

// Whether two names are equal. Names are short: a plain loop beats a call of memcmp, and it
// stays inline in the readers' hot loops.
inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// The blanks of XML: space, tab, line feed, carriage return. Most bytes lie above them all,
// which one comparison tells.
inline bool IsXmlBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ' && (c == ' ' || c == '\t' || c == '\n' || c == '\r');
}

// Whether an attribute name declares a namespace: "xmlns" or "xmlns:p".
inline bool IsNamespaceDeclaration(std::string_view name) {
  return name.starts_with("xmlns") && (name.size() == 5 || name[5] == ':');
}

// The namespaces that the readers tell apart. A namespace's transitional and strict names
// (ECMA-376-1, transitional and strict) give the same value.
enum class XmlNamespace : uint8_t {
  None,           // no namespace: unprefixed attributes, elements outside any default
  Other,          // any other, such as Excel's extensions (x14, x15) or markup compatibility
  Spreadsheet,    // SpreadsheetML main
  Relationships,  // officeDocument relationships: the r:id attributes
  Package,        // package relationships: the .rels parts
  // OpenDocument (ODF 1.2 3.1.3 and LibreOffice's calcext extension of it).
  OdfOffice,
  OdfTable,
  OdfText,
  OdfStyle,
  OdfNumber,
  OdfFo,
  OdfManifest,
  OdfCalcExt,
};

// A pull scanner for the XML of spreadsheet packages, tuned for large sheets: it reads the
// stream in chunks, hands out views into its buffer, and allocates nothing per element once
// warm. Elements and attributes are resolved to their namespace, so that an extension
// element that shares a local name with a SpreadsheetML one (<x15:workbookPr> beside
// <workbookPr>) is never taken for it; an undeclared prefix is malformed. DTDs are refused
// (packages have none, and entity expansion is a classic bomb); depth and token sizes are
// bounded. Malformed input is thrown as WorkbookDamaged naming the part, e.g. "the sheet XML
// is malformed".
class XmlScanner {
 public:
  enum class Event { Start, End, Text, EndOfDocument };

  // `part` names the part in messages ("the sheet", "the shared strings").
  XmlScanner(ByteStream& input, std::string_view part);

  Event Next();

  // Start and End: the element's local name. Valid until the next call of Next().
  std::string_view Name() const { return name_; }
  // Start and End: the element's namespace.
  XmlNamespace Namespace() const { return namespace_; }
  // Start and End: whether the element is `localName` of namespace `ns`.
  bool Is(XmlNamespace ns, std::string_view localName) const {
    return namespace_ == ns && SameName(name_, localName);
  }
  // Start and End: the element's depth, 1 for the root.
  size_t Depth() const { return depth_; }
  // Start: the raw value of an unprefixed attribute (entities not resolved), or empty.
  std::string_view RawAttribute(std::string_view localName) const;
  bool HasAttribute(std::string_view localName) const;
  // Start: the value with entities resolved.
  std::string Attribute(std::string_view localName) const;
  // Start: the value of a prefixed attribute of namespace `ns` (r:id), entities resolved.
  std::string Attribute(XmlNamespace ns, std::string_view localName) const;
  // Start: the raw value of a prefixed attribute of namespace `ns` (entities not resolved),
  // or empty; `found` tells an empty value from a missing attribute.
  std::string_view RawAttribute(XmlNamespace ns, std::string_view localName,
                                bool* found = nullptr) const;
  // Text: one piece of character data, entities and CDATA resolved. A long text may come in
  // several pieces. Valid until the next call of Next().
  std::string_view Text() const { return text_; }

  [[noreturn]] void Fail(std::string_view detail = {}) const;

  // In-place reading, for a reader specialised in one kind of element (the rows of a sheet),
  // between two events. Unscanned(): the bytes not scanned yet, empty while the last event
  // still owes its End (an empty-element tag); the namespaces in scope are then those of the
  // depth after the last event. ReadMore(): more of the part behind them, which may move them;
  // false at the end of the part, while an End is owed, or once they reach `limit` bytes.
  // Consume(n): the first `n` of them were read, and hold whole elements that declare no
  // namespace.
  std::string_view Unscanned();
  bool ReadMore(size_t limit);
  void Consume(size_t n) { pos_ += n; }
  // Where the unscanned bytes begin in the part.
  uint64_t UnscannedOffset() const { return bufferOffset_ + pos_; }
  // The namespace of unprefixed elements in scope.
  XmlNamespace DefaultNamespace() const { return defaultNamespace_; }

  static constexpr size_t kMaxDepth = 256;
  static constexpr size_t kMaxToken = 8 << 20;

 private:
  struct RawAttr {
    std::string_view name;  // as written, with its prefix
    std::string_view value;
  };
  // A prefix declared by an open element.
  struct Binding {
    size_t prefixOffset;  // in prefixes_
    size_t prefixLength;  // 0 for the default namespace
    size_t depth;         // of the declaring element
    XmlNamespace ns;
  };

  bool Refill();             // false at the end of the input
  void LeaveEndedElement();  // after an End: its depth and its namespace declarations
  Event ScanTag();
  Event ScanText();
  bool SkipUntil(std::string_view terminator);
  void DecodeInto(std::string_view raw, std::string& out) const;
  void Declare();  // the namespace declarations among attributes_
  void PopBindings();
  XmlNamespace Resolve(std::string_view prefix) const;
  // The local name and namespace of an element's qualified name.
  void SetName(std::string_view qualified) {
    for (size_t i = 0; i < qualified.size(); ++i) {
      if (qualified[i] == ':') {
        name_ = qualified.substr(i + 1);
        namespace_ = Resolve(qualified.substr(0, i));
        return;
      }
    }
    name_ = qualified;
    namespace_ = defaultNamespace_;
  }

  ByteStream& input_;
  std::string part_;
  std::vector<char> buffer_;
  uint64_t bufferOffset_ = 0;  // of buffer_[0] in the part
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
  bool pendingEnd_ = false;
  bool started_ = false;
  bool popPending_ = false;  // the last event was an End: leave its depth on the next call
  bool rootSeen_ = false;

  std::string_view name_;
  XmlNamespace namespace_ = XmlNamespace::None;
  size_t depth_ = 0;
  std::vector<RawAttr> attributes_;
  std::string_view text_;
  std::string scratch_;
  std::string openNames_;            // the names of open elements, back to back
  std::vector<size_t> nameOffsets_;  // where each open name starts in openNames_
  std::string prefixes_;             // the declared prefixes, back to back
  std::vector<Binding> bindings_;    // innermost last
  XmlNamespace defaultNamespace_ = XmlNamespace::None;
};

}  // namespace cellverter
