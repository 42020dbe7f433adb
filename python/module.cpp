// cellverter._core: the conversion core for Python. The Python package (cellverter/) wraps it
// with the exception classes, warnings, pandas and Dask.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "convert/batch_run.h"
#include "convert/csv_encoding.h"
#include "convert/output_path.h"
#include "convert/workbook_to_csv.h"
#include "platform/ansi_code_page.h"
#include "platform/error.h"

namespace py = pybind11;

namespace cellverter {
namespace {

// The class of cellverter._errors that stands for an error kind.
const char* ErrorClassName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kOther:
      return "Error";
    case ErrorKind::kNotFound:
      return "NotFound";
    case ErrorKind::kNotAWorkbook:
      return "NotAWorkbook";
    case ErrorKind::kPasswordProtected:
      return "PasswordProtected";
    case ErrorKind::kUnsupportedVersion:
      return "UnsupportedVersion";
    case ErrorKind::kDamaged:
      return "Damaged";
    case ErrorKind::kNoSuchSheet:
      return "NoSuchSheet";
    case ErrorKind::kInputOutput:
      return "InputOutputError";
    case ErrorKind::kOutputFolder:
      return "OutputFolderError";
  }
  return "Error";
}

CsvEncoding EncodingOf(const std::string& word) {
  for (const CsvEncodingInfo& info : kCsvEncodings) {
    if (word == info.storedWord) return info.encoding;
  }
  std::string words;
  for (const CsvEncodingInfo& info : kCsvEncodings) {
    words += (words.empty() ? "" : ", ") + std::string(info.storedWord);
  }
  throw py::value_error("unknown encoding \"" + word + "\"; one of " + words);
}

// The value a keyword argument's word stands for; ValueError for any other word.
template <typename Value, size_t N>
Value OneOf(const char* argument, const std::string& word,
            const std::array<OptionWord<Value>, N>& words) {
  if (const std::optional<Value> value = OptionValue(words, word)) return *value;
  std::string named;
  for (const OptionWord<Value>& known : words) {
    named += (named.empty() ? "\"" : " or \"") + std::string(known.word) + "\"";
  }
  throw py::value_error(std::string(argument) + " must be " + named + ", not \"" + word + "\"");
}

// The options of a conversion, from the keyword arguments of convert().
CsvOptions OptionsOf(const std::string& separator, const std::string& encoding, long long maxCells,
                     const std::string& password, const std::string& values, bool skipHidden,
                     bool fillMerged, bool trim, const std::string& quoting,
                     const std::string& lineEnding) {
  CsvOptions options;
  options.separator = separator;
  options.encoding = EncodingOf(encoding);
  options.ansiCodePage = UserAnsiCodePage();
  if (maxCells < 0) throw py::value_error("max_cells must be 0 (no bound) or more");
  options.maxCells = maxCells;
  options.password = password;
  options.values = OneOf("values", values, kCellValuesWords);
  options.skipHidden = skipHidden;
  options.fillMerged = fillMerged;
  options.trim = trim;
  options.quoting = OneOf("quoting", quoting, kQuotingWords);
  options.lineEnding = OneOf("line_ending", lineEnding, kLineEndingWords);
  return options;
}

// What happened to one workbook of a batch.
struct WorkbookOutcome {
  std::vector<std::string> csvFiles;
  bool failed = false;
  std::string errorClass;
  std::string message;
  std::vector<std::string> repairs;
  std::string formulasWithoutValue;  // the warning's text, as the programs word it
};

// Collects what a batch run tells, workbook by workbook. The run calls one at a time.
class CollectingObserver : public BatchObserver {
 public:
  explicit CollectingObserver(const std::vector<std::string>& paths)
      : outcomes(paths.size()), workbooks(paths) {}

  void ShowStatus(const std::string&) override {}
  void SetBusyCursor(bool) override {}
  void Beep() override {}
  void DestinationNotCreated(const std::string& folder, const std::string& systemMessage) override {
    destinationError = "cannot create the folder \"" + folder + "\": " + systemMessage;
  }
  void WorkbookFailed(std::size_t index, const std::string&, const std::string& message,
                      ErrorKind kind) override {
    WorkbookOutcome& outcome = outcomes.at(index);
    outcome.failed = true;
    outcome.errorClass = ErrorClassName(kind);
    outcome.message = message;
  }
  void WorkbookConverted(std::size_t index, const std::string&,
                         const std::vector<std::string>& csvFiles) override {
    outcomes.at(index).csvFiles = csvFiles;
  }
  void WorkbookRepaired(std::size_t index, const std::string& repair) override {
    outcomes.at(index).repairs.push_back(repair);
  }
  void WorkbookFormulasWithoutValue(std::size_t index, long long count) override {
    outcomes.at(index).formulasWithoutValue = FormulasWithoutValueText(workbooks.at(index), count);
  }

  std::vector<WorkbookOutcome> outcomes;
  std::vector<std::string> workbooks;
  std::string destinationError;
};

