// Writes a large, reproducible .xlsx (or the same workbook as .xlsb) for the conversion
// benchmarks: one worksheet of N rows
// and 20 columns of mixed types and number formats (integers, decimals, currency, percent,
// scientific, dates, times, fractions, shared strings with commas, quotes, line feeds,
// Cyrillic and CJK, booleans, empty cells, formula results, inline strings, errors), plus a
// small second sheet. The sheet XML is deflated as it is generated, so any size fits in
// little memory.
//
//   make_large_xlsx ROWS OUT.xlsx|OUT.xlsb [STRING_MIB]
//
// A name ending in .xlsb gives the binary workbook: the same cells, number formats and strings
// as records (numbers as RK where one holds them, formulas with their tokens and results),
// written with the test suite's record helpers (tests/spreadsheet/xlsb_builder.h).
// STRING_MIB adds that many MiB of long shared strings no cell uses (32,000 characters
// each, repetitive enough to deflate about 70 : 1): a small package whose strings table
// inflates to gigabytes, for the reader's memory bound.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "logical_workbook.h"
#include "xlsb_builder.h"

namespace {

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

class ZipWriter {
 public:
  explicit ZipWriter(const char* path) : file_(std::fopen(path, "wb")) {
    if (file_ == nullptr) {
      std::perror(path);
      std::exit(1);
    }
  }
  ~ZipWriter() { std::fclose(file_); }

