#include "spreadsheet/xlsx/xml_scanner.h"

#include <algorithm>
#include <cstring>

#include "spreadsheet/workbook_error.h"

namespace cellverter {
namespace {

// The buffer starts small, as most parts are (relationships, the workbook, the styles), and
// grows to kChunk once a part has proven larger than it: a small part costs no large zeroed
// buffer.
constexpr size_t kFirstChunk = 16 * 1024;
constexpr size_t kChunk = 256 * 1024;

// The first '&' or '\r' from `from`, or npos.
size_t FindSpecial(std::string_view text, size_t from = 0) {
  for (size_t i = from; i < text.size(); ++i) {
    if (text[i] == '&' || text[i] == '\r') return i;
  }
  return std::string_view::npos;
}

constexpr size_t kMaxBindings = 1024;  // namespace declarations in scope at once

XmlNamespace NamespaceOf(std::string_view uri) {
  if (uri == "http://schemas.openxmlformats.org/spreadsheetml/2006/main" ||
      uri == "http://purl.oclc.org/ooxml/spreadsheetml/main") {
    return XmlNamespace::Spreadsheet;
  }
  if (uri == "http://schemas.openxmlformats.org/officeDocument/2006/relationships" ||
      uri == "http://purl.oclc.org/ooxml/officeDocument/relationships") {
    return XmlNamespace::Relationships;
  }
  // Strict packages keep the transitional name of the package relationships.
  if (uri == "http://schemas.openxmlformats.org/package/2006/relationships") {
    return XmlNamespace::Package;
  }
  constexpr std::string_view kOdf = "urn:oasis:names:tc:opendocument:xmlns:";
  if (uri.starts_with(kOdf)) {
    const std::string_view name = uri.substr(kOdf.size());
    if (name == "office:1.0") return XmlNamespace::OdfOffice;
    if (name == "table:1.0") return XmlNamespace::OdfTable;
    if (name == "text:1.0") return XmlNamespace::OdfText;
    if (name == "style:1.0") return XmlNamespace::OdfStyle;
    if (name == "datastyle:1.0") return XmlNamespace::OdfNumber;
    if (name == "xsl-fo-compatible:1.0") return XmlNamespace::OdfFo;
    if (name == "manifest:1.0") return XmlNamespace::OdfManifest;
  }
  if (uri == "urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0") {
    return XmlNamespace::OdfCalcExt;
  }
  return uri.empty() ? XmlNamespace::None : XmlNamespace::Other;
}

}  // namespace

XmlScanner::XmlScanner(ByteStream& input, std::string_view part)
    : input_(input), part_(part), buffer_(kFirstChunk) {
  attributes_.reserve(32);
}

void XmlScanner::Fail(std::string_view detail) const {
  std::string text = part_ + " XML is malformed";
  if (!detail.empty()) {
    text += ": ";
    text += detail;
  }
  throw WorkbookDamaged(text);
}

bool XmlScanner::Refill() {
  if (eof_) return false;
  if (pos_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    bufferOffset_ += pos_;
    pos_ = 0;
  }
  if (end_ == buffer_.size()) {
    if (buffer_.size() >= kMaxToken) Fail("a token is too long");
    buffer_.resize(std::min(buffer_.size() * 2, kMaxToken));
  } else if (buffer_.size() < kChunk && bufferOffset_ >= buffer_.size()) {
    buffer_.resize(std::min(buffer_.size() * 2, kChunk));
  }
  const size_t n = input_.Read(buffer_.data() + end_, buffer_.size() - end_);
  if (n == 0) {
    eof_ = true;
    return false;
  }
  end_ += n;
  return true;
}

XmlNamespace XmlScanner::Resolve(std::string_view prefix) const {
  for (auto b = bindings_.rbegin(); b != bindings_.rend(); ++b) {
    if (b->prefixLength != 0 &&
        SameName(std::string_view(prefixes_).substr(b->prefixOffset, b->prefixLength), prefix)) {
      return b->ns;
    }
  }
  if (prefix == "xml") return XmlNamespace::Other;
  Fail("an undeclared namespace prefix");
}

void XmlScanner::Declare() {
  std::string uri;
  for (const RawAttr& a : attributes_) {
    if (!IsNamespaceDeclaration(a.name)) continue;
    const std::string_view prefix = a.name.size() > 5 ? a.name.substr(6) : std::string_view();
    uri.clear();
    DecodeInto(a.value, uri);
    if (a.name.size() > 5 && (prefix.empty() || uri.empty())) {
      Fail("a bad namespace declaration");
    }
    if (bindings_.size() >= kMaxBindings) Fail("too many namespace declarations");
    bindings_.push_back({prefixes_.size(), prefix.size(), depth_ + 1, NamespaceOf(uri)});
    prefixes_.append(prefix);
    if (prefix.empty()) defaultNamespace_ = bindings_.back().ns;
  }
}

void XmlScanner::PopBindings() {
  while (!bindings_.empty() && bindings_.back().depth > depth_) {
    prefixes_.resize(bindings_.back().prefixOffset);
    bindings_.pop_back();
  }
  defaultNamespace_ = XmlNamespace::None;
  for (auto b = bindings_.rbegin(); b != bindings_.rend(); ++b) {
    if (b->prefixLength == 0) {
      defaultNamespace_ = b->ns;
      break;
    }
  }
}

std::string XmlScanner::Attribute(XmlNamespace ns, std::string_view localName) const {
  std::string value;
  DecodeInto(RawAttribute(ns, localName), value);
  return value;
}

std::string_view XmlScanner::RawAttribute(XmlNamespace ns, std::string_view localName,
                                          bool* found) const {
  for (const RawAttr& a : attributes_) {
    const size_t colon = a.name.find(':');
    if (colon == std::string_view::npos || !SameName(a.name.substr(colon + 1), localName) ||
        IsNamespaceDeclaration(a.name)) {
      continue;
    }
    if (Resolve(a.name.substr(0, colon)) == ns) {
      if (found != nullptr) *found = true;
      return a.value;
    }
  }
  if (found != nullptr) *found = false;
  return {};
}

std::string_view XmlScanner::RawAttribute(std::string_view localName) const {
  for (const RawAttr& a : attributes_) {
    if (SameName(a.name, localName)) return a.value;
  }
  return {};
}

bool XmlScanner::HasAttribute(std::string_view localName) const {
  for (const RawAttr& a : attributes_) {
    if (SameName(a.name, localName)) return true;
  }
  return false;
}

std::string XmlScanner::Attribute(std::string_view localName) const {
  std::string value;
  DecodeInto(RawAttribute(localName), value);
  return value;
}

void XmlScanner::DecodeInto(std::string_view raw, std::string& out) const {
  size_t i = 0;
  while (i < raw.size()) {
    const size_t special = FindSpecial(raw, i);
    if (special == std::string_view::npos) {
      out.append(raw.substr(i));
      return;
    }
    out.append(raw.substr(i, special - i));
    if (raw[special] == '\r') {
      out += '\n';
      i = special + 1;
      if (i < raw.size() && raw[i] == '\n') ++i;
      continue;
    }
    const size_t semi = raw.find(';', special);
    if (semi == std::string_view::npos || semi - special > 12) Fail("a bad entity");
    const std::string_view entity = raw.substr(special + 1, semi - special - 1);
    if (entity == "lt") {
      out += '<';
    } else if (entity == "gt") {
      out += '>';
    } else if (entity == "amp") {
      out += '&';
    } else if (entity == "quot") {
      out += '"';
    } else if (entity == "apos") {
      out += '\'';
    } else if (entity.size() >= 2 && entity[0] == '#') {
      const bool hex = entity[1] == 'x';
      char32_t code = 0;
      const std::string_view digits = entity.substr(hex ? 2 : 1);
      if (digits.empty()) Fail("a bad character reference");
      for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9') {
          d = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
          d = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
          d = c - 'A' + 10;
        } else {
          Fail("a bad character reference");
        }
        code = code * (hex ? 16 : 10) + static_cast<char32_t>(d);
        if (code > 0x10FFFF) Fail("a bad character reference");
      }
      if (code == 0 || IsHighSurrogate(code) || IsLowSurrogate(code))
        Fail("a bad character reference");
      AppendUtf8(code, out);
    } else {
      Fail("an unknown entity");
    }
    i = semi + 1;
  }
}

