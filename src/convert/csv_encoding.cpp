#include "convert/csv_encoding.h"

#include <cstdint>
#include <cstring>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>

#include <string>
#include <unordered_map>
#include <utility>

#include "platform/error.h"
#include "platform/utf8.h"

namespace cellverter {

int EncodingIndexFromStoredWord(std::string_view word) {
  for (size_t i = 0; i < kCsvEncodings.size(); ++i) {
    if (kCsvEncodings[i].storedWord == word) return static_cast<int>(i);
  }
  return 0;
}

std::string_view StoredWordOfIndex(int index) {
  if (index < 0 || index >= static_cast<int>(kCsvEncodings.size())) return {};
  return kCsvEncodings[static_cast<size_t>(index)].storedWord;
}

namespace {

// Copies the run of ASCII bytes at `pos` as it is (the common case of every encoder) and
// returns the position after it.
size_t CopyAsciiRun(std::string_view utf8, size_t pos, std::string& out) {
  const size_t start = pos;
  // Eight bytes at a time while none has its high bit set: a line is mostly ASCII.
  constexpr uint64_t kHighBits = 0x8080808080808080;
  for (uint64_t word; pos + 8 <= utf8.size(); pos += 8) {
    std::memcpy(&word, utf8.data() + pos, 8);
    if ((word & kHighBits) != 0) break;
  }
  while (pos < utf8.size() && static_cast<unsigned char>(utf8[pos]) < 0x80) ++pos;
  out.append(utf8.data() + start, pos - start);
  return pos;
}

class Utf8Encoder final : public TextEncoder {
 public:
  void Append(std::string_view utf8, std::string& out) override {
    // Well-formed input passes through untouched; only bad bytes need the slow path.
    size_t pos = 0;
    while (pos < utf8.size()) {
      pos = CopyAsciiRun(utf8, pos, out);
      if (pos == utf8.size()) break;
      const size_t before = pos;
      const char32_t cp = DecodeUtf8(utf8, pos);
      if (cp == 0xFFFD && pos == before + 1) {
        out += "\xEF\xBF\xBD";
      } else {
        out.append(utf8.data() + before, pos - before);
      }
    }
  }
};

class Utf16Encoder final : public TextEncoder {
 public:
  explicit Utf16Encoder(bool bigEndian) : bigEndian_(bigEndian) {}

  void Append(std::string_view utf8, std::string& out) override {
    out.reserve(out.size() + utf8.size() * 2);
    size_t pos = 0;
    while (pos < utf8.size()) {
      const char32_t cp = DecodeUtf8(utf8, pos);
      if (cp >= 0x10000) {
        const char32_t v = cp - 0x10000;
        PutUnit(static_cast<char16_t>(0xD800 + (v >> 10)), out);
        PutUnit(static_cast<char16_t>(0xDC00 + (v & 0x3FF)), out);
      } else {
        PutUnit(static_cast<char16_t>(cp), out);
      }
    }
  }

 private:
  void PutUnit(char16_t unit, std::string& out) const {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    if (bigEndian_) {
      out += high;
      out += low;
    } else {
      out += low;
      out += high;
    }
  }

  bool bigEndian_;
};

// Windows' conversion to an ANSI code page: the code page's own mapping (with its
// fallbacks), else the best fit of the character's compatibility decomposition without
// accents (é -> e, ﬁ -> fi, ① -> 1), else "?" for each UTF-16 unit.
constexpr std::pair<char32_t, char> kStrokedLetters[] = {
    {0x0110, 'D'}, {0x0111, 'd'}, {0x0126, 'H'}, {0x0127, 'h'}, {0x0131, 'i'}, {0x0141, 'L'},
    {0x0142, 'l'}, {0x0166, 'T'}, {0x0167, 't'}, {0x0180, 'b'}, {0x0197, 'I'}, {0x019A, 'l'},
};

class AnsiEncoder final : public TextEncoder {
 public:
  explicit AnsiEncoder(int codePage) {
    UErrorCode status = U_ZERO_ERROR;
    const std::string name = "windows-" + std::to_string(codePage);
    converter_ = ucnv_open(name.c_str(), &status);
    if (U_FAILURE(status)) {
      throw Error("The code page " + std::to_string(codePage) + " is not available.");
    }
    ucnv_setFallback(converter_, true);
    ucnv_setFromUCallBack(converter_, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &status);
  }
  ~AnsiEncoder() override { ucnv_close(converter_); }
  AnsiEncoder(const AnsiEncoder&) = delete;
  AnsiEncoder& operator=(const AnsiEncoder&) = delete;

  void Append(std::string_view utf8, std::string& out) override {
    size_t pos = 0;
    while (pos < utf8.size()) {
      pos = CopyAsciiRun(utf8, pos, out);
      if (pos == utf8.size()) break;
      const char32_t cp = DecodeUtf8(utf8, pos);
      auto found = cache_.find(cp);
      if (found == cache_.end()) found = cache_.emplace(cp, BestFit(cp)).first;
      out += found->second;
    }
  }

 private:
  // The code page's bytes for `text`, or nothing when any character is unmappable.
  std::string Convert(const icu::UnicodeString& text) {
    char buffer[64];
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetFromUnicode(converter_);
    const int32_t length = ucnv_fromUChars(converter_, buffer, sizeof buffer, text.getBuffer(),
                                           text.length(), &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING) return {};
    return std::string(buffer, static_cast<size_t>(length));
  }

  std::string BestFit(char32_t cp) {
    const icu::UnicodeString character(static_cast<UChar32>(cp));
    if (std::string direct = Convert(character); !direct.empty()) return direct;
    // Letters with a stroke have no decomposition, yet Windows fits them to the bare letter.
    for (const auto& [stroked, bare] : kStrokedLetters) {
      if (stroked == cp) return std::string(1, bare);
    }

    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfkd = icu::Normalizer2::getNFKDInstance(status);
    if (U_SUCCESS(status)) {
      const icu::UnicodeString decomposed = nfkd->normalize(character, status);
      icu::UnicodeString base;
      for (int32_t i = 0; i < decomposed.length();) {
        const UChar32 part = decomposed.char32At(i);
        if (u_charType(part) != U_NON_SPACING_MARK) base.append(part);
        i += U16_LENGTH(part);
      }
      if (U_SUCCESS(status) && !base.isEmpty() && base != character) {
        if (std::string fitted = Convert(base); !fitted.empty()) return fitted;
      }
    }
    return cp >= 0x10000 ? "??" : "?";
  }

  UConverter* converter_ = nullptr;
  std::unordered_map<char32_t, std::string> cache_;
};

}  // namespace

std::unique_ptr<TextEncoder> TextEncoder::Create(CsvEncoding encoding, int ansiCodePage) {
  switch (encoding) {
    case CsvEncoding::Ansi:
      return std::make_unique<AnsiEncoder>(ansiCodePage);
    case CsvEncoding::Utf8:
    case CsvEncoding::Utf8Bom:
      return std::make_unique<Utf8Encoder>();
    case CsvEncoding::Utf16BeBom:
      return std::make_unique<Utf16Encoder>(true);
    case CsvEncoding::Utf16LeBom:
      return std::make_unique<Utf16Encoder>(false);
  }
  throw Error("Unknown encoding.");
}

}  // namespace cellverter
