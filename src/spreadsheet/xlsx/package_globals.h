#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "spreadsheet/container/zip_archive.h"
#include "spreadsheet/first_worksheet.h"
#include "spreadsheet/sheet_layout_builder.h"
#include "spreadsheet/sheet_source.h"
#include "spreadsheet/used_range_bounds.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/xlsx/package_relationships.h"
#include "spreadsheet/xlsx/row_spool.h"
#include "spreadsheet/xlsx/xlsx_reader.h"

namespace cellverter {

// Shared strings parts inflating to more than this are parsed on a thread of their own,
// beside the scan of the sheet; smaller ones are parsed as the workbook opens, where a thread
// would cost more than it saves.
inline constexpr uint64_t kSharedStringsBesideSheet = 256 << 10;

// The loading of the shared strings table on a thread of its own. Await() joins it before
// anything reads the table; the destructor asks it to stop and joins it, so it never outlives
// the workbook.
class SharedStringsLoad {
 public:
  SharedStringsLoad() = default;
  ~SharedStringsLoad() {
    stopping_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) thread_.join();
  }
  SharedStringsLoad(const SharedStringsLoad&) = delete;
  SharedStringsLoad& operator=(const SharedStringsLoad&) = delete;

  // Runs `load` on its own thread; what it throws is kept for Await().
  template <class Load>
  void Start(Load load) {
    thread_ = std::thread([this, load = std::move(load)]() mutable {
      try {
        load();
      } catch (...) {
        error_ = std::current_exception();
      }
    });
  }
  // Whether the workbook is closing: the load may end early, its table unread.
  bool Stopping() const { return stopping_.load(std::memory_order_relaxed); }
  // Waits for the load to end; throws what it threw, at every call.
  void Await() {
    if (thread_.joinable()) thread_.join();
    if (error_) std::rethrow_exception(error_);
  }

 private:
  std::thread thread_;
  std::exception_ptr error_;
  std::atomic<bool> stopping_{false};
};

// What every sheet of an .xlsx or .xlsb workbook reads with: the package, the date system,
// the cell formats and the shared strings, read once when the workbook opens.
struct PackageGlobals {
  static constexpr size_t kMaxNumberFormats = 65536;
  static constexpr size_t kMaxCellFormats = 1000000;
  static constexpr size_t kMaxFormatCode = 4096;  // bytes
  static constexpr uint64_t kMaxFormatId = 100000;

  PackageGlobals(const std::string& workbookPath, const XlsxReaderOptions& memoryLimits)
      : path(workbookPath), limits(memoryLimits), shared(memoryLimits.sharedStrings) {}

  // A number format of the styles, id and code.
  void AddNumberFormat(int id, std::string code) {
    if (code.size() > kMaxFormatCode) ThrowDamaged("a number format is too long");
    if (customFormats.size() >= kMaxNumberFormats)
      ThrowDamaged("there are too many number formats");
    customFormats[id] = std::move(code);
  }
  // The next cell format, by the id of its number format.
  void AddCellFormat(int numberFormatId) {
    if (cellFormats.size() >= kMaxCellFormats) ThrowDamaged("there are too many cell formats");
    cellFormats.push_back(numberFormatId);
  }
  NumberFormatRef CellFormat(uint32_t styleIndex) const {
    if (styleIndex >= cellFormats.size()) return {};
    const int id = cellFormats[styleIndex];
    const auto custom = customFormats.find(id);
    if (custom != customFormats.end()) return {id, custom->second};
    return {id, {}};
  }

  std::string path;
  XlsxReaderOptions limits;
  std::unique_ptr<ZipArchive> zip;
  bool date1904 = false;
  std::vector<int> cellFormats;
  std::unordered_map<int, std::string> customFormats;
  SharedStrings shared;
  // Last: it ends before the table and the package it reads are destroyed.
  SharedStringsLoad sharedLoad;
};

