#include "spreadsheet/xls_reader.h"

#include <unistd.h>

#include <optional>

#include "platform/little_endian.h"
#include "spreadsheet/compound_file.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/workbook_file.h"
#include "spreadsheet/xls_cells.h"
#include "spreadsheet/xls_globals.h"
#include "spreadsheet/xls_records.h"
#include "spreadsheet/xls_sheet_scan.h"

namespace cellverter {
namespace {

// The first worksheet of a legacy workbook: the workbook globals, the scan of the sheet and
// the decoding of its cells, over one record reader.
class XlsSheetSource final : public SheetSource {
 public:
  XlsSheetSource(const std::string& path, std::string_view password,
                 CompoundFile::Container container)
      : file_(path, container), password_(password) {
    if (container == CompoundFile::Container::kBareStream) {
      Repairs().Note(kBareWorkbookStreamRepair);
    }
  }

  template <typename F>
  auto Guard(F&& f) {
    try {
      return f();
    } catch (const biff::Damaged& damaged) {
      Fail("the file is damaged (" + damaged.cause + ")");
    }
  }

  [[noreturn]] void Fail(const std::string& cause) const {
    ThrowWorkbookError(file_.path(), cause, ErrorKind::kDamaged);
  }

  void Open() {
    std::optional<CompoundFile::Entry> entry = file_.FindStream("Workbook");
    if (!entry) entry = file_.FindStream("Book");
    if (!entry) {
      if (file_.FindStream("EncryptedPackage")) Fail("the workbook is protected by a password");
      Fail("it is not an Excel workbook (it holds no workbook stream)");
    }
    stream_.emplace(file_.OpenStream(*entry));
    reader_.emplace(*stream_);
    if (file_.Truncated()) {
      // LibreOffice reads the records that are whole.
      Repairs().Note(kTruncatedFileRepair);
      reader_->EndAtCutOff();
    }
    sheet_.emplace(*reader_, globals_, file_.Truncated(), Repairs());
    cells_.emplace(*reader_, globals_, *sheet_, Repairs());
    Guard([&] {
      globals_.Read(*reader_, file_.path(), password_, file_.Truncated(), Repairs());
      sheet_->FindFirstWorksheet(stream_->size(), file_.path());
      sheet_->Scan();
    });
    Rewind();
  }

  bool Date1904() const override { return globals_.Date1904(); }
  NumberFormatRef CellFormat(uint32_t styleIndex) const override {
    return globals_.CellFormat(styleIndex);
  }
  uint32_t LastRow() override { return sheet_->UsedRange().LastRow(); }
  uint32_t LastColumn() override { return sheet_->UsedRange().LastColumn(); }
  uint64_t CellsHeld() override { return sheet_->CellsHeld(); }

  bool NextRow(SheetRow& row) override {
    return Guard([&] { return cells_->ReadRow(row); });
  }

  void Rewind() override { cells_->Rewind(); }

 private:
  CompoundFile file_;
  std::string password_;
  std::optional<CompoundFile::Stream> stream_;
  std::optional<biff::RecordReader> reader_;
  biff::WorkbookGlobals globals_;
  std::optional<biff::SheetScan> sheet_;
  std::optional<biff::CellDecoder> cells_;
};

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

std::unique_ptr<SheetSource> OpenXlsSource(const std::string& path, std::string_view password) {
  CompoundFile::Container container = CompoundFile::Container::kCompoundFile;
  {
    char head[8] = {};
    const int fd = OpenWorkbookFile(path);
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    if (got > 0 && LooksLikeOldBiffFile(std::string_view(head, static_cast<size_t>(got)))) {
      ThrowWorkbookError(
          path, "Excel 2.x-4.x workbooks are not supported; save it as a newer Excel workbook",
          ErrorKind::kUnsupportedVersion);
    }
    if (got > 0 && LooksLikeBareBiff8Stream(std::string_view(head, static_cast<size_t>(got)))) {
      container = CompoundFile::Container::kBareStream;
    }
  }
  auto source = std::make_unique<XlsSheetSource>(path, password, container);
  source->Open();
  return source;
}

}  // namespace cellverter
