#include "spreadsheet/xlsx/xml_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "piece_stream.h"
#include "spreadsheet/workbook_error.h"

namespace cellverter {
namespace {

using testing_support::PieceStream;

// The events of a document as text; text pieces are joined, as readers join them.
std::string Dump(const std::string& document, size_t piece) {
  PieceStream stream(document, piece);
  XmlScanner xml(stream, "the test");
  std::string out;
  std::string text;
  auto flush = [&] {
    if (!text.empty()) out += "T(" + text + ")";
    text.clear();
  };
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    if (e == XmlScanner::Event::Text) {
      text += xml.Text();
      continue;
    }
    flush();
    if (e == XmlScanner::Event::Start) {
      out += "S" + std::to_string(xml.Depth()) + "(" + std::string(xml.Name());
      if (xml.HasAttribute("a")) out += " a=" + xml.Attribute("a");
      out += ")";
    } else {
      out += "E" + std::to_string(xml.Depth()) + "(" + std::string(xml.Name()) + ")";
    }
  }
  flush();
  return out;
}

struct ScanCase {
  const char* name;
  std::string document;
  std::string events;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class XmlScannerTest : public testing::TestWithParam<ScanCase> {};

TEST_P(XmlScannerTest, GivesTheSameEventsWhateverThePieceSize) {
  for (size_t piece : {size_t{1}, size_t{2}, size_t{7}, size_t{1} << 30}) {
    SCOPED_TRACE(piece);
    EXPECT_EQ(Dump(GetParam().document, piece), GetParam().events);
  }
}

const std::string kLongText = [] {
  std::string t;
  for (int i = 0; i < 40000; ++i) t += "ab&amp;c\r\n";  // 400 KB: longer than the buffer
  return t;
}();
const std::string kLongDecoded = [] {
  std::string t;
  for (int i = 0; i < 40000; ++i) t += "ab&c\n";
  return t;
}();

INSTANTIATE_TEST_SUITE_P(
    Documents, XmlScannerTest,
    testing::Values(
        ScanCase{"PrefixesDroppedAndEmptyElements",
                 "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<x:root xmlns:x=\"u\"><x:c a='1'/>"
                 "<d a = \"&lt;&#65;&#x42;&quot;\" >t</d></x:root>\n",
                 "S1(root)S2(c a=1)E2(c)S2(d a=<AB\")T(t)E2(d)E1(root)"},
        ScanCase{"CommentsInstructionsAndCdata",
                 "<r><!-- a <b> -- c --><?pi x?><![CDATA[<not> &amp;]]>x&#x263A;</r>",
                 "S1(r)T(<not> &amp;x\xE2\x98\xBA)E1(r)"},
        ScanCase{"LineEndsBecomeLineFeeds", "<r>a\r\nb\rc</r>", "S1(r)T(a\nb\nc)E1(r)"},
        ScanCase{"TextLongerThanTheBuffer", "<r><t>" + kLongText + "</t></r>",
                 "S1(r)S2(t)T(" + kLongDecoded + ")E2(t)E1(r)"}),
    [](const testing::TestParamInfo<ScanCase>& p) { return std::string(p.param.name); });

// Each start and end tag as "name:namespace"; S spreadsheet main, R relationships, P package
// relationships, O other, N none. An r:id attribute is shown as [id].
std::string Namespaces(const std::string& document) {
  PieceStream stream(document, 3);
  XmlScanner xml(stream, "the test");
  std::string out;
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    if (e == XmlScanner::Event::Text) continue;
    if (!out.empty()) out += ' ';
    if (e == XmlScanner::Event::End) out += '/';
    out += std::string(xml.Name()) + ":" + "NOSRP"[static_cast<int>(xml.Namespace())];
    if (e == XmlScanner::Event::Start) {
      const std::string id = xml.Attribute(XmlNamespace::Relationships, "id");
      if (!id.empty()) out += "[" + id + "]";
      if (xml.HasAttribute("id")) out += "[plain id]";
    }
  }
  return out;
}

TEST(XmlScannerTest, ResolvesElementsAndAttributesToTheirNamespace) {
  const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  const std::string strict = "http://purl.oclc.org/ooxml/spreadsheetml/main";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::string strictRel = "http://purl.oclc.org/ooxml/officeDocument/relationships";
  const std::string x15 = "http://schemas.microsoft.com/office/spreadsheetml/2010/11/main";
  const struct {
    std::string document;
    std::string expected;
  } cases[] = {
      // The fault this guards against: an extension element of the same local name.
      {"<workbook xmlns='" + main + "'><workbookPr/><extLst><ext xmlns:x15='" + x15 +
           "'><x15:workbookPr/></ext></extLst></workbook>",
       "workbook:S workbookPr:S /workbookPr:S extLst:S ext:S workbookPr:O /workbookPr:O /ext:S "
       "/extLst:S /workbook:S"},
      // Any prefix; strict and transitional names alike; the relationship id by its namespace.
      {"<x:sheets xmlns:x='" + strict + "' xmlns:rel='" + strictRel +
           "'><x:sheet rel:id='rId1' id='no'/><sheet/></x:sheets>",
       "sheets:S sheet:S[rId1][plain id] /sheet:S sheet:N /sheet:N /sheets:S"},
      // Declarations hold until their element ends; xmlns="" leaves the default namespace.
      {"<a xmlns='" + main + "'><b xmlns='urn:b' xmlns:r='" + rel +
           "'><c r:id='1'/></b><d/><e xmlns=''/></a>",
       "a:S b:O c:O[1] /c:O /b:O d:S /d:S e:N /e:N /a:S"},
      {"<Relationships xmlns='http://schemas.openxmlformats.org/package/2006/relationships'>"
       "<p:Relationship xmlns:p='urn:p'/></Relationships>",
       "Relationships:P Relationship:O /Relationship:O /Relationships:P"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.document);
    EXPECT_EQ(Namespaces(c.document), c.expected);
  }
  // Undeclared and empty prefixes, and more declarations in scope than any package needs.
  std::string crowded = "<r";
  for (int i = 0; i < 1100; ++i) crowded += " xmlns:p" + std::to_string(i) + "='u'";
  crowded += "/>";
  for (const std::string& document : {std::string("<x:r/>"), std::string("<r xmlns:x=''/>"),
                                      std::string("<r><a xmlns:x='u'/><x:b/></r>"), crowded}) {
    SCOPED_TRACE(document.substr(0, 40));
    EXPECT_THROW(Namespaces(document), WorkbookDamaged);
  }
}

TEST(XmlScannerTest, RefusesMalformedDocuments) {
  for (const char* document : {"", "<r>", "<r></s>", "<r/><s/>", "text<r/>", "<r a=1/>",
                               "<r a='1'b='2'/>", "<r>&unknown;</r>", "<r>&#0;</r>",
                               "<r>&#xD800;</r>", "<!DOCTYPE r><r/>", "<r><!-- x</r>", "</r>"}) {
    SCOPED_TRACE(document);
    for (size_t piece : {size_t{1}, size_t{1} << 30}) {
      EXPECT_THROW(Dump(document, piece), WorkbookDamaged);
    }
  }
}

// In-place reading between events: what is unscanned, where it lies in the part, and the
// scanner going on from where the bytes consumed end, at the depth and with the namespaces
// after the last event.
TEST(XmlScannerTest, InPlaceReadingGoesOnWhereTheConsumedBytesEnd) {
  const std::string document =
      "<r xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><a "
      "xmlns=\"urn:two\"/><b></b><c>x</c><d/></r>";
  for (const size_t piece : {size_t{1}, size_t{7}, document.size()}) {
    SCOPED_TRACE(piece);
    PieceStream stream(document, piece);
    XmlScanner xml(stream, "the test");
    ASSERT_EQ(xml.Next(), XmlScanner::Event::Start);  // r
    ASSERT_EQ(xml.Next(), XmlScanner::Event::Start);  // a, empty: its End is owed
    EXPECT_TRUE(xml.Unscanned().empty());
    EXPECT_FALSE(xml.ReadMore(1 << 20));
    ASSERT_EQ(xml.Next(), XmlScanner::Event::End);  // a
    EXPECT_EQ(xml.Depth(), 2u);
    // After an End the depth and the namespaces are those of its parent.
    while (xml.Unscanned().size() < 14 && xml.ReadMore(1 << 20)) {
    }
    EXPECT_EQ(xml.Depth(), 1u);
    EXPECT_EQ(xml.DefaultNamespace(), XmlNamespace::Spreadsheet);
    const std::string_view bytes = xml.Unscanned();
    ASSERT_GE(bytes.size(), 14u);
    EXPECT_EQ(bytes.substr(0, 14), "<b></b><c>x</c");
    EXPECT_EQ(xml.UnscannedOffset(), document.find("<b>"));
    xml.Consume(7);  // <b></b>
    EXPECT_EQ(xml.UnscannedOffset(), document.find("<c>"));
    ASSERT_EQ(xml.Next(), XmlScanner::Event::Start);
    EXPECT_EQ(xml.Name(), "c");
    EXPECT_EQ(xml.Depth(), 2u);
    ASSERT_EQ(xml.Next(), XmlScanner::Event::Text);
    EXPECT_EQ(xml.Text(), "x");
    ASSERT_EQ(xml.Next(), XmlScanner::Event::End);
    ASSERT_EQ(xml.Next(), XmlScanner::Event::Start);
    EXPECT_EQ(xml.Name(), "d");
    ASSERT_EQ(xml.Next(), XmlScanner::Event::End);
    ASSERT_EQ(xml.Next(), XmlScanner::Event::End);
    EXPECT_EQ(xml.Name(), "r");
    EXPECT_EQ(xml.Next(), XmlScanner::Event::EndOfDocument);
  }
}

}  // namespace
}  // namespace cellverter
