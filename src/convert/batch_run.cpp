#include "convert/batch_run.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
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

// What went wrong in one step of a workbook (its conversion, the naming of its files).
struct StepOutcome {
  bool cancelled = false;  // a stop abandoned the workbook
  bool failed = false;
  std::string failure;
  ErrorKind kind = ErrorKind::kOther;
};

template <typename Step>
StepOutcome Attempt(Step&& step) {
  StepOutcome outcome;
  try {
    step();
  } catch (const ConversionCancelled&) {
    outcome.cancelled = true;
  } catch (const Error& error) {
    outcome = {false, true, error.what(), error.Kind()};
  } catch (const std::exception& error) {
    outcome = {false, true, error.what(), ErrorKind::kOther};
  }
  return outcome;
}

// Counts the end of a workbook in `summary` and tells the observer (the caller keeps parallel
// calls one at a time); `cursor`, when given, shows the normal cursor while the observer
// reports a failure (the one-by-one run's ERROR box).
void Report(BatchObserver& observer, std::size_t index, const std::string& workbook,
            const StepOutcome& outcome, const std::vector<std::string>& written,
            BatchSummary& summary, BusyCursor* cursor) {
  if (!outcome.failed) {
    ++summary.converted;
    observer.WorkbookConverted(index, workbook, written);
    return;
  }
  ++summary.failed;
  if (cursor != nullptr) cursor->Set(false);
  observer.WorkbookFailed(index, workbook, outcome.failure, outcome.kind);
  if (cursor != nullptr) cursor->Set(true);
}

// A converted workbook whose files wait to be published, or one whose conversion failed and
// waits for its turn to be reported.
struct ConvertedWorkbook {
  std::size_t index = 0;
  const std::string* family = nullptr;
  StepOutcome outcome;
  PendingCsvFiles files;
};

// Publishes the workbooks one worker converted, in their order, on a thread of its own: the
// worker goes on with its next workbook while the disk takes the last one's data. A few
// wait at most (each holds its files open), after that the worker waits.
class Publisher {
 public:
  static constexpr std::size_t kMaxWaiting = 4;

  explicit Publisher(std::function<void(ConvertedWorkbook&)> publish)
      : publish_(std::move(publish)), thread_([this] { Run(); }) {}
  // Publishes every workbook still waiting first.
  ~Publisher() {
    {
      const std::lock_guard lock(mutex_);
      closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  Publisher(const Publisher&) = delete;
  Publisher& operator=(const Publisher&) = delete;

  void Add(ConvertedWorkbook workbook) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_.size() < kMaxWaiting; });
    waiting_.push_back(std::move(workbook));
    changed_.notify_all();
  }

  // Waits until no workbook of `family` is left to publish: a workbook's names are chosen
  // while it is converted, so those of its family before it must have theirs by then.
  void WaitForFamily(const std::string& family) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] {
      return std::none_of(waiting_.begin(), waiting_.end(),
                          [&](const ConvertedWorkbook& w) { return *w.family == family; });
    });
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return closing_ || !waiting_.empty(); });
      if (waiting_.empty()) return;
      // It stays in the list while it is published, for WaitForFamily.
      ConvertedWorkbook& next = waiting_.front();
      lock.unlock();
      publish_(next);
      lock.lock();
      waiting_.pop_front();
      changed_.notify_all();
    }
  }

  std::function<void(ConvertedWorkbook&)> publish_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<ConvertedWorkbook> waiting_;
  bool closing_ = false;
  std::thread thread_;  // last: it starts with the members above ready
};

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
    ObserverMonitor monitor(observer, index, nullptr);
    std::vector<std::string> written;
    const StepOutcome outcome = Attempt([&] {
      written = ConvertWorkbookToCSV(
          workbook, choice, OutputNamer(destinationNow, workbook, choice), options, &monitor);
    });
    if (outcome.cancelled) {
      summary.stopped = true;
    } else {
      Report(observer, index, workbook, outcome, written, summary, &cursor);
    }
    observer.ShowStatus("");
    if (outcome.cancelled) break;
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
  std::vector<std::string> families;
  std::vector<std::vector<std::size_t>> chains;
  std::map<std::string, std::size_t> chainOfFamily;
  for (std::size_t index = 0; index < workbooks.size(); ++index) {
    families.push_back(OutputNameFamily(workbooks[index]));
    const auto [slot, added] =
        chainOfFamily.try_emplace(jobs <= 1 ? std::string() : families.back(), chains.size());
    if (added) chains.emplace_back();
    chains[slot->second].push_back(index);
  }

  std::mutex observerMutex;
  std::atomic<std::size_t> nextChain{0};
  std::exception_ptr unexpected;
  auto keepUnexpected = [&] {
    // An observer that throws stops every worker; the first such error leaves the run.
    const std::lock_guard lock(observerMutex);
    if (!unexpected) unexpected = std::current_exception();
  };
  // A workbook converted is published and reported even when the run stops meanwhile.
  auto publish = [&](ConvertedWorkbook& converted) {
    try {
      std::vector<std::string> written;
      if (!converted.outcome.failed) {
        converted.outcome = Attempt([&] { written = converted.files.Publish(); });
      }
      const std::lock_guard lock(observerMutex);
      Report(observer, converted.index, workbooks[converted.index], converted.outcome, written,
             summary, nullptr);
    } catch (...) {
      keepUnexpected();
    }
  };
  auto worker = [&] {
    try {
      Publisher publisher(publish);
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
          publisher.WaitForFamily(families[index]);
          ConvertedWorkbook converted{index, &families[index], {}, {}};
          ObserverMonitor monitor(observer, index, &observerMutex);
          converted.outcome = Attempt([&] {
            converted.files = ConvertWorkbookToPendingCSV(
                workbook, choice, OutputNamer(fixedDestination, workbook, choice), options,
                &monitor);
          });
          if (converted.outcome.cancelled) {
            const std::lock_guard lock(observerMutex);
            summary.stopped = true;
            return;
          }
          publisher.Add(std::move(converted));
        }
      }
    } catch (...) {
      keepUnexpected();
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