// What the scan of a package worksheet (.xlsx, .xlsb) writes into, and the bookkeeping of rows,
// hidden lines and the end of the scan that both formats share; each reader adds the reading
// of its own records or elements.
class PackageSheetScan {
 protected:
  PackageSheetScan(RowSpool& rows, UsedRangeBounds& usedRange, std::vector<std::string>& tableIds,
                   RepairLog& repairs, SheetLayout& layout, const char* notAWorksheet)
      : rows_(rows),
        usedRange_(usedRange),
        tableIds_(tableIds),
        repairs_(repairs),
        layout_(layout),
        notAWorksheet_(notAWorksheet) {}

  // Row `row` (1-based, within the sheet) starts: rows that do not ascend are a repair, as
  // Excel and LibreOffice sort them; `counted` when its format or a height set by hand counts
  // it in the row bounds, as Excel counts them.
  void BeginRow(uint32_t row, bool hidden, bool counted) {
    if (row <= previousRow_) repairs_.Note(kRowsOutOfOrderRepair);
    previousRow_ = row;
    rowVisibility_.Note(row, hidden);
    if (counted) usedRange_.AddRow(row);
  }
  // Columns `first` to `last` (1-based) hidden; those beyond the sheet's are cut off.
  void HideColumns(uint64_t first, uint64_t last) {
    first = std::max<uint64_t>(first, 1);
    last = std::min<uint64_t>(last, kMaxSheetColumns);
    if (first <= last) {
      AddLineSpan(layout_.hiddenColumns, static_cast<uint32_t>(first), static_cast<uint32_t>(last));
    }
  }
  // The hidden rows and columns in order, once the sheet is read.
  void FinishLayout() {
    layout_.hiddenRows = rowVisibility_.Finish(kMaxSheetRows);
    NormaliseLineSpans(layout_.hiddenColumns);
  }

  RowSpool& rows_;
  UsedRangeBounds& usedRange_;
  std::vector<std::string>& tableIds_;
  RepairLog& repairs_;
  SheetLayout& layout_;
  RowVisibility rowVisibility_;
  uint32_t previousRow_ = 0;
  const char* const notAWorksheet_;  // the damage when the part is not a worksheet
};

// A worksheet of a package workbook, read once when opened into a spool of its own; each
// reader fills `rows_` and `usedRange_` (and the layout) from its own part.
class PackageSheet : public SheetSource {
 public:
  explicit PackageSheet(const PackageGlobals& globals)
      : globals_(globals), rows_(globals.limits.sheetSpool, globals.shared) {}

  bool Date1904() const override { return globals_.date1904; }
  NumberFormatRef CellFormat(uint32_t styleIndex) const override {
    return globals_.CellFormat(styleIndex);
  }
  uint32_t LastRow() override { return usedRange_.LastRow(); }
  uint32_t LastColumn() override { return usedRange_.LastColumn(); }
  uint64_t CellsHeld() override { return rows_.CellsHeld(); }
  bool NextRow(SheetRow& row) override {
    return WithWorkbookErrors(globals_.path, [&] { return rows_.NextRow(row); });
  }
  void Rewind() override { rows_.Rewind(); }
  // Once the sheet is loaded and the shared strings are complete; see RowSpool.
  void SettleSharedStrings() { rows_.SettleSharedStrings(Repairs()); }

  static constexpr size_t kMaxTables = 65536;
  // Adds the relationship id of one of the sheet's tables to `tableIds`, bounded in count.
  static void AddTableId(std::vector<std::string>& tableIds, std::string id);

 protected:
  // Widens the used range by the parts related to the sheet `part` as Excel counts them: the
  // notes of every comments part that is there, and each table the sheet lists (`tableIds`),
  // which must have its part. Each format reads its own parts.
  void ReadSheetRelated(const std::string& part, const std::vector<std::string>& tableIds);
  virtual void ReadComments(const std::string& part) = 0;
  virtual void ReadTable(const std::string& part) = 0;

  const PackageGlobals& globals_;
  RowSpool rows_;
  UsedRangeBounds usedRange_;
};

// What the package workbooks (.xlsx, .xlsb) share beside their globals: the part of each
// listed sheet, and the opening of a worksheet with its checks and messages.
class PackageWorkbook : public WorkbookSource {
 protected:
  // `zip`, when given, is the package whose directory the caller has read already.
  PackageWorkbook(const std::string& path, const XlsxReaderOptions& limits,
                  std::unique_ptr<ZipArchive> zip = nullptr)
      : globals_(path, limits) {
    globals_.zip = std::move(zip);
  }