bool XmlScanner::SkipUntil(std::string_view terminator) {
  for (;;) {
    const std::string_view window(buffer_.data() + pos_, end_ - pos_);
    const size_t found = window.find(terminator);
    if (found != std::string_view::npos) {
      pos_ += found + terminator.size();
      return true;
    }
    // Keep a possible start of the terminator, drop the rest.
    const size_t keep = std::min(window.size(), terminator.size() - 1);
    pos_ = end_ - keep;
    if (!Refill()) return false;
  }
}

void XmlScanner::LeaveEndedElement() {
  popPending_ = false;
  --depth_;
  if (!bindings_.empty() && bindings_.back().depth > depth_) PopBindings();
}

std::string_view XmlScanner::Unscanned() {
  if (pendingEnd_) return {};
  if (popPending_) LeaveEndedElement();
  return std::string_view(buffer_.data() + pos_, end_ - pos_);
}

bool XmlScanner::ReadMore(size_t limit) {
  const size_t unscanned = end_ - pos_;
  if (pendingEnd_ || unscanned >= limit) return false;
  if (unscanned == buffer_.size() && buffer_.size() >= kMaxToken) return false;
  return Refill();
}

XmlScanner::Event XmlScanner::Next() {
  if (popPending_) LeaveEndedElement();
  if (pendingEnd_) {
    pendingEnd_ = false;
    popPending_ = true;
    return Event::End;
  }
  if (!started_) {
    started_ = true;
    while (end_ - pos_ < 3 && Refill()) {
    }
    if (end_ - pos_ >= 3 && std::memcmp(buffer_.data() + pos_, "\xEF\xBB\xBF", 3) == 0) pos_ += 3;
  }
  for (;;) {
    if (pos_ == end_ && !Refill()) {
      if (!nameOffsets_.empty()) Fail("the part ends inside an element");
      if (!rootSeen_) Fail("there is no root element");
      return Event::EndOfDocument;
    }
    // EndOfDocument from a scan: a token that yields no event (comment, processing
    // instruction, blanks outside the root).
    const Event event = buffer_[pos_] != '<' ? ScanText() : ScanTag();
    if (event != Event::EndOfDocument) return event;
  }
}

