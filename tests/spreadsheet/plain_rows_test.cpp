#include "spreadsheet/xlsx/plain_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "piece_stream.h"
#include "platform/error.h"
#include "sheet_dump.h"
#include "spreadsheet/container/prefetch_stream.h"
#include "spreadsheet/sheet_source.h"
#include "spreadsheet/xlsx/xlsx_reader.h"
#include "spreadsheet/xlsx/xml_values.h"
#include "temp_dir.h"
#include "xlsx_builder.h"

namespace cellverter {
namespace {

using testing_support::Dump;
using testing_support::kMainNamespace;
using testing_support::PieceStream;
using testing_support::TempDir;
using testing_support::TestSheet;
using testing_support::TestWorkbook;
using testing_support::WriteBytes;

constexpr size_t kNoBound = size_t{1} << 30;

PlainRowScan Scan(std::string_view bytes, PlainRow& row, size_t& length, size_t maxValue = kNoBound,
                  size_t maxCells = kNoBound) {
  return ScanPlainRow(bytes, row, length, maxValue, maxCells);
}

// ---- The scan of one row -------------------------------------------------------------------

TEST(PlainRowScanTest, APlainRowIsWholeOnlyWithItsLastByte) {
  const std::vector<std::string> rows = {
      "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>",
      "<row r=\"2\" spans=\"1:3\" x14ac:dyDescent=\"0.25\"/>",
      "<row><c r=\"A3\" s=\"1\" t=\"s\"><v>0</v></c><c r=\"B3\" s=\"2\"/><c t=\"b\"><v>1</v></c>"
      "</row>",
      "<row r=\"4\"><c r=\"A4\"><f t=\"shared\" ref=\"A4:A9\" si=\"0\">\"a\"&amp;B4&lt;&gt;"
      "&quot;&apos;</f><v>7</v></c><c r=\"B4\"><f t=\"shared\" si=\"0\"/><v>8</v></c></row>",
      "<row r=\"5\"><c r=\"A5\" t=\"inlineStr\"><is><t xml:space=\"preserve\"> x </t></is></c>"
      "<c r=\"B5\" t=\"inlineStr\"><is><t/></is></c><c r=\"C5\" t=\"inlineStr\"><is/></c></row>",
      // Pretty-printed, with Windows line ends, single quotes and blanks inside the tags.
      "\r\n  <row r='6' >\r\n    <c r='A6' s = '3' >\r\n      <v>2.5</v >\r\n    </c >\r\n"
      "    <c\tr='B6'><v/></c></row >",
      // The first of two attributes of a name stands, as in the general scanner's lookup.
      "<row r=\"7\" r=\"8\"><c r=\"A7\" r=\"B7\" s=\"\" s=\"4\"><v>1</v><v>2</v></c></row>",
  };
  for (const std::string& bytes : rows) {
    SCOPED_TRACE(bytes);
    PlainRow row;
    size_t length = 0;
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
      ASSERT_EQ(Scan(std::string_view(bytes).substr(0, cut), row, length), PlainRowScan::kMore)
          << cut;
    }
    // What follows the row is left for the next scan.
    const std::string followed = bytes + "<row r=\"99\"/></sheetData>";
    ASSERT_EQ(Scan(followed, row, length), PlainRowScan::kRow);
    EXPECT_EQ(length, bytes.size());
  }
}

TEST(PlainRowScanTest, GivesTheAttributesAndValuesAsWritten) {
  const std::string bytes =
      "<row r=\"7\" r=\"8\" hidden=\"1\" customFormat=\"true\" customHeight=\"0\">"
      "<c r=\"A7\" r=\"B7\" s=\"\" s=\"4\"><v>1</v><v>2</v></c>"
      "<c t=\"str\"><f>A1</f><v>x y</v></c><c r=\"C7\"><v/></c>"
      "<c t=\"inlineStr\" s=\"5\"><is><t> t </t></is></c><c r=\"E7\" s=\"6\"/>"
      // Cells whose attributes leave the common shape part of the way through, or never enter
      // it: each the same as the others.
      "<c r=\"F7\" cm=\"1\" s=\"7\" t=\"n\"><v>3</v></c><c r=\"G>7\" s=\"8\"  t='e'><v>4</v></c>"
      "<c s=\"9\" r=\"H7\" s=\"10\"/></row>";
  PlainRow row;
  size_t length = 0;
  ASSERT_EQ(Scan(bytes, row, length), PlainRowScan::kRow);
  EXPECT_EQ(row.number, "7");
  EXPECT_EQ(row.hidden, "1");
  EXPECT_EQ(row.customFormat, "true");
  EXPECT_EQ(row.customHeight, "0");
  ASSERT_EQ(row.used, 8u);
  auto show = [](const PlainCell& c) {
    return std::string(c.ref) + "|" + std::string(c.style) + "|" + std::string(c.type) + "|" +
           std::string(c.value) + "|" + (c.hasValue ? "v" : "-") + (c.hasFormula ? "f" : "-");
  };
  EXPECT_EQ(show(row.cells[0]), "A7|||2|v-");
  EXPECT_EQ(show(row.cells[1]), "||str|x y|vf");
  EXPECT_EQ(show(row.cells[2]), "C7||||v-");
  EXPECT_EQ(show(row.cells[3]), "|5|inlineStr| t |v-");
  EXPECT_EQ(show(row.cells[4]), "E7|6|||--");
  EXPECT_EQ(show(row.cells[5]), "F7|7|n|3|v-");
  EXPECT_EQ(show(row.cells[6]), "G>7|8|e|4|v-");
  EXPECT_EQ(show(row.cells[7]), "H7|9|||--");
  // The same staging serves the next row: nothing of this one is left in it.
  ASSERT_EQ(Scan("<row/>", row, length), PlainRowScan::kRow);
  EXPECT_EQ(row.used, 0u);
  EXPECT_EQ(row.number, "");
}

TEST(PlainRowScanTest, LeavesEverythingElseToTheGeneralScanner) {
  struct Case {
    const char* why;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"the end of the sheet data", "</sheetData>"},
      {"another element", "<rowBreaks/>"},
      {"text between rows", "x<row/>"},
      {"a prefixed row", "<x:row/>"},
      {"a declaration", "<row xmlns=\"urn:other\"><c><v>1</v></c></row>"},
      {"a prefix declared", "<row><c xmlns:x=\"urn:x\"><v>1</v></c></row>"},
      {"a comment", "<row><!-- note --><c><v>1</v></c></row>"},
      {"CDATA", "<row><c><v><![CDATA[1]]></v></c></row>"},
      {"a processing instruction", "<row><?pi x?></row>"},
      {"an entity in a value", "<row><c t=\"str\"><v>a&amp;b</v></c></row>"},
      {"a carriage return in a value", "<row><c t=\"str\"><v>a\rb</v></c></row>"},
      {"a character reference in a formula", "<row><c><f>&#65;</f><v>1</v></c></row>"},
      {"an unknown entity in a formula", "<row><c><f>&nbsp;</f><v>1</v></c></row>"},
      {"rich text", "<row><c t=\"inlineStr\"><is><r><t>a</t></r></is></c></row>"},
      {"two texts", "<row><c t=\"inlineStr\"><is><t>a</t><t>b</t></is></c></row>"},
      {"phonetic runs", "<row><c t=\"inlineStr\"><is><t>a</t><rPh><t>b</t></rPh></is></c></row>"},
      {"a text after a value", "<row><c t=\"inlineStr\"><v>1</v><is><t>a</t></is></c></row>"},
      {"an extension in a cell", "<row><c><v>1</v><extLst/></c></row>"},
      {"text in a cell", "<row><c>x<v>1</v></c></row>"},
      {"a mismatched end tag", "<row><c><v>1</c></v></row>"},
      {"attributes run together", "<row><c r=\"A1\"s=\"1\"><v>1</v></c></row>"},
      {"a value without quotes", "<row><c r=A1><v>1</v></c></row>"},
      {"an attribute without a name", "<row =\"1\"/>"},
      {"a bad empty-element tag", "<row><c /x><v>1</v></c></row>"},
      {"a bad end tag", "<row><c><v>1</v/></c></row>"},
  };
  for (const Case& c : cases) {
    PlainRow row;
    size_t length = 0;
    EXPECT_EQ(Scan(c.bytes, row, length), PlainRowScan::kNotPlain) << c.why;
  }
  PlainRow row;
  size_t length = 0;
  EXPECT_EQ(Scan("<row><c><v>1234</v></c></row>", row, length, 3), PlainRowScan::kNotPlain)
      << "a value past the bound";
  EXPECT_EQ(Scan("<row><c/><c/><c/></row>", row, length, kNoBound, 2), PlainRowScan::kNotPlain)
      << "more cells than the bound";
}