  struct RelatedParts {
    std::string styles;         // "" when the workbook names none
    std::string sharedStrings;  // likewise
  };
  // Finds each listed sheet's part and kind by its relationship id (`sheetIds`, in the order of
  // Sheets()) among the relationships of the workbook part `part`; a sheet without its
  // relationship is damage only when it is opened. Gives the styles and shared strings parts,
  // the first of each should a package name two.
  RelatedParts ResolveSheets(const std::string& part, const std::vector<std::string>& sheetIds);

  // Fills the shared strings table from the part `part` by `parse(stream, table, load)`, which
  // may end early once `load.Stopping()`. A large part is parsed on a thread of its own, beside
  // the scan of the first sheet opened; its failures reach OpenPackageSheet. The part is opened
  // here, so that its local header is checked before the workbook's repairs are noted.
  template <class Parse>
  void LoadSharedStrings(const std::string& part, Parse parse) {
    const ZipArchive::Entry* entry = globals_.zip->Find(part);
    if (entry == nullptr) return;
    // Shared, so that the stream is still at hand should no thread be had.
    std::shared_ptr<ByteStream> input = OpenPart(*globals_.zip, part);
    auto fill = [input, &shared = globals_.shared, &load = globals_.sharedLoad, parse] {
      parse(*input, shared, load);
      shared.FinishWriting();
    };
    if (entry->uncompressedSize <= kSharedStringsBesideSheet) {
      fill();
      return;
    }
    try {
      globals_.sharedLoad.Start(fill);
    } catch (const std::system_error&) {
      fill();
    }
  }

  // The next sheet of the workbook part's list, with the id of its relationship (into
  // `sheetIds`); too many sheets, or a name or id beyond its bound, is damage.
  void AddSheet(SheetEntry entry, std::string id, std::vector<std::string>& sheetIds) {
    if (sheets_.size() >= kMaxSheets) ThrowDamaged("there are too many sheets");
    if (entry.name.size() > kMaxSheetNameBytes) ThrowDamaged("a sheet's name is too long");
    if (id.size() > kMaxRelationshipId) ThrowDamaged("a sheet's relationship id is too long");
    sheets_.push_back(std::move(entry));
    sheetIds.push_back(std::move(id));
  }

  // Opens the worksheet at `position` as a `Sheet` made from the globals and loaded by
  // `Load(part, notAWorksheet)`, the cause to give when the part is not a worksheet.
  template <class Sheet>
  std::unique_ptr<SheetSource> OpenPackageSheet(size_t position) {
    CheckWorksheet(position);
    auto sheet = std::make_unique<Sheet>(globals_);
    for (const std::string& note : Repairs().Notes()) sheet->Repairs().Note(note);
    const char* notAWorksheet = FirstWorksheet(*this) == position
                                    ? "the first worksheet's part is not a worksheet"
                                    : "the worksheet's part is not a worksheet";
    WithWorkbookErrors(globals_.path, [&] {
      try {
        sheet->Load(sheetParts_[position], notAWorksheet);
      } catch (...) {
        // The shared strings were read before the sheet: their failure comes first.
        globals_.sharedLoad.Await();
        throw;
      }
      globals_.sharedLoad.Await();
      sheet->SettleSharedStrings();
    });
    // LibreOffice reads such parts by the directory too; their bytes pass its size and CRC.
    NoteZipRepair(Repairs());
    NoteZipRepair(sheet->Repairs());
    return sheet;
  }

  void NoteZipRepair(RepairLog& log) const {
    if (globals_.zip->LocalSizesDisagreed()) log.Note(kZipLocalSizesRepair);
  }

  PackageGlobals globals_;
  std::vector<std::string> sheetParts_;  // by position; "" for a sheet without a relationship

 private:
  // Throws kNoSuchSheet unless `position` is a worksheet of the list.
  void CheckWorksheet(size_t position) const;
};

}  // namespace cellverter