XmlScanner::Event XmlScanner::ScanText() {
  for (;;) {
    const char* start = buffer_.data() + pos_;
    const char* lt = static_cast<const char*>(std::memchr(start, '<', end_ - pos_));
    size_t length;
    if (lt != nullptr) {
      length = static_cast<size_t>(lt - start);
    } else if (eof_) {
      length = end_ - pos_;
    } else if (pos_ > 0 || end_ < buffer_.size()) {
      Refill();
      continue;
    } else {
      // A text longer than the buffer: hand out a piece that ends before any cut entity.
      length = end_ - pos_;
      const std::string_view window(start, length);
      const size_t amp = window.rfind('&');
      if (amp != std::string_view::npos && window.find(';', amp) == std::string_view::npos) {
        length = amp;
      }
      if (length > 0 && window[length - 1] == '\r') --length;
      if (length == 0) Fail("a bad entity");
    }
    const std::string_view raw(start, length);
    pos_ += length;
    if (depth_ == 0) {
      for (char c : raw) {
        if (!IsXmlBlank(c)) Fail("text outside the root element");
      }
      return Event::EndOfDocument;
    }
    if (FindSpecial(raw) == std::string_view::npos) {
      text_ = raw;
    } else {
      scratch_.clear();
      DecodeInto(raw, scratch_);
      text_ = scratch_;
    }
    return Event::Text;
  }
}

