// Writes the .xls workbooks of the benchmarks and the fuzz seeds:
//   make_xls_bench_file FILE [ROWS [reversed]]
//                                     a first worksheet of ROWS (65,535) rows x 20 columns
//                                     of mixed cells, as BIFF8 in a compound file; with
//                                     "reversed" the rows are written last to first
//   make_xls_bench_file --seeds DIR   small workbooks that start the fuzzer on every record
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "xls_test_files.h"

using namespace cellverter::testing_support;

namespace {

void Save(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Twenty columns in repeating kinds: shared strings (unique and repeated), RK integers,
// doubles, dates, percentages, booleans, errors, number and text formula results.
std::string BenchWorkbook(uint32_t rows, bool reversed) {
  std::vector<std::string> strings;
  for (uint32_t r = 0; r < rows; ++r) strings.push_back(Compressed("Item " + std::to_string(r)));
  const uint32_t categories = static_cast<uint32_t>(strings.size());
  for (const char* c : {"North", "South", "East", "West", "Zentrale Süd", "Ελλάδα"}) {
    std::string s = c;
    if (s[0] == '\xCE') {
      strings.push_back(Utf16(u"Ελλάδα"));
    } else if (s.find('\xC3') != std::string::npos) {
      strings.push_back(
          Compressed("Zentrale S\xFC"
                     "d"));
    } else {
      strings.push_back(Compressed(s));
    }
  }
  // SST split into CONTINUE records of at most 8224 bytes, strings never split.
  std::string sst;
  std::string data =
      Le32(static_cast<uint32_t>(strings.size())) + Le32(static_cast<uint32_t>(strings.size()));
  bool first = true;
  for (const std::string& s : strings) {
    if (data.size() + s.size() > 8224) {
      sst += Record(first ? 0x00FC : 0x003C, data);
      first = false;
      data.clear();
    }
    data += s;
  }
  sst += Record(first ? 0x00FC : 0x003C, data);

  const std::string globals =
      Format8(164, "yyyy-mm-dd") + Format8(165, "0.0%") + Xf(0) + Xf(164) + Xf(165) + Xf(4) + sst;
  std::string cells;
  cells.reserve(static_cast<size_t>(rows) * 20 * 19);
  for (uint32_t i = 0; i < rows; ++i) {
    const uint32_t r = reversed ? rows - 1 - i : i;
    const uint16_t row = static_cast<uint16_t>(r);
    for (uint16_t block = 0; block < 20; block += 10) {
      cells += LabelSst(row, block + 0, block ? categories + r % 6 : r);
      cells += Rk(row, block + 1, (r * 7 % 100000) << 2 | 2);
      cells += Number(row, block + 2, r * 1.25 + 0.333);
      cells += Number(row, block + 3, 36526 + r % 9000, 1);
      cells += Number(row, block + 4, (r % 1000) / 1000.0, 2);
      cells += BoolErr(row, block + 5, r % 2, false);
      cells += Formula(row, block + 6, F64(r * 2.0));
      cells += Formula(row, block + 7, FormulaSpecial(0, 0)) +
               Record(0x0207, Compressed("f" + std::to_string(r)));
      cells += Number(row, block + 8, -1234567.891 + r, 3);
      cells += r % 50 ? Rk(row, block + 9, 0x3FF80000) : BoolErr(row, block + 9, 0x07, true);
    }
  }
  return WriteCompoundFile({{"Workbook", WorkbookStream(globals, {{0, 0x10, 0, cells}})}}).bytes;
}

void Seeds(const std::string& dir) {
  // Four strings; the third goes on in a CONTINUE record with two-byte characters.
  const std::string strings =
      Record(0x00FC, Le32(4) + Le32(4) + Compressed("plain") + Le16(3) + '\x0C' + Le16(1) +
                         Le32(4) + "ric" + std::string(8, 'x') + Le16(3) + '\0' + "a") +
      Record(0x003C, '\1' + Le16(u'ω') + Le16(u'z') + Utf16(u"ünï"));
  const std::string globals =
      Record(0x0022, Le16(1)) + Format8(164, "0.00E+00") + Xf(0) + Xf(164) + strings;
  const std::string cells =
      Number(0, 0, 1.5) + Rk(0, 1, 5u << 2 | 2) +
      Record(0x00BD, Le16(1) + Le16(0) + Le16(1) + Le32(0x3FF80000) + Le16(0) + Le32(3) + Le16(1)) +
      LabelSst(2, 0, 0) + LabelSst(2, 1, 1) + LabelSst(2, 2, 2) + LabelSst(2, 3, 3) +
      Record(0x0204, CellHead(3, 0, 0) + Utf16(u"label")) + BoolErr(3, 1, 1, false) +
      BoolErr(3, 2, 0x2A, true) + Blank(4, 0) +
      Record(0x00BE, Le16(4) + Le16(1) + Le16(1) + Le16(1) + Le16(2)) + Formula(5, 0, F64(2)) +
      Formula(5, 1, FormulaSpecial(0, 0)) + Record(0x04BC, std::string(10, '\0')) +
      Record(0x0207, Le16(4) + '\0' + "te") + Record(0x003C, '\1' + Le16(u'χ') + Le16(u't')) +
      Formula(5, 2, FormulaSpecial(1, 1)) + Formula(5, 3, FormulaSpecial(3, 0)) + Bof(0x0020) +
      Number(0, 0, 9) + Eof() + Number(1, 4, 7);
  const SheetSpec chart{2, 0x20, 0, Number(0, 0, 1)};
  Save(dir + "/all-records.xls",
       WriteCompoundFile(
           {{"Workbook", WorkbookStream(globals, {chart, {0, 0x10, 1, WsBool(false) + cells}})}})
           .bytes);
  Save(dir + "/sectors-4096.xls",
       WriteCompoundFile({{"Workbook", WorkbookStream(globals, {{0, 0x10, 0, cells}})}}, 12).bytes);
  Save(dir + "/rows-out-of-order.xls",
       WriteCompoundFile(
           {{"Workbook", WorkbookStream("", {{0, 0x10, 0,
                                              Number(3, 1, 1) + Number(0, 2, 2) + Number(3, 0, 3) +
                                                  Number(0, 2, 4)}})}})
           .bytes);
  Save(dir + "/biff5-cp1251.xls",
       WriteCompoundFile(
           {{"Book",
             WorkbookStream(
                 Record(0x0042, Le16(1251)) + Record(0x041E, Le16(164) + '\x03' + "0.0") +
                     Record(0x00E0, Le16(0) + Le16(164) + std::string(12, '\0')),
                 {{0, 0x10, 0,
                   Record(0x0204, CellHead(0, 0, 0) + Le16(3) + "\xCF\xF0\xE8") +
                       Formula(0, 1, FormulaSpecial(0, 0)) + Record(0x0207, Le16(2) + "\xE4\xE0")}},
                 false)}})
           .bytes);
  Save(dir + "/dialog-then-sheet.xls",
       WriteCompoundFile(
           {{"Workbook", WorkbookStream("", {{0, 0x10, 0, WsBool(true) + Number(0, 0, 1)},
                                             {0, 0x10, 0, Number(1, 1, 2)}})}})
           .bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--seeds") {
    Seeds(argv[2]);
    return 0;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_xls_bench_file FILE [ROWS] | --seeds DIR\n");
    return 2;
  }
  const uint32_t rows = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 65535;
  Save(argv[1], BenchWorkbook(rows, argc > 3 && std::string(argv[3]) == "reversed"));
  return 0;
}
