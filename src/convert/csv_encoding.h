#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

namespace cellverter {

// The five output encodings, in the order of the encoding list.
enum class CsvEncoding { Ansi = 0, Utf8 = 1, Utf8Bom = 2, Utf16BeBom = 3, Utf16LeBom = 4 };

struct CsvEncodingInfo {
  CsvEncoding encoding;
  std::string_view listText;    // what the encoding list shows
  std::string_view storedWord;  // what settings.ini keeps
  std::string_view byteOrderMark;
};

inline constexpr std::array<CsvEncodingInfo, 5> kCsvEncodings{{
    {CsvEncoding::Ansi, "ANSI", "ANSI", ""},
    {CsvEncoding::Utf8, "UTF-8", "UTF8", ""},
    {CsvEncoding::Utf8Bom, "UTF-8-BOM", "UTF8BOM", "\xEF\xBB\xBF"},
    {CsvEncoding::Utf16BeBom, "UTF-16 BE BOM", "UTF16BEBOM", "\xFE\xFF"},
    {CsvEncoding::Utf16LeBom, "UTF-16 LE BOM", "UTF16LEBOM", "\xFF\xFE"},
}};

// The list index of a stored word, compared exactly and case-sensitively; any other word
// gives index 0 ("ANSI").
int EncodingIndexFromStoredWord(std::string_view word);

// The stored word of a list index; empty for an index outside the list.
std::string_view StoredWordOfIndex(int index);

// Turns UTF-8 text into the bytes of one output encoding. Invalid UTF-8 input is taken as
// U+FFFD per bad byte.
class TextEncoder {
 public:
  virtual ~TextEncoder() = default;
  virtual void Append(std::string_view utf8, std::string& out) = 0;

  // An encoder for `encoding`; the ANSI one uses `ansiCodePage` (a Windows code page
  // number such as 1252 or 932) with Windows' best-fit substitution for characters the
  // code page lacks, "?" where none fits.
  static std::unique_ptr<TextEncoder> Create(CsvEncoding encoding, int ansiCodePage);
};

}  // namespace cellverter
