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

namespace {

// Writes one worksheet's used range into `writer`, one line per row.
void WriteWorksheet(ExcelApplication& excel, ExcelWorksheet& worksheet,
                    const std::string& excelFile, bool namedSheet, CsvFileWriter& writer,
                    const CsvOptions& options, ConversionMonitor& watcher) {
  const int rowCount = worksheet.UsedRange().SpecialCells(kXlCellTypeLastCell).Row();
  const int columnCount = worksheet.UsedRange().SpecialCells(kXlCellTypeLastCell).Column();
  const UsedRangeSize size{rowCount, columnCount, static_cast<long long>(worksheet.CellsHeld())};
  if (options.maxCells > 0 && size.Cells() > options.maxCells) {
    const std::string what = namedSheet
                                 ? "worksheet \"" + worksheet.Name() + "\" of \"" + excelFile + "\""
                                 : "\"" + excelFile + "\"";
    throw Error("Cannot convert " + what + ": its used range " + size.Address() + " has " +
                std::to_string(size.Cells()) + " cells, more than the " +
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
    if (columnCount >= 1 && excel.WorksheetFunction().CountA(worksheet.Range(
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
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() <= 9 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

ExcelWorksheet& FindWorksheet(ExcelWorkbook& workbook, const std::string& wanted) {
  if (!IsNumber(wanted)) return workbook.Worksheets(std::string_view(wanted));
  for (int i = 1; i <= workbook.Worksheets().Count(); ++i) {
    if (workbook.Worksheets(i).Name() == wanted) return workbook.Worksheets(i);
  }
  return workbook.Worksheets(std::stoi(wanted));
}

namespace {

// The worksheets of `choice`, each once, in the order chosen.
std::vector<ExcelWorksheet*> ChosenWorksheets(ExcelWorkbook& workbook, const SheetChoice& choice) {
  std::vector<ExcelWorksheet*> chosen;
  auto add = [&](ExcelWorksheet& sheet) {
    if (std::find(chosen.begin(), chosen.end(), &sheet) == chosen.end()) chosen.push_back(&sheet);
  };
  if (choice.FirstOnly()) add(workbook.Worksheets(1));
  if (choice.all) {
    for (int i = 1; i <= workbook.Worksheets().Count(); ++i) add(workbook.Worksheets(i));
  }
  for (const std::string& wanted : choice.sheets) add(FindWorksheet(workbook, wanted));
  return chosen;
}

const char* KindName(SheetKind kind) {
  switch (kind) {
    case SheetKind::kWorksheet:
      return "worksheet";
    case SheetKind::kChart:
      return "chart";
    case SheetKind::kDialog:
      return "dialog";
    case SheetKind::kMacro:
      return "macro";
  }
  return "worksheet";
}

const char* VisibilityName(SheetVisibility visibility) {
  switch (visibility) {
    case SheetVisibility::kVisible:
      return "visible";
    case SheetVisibility::kHidden:
      return "hidden";
    case SheetVisibility::kVeryHidden:
      return "veryhidden";
  }
  return "visible";
}

}  // namespace

std::vector<std::string> ConvertWorkbookToCSV(const std::string& excelFile,
                                              const SheetChoice& choice,
                                              const CsvFileNamer& csvFileFor,
                                              const CsvOptions& options,
                                              ConversionMonitor* monitor) {
  ConversionMonitor silent;
  ConversionMonitor& watcher = monitor != nullptr ? *monitor : silent;
  // Lines go into each writer's pending file as they are built; the CSV files themselves
  // appear only at Publish(), after the application has quit. On any failure the writers
  // are destroyed unpublished and remove what they wrote.
  std::vector<std::unique_ptr<CsvFileWriter>> writers;
  {
    std::unique_ptr<ExcelApplication> excel = CreateAutomationObject("Excel.Application");
    QuitGuard quit(*excel);
    excel->DisplayAlerts(false);
    excel->Visible(false);
    ExcelWorkbook& workbook = excel->Workbooks().Open(excelFile, false, true, options.password);
    for (ExcelWorksheet* worksheet : ChosenWorksheets(workbook, choice)) {
      writers.push_back(std::make_unique<CsvFileWriter>(csvFileFor(worksheet->Name()),
                                                        options.encoding, options.ansiCodePage));
      WriteWorksheet(*excel, *worksheet, excelFile, !choice.FirstOnly(), *writers.back(), options,
                     watcher);
    }
    for (const std::string& repair : workbook.Repairs()) watcher.Repaired(repair);
  }  // Quit
  std::vector<std::string> written;
  for (const auto& writer : writers) {
    std::string path = writer->Publish();
    if (!path.empty()) written.push_back(std::move(path));
  }
  return written;
}

std::string ConvertExcelToCSV(const std::string& excelFile, const std::string& csvFile,
                              const CsvOptions& options, ConversionMonitor* monitor) {
  const std::vector<std::string> written = ConvertWorkbookToCSV(
      excelFile, SheetChoice{}, [&](const std::string&) { return csvFile; }, options, monitor);
  return written.empty() ? std::string() : written.front();
}

std::vector<SheetDescription> DescribeSheets(const std::string& excelFile,
                                             const std::string& password) {
  std::unique_ptr<ExcelApplication> excel = CreateAutomationObject("Excel.Application");
  QuitGuard quit(*excel);
  ExcelWorkbook& workbook = excel->Workbooks().Open(excelFile, false, true, password);
  std::vector<SheetDescription> sheets;
  int worksheetNumber = 0;
  for (const SheetEntry& entry : workbook.Sheets()) {
    SheetDescription sheet{
        0, entry.name, KindName(entry.kind), VisibilityName(entry.visibility), {}};
    if (entry.kind == SheetKind::kWorksheet) {
      sheet.worksheetNumber = ++worksheetNumber;
      const ExcelRange last =
          workbook.Worksheets(worksheetNumber).UsedRange().SpecialCells(kXlCellTypeLastCell);
      sheet.usedRange = UsedRangeSize{last.Row(), last.Column(), 0}.Address();
    }
    sheets.push_back(std::move(sheet));
  }
  return sheets;
}

}  // namespace cellverter
