#include "convert/workbook_to_csv.h"

#include <algorithm>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "convert/csv_file.h"
#include "convert/csv_record.h"
#include "convert/raw_value.h"
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

// The text of one cell as the options ask: the displayed text or the stored value.
[[gnu::always_inline]] inline void CellText(ExcelWorksheet& worksheet, int row, int column,
                                            bool raw, std::string& text) {
  if (!raw) {
    worksheet.Cells(row, column).Text(text);
    return;
  }
  text.clear();
  AppendRawValue(worksheet.Cells(row, column).Value(), text);
}

// What RowReader::Read found of a row.
enum class RowKind : uint8_t {
  kLeftOut,  // a hidden row that is not written
  kNoValue,  // a row without any value: it shows only empty texts
  kTexts,    // a row whose texts were read
};

// The rows of a worksheet's used range as a conversion writes them, read down from the top,
// with the options that change which cells are written or what they show: hidden rows and
// columns left out, merged areas filled from their top-left cells (kept as their rows are
// read, so the reading never goes back up), trailing rows and columns without text trimmed.
class RowReader {
 public:
  RowReader(ExcelApplication& excel, ExcelWorksheet& worksheet, int rowCount, int columnCount,
            const CsvOptions& options)
      : excel_(excel),
        worksheet_(worksheet),
        columnCount_(columnCount),
        lastRow_(rowCount),
        raw_(options.values == CellValues::kRaw),
        skipHidden_(options.skipHidden),
        fillMerged_(options.fillMerged),
        all_(options.fillMerged ? static_cast<size_t>(columnCount) : 0) {
    for (int c = 1; c <= columnCount; ++c) {
      if (!skipHidden_ || !worksheet.Columns(c).Hidden()) columns_.push_back(c);
    }
  }

  // How many fields each row written has.
  size_t Width() const { return columns_.size(); }
  // The last row written.
  int LastRow() const { return lastRow_; }

  // Reads the rows once first, to leave out the rows and columns after the last that shows a
  // text. `checkCancel` is called before each row.
  template <typename CheckCancel>
  void Trim(CheckCancel&& checkCancel) {
    std::vector<std::string> texts;
    const int rowCount = lastRow_;
    lastRow_ = 0;
    size_t width = 0;
    for (int r = 1; r <= rowCount; ++r) {
      checkCancel();
      if (Read(r, texts) != RowKind::kTexts) continue;
      size_t shown = texts.size();
      while (shown > 0 && texts[shown - 1].empty()) --shown;
      if (shown == 0) continue;
      lastRow_ = r;
      width = std::max(width, shown);
    }
    columns_.resize(width);
    topLeftTexts_.clear();
  }

  // Row `row`. Its texts in the columns written go into `texts`, which are left as they were
  // for a row left out or one without any value (a sparse used range has a million of those,
  // which must cost nothing per column).
  RowKind Read(int row, std::vector<std::string>& texts) {
    const bool hidden = skipHidden_ && worksheet_.Rows(row).Hidden();
    // A hidden row is still read when it may hold the top-left cell of a merged area.
    if (hidden && !fillMerged_) return RowKind::kLeftOut;
    const bool values = ReadTexts(row, texts);
    if (hidden) return RowKind::kLeftOut;
    return values ? RowKind::kTexts : RowKind::kNoValue;
  }

 private:
  struct TopLeft {
    std::string text;
    int lastRow = 0;
  };

  // False when the row holds no value.
  bool ReadTexts(int row, std::vector<std::string>& texts) {
    texts.resize(columns_.size());
    const bool merged = fillMerged_ && worksheet_.Rows(row).MergeCells();
    if (!merged) {
      if (columnCount_ < 1 ||
          excel_.WorksheetFunction().CountA(worksheet_.Range(
              worksheet_.Cells(row, 1), worksheet_.Cells(row, columnCount_))) == 0) {
        return false;
      }
      if (!raw_) {
        worksheet_.RowTexts(row, columns_, texts);
        return true;
      }
      for (size_t i = 0; i < columns_.size(); ++i) {
        CellText(worksheet_, row, columns_[i], raw_, texts[i]);
      }
      return true;
    }
    // Every column, hidden ones too: a hidden top-left cell still fills its area.
    std::erase_if(topLeftTexts_, [&](const auto& kept) { return kept.second.lastRow < row; });
    for (int c = 1; c <= columnCount_; ++c) {
      std::string& text = all_[static_cast<size_t>(c - 1)];
      const ExcelRange area = worksheet_.Cells(row, c).MergeArea();
      if (area.RowCount() == 1 && area.ColumnCount() == 1) {
        CellText(worksheet_, row, c, raw_, text);
      } else if (area.Row() == row && area.Column() == c) {
        CellText(worksheet_, row, c, raw_, text);
        topLeftTexts_[{row, c}] = {text, area.Row() + area.RowCount() - 1};
      } else {
        auto kept = topLeftTexts_.find({area.Row(), area.Column()});
        text = kept != topLeftTexts_.end() ? kept->second.text : std::string();
      }
    }
    for (size_t i = 0; i < columns_.size(); ++i) {
      texts[i] = all_[static_cast<size_t>(columns_[i] - 1)];
    }
    return true;
  }

