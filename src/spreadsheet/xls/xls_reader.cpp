#include "spreadsheet/xls/xls_reader.h"

#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/little_endian.h"
#include "platform/unique_fd.h"
#include "spreadsheet/container/compound_file.h"
#include "spreadsheet/container/workbook_file.h"
#include "spreadsheet/first_worksheet.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/xls/xls_cells.h"
#include "spreadsheet/xls/xls_globals.h"
#include "spreadsheet/xls/xls_records.h"
#include "spreadsheet/xls/xls_sheet_scan.h"

namespace cellverter {
namespace {

class XlsSheet;

// A legacy workbook: its compound file, the one record reader over the workbook stream, the
// globals and the sheet list. Its sheets read through that reader, one at a time.
class XlsWorkbook final : public WorkbookSource {
 public:
  XlsWorkbook(std::unique_ptr<CompoundFile> file, std::string_view password,
              CompoundFile::Container container)
      : file_(std::move(file)), password_(password) {
    if (container == CompoundFile::Container::kBareStream) {
      Repairs().Note(kBareWorkbookStreamRepair);
    }
  }

  void Open() {
    std::optional<CompoundFile::Entry> entry = file_->FindStream("Workbook");
    if (!entry) entry = file_->FindStream("Book");
    if (!entry) {
      if (file_->FindStream("EncryptedPackage")) {
        ThrowWorkbookError(file_->path(), kPasswordProtectedCause, ErrorKind::kPasswordProtected);
      }
      ThrowWorkbookError(file_->path(), kNotAWorkbookCause, ErrorKind::kNotAWorkbook);
    }
    stream_.emplace(file_->OpenStream(*entry));
    reader_.emplace(*stream_);
    if (file_->Truncated()) {
      // LibreOffice reads the records that are whole.
      Repairs().Note(kTruncatedFileRepair);
      reader_->EndAtCutOff();
    }
    WithWorkbookErrors(file_->path(), [&] {
      globals_.Read(*reader_, password_, file_->Truncated(), Repairs());
      ListSheets();
    });
  }

  std::unique_ptr<SheetSource> OpenSheet(size_t position) override;

 private:
  friend class XlsSheet;

  void ListSheets() {
    const std::vector<biff::BoundSheet>& list = globals_.Sheets();
    for (size_t i = 0; i < list.size(); ++i) {
      const biff::BoundSheet& sheet = list[i];
      SheetKind kind = SheetKind::kWorksheet;
      switch (sheet.type) {
        case 0: {
          const std::optional<SheetKind> found = WorksheetOrDialog(sheet.offset);
          if (!found) continue;
          kind = *found;
          break;
        }
        case 1:
          kind = SheetKind::kMacro;
          break;
        case 2:
          kind = SheetKind::kChart;
          break;
        default:
          continue;  // 6: a VBA module, which Excel shows as no tab
      }
      const SheetVisibility visibility = sheet.hidden == 0   ? SheetVisibility::kVisible
                                         : sheet.hidden == 2 ? SheetVisibility::kVeryHidden
                                                             : SheetVisibility::kHidden;
      sheets_.push_back({sheet.name, kind, visibility});
      listIndex_.push_back(i);
    }
  }

  // The kind of a sheet that the sheet list gives as a worksheet or dialog sheet, as its own
  // first records tell; nothing for a VBA module.
  std::optional<SheetKind> WorksheetOrDialog(uint32_t offset) {
    try {
      switch (biff::ProbeSubstream(*reader_, offset, stream_->size())) {
        case biff::SubstreamStart::kWorksheet:
        case biff::SubstreamStart::kWorksheetWithoutBof:
          return SheetKind::kWorksheet;
        case biff::SubstreamStart::kChart:
          return SheetKind::kChart;
        case biff::SubstreamStart::kMacro:
          return SheetKind::kMacro;
        case biff::SubstreamStart::kModule:
          return std::nullopt;
        case biff::SubstreamStart::kDialog:
        case biff::SubstreamStart::kOther:
          return SheetKind::kDialog;
      }
    } catch (const WorkbookDamaged&) {
      // Listed as the worksheet it claims to be: the damage stops only the reading of this
      // sheet, when it is opened, and not that of the other sheets.
    }
    return SheetKind::kWorksheet;
  }

