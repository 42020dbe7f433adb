// A fixed amount of rendering for timing the whole program (hyperfine): every value of the
// benchmark cases, ROUNDS times, appended to one reused buffer per round as the CSV writer
// does. Prints a hash of the texts, so that two builds can be shown to render alike.
//
//   number_format_render [ROUNDS [CASE]]     ROUNDS defaults to 200; CASE is a case name
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "numfmt_cases.h"
#include "spreadsheet/numfmt/number_format.h"

int main(int argc, char** argv) {
  using namespace cellverter;
  const long rounds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 200;
  const std::string_view only = argc > 2 ? argv[2] : "";
  NumberFormatCache cache(FormatLocale::EnUs());
  std::string out;
  size_t hash = 0;
  for (const bench::NumberFormatCase& c : bench::NumberFormatCases()) {
    if (!only.empty() && only != c.name) continue;
    const NumberFormat& format = cache.Get({0, std::string(c.code)});
    for (long round = 0; round < rounds; ++round) {
      out.clear();
      for (double value : c.values) {
        format.Render(CellValue::Number(value), false, out);
        out += '\n';
      }
      hash = hash * 31 + std::hash<std::string>{}(out);
    }
  }
  std::printf("%016zx\n", hash);
  return 0;
}
