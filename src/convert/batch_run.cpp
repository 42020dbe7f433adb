#include "convert/batch_run.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "convert/output_path.h"
#include "platform/error.h"

namespace cellverter {

FixedBatchInputs::FixedBatchInputs(std::vector<std::string> workbooks, std::string destination,
                                   CsvOptions options)
    : workbooks_(std::move(workbooks)),
      destination_(std::move(destination)),
      options_(std::move(options)) {}

void BatchObserver::WorkbookStarting(std::size_t, std::size_t, const std::string&) {}
void BatchObserver::WorkbookConverted(std::size_t, const std::string&,
                                      const std::vector<std::string>&) {}
void BatchObserver::WorkbookUsedRange(std::size_t, const UsedRangeSize&) {}
void BatchObserver::WorkbookRepaired(std::size_t, const std::string&) {}
void BatchObserver::WorkbookFormulasWithoutValue(std::size_t, long long) {}

std::string FormulasWithoutValueText(const std::string& workbook, long long count) {
  return "\"" + workbook + "\": " + std::to_string(count) +
         (count == 1 ? " formula cell has no calculated value and is written empty"
                     : " formula cells have no calculated value and are written empty");
}
void BatchObserver::WorkbookProgress(std::size_t, long long, long long) {}
bool BatchObserver::StopRequested() { return false; }

std::string ConvertingStatusText(const std::string& workbook) {
  return "Converting " + workbook + "...";
}

std::string CreateDestinationFolder(const std::string& destination) {
  if (destination.empty()) throw Error(kUnableToCreateDirectory);
  std::error_code error;
  std::filesystem::create_directories(destination, error);
  if (!error && !std::filesystem::is_directory(destination, error)) {
    error = std::make_error_code(std::errc::not_a_directory);
  }
  return error ? error.message() : std::string();
}

namespace {

// Keeps the busy cursor honest when something unexpected leaves the run.
class BusyCursor {
 public:
  explicit BusyCursor(BatchObserver& observer) : observer_(observer) { Set(true); }
  ~BusyCursor() {
    if (busy_) observer_.SetBusyCursor(false);
  }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
  void Set(bool busy) {
    busy_ = busy;
    observer_.SetBusyCursor(busy);
  }

 private:
  BatchObserver& observer_;
  bool busy_ = false;
};

// Carries one conversion's questions and progress to the run's observer; `lock`, when
// given, keeps the observer calls of parallel workers one at a time.
class ObserverMonitor final : public ConversionMonitor {
 public:
  ObserverMonitor(BatchObserver& observer, std::size_t index, std::mutex* lock)
      : observer_(observer), index_(index), lock_(lock) {}
  bool CancelRequested() override { return observer_.StopRequested(); }
  void UsedRangeKnown(const UsedRangeSize& size) override {
    Locked([&] { observer_.WorkbookUsedRange(index_, size); });
  }
  void RowsWritten(long long row, long long lastRow) override {
    Locked([&] { observer_.WorkbookProgress(index_, row, lastRow); });
  }
  void Repaired(const std::string& repair) override {
    Locked([&] { observer_.WorkbookRepaired(index_, repair); });
  }
  void FormulasWithoutValue(long long count) override {
    Locked([&] { observer_.WorkbookFormulasWithoutValue(index_, count); });
  }