// ---- Rows found ahead ------------------------------------------------------------------------

// What the prefetching thread found is what a scan from the same offset finds; nowhere else is
// anything found, and a chunk of tiny cells keeps no more than its own size.
TEST(PlainRowsAheadTest, GivesAtAnOffsetWhatAScanFromThereGives) {
  // The comment first makes room: what a chunk keeps is bounded by its size.
  const std::string rows =
      "<!--" + std::string(1000, ' ') + "-->" +
      "<row r=\"1\"><c r=\"A1\" s=\"2\" t=\"s\"><v>0</v></c><c t=\"inlineStr\"><is><t>x</t></is>"
      "</c></row>\n <row r=\"2\"><!-- no --></row><row r=\"3\" hidden=\"1\"><c><f>1</f><v>7</v></c>"
      "</row><row r=\"4\"><c><v>";  // row 4 is cut by the chunk's end
  const uint64_t base = 5000;       // where the chunk lies in the part
  const std::atomic<bool> readerWaits{false};
  PlainRowsAhead ahead(kNoBound, kNoBound);
  ahead.Observe(base, rows, readerWaits);
  auto show = [](const PlainRow& row) {
    std::string out = std::string(row.number) + "|" + std::string(row.hidden);
    for (size_t i = 0; i < row.used; ++i) {
      const PlainCell& c = row.cells[i];
      out += " " + std::string(c.ref) + "," + std::string(c.style) + "," + std::string(c.type) +
             "," + std::string(c.value) + (c.hasValue ? ",v" : "") + (c.hasFormula ? ",f" : "");
    }
    return out;
  };
  size_t found = 0;
  for (size_t at = 0; at < rows.size(); ++at) {
    const std::string_view bytes = std::string_view(rows).substr(at);
    PlainRow taken;
    PlainRow scanned;
    size_t takenLength = 0;
    size_t scannedLength = 0;
    if (!ahead.Take(base + at, bytes, taken, takenLength)) continue;
    ++found;
    ASSERT_EQ(Scan(bytes, scanned, scannedLength), PlainRowScan::kRow) << at;
    EXPECT_EQ(takenLength, scannedLength) << at;
    EXPECT_EQ(show(taken), show(scanned)) << at;
    // Not when the reader's bytes end inside the row.
    EXPECT_FALSE(ahead.Take(base + at, bytes.substr(0, takenLength - 1), taken, takenLength));
  }
  // Rows 1 and 3, at their "<row"; not the blanks before row 2, not row 2 (a comment), not
  // the cut row 4.
  EXPECT_EQ(found, 2u);

  // A chunk the reader already waits for is left to it: nothing is found ahead.
  const std::atomic<bool> waiting{true};
  PlainRowsAhead late(kNoBound, kNoBound);
  late.Observe(base, rows, waiting);
  PlainRow taken;
  size_t takenLength = 0;
  for (size_t at = 0; at < rows.size(); ++at) {
    EXPECT_FALSE(late.Take(base + at, std::string_view(rows).substr(at), taken, takenLength));
  }

  PlainRowsAhead bounded(kNoBound, kNoBound);
  std::string tiny = "<row>";
  while (tiny.size() < (size_t{1} << 16)) tiny += "<c/>";
  tiny += "</row>";
  std::string chunk;
  while (chunk.size() < (size_t{1} << 20)) chunk += tiny;
  bounded.Observe(0, chunk, readerWaits);
  size_t rowsFound = 0;
  PlainRow row;
  size_t length = 0;
  for (size_t at = 0; at < chunk.size(); at += tiny.size()) {
    rowsFound += bounded.Take(at, std::string_view(chunk).substr(at), row, length);
  }
  // 16,383 cells a row, 28 bytes each: a 1 MiB chunk keeps two rows, about 0.9 MiB.
  EXPECT_EQ(rowsFound, 2u);
}

