#include "spreadsheet/xlsx_reader.h"

#include "spreadsheet/workbook_error.h"

namespace cellverter {

std::unique_ptr<SheetSource> OpenXlsxSource(const std::string& path) {
  ThrowWorkbookError(path, "Office Open XML workbooks cannot be read yet");
}

}  // namespace cellverter
