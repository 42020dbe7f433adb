#include "convert/workbook_to_csv.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "convert/csv_file.h"
#include "convert/csv_record.h"
#include "spreadsheet/automation.h"

namespace cellverter {
namespace {

// Quits the application on every way out of the reading steps.
class QuitGuard {
 public:
  explicit QuitGuard(ExcelApplication& excel) : excel_(excel) {}
  ~QuitGuard() { excel_.Quit(); }
  QuitGuard(const QuitGuard&) = delete;
  QuitGuard& operator=(const QuitGuard&) = delete;

 private:
  ExcelApplication& excel_;
};

std::string ColumnLetters(long long column) {
  std::string letters;
  for (; column > 0; column = (column - 1) / 26) {
    letters.insert(letters.begin(), static_cast<char>('A' + (column - 1) % 26));
  }
  return letters;
}

}  // namespace

std::string UsedRangeSize::Address() const {
  return "A1:" + ColumnLetters(columns) + std::to_string(rows);
}

bool UsedRangeSize::FarLargerThanHeld() const {
  return Cells() > kSparseRangeMinCells && Cells() > kSparseRangeRatio * cellsHeld;
}

std::string ConvertExcelToCSV(const std::string& excelFile, const std::string& csvFile,
                              const CsvOptions& options, ConversionMonitor* monitor) {
  ConversionMonitor silent;
  ConversionMonitor& watcher = monitor != nullptr ? *monitor : silent;
  // Lines go into the writer's pending file as they are built; the CSV file itself
  // appears only at Publish(), after the application has quit. On any failure the writer is
  // destroyed unpublished and removes what it wrote.
  CsvFileWriter writer(csvFile, options.encoding, options.ansiCodePage);
  {
    std::unique_ptr<ExcelApplication> excel = CreateAutomationObject("Excel.Application");
    QuitGuard quit(*excel);
    excel->DisplayAlerts(false);
    excel->Visible(false);
    ExcelWorkbook& workbook = excel->Workbooks().Open(excelFile, false, true, options.password);
    ExcelWorksheet& worksheet = workbook.Worksheets(1);
    const int rowCount = worksheet.UsedRange().SpecialCells(kXlCellTypeLastCell).Row();
    const int columnCount = worksheet.UsedRange().SpecialCells(kXlCellTypeLastCell).Column();
    const UsedRangeSize size{rowCount, columnCount, static_cast<long long>(worksheet.CellsHeld())};
    if (options.maxCells > 0 && size.Cells() > options.maxCells) {
      throw Error("Cannot convert \"" + excelFile + "\": its used range " + size.Address() +
                  " has " + std::to_string(size.Cells()) + " cells, more than the " +
                  std::to_string(options.maxCells) + " allowed (the file holds " +
                  std::to_string(size.cellsHeld) + "); nothing was written.");
    }
    watcher.UsedRangeKnown(size);
    watcher.RowsWritten(0, rowCount);

    std::vector<std::string> texts(static_cast<size_t>(std::max(columnCount, 0)));
    std::string line;
    // A row without any value shows only empty texts: its line is the separators alone.
    // This matters for sheets whose last cell lies far beyond the data.
    std::string emptyLine;
    for (int c = 2; c <= columnCount; ++c) emptyLine += options.separator;
    // Progress is told after about kProgressCells cells, so that narrow sheets do not pay
    // a call per row.
    const int rowsPerReport =
        std::max(1, static_cast<int>(kProgressCells / std::max(columnCount, 1)));
    int untilReport = rowsPerReport + 1;
    for (int r = 1; r <= rowCount; ++r) {
      if (watcher.CancelRequested()) {
        throw ConversionCancelled("The conversion of \"" + excelFile + "\" was stopped.");
      }
      if (--untilReport == 0) {
        watcher.RowsWritten(r - 1, rowCount);
        untilReport = rowsPerReport;
      }
      if (columnCount >= 1 && excel->WorksheetFunction().CountA(worksheet.Range(
                                  worksheet.Cells(r, 1), worksheet.Cells(r, columnCount))) == 0) {
        writer.AddLine(emptyLine);
        continue;
      }
      for (int c = 1; c <= columnCount; ++c) {
        texts[static_cast<size_t>(c - 1)] = worksheet.Cells(r, c).Text();
      }
      line.clear();
      AppendCsvLine(texts, options.separator, line);
      writer.AddLine(line);
    }
    if (rowCount > 0) watcher.RowsWritten(rowCount, rowCount);
    for (const std::string& repair : workbook.Repairs()) watcher.Repaired(repair);
  }  // Quit
  return writer.Publish();
}

}  // namespace cellverter
