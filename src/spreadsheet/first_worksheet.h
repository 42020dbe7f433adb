#pragma once

#include <memory>
#include <string>
#include <utility>

#include "spreadsheet/sheet_source.h"
#include "spreadsheet/workbook_error.h"

namespace cellverter {

inline constexpr const char* kNoWorksheetCause = "the workbook holds no worksheet";

// The first worksheet of an opened workbook as a SheetSource that owns the workbook: for
// callers that read one sheet and need nothing else of the workbook (fuzzing, benchmarks).
class FirstWorksheetSource final : public SheetSource {
 public:
  FirstWorksheetSource(std::unique_ptr<WorkbookSource> workbook, const std::string& path)
      : workbook_(std::move(workbook)) {
    const std::optional<size_t> first = FirstWorksheet(*workbook_);
    if (!first) ThrowWorkbookError(path, kNoWorksheetCause, ErrorKind::kNoSuchSheet);
    sheet_ = workbook_->OpenSheet(*first);
    // Complete once the sheet is open; Layout() reads this copy.
    layout_ = sheet_->Layout();
    TakeRepairs();
  }

  bool Date1904() const override { return sheet_->Date1904(); }
  NumberFormatRef CellFormat(uint32_t styleIndex) const override {
    return sheet_->CellFormat(styleIndex);
  }
  uint32_t LastRow() override { return sheet_->LastRow(); }
  uint32_t LastColumn() override { return sheet_->LastColumn(); }
  uint64_t CellsHeld() override { return sheet_->CellsHeld(); }
  bool NextRow(SheetRow& row) override {
    const bool more = sheet_->NextRow(row);
    TakeRepairs();
    return more;
  }
  void Rewind() override { sheet_->Rewind(); }

 private:
  // Asked per row: only a note not yet taken costs anything.
  void TakeRepairs() {
    const std::vector<std::string>& notes = sheet_->Repairs().Notes();
    for (; taken_ < notes.size(); ++taken_) Repairs().Note(notes[taken_]);
  }
  size_t taken_ = 0;  // the sheet's notes copied so far

  std::unique_ptr<WorkbookSource> workbook_;
  std::unique_ptr<SheetSource> sheet_;
};

inline std::unique_ptr<SheetSource> OpenFirstWorksheet(std::unique_ptr<WorkbookSource> workbook,
                                                       const std::string& path) {
  return std::make_unique<FirstWorksheetSource>(std::move(workbook), path);
}

}  // namespace cellverter