py::dict ToDict(const WorkbookOutcome& outcome) {
  py::dict result;
  result["csv_files"] = outcome.csvFiles;
  result["error_class"] = outcome.failed ? py::object(py::str(outcome.errorClass)) : py::none();
  result["message"] = outcome.message;
  result["repairs"] = outcome.repairs;
  result["formulas_without_value"] = outcome.formulasWithoutValue;
  return result;
}

SheetChoice ChoiceOf(const std::vector<std::string>& sheets, bool allSheets) {
  SheetChoice choice;
  choice.all = allSheets;
  choice.sheets = sheets;
  if (choice.all && !choice.sheets.empty()) {
    throw py::value_error("sheets and all_sheets exclude each other");
  }
  return choice;
}

// A worksheet named by `sheet` as SheetChoice names it: a name, else a 1-based number.
std::string SheetWord(const std::variant<long long, std::string>& sheet) {
  if (const long long* number = std::get_if<long long>(&sheet)) {
    if (*number < 1) throw py::value_error("a worksheet number starts at 1");
    return std::to_string(*number);
  }
  return std::get<std::string>(sheet);
}

std::vector<std::string> SheetWords(
    const std::vector<std::variant<long long, std::string>>& sheets) {
  std::vector<std::string> words;
  for (const auto& sheet : sheets) words.push_back(SheetWord(sheet));
  return words;
}

}  // namespace
}  // namespace cellverter

PYBIND11_MODULE(_core, m) {
  using namespace cellverter;
  m.doc() = "The conversion core of cellverter; use the cellverter package instead.";

  // A core error becomes the class of its kind, defined in cellverter._errors.
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const Error& error) {
      py::object errors = py::module_::import("cellverter._errors");
      py::object type = errors.attr(ErrorClassName(error.Kind()));
      PyErr_SetString(type.ptr(), error.what());
    }
  });

  m.def(
      "read",
      [](const std::string& path, const std::variant<long long, std::string>& sheet,
         const std::string& password) {
        const std::string word = SheetWord(sheet);
        std::vector<std::vector<std::string>> rows;
        {
          py::gil_scoped_release release;
          CsvOptions options;
          options.password = password;
          rows = ReadWorksheetTexts(path, word, options);
        }
        py::list result(rows.size());
        for (std::size_t r = 0; r < rows.size(); ++r) {
          py::list row(rows[r].size());
          for (std::size_t c = 0; c < rows[r].size(); ++c) {
            row[c] = py::str(rows[r][c]);
          }
          result[r] = std::move(row);
        }
        return result;
      },
      py::arg("path"), py::arg("sheet") = 1, py::arg("password") = "");

  m.def(
      "sheets",
      [](const std::string& path, const std::string& password) {
        std::vector<SheetDescription> sheets;
        {
          py::gil_scoped_release release;
          sheets = DescribeSheets(path, password);
        }
        py::list result;
        for (const SheetDescription& sheet : sheets) {
          result.append(py::make_tuple(sheet.worksheetNumber, sheet.name, sheet.kind,
                                       sheet.visibility, sheet.usedRange));
        }
        return result;
      },
      py::arg("path"), py::arg("password") = "");

  m.def(
      "convert",
      [](const std::vector<std::string>& paths, const std::string& destination,
         const std::string& separator, const std::string& encoding,
         const std::vector<std::variant<long long, std::string>>& sheets, bool allSheets,
         unsigned jobs, long long maxCells, const std::string& password, const std::string& values,
         bool skipHidden, bool fillMerged, bool trim, const std::string& quoting,
         const std::string& lineEnding) {
        const CsvOptions options = OptionsOf(separator, encoding, maxCells, password, values,
                                             skipHidden, fillMerged, trim, quoting, lineEnding);
        const SheetChoice choice = ChoiceOf(SheetWords(sheets), allSheets);
        if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());
        CollectingObserver observer(paths);
        {
          py::gil_scoped_release release;
          RunBatchInParallel(paths, destination, options, jobs, observer, choice);
        }
        if (!observer.destinationError.empty()) {
          throw Error(observer.destinationError, ErrorKind::kOutputFolder);
        }
        py::list result;
        for (const WorkbookOutcome& outcome : observer.outcomes) result.append(ToDict(outcome));
        return result;
      },
      py::arg("paths"), py::arg("destination"), py::arg("separator"), py::arg("encoding"),
      py::arg("sheets"), py::arg("all_sheets"), py::arg("jobs"), py::arg("max_cells"),
      py::arg("password"), py::arg("values"), py::arg("skip_hidden"), py::arg("fill_merged"),
      py::arg("trim"), py::arg("quoting"), py::arg("line_ending"));

  m.def("output_name_family", &OutputNameFamily, py::arg("workbook"));
  m.def("output_path", &OutputPathFor, py::arg("destination"), py::arg("workbook"));
}
