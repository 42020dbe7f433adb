#pragma once

#include <cstdint>
#include <string>

namespace cellverter {

// A typed cell as a reader finds it, before any number format is applied.
struct CellValue {
  enum class Kind : uint8_t { Empty, Number, String, Boolean, Error };

  Kind kind = Kind::Empty;
  double number = 0;  // Number: the value; Boolean: 0 or 1
  std::string text;   // String: the text (UTF-8); Error: its code, such as "#DIV/0!"

  static CellValue Empty() { return {}; }
  static CellValue Number(double value) { return {Kind::Number, value, {}}; }
  static CellValue String(std::string value) { return {Kind::String, 0, std::move(value)}; }
  static CellValue Boolean(bool value) { return {Kind::Boolean, value ? 1.0 : 0.0, {}}; }
  static CellValue ErrorCode(std::string code) { return {Kind::Error, 0, std::move(code)}; }
};

}  // namespace cellverter