// ---- Rows in place against the general scanner ---------------------------------------------

// A workbook whose first worksheet part is `worksheet`.
std::string WorkbookWithWorksheet(const std::string& worksheet,
                                  std::vector<std::string> sharedStrings = {"<t>zero</t>"}) {
  TestWorkbook book;
  book.sheets = {TestSheet("")};
  book.sharedStrings = std::move(sharedStrings);
  book.cellXfs = {0, 14, 10};
  auto parts = book.Parts();
  for (auto& [name, xml] : parts) {
    if (name.starts_with("xl/worksheets/")) xml = worksheet;
  }
  return TestWorkbook::ZipParts(parts);
}

// What the first worksheet gives, or the error that ends it.
std::string Read(const std::string& path, bool rowsInPlace) {
  XlsxReaderOptions options;
  options.rowsInPlace = rowsInPlace;
  try {
    auto source = OpenXlsxSource(path, -1, options);
    const SheetLayout& layout = source->Layout();
    std::string out =
        std::to_string(source->LastRow()) + ":" + std::to_string(source->LastColumn()) +
        " hidden rows " + std::to_string(layout.hiddenRows.size()) + ", unvalued " +
        std::to_string(layout.formulasWithoutValue) + " " + Dump(*source, /*withStyles=*/true);
    for (const std::string& note : source->Repairs().Notes()) out += " repair: " + note;
    return out;
  } catch (const Error& e) {
    return std::string("error: ") + e.what();
  }
}