 private:
  template <typename F>
  void Locked(F&& f) {
    if (lock_ == nullptr) return f();
    std::lock_guard guard(*lock_);
    f();
  }
  BatchObserver& observer_;
  std::size_t index_;
  std::mutex* lock_;
};

// The CSV file of a worksheet of `workbook`: "<workbook>.csv", or with the sheet's name when
// the choice may give several, made unique in the destination of the moment.
CsvFileNamer OutputNamer(const std::function<std::string()>& destination,
                         const std::string& workbook, const SheetChoice& choice) {
  return [&destination, &workbook, named = choice.NamesSheets()](const std::string& sheet) {
    return UniqueFileName(named ? OutputPathForSheet(destination(), workbook, sheet)
                                : OutputPathFor(destination(), workbook));
  };
}

// The step that both runs take for one workbook: converts the chosen worksheets into the
// files `csvFileFor` names, counts the outcome in `summary` and tells the observer. `lock`, when
// given, is held for the counting and the observer's calls (parallel workers); `cursor`, when
// given, shows the normal cursor while the observer reports a failure (the one-by-one run's ERROR
// box). False when a stop abandoned the workbook: the run ends there.
bool ConvertStep(BatchObserver& observer, std::size_t index, const std::string& workbook,
                 const SheetChoice& choice, const CsvFileNamer& csvFileFor,
                 const CsvOptions& options, std::mutex* lock, BatchSummary& summary,
                 BusyCursor* cursor) {
  ObserverMonitor monitor(observer, index, lock);
  auto hold = [lock] {
    return lock != nullptr ? std::unique_lock(*lock) : std::unique_lock<std::mutex>();
  };
  std::vector<std::string> written;
  std::string failure;
  ErrorKind kind = ErrorKind::kOther;
  bool converted = false;
  try {
    written = ConvertWorkbookToCSV(workbook, choice, csvFileFor, options, &monitor);
    converted = true;
  } catch (const ConversionCancelled&) {
    const auto guard = hold();
    summary.stopped = true;
    return false;
  } catch (const Error& error) {
    failure = error.what();
    kind = error.Kind();
  } catch (const std::exception& error) {
    failure = error.what();
  }
  const auto guard = hold();
  if (converted) {
    ++summary.converted;
    observer.WorkbookConverted(index, workbook, written);
    return true;
  }
  ++summary.failed;
  if (cursor != nullptr) cursor->Set(false);
  observer.WorkbookFailed(index, workbook, failure, kind);
  if (cursor != nullptr) cursor->Set(true);
  return true;
}

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

BatchSummary RunBatch(BatchInputs& inputs, BatchObserver& observer) {
  BatchSummary summary;
  observer.ShowStatus("");
  const std::string destination = inputs.Destination();
  if (const std::string failure = CreateDestinationFolder(destination); !failure.empty()) {
    observer.DestinationNotCreated(destination, failure);
    return summary;
  }
  summary.destinationReady = true;
  CsvOptions options = inputs.Options();
  options.separator = inputs.Separator();
  options.password = inputs.Password();
  const SheetChoice choice = inputs.Sheets();
  const std::function<std::string()> destinationNow = [&inputs] { return inputs.Destination(); };
  BusyCursor cursor(observer);

  for (std::size_t index = 0; index < inputs.ItemCount(); ++index) {
    if (observer.StopRequested()) {
      summary.stopped = true;
      break;
    }
    const std::string workbook = inputs.Item(index);
    observer.WorkbookStarting(index, inputs.ItemCount(), workbook);
    observer.ShowStatus(ConvertingStatusText(workbook));
    options.encoding = inputs.Encoding();
    options.ansiCodePage = inputs.AnsiCodePage();
    options.maxCells = inputs.MaxCells();
    if (!ConvertStep(observer, index, workbook, choice,
                     OutputNamer(destinationNow, workbook, choice), options, nullptr, summary,
                     &cursor)) {
      observer.ShowStatus("");
      break;
    }
    observer.ShowStatus("");
  }

  observer.Beep();
  cursor.Set(false);
  observer.ShowStatus(kCompletedStatusText);
  return summary;
}

std::string OutputNameFamily(const std::string& workbook) {
  const std::string output = OutputPathFor("", workbook);  // "/<base>.csv"
  std::string base = output.substr(1, output.size() - 1 - 4);
  // A sheet's file "<workbook> - <sheet>.csv" may meet "<workbook> - <x>.csv" of a workbook
  // named "<workbook> - <x>": the family ends before the first " - ".
  if (const std::size_t dash = base.find(" - "); dash != std::string::npos) base.resize(dash);
  // Strip " (n)" counters from the end, as many as there are.
  for (;;) {
    if (base.size() < 4 || base.back() != ')') break;
    std::size_t open = base.size() - 1;
    while (open > 0 && IsAsciiDigit(base[open - 1])) --open;
    if (open == base.size() - 1 || open < 2 || base[open - 1] != '(' || base[open - 2] != ' ') {
      break;
    }
    base.resize(open - 2);
  }
  for (char& c : base) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return base;
}

BatchSummary RunBatchInParallel(const std::vector<std::string>& workbooks,
                                const std::string& destination, const CsvOptions& options,
                                unsigned jobs, BatchObserver& observer, const SheetChoice& choice) {
  BatchSummary summary;
  if (const std::string failure = CreateDestinationFolder(destination); !failure.empty()) {
    observer.DestinationNotCreated(destination, failure);
    return summary;
  }
  summary.destinationReady = true;
  const std::function<std::string()> fixedDestination = [&destination] { return destination; };

  // Chains of list indexes whose names could meet, in the order of their first workbook;
  // one worker takes the list as it stands.
  std::vector<std::vector<std::size_t>> chains;
  std::map<std::string, std::size_t> chainOfFamily;
  for (std::size_t index = 0; index < workbooks.size(); ++index) {
    const auto [slot, added] = chainOfFamily.try_emplace(
        jobs <= 1 ? std::string() : OutputNameFamily(workbooks[index]), chains.size());
    if (added) chains.emplace_back();
    chains[slot->second].push_back(index);
  }

  std::mutex observerMutex;
  std::atomic<std::size_t> nextChain{0};
  std::exception_ptr unexpected;
  auto worker = [&] {
    try {
      for (std::size_t chain; (chain = nextChain++) < chains.size();) {
        for (const std::size_t index : chains[chain]) {
          const std::string& workbook = workbooks[index];
          {
            std::lock_guard lock(observerMutex);
            if (unexpected || summary.stopped) return;
            if (observer.StopRequested()) {
              summary.stopped = true;
              return;
            }
            observer.WorkbookStarting(index, workbooks.size(), workbook);
          }
          if (!ConvertStep(observer, index, workbook, choice,
                           OutputNamer(fixedDestination, workbook, choice), options, &observerMutex,
                           summary, nullptr)) {
            return;
          }
        }
      }
    } catch (...) {
      // An observer that throws stops every worker; the first such error leaves the run.
      std::lock_guard lock(observerMutex);
      if (!unexpected) unexpected = std::current_exception();
    }
  };

  const std::size_t workers =
      std::clamp<std::size_t>(jobs, 1, std::max<std::size_t>(chains.size(), 1));
  std::vector<std::jthread> threads;
  for (std::size_t i = 1; i < workers; ++i) threads.emplace_back(worker);
  worker();
  threads.clear();
  if (unexpected) std::rethrow_exception(unexpected);
  return summary;
}

}  // namespace cellverter
