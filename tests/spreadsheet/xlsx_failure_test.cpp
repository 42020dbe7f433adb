#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "../convert/bounded_child.h"
#include "platform/error.h"
#include "spreadsheet/container/compound_file.h"
#include "spreadsheet/container/workbook_file.h"
#include "spreadsheet/container/zip_archive.h"
#include "spreadsheet/workbook_source.h"
#include "spreadsheet/xls/xls_reader.h"
#include "spreadsheet/xlsx/xlsx_reader.h"
#include "temp_dir.h"
#include "xlsx_builder.h"

namespace cellverter {
namespace {

using testing_support::BuildZip;
using testing_support::kWorksheetStart;
using testing_support::Put16;
using testing_support::Put32;
using testing_support::RunInBoundedChild;
using testing_support::TempDir;
using testing_support::TestSheet;
using testing_support::TestWorkbook;
using testing_support::WriteBytes;

// A compound file whose directory holds one stream of the given name (MS-CFB, version 3).
std::string CompoundFileWithStream(const std::u16string& streamName) {
  std::string file;
  const unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  file.append(reinterpret_cast<const char*>(signature), 8);
  file.append(16, '\0');  // class id
  Put16(file, 0x3E);
  Put16(file, 3);
  Put16(file, 0xFFFE);
  Put16(file, 9);  // 512-byte sectors
  Put16(file, 6);
  file.append(6, '\0');
  Put32(file, 0);           // directory sectors (version 3: 0)
  Put32(file, 1);           // FAT sectors
  Put32(file, 1);           // first directory sector
  Put32(file, 0);           // transaction
  Put32(file, 4096);        // mini stream cutoff
  Put32(file, 0xFFFFFFFE);  // first mini FAT sector
  Put32(file, 0);
  Put32(file, 0xFFFFFFFE);  // first DIFAT sector
  Put32(file, 0);
  Put32(file, 0);  // DIFAT[0]: the FAT is sector 0
  while (file.size() < 512) Put32(file, 0xFFFFFFFF);
  // Sector 0: the FAT.
  Put32(file, 0xFFFFFFFD);
  Put32(file, 0xFFFFFFFE);
  while (file.size() < 1024) Put32(file, 0xFFFFFFFF);
  // Sector 1: the directory.
  auto entry = [&](const std::u16string& name, int type) {
    const size_t start = file.size();
    for (char16_t ch : name) Put16(file, ch);
    Put16(file, 0);
    file.resize(start + 64, '\0');
    Put16(file, static_cast<uint32_t>((name.size() + 1) * 2));
    file += static_cast<char>(type);
    file += '\1';
    Put32(file, 0xFFFFFFFF);
    Put32(file, 0xFFFFFFFF);
    Put32(file, type == 5 ? 1 : 0xFFFFFFFF);
    file.resize(start + 116, '\0');
    Put32(file, 0xFFFFFFFE);
    Put32(file, 0);
    Put32(file, 0);
  };
  entry(u"Root Entry", 5);
  entry(streamName, 2);
  while (file.size() < 1536) file += '\0';
  return file;
}

std::string WithoutPart(const std::string& part, TestWorkbook book = {}) {
  if (book.sheets.empty()) book.sheets = {{"<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"}};
  auto parts = book.Parts();
  parts.erase(part);
  return TestWorkbook::ZipParts(parts);
}

std::string WithSheet(const std::string& sheetXml) {
  TestWorkbook book;
  book.sheets = {{""}};
  auto parts = book.Parts();
  parts["xl/worksheets/sheet1.xml"] = sheetXml;
  return TestWorkbook::ZipParts(parts);
}

std::string WithSheetData(const std::string& sheetData) {
  TestWorkbook book;
  book.sheets = {{sheetData}};
  return book.Zip();
}

struct FailureCase {
  const char* name;
  std::function<void(const std::string& path)> make;
  std::string cause;  // what follows `Cannot open "<path>": `
  ErrorKind kind;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class XlsxFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(XlsxFailureTest, ThrowsAnErrorNamingTheFileAndTheCause) {
  const FailureCase& c = GetParam();
  TempDir dir;
  const std::string path = dir / "book.xlsx";
  c.make(path);
  try {
    OpenWorkbookSource(path);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open \"" + path + "\": " + c.cause);
    EXPECT_EQ(e.Kind(), c.kind);
  }
}

auto Bytes(std::function<std::string()> build) {
  return [build](const std::string& path) { WriteBytes(path, build()); };
}

// A sheet whose one cell has the reference `ref`, which names no cell.
FailureCase InvalidCellReference(const char* name, const std::string& ref) {
  return {name, Bytes([ref] {
            return WithSheetData("<row r=\"1\"><c r=\"" + ref + "\"><v>1</v></c></row>");
          }),
          "the file is damaged (a cell reference is invalid).", ErrorKind::kDamaged};
}

std::string ValidBook() { return WithSheetData("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"); }

INSTANTIATE_TEST_SUITE_P(
    Failures, XlsxFailureTest,
    testing::Values(
        FailureCase{"MissingFile", [](const std::string&) {}, "the file does not exist.",
                    ErrorKind::kNotFound},
        FailureCase{"Folder", [](const std::string& p) { std::filesystem::create_directory(p); },
                    "it is a folder, not a workbook.", ErrorKind::kNotAWorkbook},
        FailureCase{"EmptyFile", Bytes([] { return std::string(); }),
                    "it is not a workbook (the formats read are .xlsx, .xlsm, .xlsb, .xltx, .xltm, "
                    ".xls, .ods and .fods).",
                    ErrorKind::kNotAWorkbook},
        FailureCase{"TextFile", Bytes([] { return std::string("a,b\r\n1,2\r\n"); }),
                    "it is not a workbook (the formats read are .xlsx, .xlsm, .xlsb, .xltx, .xltm, "
                    ".xls, .ods and .fods).",
                    ErrorKind::kNotAWorkbook},
        FailureCase{"ZipOfSomethingElse", Bytes([] {
                      return BuildZip({{"notes.txt", "hello", true}});
                    }),
                    "it is not a workbook (the formats read are .xlsx, .xlsm, .xlsb, .xltx, .xltm, "
                    ".xls, .ods and .fods).",
                    ErrorKind::kNotAWorkbook},
        FailureCase{"WordDocument", Bytes([] {
                      TestWorkbook book;
                      book.sheets = {{""}};
                      auto parts = book.Parts();
                      parts["xl/workbook.xml"] = "<w:document xmlns:w=\"urn:w\"/>";
                      return TestWorkbook::ZipParts(parts);
                    }),
                    "it is not a workbook (the formats read are .xlsx, .xlsm, .xlsb, .xltx, .xltm, "
                    ".xls, .ods and .fods).",
                    ErrorKind::kNotAWorkbook},
        FailureCase{"PasswordProtected",
                    Bytes([] { return CompoundFileWithStream(u"EncryptedPackage"); }),
                    "the workbook is protected by a password.", ErrorKind::kPasswordProtected},
        FailureCase{"TruncatedZip", Bytes([] {
                      const std::string zip = ValidBook();
                      return zip.substr(0, zip.size() / 2);
                    }),
                    "the file is damaged (the zip directory is missing).", ErrorKind::kDamaged},
        FailureCase{"CorruptCompressedSheet", Bytes([] {
                      TestWorkbook book;
                      std::string data;
                      for (int r = 1; r <= 300; ++r) {
                        data += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" +
                                std::to_string(r) + "\"><v>" + std::to_string(r * 7919 % 1000) +
                                "</v></c></row>";
                      }
                      book.sheets = {{data}};
                      std::vector<testing_support::ZipPart> parts;
                      for (const auto& [name, part] : book.Parts()) {
                        parts.push_back({name, part, name == "xl/worksheets/sheet1.xml"});
                      }
                      std::string zip = BuildZip(parts);
                      // The only deflated entry: damage its middle.
                      const size_t at = zip.find("sheet1.xml") + 10 + 200;
                      for (size_t i = at; i < at + 40; ++i)
                        zip[i] = static_cast<char>(zip[i] ^ 0x5A);
                      return zip;
                    }),
                    "the file is damaged (a part fails its checksum).", ErrorKind::kDamaged},
        FailureCase{"MissingWorkbookPart", Bytes([] { return WithoutPart("xl/workbook.xml"); }),
                    "the file is damaged (the workbook part is missing).", ErrorKind::kDamaged},
        FailureCase{"MissingSheetPart",
                    Bytes([] { return WithoutPart("xl/worksheets/sheet1.xml"); }),
                    "the file is damaged (the part xl/worksheets/sheet1.xml is missing).",
                    ErrorKind::kDamaged},
        FailureCase{"NoWorksheet", Bytes([] {
                      TestWorkbook book;
                      book.sheets = {TestSheet{"", "chartsheet"}, TestSheet{"", "dialogsheet"}};
                      return book.Zip();
                    }),
                    "the workbook holds no worksheet.", ErrorKind::kNoSuchSheet},
        FailureCase{
            "DurationInYearsAndMonths", Bytes([] {
              return WithSheetData("<row r=\"1\"><c r=\"A1\" t=\"d\"><v>P1Y2M</v></c></row>");
            }),
            "the file is damaged (a date cell holds no ISO 8601 date).", ErrorKind::kDamaged},
        FailureCase{"MismatchedTags", Bytes([] { return WithSheetData("<row r=\"1\"><c></row>"); }),
                    "the file is damaged (the sheet XML is malformed: mismatched end tag).",
                    ErrorKind::kDamaged},
        FailureCase{"SheetEndsEarly", Bytes([] {
                      return WithSheet(kWorksheetStart +
                                       "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v>");
                    }),
                    "the file is damaged (the sheet XML is malformed: the part ends inside an "
                    "element).",
                    ErrorKind::kDamaged},
        FailureCase{"DocumentTypeDeclaration", Bytes([] {
                      return WithSheet(
                          "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaa\">]>"
                          "<worksheet><sheetData/></worksheet>");
                    }),
                    "the file is damaged (the sheet XML is malformed: a document type "
                    "declaration or unknown markup).",
                    ErrorKind::kDamaged},
        FailureCase{
            "UnknownEntity", Bytes([] {
              return WithSheetData(
                  "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>&bomb;</t></is></c></row>");
            }),
            "the file is damaged (the sheet XML is malformed: an unknown entity).",
            ErrorKind::kDamaged},
        FailureCase{"WorksheetOutsideTheSpreadsheetNamespace",
                    Bytes([] { return WithSheet("<worksheet><sheetData/></worksheet>"); }),
                    "the file is damaged (the first worksheet's part is not a worksheet).",
                    ErrorKind::kDamaged},
        FailureCase{"UndeclaredPrefix", Bytes([] { return WithSheetData("<x:row r=\"1\"/>"); }),
                    "the file is damaged (the sheet XML is malformed: an undeclared namespace "
                    "prefix).",
                    ErrorKind::kDamaged},
        FailureCase{"TableWithoutItsPart", Bytes([] {
                      TestWorkbook book;
                      book.sheets = {{""}};
                      book.sheets[0].afterData =
                          "<tableParts count=\"1\"><tablePart r:id=\"rId7\"/></tableParts>";
                      return book.Zip();
                    }),
                    "the file is damaged (a table has no part).", ErrorKind::kDamaged},
        FailureCase{"CommentWithoutACell", Bytes([] {
                      TestWorkbook book;
                      book.sheets = {{""}};
                      book.sheets[0].related = {
                          {"comments", "xl/comments1.xml",
                           "<comments xmlns=\"" + testing_support::kMainNamespace +
                               "\"><commentList><comment ref=\"B\"/></commentList></comments>"}};
                      return book.Zip();
                    }),
                    "the file is damaged (a comment's cell reference is invalid).",
                    ErrorKind::kDamaged},
        FailureCase{"DeepNesting", Bytes([] {
                      std::string deep;
                      for (int i = 0; i < 300; ++i) deep += "<x>";
                      for (int i = 0; i < 300; ++i) deep += "</x>";
                      return WithSheet(kWorksheetStart + deep + "</worksheet>");
                    }),
                    "the file is damaged (the sheet XML is malformed: elements are nested too "
                    "deeply).",
                    ErrorKind::kDamaged},
        FailureCase{"RowRepeatingALongSharedString", Bytes([] {
                      // 70 references to one 1 MB string: 70 MB of text for one row.
                      TestWorkbook book;
                      book.sharedStrings = {"<t>" + std::string(1000000, 'x') + "</t>"};
                      std::string row = "<row r=\"1\">";
                      for (int c = 0; c < 70; ++c) row += "<c t=\"s\"><v>0</v></c>";
                      book.sheets = {{row + "</row>"}};
                      return book.Zip();
                    }),
                    "the file is damaged (a row holds too much text).", ErrorKind::kDamaged},
        FailureCase{"RowRepeatingLongTextsInOnePlace", Bytes([] {
                      // 35 texts of 1 MB given in one place, then 33 references to a 1 MB
                      // shared string: 68 MB of text for one row, though one text stands.
                      TestWorkbook book;
                      book.sharedStrings = {"<t>" + std::string(1000000, 'x') + "</t>"};
                      // Letters that do not compress far: the package passes its ratio bound.
                      std::string text(1000000, 'y');
                      uint32_t state = 1;
                      for (char& c : text) {
                        state = state * 1103515245u + 12345u;
                        c = static_cast<char>('a' + (state >> 16) % 26);
                      }
                      std::string row = "<row r=\"1\">";
                      for (int i = 0; i < 35; ++i) {
                        row += "<c r=\"A1\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
                      }
                      for (int c = 0; c < 33; ++c) row += "<c t=\"s\"><v>0</v></c>";
                      book.sheets = {{row + "</row>"}};
                      return book.Zip();
                    }),
                    "the file is damaged (a row holds too much text).", ErrorKind::kDamaged},
        InvalidCellReference("CellBeyondTheLastColumn", "XFE1"),
        InvalidCellReference("CellBeyondTheLastRow", "A1048577"),
        InvalidCellReference("CellInRowZero", "A00"),
        InvalidCellReference("CellReferenceWithLettersAfterItsRow", "A1B"),
        InvalidCellReference("CellReferenceWithoutColumn", "12"),
        FailureCase{"RowBeyondTheLastRow",
                    Bytes([] { return WithSheetData("<row r=\"1048577\"><c><v>1</v></c></row>"); }),
                    "the file is damaged (a row lies beyond the last row).", ErrorKind::kDamaged},
        FailureCase{"NumberCellWithText", Bytes([] {
                      return WithSheetData("<row r=\"1\"><c r=\"A1\"><v>abc</v></c></row>");
                    }),
                    "the file is damaged (a number cell holds no number).", ErrorKind::kDamaged},
        FailureCase{"ZipBomb", Bytes([] {
                      // 24 MiB of blanks inside the sheet data deflate about 1000 : 1.
                      return WithSheetData(std::string(24 << 20, ' '));
                    }),
                    "the file is damaged (a part is compressed beyond any real workbook).",
                    ErrorKind::kDamaged},
        FailureCase{"TooManyMergedAreas", Bytes([] {
                      TestWorkbook book;
                      TestSheet sheet("");
                      sheet.afterData = "<mergeCells>";
                      for (size_t i = 0; i <= kMaxMergedAreas; ++i) {
                        sheet.afterData += "<mergeCell ref=\"A1:B1\"/>";
                      }
                      sheet.afterData += "</mergeCells>";
                      book.sheets = {sheet};
                      return book.Zip();
                    }),
                    "the file is damaged (there are too many merged areas).", ErrorKind::kDamaged}),
    [](const testing::TestParamInfo<FailureCase>& p) { return std::string(p.param.name); });

// A FIFO, socket or device named like a workbook is refused by every place that opens a
// workbook, without waiting: opening a FIFO that has no writer used to block for ever.
TEST(NonRegularFileTest, EveryOpenerRefusesWithoutBlocking) {
  TempDir dir;
  const std::string fifo = dir / "fifo.xlsx";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_symlink(fifo, dir / "fifolink.xls");
  std::filesystem::create_symlink("/dev/zero", dir / "device.xlsx");
  const std::string socketPath = dir / "socket.xls";
  const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(socket, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> openers = {
      {"dispatcher", [](const std::string& p) { OpenWorkbookSource(p); }},
      {"xlsx", [](const std::string& p) { OpenXlsxSource(p); }},
      {"xls", [](const std::string& p) { OpenXlsSource(p); }},
      {"compound file", [](const std::string& p) { CompoundFile file(p); }},
  };
  for (const std::string name : {"fifo.xlsx", "fifolink.xls", "device.xlsx", "socket.xls"}) {
    for (const auto& [opener, open] : openers) {
      const std::string path = dir / name;
      const std::string message = RunInBoundedChild([&] {
        try {
          open(path);
        } catch (const Error& e) {
          return std::string(e.what());
        }
        return std::string("no error");
      });
      EXPECT_EQ(message, "Cannot open \"" + path +
                             "\": it is not a workbook (the formats read are .xlsx, .xlsm, .xlsb, "
                             ".xltx, .xltm, .xls, .ods and .fods).")
          << opener << " on " << name;
    }
  }
  ::close(socket);
}

}  // namespace
}  // namespace cellverter

namespace cellverter {
namespace {

// A zip package is told by what it says it holds, never by its name: every kind of Excel
// workbook opens, whatever it is called; a document or a presentation is not a workbook.
TEST(PackageKindTest, OpensAPackageByTheContentTypeOfItsMainPart) {
  struct Case {
    const char* mainType;  // "" for a package that names none
    bool opens;
  };
  const Case cases[] = {
      {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml", true},
      {"application/vnd.ms-excel.sheet.macroEnabled.main+xml", true},
      {"application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml", true},
      {"application/vnd.ms-excel.template.macroEnabled.main+xml", true},
      {"", true},
      {"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml", false},
      {"application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml", false},
  };
  TempDir dir;
  for (const Case& c : cases) {
    TestWorkbook book;
    book.sheets = {{"<row r=\"1\"><c r=\"A1\"><v>7</v></c></row>"}};
    auto parts = book.Parts();
    if (*c.mainType != '\0') {
      std::string& types = parts["[Content_Types].xml"];
      types.insert(types.find("</Types>"),
                   std::string("<Override PartName=\"/xl/workbook.xml\" ContentType='") +
                       c.mainType + "'/>");
    }
    const std::string path = dir / "book.bin";  // no name of a workbook
    WriteBytes(path, TestWorkbook::ZipParts(parts));
    try {
      auto sheet = OpenWorkbookSource(path);
      EXPECT_TRUE(c.opens) << c.mainType;
      EXPECT_EQ(sheet->LastRow(), 1u) << c.mainType;
    } catch (const Error& e) {
      EXPECT_FALSE(c.opens) << c.mainType << ": " << e.what();
      EXPECT_EQ(e.Kind(), ErrorKind::kNotAWorkbook) << c.mainType;
    }
  }
}

// Another OpenDocument package than a spreadsheet is no workbook either.
TEST(PackageKindTest, AnOpenDocumentTextIsNotAWorkbook) {
  TempDir dir;
  const std::string path = dir / "letter.odt";
  WriteBytes(path, BuildZip({{"mimetype", "application/vnd.oasis.opendocument.text", false},
                             {"content.xml", "<office:document-content/>", true}}));
  try {
    OpenWorkbookSource(path);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::kNotAWorkbook) << e.what();
  }
}

}  // namespace
}  // namespace cellverter

namespace cellverter {
namespace {

// Deflates `data` with its first `flushAt` bytes ending on a byte boundary (a full flush), so
// that a test can put a block of its own after them.
std::string DeflatedInTwo(const std::string& data, size_t flushAt) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 64, '\0');
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(flushAt);
  deflate(&z, Z_FULL_FLUSH);
  z.avail_in = static_cast<uInt>(data.size() - flushAt);
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Every way a compressed part can be broken, early or after much of it was handed out, ends
// in the same error, whichever inflater read it first.
TEST(InflateTest, ABrokenStreamIsDamageWhereverItBreaks) {
  std::string data;
  for (int i = 0; data.size() < 700000; ++i) data += "<row r=\"" + std::to_string(i) + "\"/>";
  const size_t half = data.size() / 2;
  const std::string whole = DeflatedInTwo(data, half);
  // After the full flush the stream is byte-aligned: its empty stored block ends in 00 00 FF FF.
  const size_t cut = whole.find(std::string("\0\0\xFF\xFF", 4)) + 4;
  ASSERT_LT(cut, whole.size());
  struct Case {
    const char* name;
    std::string deflated;
    const char* cause;  // "" when the part reads back whole
  };
  const Case cases[] = {
      {"Whole", whole, ""},
      // A final block of the reserved type 3.
      {"BadBlockFirst", "\x07", "a compressed part is corrupt"},
      {"BadBlockAfterHalf", whole.substr(0, cut) + "\x07", "a compressed part is corrupt"},
      {"CutAfterHalf", whole.substr(0, cut), "a compressed part ends too early"},
      {"CutShort", whole.substr(0, 100), "a compressed part ends too early"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir / (std::string(c.name) + ".zip");
    WriteBytes(path, BuildZip({{"part.xml", data, true, c.deflated}}));
    ZipArchive zip(OpenWorkbookFile(path));
    std::string read;
    std::string error;
    try {
      auto stream = zip.Open(*zip.Find("part.xml"));
      char buffer[64 * 1024];
      while (const size_t n = stream->Read(buffer, sizeof buffer)) read.append(buffer, n);
    } catch (const WorkbookDamaged& e) {
      error = e.what();
    }
    if (*c.cause == '\0') {
      EXPECT_EQ(error, "") << c.name;
      EXPECT_TRUE(read == data) << c.name;
    } else {
      EXPECT_EQ(error, std::string("the file is damaged (") + c.cause + ")") << c.name;
      EXPECT_TRUE(data.starts_with(read)) << c.name;
    }
  }
}

// A part whose last input chunk inflates to more than one read takes (a run of one byte
// compresses a thousandfold) is read to its end, not taken as cut off.
TEST(InflateTest, ALastChunkInflatingBeyondOneReadIsReadWhole) {
  const std::string data(3 << 20, 'p');
  TempDir dir;
  const std::string path = dir / "run.zip";
  WriteBytes(path, BuildZip({{"part.xml", data, true, DeflatedInTwo(data, 10)}}));
  ZipArchive zip(OpenWorkbookFile(path));
  auto stream = zip.Open(*zip.Find("part.xml"));
  std::string read;
  char buffer[64 * 1024];
  while (const size_t n = stream->Read(buffer, sizeof buffer)) read.append(buffer, n);
  EXPECT_TRUE(read == data);
}

}  // namespace
}  // namespace cellverter