std::string Worksheet(const std::string& sheetData) {
  return "<?xml version=\"1.0\"?>\n<worksheet xmlns=\"" + kMainNamespace + "\"><sheetData>" +
         sheetData + "</sheetData></worksheet>";
}

TEST(RowsInPlaceTest, ReadTheSameAsTheGeneralScanner) {
  std::string pageOfRows;  // rows across the scanner's buffer edges, values of every type
  for (int r = 1; r <= 6000; ++r) {
    const std::string n = std::to_string(r);
    pageOfRows += "<row r=\"" + n + "\"><c r=\"A" + n + "\" s=\"1\"><v>" + n +
                  ".25</v></c><c r=\"B" + n + "\" t=\"s\"><v>0</v></c><c r=\"C" + n +
                  "\" t=\"inlineStr\"><is><t>text " + n + "</t></is></c><c r=\"D" + n + "\"><f>A" +
                  n + "*2</f><v>" + std::to_string(r * 2.5) + "</v></c></row>";
  }
  std::string notPlainRows;  // enough of them to leave the rest of the sheet to the scanner
  for (int r = 1; r <= 40; ++r) {
    notPlainRows += "<row r=\"" + std::to_string(r) + "\"><!-- " + std::to_string(r) +
                    " --><c><v>" + std::to_string(r) + "</v></c></row>";
  }
  notPlainRows += "<row r=\"41\"><c><v>41</v></c></row>";
  // Rows of 0.9 MB, which the scanner's buffer grows for, and of 4.8 MB, past what is read
  // in place.
  auto longRow = [](int row, int cells) {
    std::string bytes = "<row r=\"" + std::to_string(row) + "\">";
    for (int c = 0; c < cells; ++c) {
      bytes += "<c t=\"inlineStr\"><is><t>" + std::string(300, static_cast<char>('a' + c % 26)) +
               "</t></is></c>";
    }
    return bytes + "</row>";
  };
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"a page of rows", Worksheet(pageOfRows)},
      {"plain and not plain rows mixed",
       Worksheet("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><!-- x -->"
                 "<row r=\"2\"><c r=\"B2\" t=\"str\"><v>a&amp;b</v></c></row>"
                 "<row r=\"3\"><c r=\"C3\" t=\"inlineStr\"><is><r><t>r</t></r><r><t>s</t></r></is>"
                 "</c></row><row r=\"4\"><c r=\"A4\" t=\"inlineStr\"><v>1</v><is><t>a</t></is></c>"
                 "</row><row r=\"5\"><c r=\"A5\" t=\"e\"><v>#N/A</v></c><c t=\"d\">"
                 "<v>2024-03-01</v></c></row>")},
      {"many rows that are not plain", Worksheet(notPlainRows)},
      {"rows longer than the scanner's buffer",
       Worksheet(longRow(1, 3000) + longRow(2, 16000) + "<row r=\"3\"><c><v>3</v></c></row>")},
      {"a style too long to be kept ahead",
       Worksheet(pageOfRows + "<row r=\"7000\"><c r=\"A7000\" s=\"" + std::string(70000, '0') +
                 "1\"><v>1</v></c></row>")},
      {"empty and self-closing", Worksheet("<row r=\"2\" customHeight=\"1\"/><row r=\"3\">"
                                           "<c r=\"C3\" s=\"2\"/><c r=\"D3\"><v/></c></row>")},
      {"sheet data that is empty", "<worksheet xmlns=\"" + kMainNamespace +
                                       "\"><sheetData/><mergeCells><mergeCell ref=\"A1:B2\"/>"
                                       "</mergeCells></worksheet>"},
      {"rows out of order and twins",
       Worksheet("<row r=\"3\"><c r=\"A3\"><v>3</v></c></row><row r=\"1\"><c r=\"B1\"><v>1</v>"
                 "</c><c r=\"B1\"><v>11</v></c></row>")},
      {"a shared string past the table",
       Worksheet("<row r=\"1\"><c t=\"s\"><v>0</v></c><c t=\"s\"><v>7</v></c></row>")},
      // A reference ending with its row's number has only its letters read.
      {"references with and without their row's number",
       Worksheet("<row r=\"12\"><c r=\"ab12\"><v>1</v></c><c r=\"C7\"><v>2</v></c>"
                 "<c r=\"D012\"><v>3</v></c><c r=\"XFD12\"><v>4</v></c></row>"
                 "<row r=\"013\"><c r=\"B13\"><v>5</v></c><c r=\"C013\"><v>6</v></c></row>")},
      {"hidden rows", Worksheet("<row r=\"1\" hidden=\"1\"><c><v>1</v></c></row>"
                                "<row r=\"2\" hidden=\"true\" customFormat=\"1\" s=\"1\"/>")},
      // The default namespace of the rows is not SpreadsheetML's: the general scanner's
      // rows, none of which counts.
      {"rows of another namespace",
       "<s:worksheet xmlns:s=\"" + kMainNamespace +
           "\" xmlns=\"urn:other\"><s:sheetData>"
           "<row r=\"1\"><c><v>1</v></c></row><s:row r=\"2\"><s:c><s:v>2</s:v></s:c></s:row>"
           "</s:sheetData></s:worksheet>"},
      {"a row that restores the namespace",
       "<s:worksheet xmlns:s=\"" + kMainNamespace +
           "\" xmlns=\"urn:other\"><s:sheetData>"
           "<row xmlns=\"" +
           kMainNamespace +
           "\" r=\"1\"><c><v>1</v></c></row>"
           "<row r=\"2\"><c><v>2</v></c></row></s:sheetData></s:worksheet>"},
      // Damage: the same message, whichever reads the row.
      {"an invalid style", Worksheet("<row><c><v>1</v></c><c s=\"x\"><v>1</v></c></row>")},
      {"an invalid reference", Worksheet("<row><c r=\"1A\"><v>1</v></c></row>")},
      {"letters and a sign before the row's number",
       Worksheet("<row r=\"12\"><c r=\"A-12\"><v>1</v></c></row>")},
      {"a column past the last before the row's number",
       Worksheet("<row r=\"5\"><c r=\"XFE5\"><v>1</v></c></row>")},
      {"an unknown type", Worksheet("<row><c t=\"q\"><v>1</v></c></row>")},
      {"no number", Worksheet("<row><c><v>1x</v></c></row>")},
      {"an invalid row number", Worksheet("<row r=\"0\"/>")},
      {"a cell past the last column",
       Worksheet("<row><c r=\"XFD1\"><v>1</v></c><c><v>2</v></c></row>")},
      {"damage after a bad style", Worksheet("<row><c s=\"-1\"><v>1</v></c><c><v>1</v></x></row>")},
      {"a mismatched end tag", Worksheet("<row><c><v>1</v></c></rows>")},
      {"the part ends inside a row",
       "<worksheet xmlns=\"" + kMainNamespace + "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>1"},
      {"a bad entity in a formula", Worksheet("<row><c><f>&bad;</f><v>1</v></c></row>")},
      {"a value too long for a cell",
       Worksheet("<row><c t=\"str\"><v>" + std::string(kMaxCellText + 1, 'v') + "</v></c></row>")},
  };
  TempDir dir;
  for (const auto& [name, worksheet] : cases) {
    SCOPED_TRACE(name);
    WriteBytes(dir / "book.xlsx", WorkbookWithWorksheet(worksheet));
    const std::string general = Read(dir / "book.xlsx", false);
    EXPECT_EQ(Read(dir / "book.xlsx", true), general);
  }
}

