// Writes a large, reproducible .xlsx for the conversion benchmarks: one worksheet of N rows
// and 20 columns of mixed types and number formats (integers, decimals, currency, percent,
// scientific, dates, times, fractions, shared strings with commas, quotes, line feeds,
// Cyrillic and CJK, booleans, empty cells, formula results, inline strings, errors), plus a
// small second sheet. The sheet XML is deflated as it is generated, so any size fits in
// little memory.
//
//   make_large_xlsx ROWS OUT.xlsx [STRING_MIB]
//
// STRING_MIB adds that many MiB of long shared strings no cell uses (32,000 characters
// each, repetitive enough to deflate about 70 : 1): a small package whose strings table
// inflates to gigabytes, for the reader's memory bound.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

const char* kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char* kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s ROWS OUT.xlsx [STRING_MIB]\n", argv[0]);
    return 2;
  }
  const long rows = std::atol(argv[1]);
  constexpr long kLongString = 32000;
  const long longStrings = argc == 4 ? (std::atol(argv[3]) << 20) / kLongString : 0;
  ZipWriter zip(argv[2]);

  // Shared strings: a pool of recurring texts, then one "Item" text per row.
  std::vector<std::string> pool = {"alpha, beta",  "say \"hi\"", "two\nlines",   "Привет, мир",
                                   "東京都渋谷区", "plain",      "Ünïcødé text", "100 %",
                                   "semi;colon",   "tab\there"};
  for (int i = 0; i < 990; ++i) pool.push_back("category " + std::to_string(i));
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
  for (const std::string& s : pool) {
    std::string escaped;
    for (char ch : s) escaped += ch == '"' ? std::string("&quot;") : std::string(1, ch);
    chunk += "<si><t xml:space=\"preserve\">" + escaped + "</t></si>";
  }
  for (long r = 1; r <= rows; ++r) {
    chunk += "<si><t>Item " + std::to_string(r) + ", lot " + std::to_string(Next() % 10000) +
             "</t></si>";
    if (chunk.size() > (1 << 20)) {
      zip.Add(chunk);
      chunk.clear();
    }
  }
  for (long i = 0; i < longStrings; ++i) {
    std::string block;
    for (int c = 0; c < 100; ++c) block += static_cast<char>('a' + Next() % 26);
    chunk += "<si><t>";
    for (long c = 0; c < kLongString; c += 100) chunk += block;
    chunk += "</t></si>";
    if (chunk.size() > (1 << 20)) {
      zip.Add(chunk);
      chunk.clear();
    }
  }
  zip.Add(chunk + "</sst>");
  zip.End();

  zip.Begin("xl/worksheets/sheet1.xml");
  zip.Add(
      std::string(
          "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<worksheet xmlns=\"") +
      kMain + "\" xmlns:r=\"" + kRel + "\"><dimension ref=\"A1:T" + std::to_string(rows) +
      "\"/><sheetData>");
  chunk.clear();
  char number[64];
  for (long r = 1; r <= rows; ++r) {
    const std::string rs = std::to_string(r);
    chunk += "<row r=\"" + rs + "\" spans=\"1:20\">";
    auto cell = [&](int c, const char* attrs, const std::string& inner) {
      chunk += "<c r=\"" + ColumnName(c) + rs + "\"" + attrs + ">" + inner + "</c>";
    };
    const uint64_t x = Next();
    cell(1, "", "<v>" + std::to_string(x % 100000) + "</v>");
    std::snprintf(number, sizeof number, "%.4f", static_cast<double>(x % 10000000) / 100.0);
    cell(2, " s=\"1\"", std::string("<v>") + number + "</v>");
    std::snprintf(number, sizeof number, "%.2f", static_cast<double>(x % 2000000) / 100.0 - 5000);
    cell(3, " s=\"2\"", std::string("<v>") + number + "</v>");
    std::snprintf(number, sizeof number, "%.5f", static_cast<double>(x % 100000) / 100000.0);
    cell(4, " s=\"3\"", std::string("<v>") + number + "</v>");
    std::snprintf(number, sizeof number, "%.6g", static_cast<double>(x % 999983) * 1.2345e7);
    cell(5, " s=\"4\"", std::string("<v>") + number + "</v>");
    cell(6, " s=\"5\"", "<v>" + std::to_string(36526 + x % 9000) + "</v>");
    std::snprintf(number, sizeof number, "%.8f", static_cast<double>(x % 86400) / 86400.0);
    cell(7, " s=\"6\"", std::string("<v>") + number + "</v>");
    std::snprintf(number, sizeof number, "%.6f", 40000 + static_cast<double>(x % 100000) / 7.0);
    cell(8, " s=\"7\"", std::string("<v>") + number + "</v>");
    cell(9, " t=\"s\"", "<v>" + std::to_string(pool.size() + static_cast<size_t>(r) - 1) + "</v>");
    cell(10, " t=\"s\"", "<v>" + std::to_string(x % 10) + "</v>");
    cell(11, " t=\"s\"", "<v>" + std::to_string(x % pool.size()) + "</v>");
    cell(12, " t=\"b\"", (x & 1) ? "<v>1</v>" : "<v>0</v>");
    if (x % 3 != 0) cell(13, "", "<v>" + std::to_string(x % 7) + "</v>");  // sometimes empty
    cell(14, "", "<f>A" + rs + "*2</f><v>" + std::to_string(x % 100000 * 2) + "</v>");
    std::snprintf(number, sizeof number, "%.3f", static_cast<double>(x % 1000) / 8.0);
    cell(15, " s=\"8\"", std::string("<v>") + number + "</v>");
    cell(16, " t=\"inlineStr\"", "<is><t>inline " + std::to_string(x % 1000) + "</t></is>");
    cell(17, " s=\"9\"", "<v>" + std::to_string(x % 100000000) + "</v>");
    cell(18, " t=\"str\"",
         "<f>\"R\"&amp;A" + rs + "</f><v>R" + std::to_string(x % 100000) + "</v>");
    if (x % 50 == 0) {
      cell(19, " t=\"e\"", "<f>1/0</f><v>#DIV/0!</v>");
    } else {
      std::snprintf(number, sizeof number, "%.15g", static_cast<double>(x % 1000003) / 3.0);
      cell(19, "", std::string("<v>") + number + "</v>");
    }
    cell(20, " s=\"5\"", "");  // styled, empty
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
