#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// UTF-8 and UTF-16, once for every layer: the readers turn UTF-16 and escapes into UTF-8, the
// CSV encoders, the settings store and the reports read UTF-8.
namespace cellverter {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

inline bool IsUtf8Continuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}
inline constexpr bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline constexpr bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
inline constexpr char32_t CombineSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// `c` must be a code point (at most U+10FFFF); surrogates are the caller's to replace.
inline void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Not a code point: what DecodeUtf8OrInvalid gives for malformed input.
inline constexpr char32_t kInvalidUtf8 = 0xFFFFFFFF;

// Decodes the code point at `pos` and advances past it. Malformed input (a stray or cut-off
// sequence, an overlong form, a surrogate, beyond U+10FFFF) gives kInvalidUtf8 and consumes
// one byte.
inline char32_t DecodeUtf8OrInvalid(std::string_view text, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  std::size_t length = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, minimum = 0x10000;
  }
  if (length == 0 || pos + length > text.size()) {
    ++pos;
    return kInvalidUtf8;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (!IsUtf8Continuation(text[pos + i])) {
      ++pos;
      return kInvalidUtf8;
    }
    cp = (cp << 6) | (byte(pos + i) & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || IsHighSurrogate(cp) || IsLowSurrogate(cp)) {
    ++pos;
    return kInvalidUtf8;
  }
  pos += length;
  return cp;
}

// As DecodeUtf8OrInvalid, with U+FFFD for malformed input.
inline char32_t DecodeUtf8(std::string_view text, std::size_t& pos) {
  const char32_t cp = DecodeUtf8OrInvalid(text, pos);
  return cp == kInvalidUtf8 ? kReplacementCharacter : cp;
}

inline bool IsValidUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    if (DecodeUtf8OrInvalid(text, pos) == kInvalidUtf8) return false;
  }
  return true;
}

// The number of characters (code points) of UTF-8 text.
inline std::size_t Utf8Length(std::string_view text) {
  std::size_t characters = 0;
  for (const char c : text) characters += !IsUtf8Continuation(c);
  return characters;
}

// Joins UTF-16 code units into UTF-8; a surrogate without its partner becomes U+FFFD. A high
// surrogate waits for the next unit, also across calls, since text continued in another
// record may split a pair.
class Utf16ToUtf8 {
 public:
  void Append(char32_t unit, std::string& out) {
    if (IsHighSurrogate(unit)) {
      if (high_ != 0) AppendUtf8(kReplacementCharacter, out);
      high_ = unit;
      return;
    }
    if (IsLowSurrogate(unit)) {
      AppendUtf8(high_ != 0 ? CombineSurrogates(high_, unit) : kReplacementCharacter, out);
      high_ = 0;
      return;
    }
    Finish(out);
    AppendUtf8(unit, out);
  }
  // A high surrogate left waiting becomes U+FFFD.
  void Finish(std::string& out) {
    if (high_ != 0) AppendUtf8(kReplacementCharacter, out);
    high_ = 0;
  }

 private:
  char32_t high_ = 0;
};

}  // namespace cellverter