// The checks above compare two readings; these say what the reading is.
TEST(RowsInPlaceTest, ReadRowsAsTheyAre) {
  TempDir dir;
  WriteBytes(dir / "book.xlsx",
             WorkbookWithWorksheet(Worksheet(
                 "<row r=\"2\"><c r=\"B2\" t=\"s\"><v>0</v></c><c r=\"C2\" t=\"inlineStr\"><is>"
                 "<t>in line</t></is></c><c r=\"D2\" t=\"b\"><v>1</v></c><c r=\"E2\"><f>1</f>"
                 "<v>-0.5</v></c></row><row r=\"3\"><c r=\"A3\" s=\"1\"/></row>")));
  EXPECT_EQ(Read(dir / "book.xlsx", true),
            "3:5 hidden rows 0, unvalued 0 R2C2s0=S'zero' R2C3s0=S'in line' R2C4s0=TRUE "
            "R2C5s0=N-0.5 R3C1s1=_");
}

// ---- The chunks the prefetching thread observes ------------------------------------------

class RecordingObserver final : public ChunkObserver {
 public:
  void Observe(uint64_t offset, std::string_view chunk,
               const std::atomic<bool>& /*readerWaits*/) noexcept override {
    std::lock_guard lock(mutex_);
    seen_.emplace_back(offset, std::string(chunk));
  }
  std::vector<std::pair<uint64_t, std::string>> seen_;
  std::mutex mutex_;
};