  ExcelApplication& excel_;
  ExcelWorksheet& worksheet_;
  int columnCount_;
  int lastRow_;
  bool raw_;
  bool skipHidden_;
  bool fillMerged_;
  std::vector<int> columns_;
  std::vector<std::string> all_;  // every column's text of a row with merged cells
  std::map<std::pair<int, int>, TopLeft> topLeftTexts_;  // by the area's first cell
};

// The last used cell of a worksheet.
ExcelRange LastCell(ExcelWorksheet& worksheet) {
  return worksheet.UsedRange().SpecialCells(kXlCellTypeLastCell);
}

// Writes one worksheet's used range into `writer`, one line per row.
void WriteWorksheet(ExcelApplication& excel, ExcelWorksheet& worksheet,
                    const std::string& excelFile, bool namedSheet, CsvFileWriter& writer,
                    const CsvOptions& options, ConversionMonitor& watcher) {
  const int rowCount = LastCell(worksheet).Row();
  const int columnCount = LastCell(worksheet).Column();
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
  auto checkCancel = [&] {
    if (watcher.CancelRequested()) {
      throw ConversionCancelled("The conversion of \"" + excelFile + "\" was stopped.");
    }
  };
  RowReader reader(excel, worksheet, rowCount, columnCount, options);
  if (options.trim) reader.Trim(checkCancel);

  std::vector<std::string> texts;
  std::string line;
  // A row without any value shows only empty texts: its line is the separators alone (with
  // every field quoted, empty quotes). This matters for sheets whose last cell lies far
  // beyond the data.
  std::string emptyLine;
  AppendCsvLine(std::vector<std::string>(reader.Width()), options.separator, emptyLine,
                options.quoting);
  // Progress is told after about kProgressCells cells, so that narrow sheets do not pay
  // a call per row.
  const int rowsPerReport =
      std::max(1, static_cast<int>(kProgressCells / std::max(columnCount, 1)));
  int untilReport = rowsPerReport + 1;
  for (int r = 1; r <= reader.LastRow(); ++r) {
    checkCancel();
    if (--untilReport == 0) {
      watcher.RowsWritten(r - 1, rowCount);
      untilReport = rowsPerReport;
    }
    switch (reader.Read(r, texts)) {
      case RowKind::kLeftOut:
        break;
      case RowKind::kNoValue:
        writer.AddLine(emptyLine);
        break;
      case RowKind::kTexts:
        line.clear();
        AppendCsvLine(texts, options.separator, line, options.quoting);
        writer.AddLine(line);
        break;
    }
  }
  if (rowCount > 0) watcher.RowsWritten(rowCount, rowCount);
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() <= 9 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A worksheet by name, else by its number among the worksheets.
ExcelWorksheet& FindWorksheet(ExcelWorkbook& workbook, const std::string& wanted) {
  if (!IsNumber(wanted)) return workbook.Worksheets(std::string_view(wanted));
  for (int i = 1; i <= workbook.Worksheets().Count(); ++i) {
    if (workbook.Worksheets(i).Name() == wanted) return workbook.Worksheets(i);
  }
  return workbook.Worksheets(std::stoi(wanted));
}

// The worksheets of `choice`, each once, in the order chosen; with every worksheet chosen,
// `skipHidden` leaves out the hidden ones.
std::vector<ExcelWorksheet*> ChosenWorksheets(ExcelWorkbook& workbook, const SheetChoice& choice,
                                              bool skipHidden) {
  std::vector<ExcelWorksheet*> chosen;
  auto add = [&](ExcelWorksheet& sheet) {
    if (std::find(chosen.begin(), chosen.end(), &sheet) == chosen.end()) chosen.push_back(&sheet);
  };
  if (choice.FirstOnly()) add(workbook.Worksheets(1));
  if (choice.all) {
    for (int i = 1; i <= workbook.Worksheets().Count(); ++i) {
      ExcelWorksheet& sheet = workbook.Worksheets(i);
      if (!skipHidden || sheet.Visible() == kXlSheetVisible) add(sheet);
    }
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

PendingCsvFiles::PendingCsvFiles() = default;
PendingCsvFiles::PendingCsvFiles(std::vector<std::unique_ptr<CsvFileWriter>> writers)
    : writers_(std::move(writers)) {}
PendingCsvFiles::~PendingCsvFiles() = default;
PendingCsvFiles::PendingCsvFiles(PendingCsvFiles&&) noexcept = default;
PendingCsvFiles& PendingCsvFiles::operator=(PendingCsvFiles&&) noexcept = default;

std::vector<std::string> PendingCsvFiles::Publish() {
  for (const auto& writer : writers_) writer->Create();
  std::vector<std::string> written;
  for (const auto& writer : writers_) {
    std::string path = writer->Publish();
    if (!path.empty()) written.push_back(std::move(path));
  }
  writers_.clear();
  return written;
}

std::vector<std::string> ConvertWorkbookToCSV(const std::string& excelFile,
                                              const SheetChoice& choice,
                                              const CsvFileNamer& csvFileFor,
                                              const CsvOptions& options,
                                              ConversionMonitor* monitor) {
  return ConvertWorkbookToPendingCSV(excelFile, choice, csvFileFor, options, monitor).Publish();
}

PendingCsvFiles ConvertWorkbookToPendingCSV(const std::string& excelFile, const SheetChoice& choice,
                                            const CsvFileNamer& csvFileFor,
                                            const CsvOptions& options, ConversionMonitor* monitor) {
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
    long long formulasWithoutValue = 0;
    for (ExcelWorksheet* worksheet : ChosenWorksheets(workbook, choice, options.skipHidden)) {
      writers.push_back(std::make_unique<CsvFileWriter>(csvFileFor(worksheet->Name()),
                                                        options.encoding, options.ansiCodePage,
                                                        options.lineEnding, options.durability));
      WriteWorksheet(*excel, *worksheet, excelFile, !choice.FirstOnly(), *writers.back(), options,
                     watcher);
      formulasWithoutValue += static_cast<long long>(worksheet->FormulasWithoutValue());
    }
    for (const std::string& repair : workbook.Repairs()) watcher.Repaired(repair);
    if (formulasWithoutValue > 0) watcher.FormulasWithoutValue(formulasWithoutValue);
  }  // Quit
  for (const auto& writer : writers) writer->Finish();
  return PendingCsvFiles(std::move(writers));
}

std::vector<std::vector<std::string>> ReadWorksheetTexts(const std::string& excelFile,
                                                         const std::string& sheet,
                                                         const CsvOptions& options) {
  std::unique_ptr<ExcelApplication> excel = CreateAutomationObject("Excel.Application");
  QuitGuard quit(*excel);
  ExcelWorkbook& workbook = excel->Workbooks().Open(excelFile, false, true, options.password);
  ExcelWorksheet& worksheet =
      sheet.empty() ? workbook.Worksheets(1) : FindWorksheet(workbook, sheet);
  RowReader reader(*excel, worksheet, LastCell(worksheet).Row(), LastCell(worksheet).Column(),
                   options);
  if (options.trim) reader.Trim([] {});
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> texts;
  for (int r = 1; r <= reader.LastRow(); ++r) {
    switch (reader.Read(r, texts)) {
      case RowKind::kLeftOut:
        break;
      case RowKind::kNoValue:
        rows.emplace_back(reader.Width());
        break;
      case RowKind::kTexts:
        rows.push_back(texts);
        break;
    }
  }
  return rows;
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
      const ExcelRange last = LastCell(workbook.Worksheets(worksheetNumber));
      sheet.usedRange = UsedRangeSize{last.Row(), last.Column(), 0}.Address();
    }
    sheets.push_back(std::move(sheet));
  }
  return sheets;
}

}  // namespace cellverter