  std::unique_ptr<CompoundFile> file_;
  std::string password_;
  std::optional<CompoundFile::Stream> stream_;
  std::optional<biff::RecordReader> reader_;
  biff::WorkbookGlobals globals_;
  std::vector<size_t> listIndex_;      // per position in Sheets(): its index in globals_.Sheets()
  const XlsSheet* reading_ = nullptr;  // the sheet whose rows the reader is positioned in
};

// A worksheet of an XlsWorkbook: the scan of its records and the decoding of its cells.
class XlsSheet final : public SheetSource {
 public:
  XlsSheet(XlsWorkbook& workbook, const biff::BoundSheet& entry) : workbook_(workbook) {
    workbook.reading_ = nullptr;  // the scan moves the reader, whether it ends well or not
    for (const std::string& note : workbook.Repairs().Notes()) Repairs().Note(note);
    biff::RecordReader& reader = *workbook.reader_;
    const bool bofMissing = biff::ProbeSubstream(reader, entry.offset, workbook.stream_->size()) ==
                            biff::SubstreamStart::kWorksheetWithoutBof;
    if (bofMissing) Repairs().Note(kSheetWithoutBofRepair);
    scan_.emplace(reader, workbook.globals_, workbook.file_->Truncated(), Repairs(), layout_,
                  entry.offset, bofMissing);
    scan_->Scan();
    cells_.emplace(reader, workbook.globals_, *scan_, Repairs());
    Rewind();
  }
  ~XlsSheet() override {
    if (workbook_.reading_ == this) workbook_.reading_ = nullptr;
  }
  XlsSheet(const XlsSheet&) = delete;
  XlsSheet& operator=(const XlsSheet&) = delete;

  bool Date1904() const override { return workbook_.globals_.Date1904(); }
  NumberFormatRef CellFormat(uint32_t styleIndex) const override {
    return workbook_.globals_.CellFormat(styleIndex);
  }
  uint32_t LastRow() override { return scan_->UsedRange().LastRow(); }
  uint32_t LastColumn() override { return scan_->UsedRange().LastColumn(); }
  uint64_t CellsHeld() override { return scan_->CellsHeld(); }

  bool NextRow(SheetRow& row) override {
    if (workbook_.reading_ != this) {
      // The shared reader was moved to another sheet since; its place here is lost.
      ThrowWorkbookError(workbook_.file_->path(),
                         "a sheet's rows were read after another sheet was opened",
                         ErrorKind::kOther);
    }
    return WithWorkbookErrors(workbook_.file_->path(), [&] { return cells_->ReadRow(row); });
  }

  void Rewind() override {
    cells_->Rewind();
    workbook_.reading_ = this;
  }

 private:
  XlsWorkbook& workbook_;
  std::optional<biff::SheetScan> scan_;
  std::optional<biff::CellDecoder> cells_;
};

std::unique_ptr<SheetSource> XlsWorkbook::OpenSheet(size_t position) {
  if (position >= sheets_.size() || sheets_[position].kind != SheetKind::kWorksheet) {
    // The caller picks from Sheets(): this is a programming error, told plainly.
    const std::string cause =
        position >= sheets_.size()
            ? "the workbook holds no sheet at position " + std::to_string(position)
            : "the sheet \"" + sheets_[position].name + "\" is not a worksheet";
    ThrowWorkbookError(file_->path(), cause, ErrorKind::kNoSuchSheet);
  }
  return WithWorkbookErrors(file_->path(), [&]() -> std::unique_ptr<SheetSource> {
    return std::make_unique<XlsSheet>(*this, globals_.Sheets()[listIndex_[position]]);
  });
}

}  // namespace

bool LooksLikeOldBiffFile(std::string_view head) {
  if (head.size() < 4) return false;
  const uint16_t type = LoadLe16(head.data());
  const uint16_t length = LoadLe16(head.data() + 2);
  return (type == biff::kBofBiff2 || type == biff::kBofBiff3 || type == biff::kBofBiff4) &&
         length >= 4 && length <= 16;
}

bool LooksLikeBareBiff8Stream(std::string_view head) {
  if (head.size() < 8) return false;
  const uint16_t length = LoadLe16(head.data() + 2);
  return LoadLe16(head.data()) == biff::kBof && length >= 8 && length <= 32 &&
         LoadLe16(head.data() + 4) == 0x0600 &&
         LoadLe16(head.data() + 6) == biff::kGlobalsSubstream;
}

std::unique_ptr<WorkbookSource> OpenXlsWorkbook(const std::string& path,
                                                std::string_view password) {
  UniqueFd fd(OpenWorkbookFile(path));
  char head[8] = {};
  const ssize_t got = ::pread(fd.get(), head, sizeof head, 0);
  const std::string_view start(head, got > 0 ? static_cast<size_t>(got) : 0);
  if (LooksLikeOldBiffFile(start)) {
    ThrowWorkbookError(path, biff::kOldBiffCause, ErrorKind::kUnsupportedVersion);
  }
  const auto container = LooksLikeBareBiff8Stream(start) ? CompoundFile::Container::kBareStream
                                                         : CompoundFile::Container::kCompoundFile;
  return OpenXlsWorkbook(std::make_unique<CompoundFile>(path, fd.release(), container), password,
                         container);
}

std::unique_ptr<WorkbookSource> OpenXlsWorkbook(std::unique_ptr<CompoundFile> file,
                                                std::string_view password,
                                                CompoundFile::Container container) {
  auto workbook = std::make_unique<XlsWorkbook>(std::move(file), password, container);
  workbook->Open();
  return workbook;
}

std::unique_ptr<SheetSource> OpenXlsSource(const std::string& path, std::string_view password) {
  return OpenFirstWorksheet(OpenXlsWorkbook(path, password), path);
}

}  // namespace cellverter