// What the observer sees is the stream's own bytes at the offsets it is told, whichever
// chunks it is given (those the reader already waits for are not).
TEST(PrefetchStreamTest, AnObserverSeesChunksAtTheirOffsets) {
  std::string bytes;
  for (int i = 0; bytes.size() < (size_t{3} << 20); ++i) bytes += std::to_string(i) + ' ';
  RecordingObserver observer;
  {
    PieceStream inner(bytes, 700);
    PrefetchStream prefetch(inner, size_t{64} << 10, 2, &observer);
    std::string read;
    char buffer[7777];
    for (size_t n; (n = prefetch.Read(buffer, sizeof buffer)) > 0;) read.append(buffer, n);
    EXPECT_EQ(read, bytes);
  }
  uint64_t next = 0;
  for (const auto& [offset, chunk] : observer.seen_) {
    EXPECT_GE(offset, next);
    EXPECT_EQ(offset % (64 << 10), 0u);
    EXPECT_EQ(chunk, bytes.substr(offset, chunk.size()));
    next = offset + chunk.size();
  }
}

// ---- Numbers as the XML writes them --------------------------------------------------------

// ParseNumber with from_chars alone, as it read before its plain-decimal path.
bool FromChars(std::string_view text, double& value) {
  const size_t first = text.find_first_not_of(" \n\t");
  text.remove_prefix(std::min(first, text.size()));
  text.remove_suffix(text.size() - (text.find_last_not_of(" \n\t") + 1));
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() && !text.empty() &&
         std::isfinite(value);
}

void ExpectSameAsFromChars(const std::string& text) {
  double ours = 0;
  double theirs = 0;
  const bool parsed = ParseNumber(text, ours);
  ASSERT_EQ(parsed, FromChars(text, theirs)) << text;
  if (parsed) {
    uint64_t a = 0;
    uint64_t b = 0;
    std::memcpy(&a, &ours, sizeof a);
    std::memcpy(&b, &theirs, sizeof b);
    ASSERT_EQ(a, b) << text;
  }
}