  void Begin(const std::string& name) {
    name_ = name;
    offset_ = written_;
    std::string h;
    Put32(h, 0x04034b50);
    Put16(h, 20);
    Put16(h, 0x0008);  // sizes in a data descriptor
    Put16(h, 8);
    Put32(h, 0);
    Put32(h, 0);
    Put32(h, 0);
    Put32(h, 0);
    Put16(h, static_cast<uint32_t>(name.size()));
    Put16(h, 0);
    h += name;
    Write(h);
    z_ = {};
    deflateInit2(&z_, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    crc_ = 0;
    size_ = 0;
    compressed_ = 0;
  }
  void Add(const std::string& data) {
    crc_ = static_cast<uint32_t>(
        crc32_z(crc_, reinterpret_cast<const Bytef*>(data.data()), data.size()));
    size_ += data.size();
    Deflate(data, Z_NO_FLUSH);
  }
  void End() {
    Deflate({}, Z_FINISH);
    deflateEnd(&z_);
    std::string d;
    Put32(d, 0x08074b50);
    Put32(d, crc_);
    Put32(d, static_cast<uint32_t>(compressed_));
    Put32(d, static_cast<uint32_t>(size_));
    Write(d);
    Put32(directory_, 0x02014b50);
    Put16(directory_, 20);
    Put16(directory_, 20);
    Put16(directory_, 0x0008);
    Put16(directory_, 8);
    Put32(directory_, 0);
    Put32(directory_, crc_);
    Put32(directory_, static_cast<uint32_t>(compressed_));
    Put32(directory_, static_cast<uint32_t>(size_));
    Put16(directory_, static_cast<uint32_t>(name_.size()));
    Put32(directory_, 0);
    Put32(directory_, 0);
    Put32(directory_, 0);
    Put32(directory_, static_cast<uint32_t>(offset_));
    directory_ += name_;
    ++count_;
  }
  void Part(const std::string& name, const std::string& data) {
    Begin(name);
    Add(data);
    End();
  }
  void Finish() {
    const uint64_t at = written_;
    Write(directory_);
    std::string e;
    Put32(e, 0x06054b50);
    Put32(e, 0);
    Put16(e, count_);
    Put16(e, count_);
    Put32(e, static_cast<uint32_t>(directory_.size()));
    Put32(e, static_cast<uint32_t>(at));
    Put16(e, 0);
    Write(e);
  }

 private:
  void Write(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
    written_ += bytes.size();
  }
  void Deflate(const std::string& data, int flush) {
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z_.avail_in = static_cast<uInt>(data.size());
    char out[1 << 16];
    do {
      z_.next_out = reinterpret_cast<Bytef*>(out);
      z_.avail_out = sizeof out;
      deflate(&z_, flush);
      const size_t n = sizeof out - z_.avail_out;
      compressed_ += n;
      Write(std::string(out, n));
    } while (z_.avail_out == 0);
  }

  std::FILE* file_;
  z_stream z_{};
  std::string name_;
  std::string directory_;
  uint64_t offset_ = 0;
  uint64_t written_ = 0;
  uint64_t size_ = 0;
  uint64_t compressed_ = 0;
  uint32_t crc_ = 0;
  uint32_t count_ = 0;
};

uint64_t state = 0x9E3779B97F4A7C15ull;
uint64_t Next() {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

std::string ColumnName(int c) {
  std::string name;
  for (; c > 0; c = (c - 1) / 26) name.insert(name.begin(), static_cast<char>('A' + (c - 1) % 26));
  return name;
}

namespace ts = cellverter::testing_support;

// One cell of the large sheet, drawn once and written as XML or as a record.
struct BenchCell {
  enum Kind { kNumber, kShared, kBoolean, kInline, kProduct, kPrefixed, kDivision, kStyledEmpty };
  int column;
  int style;
  Kind kind;
  std::string text;    // a number as the XML holds it, an inline string, a formula's result
  uint32_t index = 0;  // a shared string
};

std::string XmlCell(const BenchCell& c, const std::string& rs) {
  const std::string ref = "<c r=\"" + ColumnName(c.column) + rs + "\"";
  const std::string style = c.style ? " s=\"" + std::to_string(c.style) + "\"" : "";
  switch (c.kind) {
    case BenchCell::kNumber:
      return ref + style + "><v>" + c.text + "</v></c>";
    case BenchCell::kShared:
      return ref + " t=\"s\"><v>" + std::to_string(c.index) + "</v></c>";
    case BenchCell::kBoolean:
      return ref + " t=\"b\"><v>" + c.text + "</v></c>";
    case BenchCell::kInline:
      return ref + " t=\"inlineStr\"><is><t>" + c.text + "</t></is></c>";
    case BenchCell::kProduct:
      return ref + "><f>A" + rs + "*2</f><v>" + c.text + "</v></c>";
    case BenchCell::kPrefixed:
      return ref + " t=\"str\"><f>\"R\"&amp;A" + rs + "</f><v>" + c.text + "</v></c>";
    case BenchCell::kDivision:
      return ref + " t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>";
    case BenchCell::kStyledEmpty:
      return ref + style + "></c>";
  }
  return "";
}

// CellParsedFormula (MS-XLSB 2.5.97.1): the tokens, no extra data; after the formula flags.
std::string Formula(const std::string& tokens) {
  return ts::Le16(0) + ts::Le32(static_cast<uint32_t>(tokens.size())) + tokens + ts::Le32(0);
}
// PtgRef to column A of `row` (0-based), relative, and PtgInt.
std::string RefToA(uint32_t row) { return "\x24" + ts::Le32(row) + ts::Le16(0xC000); }
std::string Int(uint16_t value) { return "\x1E" + ts::Le16(value); }

std::string RecordCell(const BenchCell& c, uint32_t row) {
  const std::string head =
      ts::XlsbCellHead(static_cast<uint32_t>(c.column - 1), static_cast<uint32_t>(c.style));
  switch (c.kind) {
    case BenchCell::kNumber: {
      const double number = std::strtod(c.text.c_str(), nullptr);
      if (const auto rk = ts::XlsbRk(number)) return ts::XlsbRecord(2, head + ts::Le32(*rk));
      return ts::XlsbRecord(5, head + ts::F64(number));
    }
    case BenchCell::kShared:
      return ts::XlsbRecord(7, head + ts::Le32(c.index));
    case BenchCell::kBoolean:
      return ts::XlsbRecord(4, head + (c.text == "1" ? '\1' : '\0'));
    case BenchCell::kInline:
      return ts::XlsbRecord(6, head + ts::XlsbWide(cellverter::logical::Utf16Units(c.text)));
    case BenchCell::kProduct:  // =A{r}*2: PtgRef, PtgInt, PtgMul
      return ts::XlsbRecord(9, head + ts::F64(std::strtod(c.text.c_str(), nullptr)) +
                                   Formula(RefToA(row) + Int(2) + "\x05"));
    case BenchCell::kPrefixed:  // ="R"&A{r}: PtgStr, PtgRef, PtgConcat
      return ts::XlsbRecord(
          8, head + ts::XlsbWide(cellverter::logical::Utf16Units(c.text)) +
                 Formula("\x17" + ts::Le16(1) + ts::Le16('R') + RefToA(row) + "\x08"));
    case BenchCell::kDivision:  // =1/0: PtgInt, PtgInt, PtgDiv
      return ts::XlsbRecord(11, head + '\x07' + Formula(Int(1) + Int(0) + "\x06"));
    case BenchCell::kStyledEmpty:
      return ts::XlsbRecord(1, head);
  }
  return "";
}

const char* kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char* kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// The cells of row `r`, drawn from the generator in the order the columns come.
std::vector<BenchCell> DrawRow(long r, size_t poolSize) {
  std::vector<BenchCell> cells;
  char number[64];
  auto add = [&](int column, int style, BenchCell::Kind kind, std::string text) {
    cells.push_back({column, style, kind, std::move(text)});
  };
  const uint64_t x = Next();
  add(1, 0, BenchCell::kNumber, std::to_string(x % 100000));
  std::snprintf(number, sizeof number, "%.4f", static_cast<double>(x % 10000000) / 100.0);
  add(2, 1, BenchCell::kNumber, number);
  std::snprintf(number, sizeof number, "%.2f", static_cast<double>(x % 2000000) / 100.0 - 5000);
  add(3, 2, BenchCell::kNumber, number);
  std::snprintf(number, sizeof number, "%.5f", static_cast<double>(x % 100000) / 100000.0);
  add(4, 3, BenchCell::kNumber, number);
  std::snprintf(number, sizeof number, "%.6g", static_cast<double>(x % 999983) * 1.2345e7);
  add(5, 4, BenchCell::kNumber, number);
  add(6, 5, BenchCell::kNumber, std::to_string(36526 + x % 9000));
  std::snprintf(number, sizeof number, "%.8f", static_cast<double>(x % 86400) / 86400.0);
  add(7, 6, BenchCell::kNumber, number);
  std::snprintf(number, sizeof number, "%.6f", 40000 + static_cast<double>(x % 100000) / 7.0);
  add(8, 7, BenchCell::kNumber, number);
  add(9, 0, BenchCell::kShared, "");
  cells.back().index = static_cast<uint32_t>(poolSize + static_cast<size_t>(r) - 1);
  add(10, 0, BenchCell::kShared, "");
  cells.back().index = static_cast<uint32_t>(x % 10);
  add(11, 0, BenchCell::kShared, "");
  cells.back().index = static_cast<uint32_t>(x % poolSize);
  add(12, 0, BenchCell::kBoolean, (x & 1) ? "1" : "0");
  if (x % 3 != 0) add(13, 0, BenchCell::kNumber, std::to_string(x % 7));  // sometimes empty
  add(14, 0, BenchCell::kProduct, std::to_string(x % 100000 * 2));
  std::snprintf(number, sizeof number, "%.3f", static_cast<double>(x % 1000) / 8.0);
  add(15, 8, BenchCell::kNumber, number);
  add(16, 0, BenchCell::kInline, "inline " + std::to_string(x % 1000));
  add(17, 9, BenchCell::kNumber, std::to_string(x % 100000000));
  add(18, 0, BenchCell::kPrefixed, "R" + std::to_string(x % 100000));
  if (x % 50 == 0) {
    add(19, 0, BenchCell::kDivision, "");
  } else {
    std::snprintf(number, sizeof number, "%.15g", static_cast<double>(x % 1000003) / 3.0);
    add(19, 0, BenchCell::kNumber, number);
  }
  add(20, 5, BenchCell::kStyledEmpty, "");  // styled, empty
  return cells;
}

// The shared strings: a pool of recurring texts, one "Item" text per row, then the long
// strings; `put` receives each in order, and whether it is of the pool.
template <class Put>
void DrawSharedStrings(const std::vector<std::string>& pool, long rows, long longStrings,
                       long longString, Put put) {
  for (const std::string& s : pool) put(s, true);
  for (long r = 1; r <= rows; ++r) {
    put("Item " + std::to_string(r) + ", lot " + std::to_string(Next() % 10000), false);
  }
  for (long i = 0; i < longStrings; ++i) {
    std::string block;
    for (int c = 0; c < 100; ++c) block += static_cast<char>('a' + Next() % 26);
    std::string text;
    for (long c = 0; c < longString; c += 100) text += block;
    put(text, false);
  }
}

// The same workbook as .xlsb: the parts of an Excel binary workbook, records written with the
// test suite's helpers.
void WriteXlsb(ZipWriter& zip, const std::vector<std::string>& pool, long rows, long longStrings,
               long longString) {
  const std::string rel = std::string(kRel) + "/";
  zip.Part("[Content_Types].xml",
           "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Types "
           "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
           "<Default Extension=\"bin\" "
           "ContentType=\"application/vnd.ms-excel.sheet.binary.macroEnabled.main\"/>"
           "<Default Extension=\"rels\" "
           "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
           "<Override PartName=\"/xl/worksheets/sheet1.bin\" "
           "ContentType=\"application/vnd.ms-excel.worksheet\"/>"
           "<Override PartName=\"/xl/worksheets/sheet2.bin\" "
           "ContentType=\"application/vnd.ms-excel.worksheet\"/>"
           "<Override PartName=\"/xl/styles.bin\" ContentType=\"application/vnd.ms-excel.styles\"/>"
           "<Override PartName=\"/xl/sharedStrings.bin\" "
           "ContentType=\"application/vnd.ms-excel.sharedStrings\"/></Types>");
  zip.Part("_rels/.rels",
           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships "
           "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" Type=\"" +
               rel + "officeDocument\" Target=\"xl/workbook.bin\"/></Relationships>");
  auto sheet = [](uint32_t id, const std::u16string& relId, const std::u16string& name) {
    return ts::XlsbRecord(156,
                          ts::Le32(0) + ts::Le32(id) + ts::XlsbWide(relId) + ts::XlsbWide(name));
  };
  zip.Part("xl/workbook.bin",
           ts::XlsbRecord(131) +
               ts::XlsbRecord(153, ts::Le32(0) + ts::Le32(0) + ts::XlsbWide(u"")) +
               ts::XlsbRecord(143) + sheet(1, u"rId1", u"Data") + sheet(2, u"rId2", u"Notes") +
               ts::XlsbRecord(144) + ts::XlsbRecord(132));
  zip.Part("xl/_rels/workbook.bin.rels",
           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships "
           "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" Type=\"" +
               rel + "worksheet\" Target=\"worksheets/sheet1.bin\"/><Relationship Id=\"rId2\" " +
               "Type=\"" + rel + "worksheet\" Target=\"worksheets/sheet2.bin\"/>" +
               "<Relationship Id=\"rId3\" Type=\"" + rel +
               "styles\" Target=\"styles.bin\"/><Relationship Id=\"rId4\" Type=\"" + rel +
               "sharedStrings\" Target=\"sharedStrings.bin\"/></Relationships>");
  // The cell formats of the .xlsx, in the same order.
  std::string styles =
      ts::XlsbRecord(278) + ts::XlsbRecord(615, ts::Le32(2)) +
      ts::XlsbRecord(44, ts::XlsbPackage::XlsbFmt(164, u"\"$\"#,##0.00;[Red]\\-\"$\"#,##0.00")) +
      ts::XlsbRecord(44, ts::XlsbPackage::XlsbFmt(165, u"# ?/?")) + ts::XlsbRecord(616) +
      ts::XlsbRecord(626, ts::Le32(1)) + ts::XlsbRecord(47, ts::XlsbPackage::XlsbXf(0)) +
      ts::XlsbRecord(627) + ts::XlsbRecord(617, ts::Le32(10));
  for (uint16_t format : {0, 4, 164, 10, 11, 14, 21, 22, 165, 3}) {
    std::string xf = ts::XlsbPackage::XlsbXf(format);
    xf.replace(0, 2, ts::Le16(0));  // a cell format of the one cell style
    styles += ts::XlsbRecord(47, xf);
  }
  zip.Part("xl/styles.bin", styles + ts::XlsbRecord(618) + ts::XlsbRecord(279));

  const long shared = static_cast<long>(pool.size()) + rows + longStrings;
  zip.Begin("xl/sharedStrings.bin");
  std::string chunk = ts::XlsbRecord(
      159, ts::Le32(static_cast<uint32_t>(shared)) + ts::Le32(static_cast<uint32_t>(shared)));
  DrawSharedStrings(pool, rows, longStrings, longString, [&](const std::string& text, bool) {
    chunk += ts::XlsbRecord(
        19, ts::XlsbPackage::XlsbSharedString(cellverter::logical::Utf16Units(text)));
    if (chunk.size() > (1 << 20)) {
      zip.Add(chunk);
      chunk.clear();
    }
  });
  zip.Add(chunk + ts::XlsbRecord(160));
  zip.End();

  zip.Begin("xl/worksheets/sheet1.bin");
  chunk = ts::XlsbRecord(129) +
          ts::XlsbRecord(148, ts::Le32(0) + ts::Le32(static_cast<uint32_t>(rows - 1)) +
                                  ts::Le32(0) + ts::Le32(19)) +
          ts::XlsbRecord(145);
  for (long r = 1; r <= rows; ++r) {
    const uint32_t row = static_cast<uint32_t>(r - 1);
    chunk += ts::XlsbRow(row);
    for (const BenchCell& cell : DrawRow(r, pool.size())) chunk += RecordCell(cell, row);
    if (chunk.size() > (1 << 20)) {
      zip.Add(chunk);
      chunk.clear();
    }
  }
  zip.Add(chunk + ts::XlsbRecord(146) + ts::XlsbRecord(130));
  zip.End();
  zip.Part("xl/worksheets/sheet2.bin",
           ts::XlsbRecord(129) + ts::XlsbRecord(145) + ts::XlsbRow(0) +
               ts::XlsbRecord(2, ts::XlsbCellHead(0, 0) + ts::Le32((1u << 2) | 2)) +
               ts::XlsbRecord(146) + ts::XlsbRecord(130));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s ROWS OUT.xlsx|OUT.xlsb [STRING_MIB]\n", argv[0]);
    return 2;
  }
  const long rows = std::atol(argv[1]);
  constexpr long kLongString = 32000;
  const long longStrings = argc == 4 ? (std::atol(argv[3]) << 20) / kLongString : 0;
  const std::string out = argv[2];
  ZipWriter zip(argv[2]);

  // Shared strings: a pool of recurring texts, then one "Item" text per row.
  std::vector<std::string> pool = {"alpha, beta",  "say \"hi\"", "two\nlines",   "Привет, мир",
                                   "東京都渋谷区", "plain",      "Ünïcødé text", "100 %",
                                   "semi;colon",   "tab\there"};
  for (int i = 0; i < 990; ++i) pool.push_back("category " + std::to_string(i));
  if (out.size() > 5 && out.compare(out.size() - 5, 5, ".xlsb") == 0) {
    WriteXlsb(zip, pool, rows, longStrings, kLongString);
    zip.Finish();
    return 0;
  }
  const long shared = static_cast<long>(pool.size()) + rows + longStrings;
  zip.Part(
      "[Content_Types].xml",
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Types "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default "
      "Extension=\"rels\" ContentType=\"application/"
      "vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" "
      "ContentType=\"application/xml\"/><Override PartName=\"/xl/workbook.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
      "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
      "<Override PartName=\"/xl/worksheets/sheet2.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
      "<Override PartName=\"/xl/styles.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
      "<Override PartName=\"/xl/sharedStrings.xml\" "
      "ContentType=\"application/"
      "vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>"
      "</Types>");
  zip.Part("_rels/.rels",
           std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships "
                       "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"rId1\" Type=\"") +
               kRel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
  zip.Part("xl/workbook.xml",
           std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<workbook xmlns=\"") + kMain +
               "\" xmlns:r=\"" + kRel +
               "\"><sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/>"
               "<sheet name=\"Notes\" sheetId=\"2\" r:id=\"rId2\"/></sheets></workbook>");
  zip.Part("xl/_rels/workbook.xml.rels",
           std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships "
                       "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"rId1\" Type=\"") +
               kRel +
               "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" +
               kRel +
               "/worksheet\" Target=\"worksheets/sheet2.xml\"/><Relationship Id=\"rId3\" Type=\"" +
               kRel + "/styles\" Target=\"styles.xml\"/><Relationship Id=\"rId4\" Type=\"" + kRel +
               "/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>");
  // Cell formats: 0 General, 1 #,##0.00, 2 currency, 3 0.00%, 4 0.00E+00, 5 date (14),
  // 6 time (21), 7 date-time (22), 8 fraction, 9 integer with grouping (3).
  zip.Part(
      "xl/styles.xml",
      std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<styleSheet xmlns=\"") + kMain +
          "\"><numFmts count=\"2\"><numFmt numFmtId=\"164\" "
          "formatCode=\"&quot;$&quot;#,##0.00;[Red]\\-&quot;$&quot;#,##0.00\"/><numFmt "
          "numFmtId=\"165\" formatCode=\"# ?/?\"/></numFmts><cellXfs count=\"10\">"
          "<xf numFmtId=\"0\"/><xf numFmtId=\"4\"/><xf numFmtId=\"164\"/><xf numFmtId=\"10\"/>"
          "<xf numFmtId=\"11\"/><xf numFmtId=\"14\"/><xf numFmtId=\"21\"/><xf numFmtId=\"22\"/>"
          "<xf numFmtId=\"165\"/><xf numFmtId=\"3\"/></cellXfs></styleSheet>");

  zip.Begin("xl/sharedStrings.xml");
  zip.Add(std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<sst xmlns=\"") + kMain +
          "\" count=\"" + std::to_string(shared) + "\" uniqueCount=\"" + std::to_string(shared) +
          "\">");
  std::string chunk;
  DrawSharedStrings(
      pool, rows, longStrings, kLongString, [&](const std::string& text, bool pooled) {
        std::string escaped;
        for (char ch : text) escaped += ch == '"' ? std::string("&quot;") : std::string(1, ch);
        chunk += (pooled ? "<si><t xml:space=\"preserve\">" : "<si><t>") + escaped + "</t></si>";
        if (chunk.size() > (1 << 20)) {
          zip.Add(chunk);
          chunk.clear();
        }
      });
  zip.Add(chunk + "</sst>");
  zip.End();

  zip.Begin("xl/worksheets/sheet1.xml");
  zip.Add(
      std::string(
          "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<worksheet xmlns=\"") +
      kMain + "\" xmlns:r=\"" + kRel + "\"><dimension ref=\"A1:T" + std::to_string(rows) +
      "\"/><sheetData>");
  chunk.clear();
  for (long r = 1; r <= rows; ++r) {
    const std::string rs = std::to_string(r);
    chunk += "<row r=\"" + rs + "\" spans=\"1:20\">";
    for (const BenchCell& cell : DrawRow(r, pool.size())) chunk += XmlCell(cell, rs);
    chunk += "</row>";
    if (chunk.size() > (1 << 20)) {
      zip.Add(chunk);
      chunk.clear();
    }
  }
  zip.Add(chunk + "</sheetData></worksheet>");
  zip.End();
  zip.Part("xl/worksheets/sheet2.xml",
           std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<worksheet xmlns=\"") + kMain +
               "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData></worksheet>");
  zip.Finish();
  return 0;
}
