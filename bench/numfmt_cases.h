#pragma once

// The cells of the number-format benchmarks: common format codes, each with 4096 values of
// the kind it meets.
#include <random>
#include <string_view>
#include <vector>

namespace cellverter::bench {

struct NumberFormatCase {
  const char* name;
  std::string_view code;
  std::vector<double> values;
};

inline std::vector<double> RandomValues(double low, double high) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> distribution(low, high);
  std::vector<double> values(4096);
  for (double& value : values) value = distribution(random);
  return values;
}

// Whole numbers (or whole cents, with `scale` 100) as people type them: their shortest
// digits are short.
inline std::vector<double> Truncated(std::vector<double> values, double scale) {
  for (double& value : values)
    value = static_cast<double>(static_cast<long>(value * scale)) / scale;
  return values;
}

inline std::vector<NumberFormatCase> NumberFormatCases() {
  return {
      {"GeneralIntegers", "General", Truncated(RandomValues(0, 1e6), 1)},
      {"GeneralDecimals", "General", RandomValues(-1e4, 1e4)},
      {"FixedDecimals", "#,##0.00", RandomValues(-1e7, 1e7)},
      {"FixedDecimalsTypedAmounts", "#,##0.00", Truncated(RandomValues(-1e7, 1e7), 100)},
      {"DateTime", "yyyy-mm-dd hh:mm:ss", RandomValues(30000, 50000)},
      {"FourSections", "[Blue]#,##0.00_);[Red](#,##0.00);\"zero\";\"text: \"@",
       RandomValues(-1e5, 1e5)},
  };
}

}  // namespace cellverter::bench