TEST(XmlNumberTest, DecimalsReadToTheBitAsFromCharsReadsThem) {
  for (const char* text : {"0",
                           "-0",
                           "1",
                           "-1",
                           ".5",
                           "5.",
                           "-.5",
                           "0.1",
                           "0.3",
                           "26606.6200",
                           "1.26293e+12",
                           "9007199254740992",
                           "9007199254740993",
                           "9007199254740993.0",
                           "1234567890123456789",
                           "12345678901234567890",
                           "0.0000000000000000000001",
                           "0.00000000000000000000001",
                           "1e400",
                           "",
                           "-",
                           ".",
                           "..5",
                           "1.2.3",
                           "+5",
                           "+-5",
                           "1 ",
                           "0x10",
                           "inf",
                           "nan"}) {
    ExpectSameAsFromChars(text);
  }
  std::mt19937_64 random(20261211);
  for (int i = 0; i < 200000; ++i) {
    std::string text = random() % 4 == 0 ? "-" : "";
    const int digits = 1 + static_cast<int>(random() % 24);
    const int point = static_cast<int>(random() % (digits + 2)) - 1;  // -1: none
    for (int d = 0; d < digits; ++d) {
      if (d == point) text += '.';
      text += static_cast<char>('0' + random() % 10);
    }
    ExpectSameAsFromChars(text);
  }
}

// A number cell's value as the sheet's rows give it back, whole numbers spooled straight from
// their digits and the rest through a double: to the bit what from_chars reads.
TEST(XmlNumberTest, NumberCellsComeBackAsFromCharsReadsThem) {
  const std::vector<std::string> texts = {"0",
                                          "-0",
                                          "0.000",
                                          "-0.000",
                                          "7",
                                          "7.000",
                                          "-7.50",
                                          "00012",
                                          "12.50",
                                          "1e3",
                                          " 42 ",
                                          "+5",
                                          "999999999999999",
                                          "-999999999999999",
                                          "999999999999999.0",
                                          "1000000000000000",
                                          "9007199254740992",
                                          "0.1",
                                          "26606.6200",
                                          "-1.26293e+12",
                                          "123456789012345678"};
  std::string row = "<row r=\"1\">";
  for (const std::string& text : texts) row += "<c><v>" + text + "</v></c>";
  TempDir dir;
  WriteBytes(dir / "book.xlsx", WorkbookWithWorksheet(Worksheet(row + "</row>")));
  for (const bool rowsInPlace : {true, false}) {
    XlsxReaderOptions options;
    options.rowsInPlace = rowsInPlace;
    auto source = OpenXlsxSource(dir / "book.xlsx", -1, options);
    SheetRow read;
    ASSERT_TRUE(source->NextRow(read));
    ASSERT_EQ(read.cells.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
      double expected = 0;
      ASSERT_TRUE(FromChars(texts[i], expected)) << texts[i];
      ASSERT_EQ(read.cells[i].value.kind, CellValue::Kind::Number) << texts[i];
      uint64_t a = 0;
      uint64_t b = 0;
      std::memcpy(&a, &read.cells[i].value.number, sizeof a);
      std::memcpy(&b, &expected, sizeof b);
      EXPECT_EQ(a, b) << texts[i];
    }
  }
}

TEST(XmlNumberTest, UnsignedIntegersReadAsFromCharsReadsThem) {
  for (const char* text :
       {"0", "7", "0000000000000000000000042", "18446744073709551615", "18446744073709551616",
        "99999999999999999999", "9999999999999999999", "", "-1", "+1", " 1", "1 ", "1a", "a"}) {
    uint64_t ours = 0;
    uint64_t theirs = 0;
    const auto result = std::from_chars(text, text + std::strlen(text), theirs);
    const bool expected = result.ec == std::errc() && result.ptr == text + std::strlen(text);
    ASSERT_EQ(ParseUnsigned(text, ours), expected) << text;
    if (expected) {
      EXPECT_EQ(ours, theirs) << text;
    }
  }
}

}  // namespace
}  // namespace cellverter
