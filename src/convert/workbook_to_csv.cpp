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

}  // namespace

std::string ConvertExcelToCSV(const std::string& excelFile, const std::string& csvFile,
                              const CsvOptions& options) {
  // Lines go into the writer's hidden temporary file as they are built; the CSV file itself
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

    std::vector<std::string> texts(static_cast<size_t>(std::max(columnCount, 0)));
    std::string line;
    // A row without any value shows only empty texts: its line is the separators alone.
    // This matters for sheets whose last cell lies far beyond the data.
    std::string emptyLine;
    for (int c = 2; c <= columnCount; ++c) emptyLine += options.separator;
    for (int r = 1; r <= rowCount; ++r) {
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
  }  // Quit
  return writer.Publish();
}

}  // namespace cellverter
