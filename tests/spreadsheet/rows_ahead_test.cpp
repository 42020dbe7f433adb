// Large sheets have their rows read and rendered ahead on a second thread: what the automation
// members serve must not change by it, whichever order the cells are asked in and whatever the
// source throws.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "logical_workbook.h"
#include "platform/error.h"
#include "spreadsheet/automation.h"
#include "spreadsheet/numfmt/number_format.h"
#include "temp_dir.h"
#include "xls_test_files.h"

namespace cellverter {
namespace {

namespace ts = testing_support;
using namespace logical;

// Well above the count from which rows are read ahead.
constexpr uint32_t kRows = 2100;
constexpr uint32_t kColumns = 12;

// Every kind of cell and format, with a gap of rows and columns without cells.
LogicalWorkbook LargeWorkbook() {
  // Formats every writer can store; the dates and times take positive values only.
  static const char* const kFormats[] = {"",          "#,##0.00",         "0%",
                                         "0.0;(0.0)", "yyyy-mm-dd hh:mm", "hh:mm"};
  std::vector<LogicalCell> cells;
  for (uint32_t r = 1; r <= kRows; ++r) {
    if (r % 97 == 0) continue;  // rows the sheet does not hold
    for (uint32_t c = 1; c <= kColumns; ++c) {
      if ((r + c) % 23 == 0) continue;
      const uint32_t k = (r * 7 + c) % 10;
      if (k < 5) {
        const uint32_t format = (r + c) % 6;
        const double value = r * 137.25 + c / 8.0;
        cells.push_back(Num(r, c, format < 4 && c % 2 == 0 ? -value : value, kFormats[format]));
      } else if (k == 5) {
        cells.push_back(Text(r, c, "shared " + std::to_string(r % 50)));
      } else if (k == 6) {
        cells.push_back(Text(r, c, "own " + std::to_string(r) + "," + std::to_string(c), false));
      } else if (k == 7) {
        cells.push_back(Bool(r, c, (r & 1) != 0));
      } else if (k == 8) {
        cells.push_back(Err(r, c, "#DIV/0!"));
      } else {
        cells.push_back(StyledBlank(r, c));
      }
    }
  }
  return LogicalWorkbook{{Worksheet(std::move(cells))}};
}

// The displayed text of each cell, rendered on its own, row by row.
std::vector<std::vector<std::string>> ExpectedTexts(const LogicalWorkbook& book) {
  std::vector<std::vector<std::string>> texts(kRows + 1, std::vector<std::string>(kColumns + 1));
  for (const LogicalCell& cell : book.sheets[0].cells) {
    if (cell.value.kind == CellValue::Kind::Empty) continue;
    texts[cell.row][cell.column] = FormatCellText(
        cell.value, cell.format.empty() ? "General" : cell.format, false, FormatLocale::User());
  }
  return texts;
}

enum class Format { Xlsx, Xls, Xlsb, Ods };

std::string Write(Format format, const LogicalWorkbook& book) {
  switch (format) {
    case Format::Xlsx:
      return WriteXlsx(book);
    case Format::Xls:
      return WriteXls(book);
    case Format::Xlsb:
      return WriteXlsb(book);
    case Format::Ods:
      return WriteOds(book);
  }
  return "";
}

class RowsAheadFormat : public testing::TestWithParam<Format> {};

TEST_P(RowsAheadFormat, ServesWhatEachCellShowsInAnyOrderOfReading) {
  const LogicalWorkbook book = LargeWorkbook();
  const auto expected = ExpectedTexts(book);
  ts::TempDir dir;
  const std::string path = dir / "large.bin";
  ts::WriteBytes(path, Write(GetParam(), book));

  auto excel = CreateAutomationObject("Excel.Application");
  ExcelWorksheet& sheet = excel->Workbooks().Open(path, false, true).Worksheets(1);
  ASSERT_EQ(sheet.UsedRange().SpecialCells(kXlCellTypeLastCell).Row(), static_cast<int>(kRows));
  // The cells with a value among columns [first, last] of rows [row, lastRow].
  std::vector<std::vector<uint32_t>> valueColumns(kRows + 1);
  for (const LogicalCell& cell : book.sheets[0].cells) {
    if (cell.value.kind != CellValue::Kind::Empty) valueColumns[cell.row].push_back(cell.column);
  }
  auto expectedCount = [&](uint32_t row, uint32_t lastRow, uint32_t first, uint32_t last) {
    uint64_t count = 0;
    for (uint32_t r = row; r <= lastRow; ++r) {
      for (const uint32_t column : valueColumns[r]) count += column >= first && column <= last;
    }
    return count;
  };
  auto countA = [&](uint32_t row, uint32_t lastRow, uint32_t first, uint32_t last) {
    return excel->WorksheetFunction().CountA(
        sheet.Range(sheet.Cells(static_cast<int>(row), static_cast<int>(first)),
                    sheet.Cells(static_cast<int>(lastRow), static_cast<int>(last))));
  };
  auto readRows = [&](uint32_t first, uint32_t last) {
    for (uint32_t r = first; r <= last; ++r) {
      // A rendered row counts its values once; a range that leaves out some of its cells
      // still counts only those within.
      for (const auto& [from, to] : {std::pair<uint32_t, uint32_t>{1, kColumns},
                                     {1, kColumns + 5},
                                     {2, kColumns - 1},
                                     {kColumns / 2, kColumns / 2},
                                     {kColumns + 1, kColumns + 3}}) {
        ASSERT_EQ(countA(r, r, from, to), expectedCount(r, r, from, to))
            << "row " << r << " columns " << from << " to " << to;
      }
      // Every third row right to left: each cell is found back from the one after it.
      for (uint32_t k = 1; k <= kColumns; ++k) {
        const uint32_t c = r % 3 == 0 ? kColumns + 1 - k : k;
        ASSERT_EQ(sheet.Cells(static_cast<int>(r), static_cast<int>(c)).Text(), expected[r][c])
            << "row " << r << " column " << c;
      }
    }
  };
  readRows(1, kRows);
  // A row's texts at once, of some of its columns and of columns past its cells: from the
  // top again (the rows are read afresh), and then two rows back.
  const std::vector<int> columns = {1, 2, 4, 5, 9, static_cast<int>(kColumns), kColumns + 2};
  std::vector<std::string> texts(columns.size(), "left over");
  auto rowTexts = [&](uint32_t r) {
    sheet.RowTexts(static_cast<int>(r), columns, texts);
    for (size_t i = 0; i < columns.size(); ++i) {
      const auto c = static_cast<uint32_t>(columns[i]);
      ASSERT_EQ(texts[i], c <= kColumns ? expected[r][c] : "") << "row " << r << " column " << c;
    }
  };
  for (uint32_t r = 1; r <= kRows; ++r) rowTexts(r);
  rowTexts(kRows - 2);
  EXPECT_THROW(sheet.RowTexts(3, std::vector<int>{1, 0}, texts), Error);
  // Back up (the trim option reads the rows twice), then a jump forward and back again.
  readRows(3, 700);
  readRows(1500, 1510);
  readRows(40, 41);
  // Values rather than texts: the rows go on coming, without their texts.
  for (uint32_t r = 1; r <= kRows; ++r) {
    const ExcelValue value = sheet.Cells(static_cast<int>(r), 1).Value();
    const bool text = value.type == ExcelValue::Type::kString;
    EXPECT_EQ(text ? value.text : "", text ? expected[r][1] : "") << "row " << r;
  }
  // Both, row by row from the top: the rows come without their texts, which the reader
  // renders itself.
  for (uint32_t r = 1; r <= kRows; ++r) {
    sheet.Cells(static_cast<int>(r), 2).Value();
    for (uint32_t c = 1; c <= kColumns; ++c) {
      ASSERT_EQ(sheet.Cells(static_cast<int>(r), static_cast<int>(c)).Text(), expected[r][c])
          << "row " << r << " column " << c;
    }
  }
  EXPECT_EQ(countA(90, 110, 2, kColumns), expectedCount(90, 110, 2, kColumns));
  EXPECT_EQ(sheet.Cells(2, 3).Text(), expected[2][3]);  // texts again, of an earlier row
  EXPECT_EQ(sheet.Cells(kRows, 3).Text(), expected[kRows][3]);
  excel->Quit();
}

// Opening another sheet, or quitting, in the middle of a sheet ends the reading of its rows;
// the sheet reads whole again later.
TEST_P(RowsAheadFormat, LeavingASheetInTheMiddleEndsItsReading) {
  LogicalWorkbook book = LargeWorkbook();
  book.sheets.push_back(book.sheets[0]);
  book.sheets[1].name = "Second";
  const auto expected = ExpectedTexts(book);
  ts::TempDir dir;
  const std::string path = dir / "two.bin";
  ts::WriteBytes(path, Write(GetParam(), book));
  for (const int stopAt : {1, 300, 1200}) {
    auto excel = CreateAutomationObject("Excel.Application");
    ExcelWorkbook& workbook = excel->Workbooks().Open(path, false, true);
    auto readColumn = [&](ExcelWorksheet& sheet, int last, int column) {
      for (int r = 1; r <= last; ++r) {
        ASSERT_EQ(sheet.Cells(r, column).Text(), expected[static_cast<size_t>(r)][column])
            << "row " << r;
      }
    };
    readColumn(workbook.Worksheets(1), stopAt, 2);
    readColumn(workbook.Worksheets(2), static_cast<int>(kRows), 5);
    readColumn(workbook.Worksheets(1), static_cast<int>(kRows), 7);
    readColumn(workbook.Worksheets(2), stopAt, 3);
    EXPECT_TRUE(workbook.Repairs().empty());
    excel->Quit();
  }
}

std::string FormatName(const testing::TestParamInfo<Format>& format) {
  const char* const names[] = {"Xlsx", "Xls", "Xlsb", "Ods"};
  return names[static_cast<int>(format.param)];
}

INSTANTIATE_TEST_SUITE_P(EveryReader, RowsAheadFormat,
                         testing::Values(Format::Xlsx, Format::Xls, Format::Xlsb, Format::Ods),
                         FormatName);

// A cell record too short to hold its number passes the sheet's first scan and fails only
// when its row is read: the rows before it are served, then the failure of that row.
TEST(RowsAhead, AFailureOfTheSourceComesAtItsRowAfterTheRowsBefore) {
  constexpr uint16_t kBrokenRow = 1800;
  std::string records;
  for (uint16_t r = 0; r < kRows; ++r) {
    for (uint16_t c = 0; c < kColumns; ++c) {
      records += r == kBrokenRow - 1 && c == 4
                     ? ts::Record(0x0203, ts::CellHead(r, c, 0) + std::string(4, '\0'))
                     : ts::Number(r, c, r * 100.0 + c);
    }
  }
  ts::SheetSpec sheet;
  sheet.records = records;
  ts::TempDir dir;
  const std::string path = dir / "broken.xls";
  ts::WriteBytes(path, ts::WriteCompoundFile(
                           {{"Workbook", ts::WorkbookStream(ts::Xf(0) + ts::Xf(0), {sheet})}})
                           .bytes);

  // Twice: once until the failure, then once more after going back to the top.
  auto excel = CreateAutomationObject("Excel.Application");
  ExcelWorksheet& worksheet = excel->Workbooks().Open(path, false, true).Worksheets(1);
  for (int pass = 0; pass < 2; ++pass) {
    for (int r = 1; r < kBrokenRow; ++r) {
      ASSERT_EQ(worksheet.Cells(r, 12).Text(), std::to_string((r - 1) * 100 + 11));
    }
    try {
      worksheet.Cells(kBrokenRow, 1).Text();
      FAIL() << "the broken row was read";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("a cell record is too short"), std::string::npos)
          << e.what();
      EXPECT_NE(std::string(e.what()).find("broken.xls"), std::string::npos) << e.what();
    }
  }
  excel->Quit();
}

}  // namespace
}  // namespace cellverter