// Returns EndOfDocument for a token that yields no event (comment, processing instruction).
XmlScanner::Event XmlScanner::ScanTag() {
  for (;;) {
    const char* p = buffer_.data() + pos_;
    const char* const end = buffer_.data() + end_;
    auto needMore = [&]() {
      if (!Refill()) Fail("the part ends inside a tag");
    };
    if (end - p < 2) {
      needMore();
      continue;
    }
    const char second = p[1];
    if (second == '!') {
      const size_t available = static_cast<size_t>(end - p);
      if (available >= 4 && std::memcmp(p, "<!--", 4) == 0) {
        pos_ += 4;
        if (!SkipUntil("-->")) Fail("the part ends inside a comment");
        return Event::EndOfDocument;
      }
      if (available >= 9 && std::memcmp(p, "<![CDATA[", 9) == 0) {
        if (depth_ == 0) Fail("CDATA outside the root element");
        const std::string_view window(p + 9, static_cast<size_t>(end - p - 9));
        const size_t close = window.find("]]>");
        if (close == std::string_view::npos) {
          needMore();
          continue;
        }
        scratch_.clear();
        scratch_.append(window.substr(0, close));
        pos_ += 9 + close + 3;
        text_ = scratch_;
        return Event::Text;
      }
      if (available < 9 && !eof_) {
        needMore();
        continue;
      }
      Fail("a document type declaration or unknown markup");
    }
    if (second == '?') {
      pos_ += 2;
      if (!SkipUntil("?>")) Fail("the part ends inside a processing instruction");
      return Event::EndOfDocument;
    }
    const bool closing = second == '/';
    const char* q = p + (closing ? 2 : 1);
    const char* nameStart = q;
    while (q < end && !IsXmlBlank(*q) && *q != '>' && *q != '/') ++q;
    if (q == end) {
      needMore();
      continue;
    }
    const std::string_view qualified(nameStart, static_cast<size_t>(q - nameStart));
    if (qualified.empty()) Fail("an element without a name");
    if (closing) {
      while (q < end && IsXmlBlank(*q)) ++q;
      if (q == end) {
        needMore();
        continue;
      }
      if (*q != '>') Fail("a bad end tag");
      if (nameOffsets_.empty()) Fail("an end tag without a start tag");
      const size_t top = nameOffsets_.back();
      if (!SameName(std::string_view(openNames_).substr(top), qualified)) {
        Fail("mismatched end tag");
      }
      SetName(qualified);
      pos_ = static_cast<size_t>(q + 1 - buffer_.data());
      // name_ points into the buffer, which stays put until the next call of Next().
      openNames_.resize(top);
      nameOffsets_.pop_back();
      popPending_ = true;
      return Event::End;
    }
    attributes_.clear();
    bool declares = false;
    bool complete = false;
    bool selfClosing = false;
    for (;;) {
      while (q < end && IsXmlBlank(*q)) ++q;
      if (q == end) break;
      if (*q == '>') {
        complete = true;
        ++q;
        break;
      }
      if (*q == '/') {
        if (q + 1 == end) break;
        if (q[1] != '>') Fail("a bad empty-element tag");
        selfClosing = true;
        complete = true;
        q += 2;
        break;
      }
      const char* attrStart = q;
      while (q < end && *q != '=' && !IsXmlBlank(*q) && *q != '>' && *q != '/') ++q;
      const std::string_view attrName(attrStart, static_cast<size_t>(q - attrStart));
      while (q < end && IsXmlBlank(*q)) ++q;
      if (q == end) break;
      if (*q != '=' || attrName.empty()) Fail("a bad attribute");
      ++q;
      while (q < end && IsXmlBlank(*q)) ++q;
      if (q == end) break;
      const char quote = *q;
      if (quote != '"' && quote != '\'') Fail("an attribute value without quotes");
      const char* valueStart = q + 1;
      const char* valueEnd = static_cast<const char*>(
          std::memchr(valueStart, quote, static_cast<size_t>(end - valueStart)));
      if (valueEnd == nullptr) {
        q = end;
        break;
      }
      attributes_.push_back(
          {attrName, std::string_view(valueStart, static_cast<size_t>(valueEnd - valueStart))});
      declares = declares || IsNamespaceDeclaration(attrName);
      q = valueEnd + 1;
      if (q < end && !IsXmlBlank(*q) && *q != '>' && *q != '/') Fail("attributes run together");
    }
    if (!complete) {
      needMore();
      continue;
    }
    if (nameOffsets_.empty() && rootSeen_) Fail("a second root element");
    if (depth_ >= kMaxDepth) Fail("elements are nested too deeply");
    if (declares) Declare();
    SetName(qualified);
    pos_ = static_cast<size_t>(q - buffer_.data());
    ++depth_;
    rootSeen_ = true;
    if (selfClosing) {
      pendingEnd_ = true;
    } else {
      nameOffsets_.push_back(openNames_.size());
      openNames_.append(qualified);
    }
    return Event::Start;
  }
}

}  // namespace cellverter
