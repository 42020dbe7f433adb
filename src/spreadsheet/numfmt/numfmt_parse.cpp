// Turns a format code into sections of tokens: split at ';', tokenize each section, then
// resolve what depends on the whole section (date or number, minutes or months, grouping or
// scaling commas, the parts of a number).
#include <algorithm>
#include <charconv>
#include <cstring>

#include "spreadsheet/numfmt/numfmt_code.h"

namespace cellverter::numfmt {
namespace {

size_t Utf8Length(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  size_t length = 1;
  if (lead >= 0xF0) {
    length = 4;
  } else if (lead >= 0xE0) {
    length = 3;
  } else if (lead >= 0xC0) {
    length = 2;
  }
  return std::min(length, text.size() - at);
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != prefix[i]) return false;
  }
  return true;
}

bool EqualsNoCase(std::string_view text, std::string_view word) {
  return text.size() == word.size() && StartsWithNoCase(text, word);
}

size_t RunLength(std::string_view text, size_t at) {
  const char letter = Lower(text[at]);
  size_t end = at;
  while (end < text.size() && Lower(text[end]) == letter) ++end;
  return end - at;
}

bool IsDateToken(Tok kind) { return kind >= Tok::Year2 && kind <= Tok::AOrP; }

// The text of a token that turns out to be plain text in its section.
std::string LiteralText(const Token& token) {
  switch (token.kind) {
    case Tok::Digit:
      return std::string(1, token.placeholder);
    case Tok::Point:
      return ".";
    case Tok::Comma:
      return ",";
    case Tok::FractionBar:
      return "/" + token.text;
    case Tok::Exponent:
      return token.text + (token.plus ? "+" : "-");
    default:
      return token.text;
  }
}

class SectionParser {
 public:
  SectionParser(Section& section, const FormatLocale& locale)
      : section_(section), locale_(locale) {}

  // False for a code Excel would not accept (unclosed quote or bracket, unknown bracket).
  bool Tokenize(std::string_view source) {
    size_t i = 0;
    while (i < source.size()) {
      const char c = source[i];
      switch (c) {
        case '"': {
          const size_t close = source.find('"', i + 1);
          if (close == std::string_view::npos) return false;
          AddLiteral(source.substr(i + 1, close - i - 1));
          i = close + 1;
          break;
        }
        case '\\':
          if (i + 1 < source.size()) {
            const size_t length = Utf8Length(source, i + 1);
            AddLiteral(source.substr(i + 1, length));
            i += 1 + length;
          } else {
            ++i;
          }
          break;
        case '_':
          // A space as wide as the next character.
          i += 1 + (i + 1 < source.size() ? Utf8Length(source, i + 1) : 0);
          AddLiteral(" ");
          break;
        case '*':
          // Fill: a column wide enough to show the text adds nothing.
          i += 1 + (i + 1 < source.size() ? Utf8Length(source, i + 1) : 0);
          break;
        case '[': {
          const size_t close = source.find(']', i + 1);
          if (close == std::string_view::npos) return false;
          if (!Bracket(source.substr(i + 1, close - i - 1))) return false;
          i = close + 1;
          break;
        }
        case '0':
        case '#':
        case '?':
          Add(Token::Placeholder(c));
          ++i;
          break;
        case '.':
          Add(Token(Tok::Point));
          ++i;
          break;
        case ',':
          Add(Token(Tok::Comma));
          ++i;
          break;
        case '%':
          AddLiteral("%");
          section_.decimalShift += 2;
          ++i;
          break;
        case '/': {
          Token bar(Tok::FractionBar);
          ++i;
          if (i < source.size() && source[i] >= '1' && source[i] <= '9') {
            while (i < source.size() && source[i] >= '0' && source[i] <= '9') {
              bar.text += source[i++];
            }
          }
          Add(std::move(bar));
          break;
        }
        case '@':
          Add(Token(Tok::TextValue));
          ++i;
          break;
        case 'E':
        case 'e':
          if (i + 1 < source.size() && (source[i + 1] == '+' || source[i + 1] == '-')) {
            Token exponent(Tok::Exponent, std::string(1, c));  // e keeps its case
            exponent.plus = source[i + 1] == '+';
            Add(std::move(exponent));
            i += 2;
          } else {
            // "e" is the year in Excel's date codes.
            i += RunLength(source, i);
            Add(Token(Tok::Year4));
          }
          break;
        case 'y':
        case 'Y': {
          const size_t run = RunLength(source, i);
          Add(Token(run <= 2 ? Tok::Year2 : Tok::Year4));
          i += run;
          break;
        }
        case 'b':
        case 'B': {
          // B1 and B2 choose the Gregorian or the Hijri calendar; b and bb are the two-digit
          // Buddhist year, bbb and more the four-digit one.
          if (i + 1 < source.size() && (source[i + 1] == '1' || source[i + 1] == '2')) {
            section_.hijri = source[i + 1] == '2';
            i += 2;
            break;
          }
          const size_t run = RunLength(source, i);
          Add(Token(run <= 2 ? Tok::BuddhistYear2 : Tok::BuddhistYear4));
          i += run;
          break;
        }
        case 'm':
        case 'M': {
          const size_t run = RunLength(source, i);
          static constexpr Tok kMonths[] = {Tok::Month, Tok::Month2, Tok::MonthAbbr, Tok::MonthName,
                                            Tok::MonthLetter};
          Add(Token(run <= 5 ? kMonths[run - 1] : Tok::MonthName));
          i += run;
          break;
        }
        case 'd':
        case 'D': {
          const size_t run = RunLength(source, i);
          static constexpr Tok kDays[] = {Tok::Day, Tok::Day2, Tok::DayAbbr, Tok::DayName};
          Add(Token(kDays[std::min<size_t>(run, 4) - 1]));
          i += run;
          break;
        }
        case 'h':
        case 'H': {
          const size_t run = RunLength(source, i);
          Add(Token(run == 1 ? Tok::Hour : Tok::Hour2));
          i += run;
          break;
        }
        case 's':
        case 'S': {
          const size_t run = RunLength(source, i);
          Add(Token(run == 1 ? Tok::Second : Tok::Second2));
          i += run;
          break;
        }
        case 'a':
        case 'A':
          if (StartsWithNoCase(source.substr(i), "am/pm")) {
            Add(Token(Tok::AmPm));
            i += 5;
          } else if (StartsWithNoCase(source.substr(i), "a/p")) {
            Add(Token(Tok::AOrP, {source[i], source[i + 2]}));
            i += 3;
          } else {
            AddLiteral(source.substr(i, 1));
            ++i;
          }
          break;
        case 'g':
        case 'G':
          if (StartsWithNoCase(source.substr(i), "general")) {
            Add(Token(Tok::General));
            i += 7;
          } else {
            AddLiteral(source.substr(i, 1));
            ++i;
          }
          break;
        default: {
          const size_t length = Utf8Length(source, i);
          AddLiteral(source.substr(i, length));
          i += length;
          break;
        }
      }
    }
    return true;
  }

  // [$-F800] and [$-F400]: the section is the locale's long date or long time.
  std::string_view Replacement() const {
    if (longDate_) return locale_.longDateCode;
    if (longTime_) return locale_.longTimeCode;
    return {};
  }

 private:
  void Add(Token token) { section_.tokens.push_back(std::move(token)); }

  void AddLiteral(std::string_view text) {
    if (text.empty()) return;
    auto& tokens = section_.tokens;
    if (!tokens.empty() && tokens.back().kind == Tok::Literal) {
      tokens.back().text += text;
    } else {
      tokens.push_back(Token(Tok::Literal, std::string(text)));
    }
  }

  bool Bracket(std::string_view content) {
    if (content.empty()) return false;
    if (content[0] == '$') return LocaleTag(content.substr(1));
    if (content[0] == '<' || content[0] == '>' || content[0] == '=') return ConditionTag(content);
    const char first = Lower(content[0]);
    if ((first == 'h' || first == 'm' || first == 's') && RunLength(content, 0) == content.size()) {
      const Tok kind = first == 'h'   ? Tok::ElapsedHours
                       : first == 'm' ? Tok::ElapsedMinutes
                                      : Tok::ElapsedSeconds;
      Token elapsed(kind);
      elapsed.width = static_cast<uint16_t>(std::min<size_t>(content.size(), 16));
      Add(std::move(elapsed));
      return true;
    }
    static constexpr std::string_view kColours[] = {"black",   "blue", "cyan",  "green",
                                                    "magenta", "red",  "white", "yellow"};
    for (std::string_view colour : kColours) {
      if (EqualsNoCase(content, colour)) return true;
    }
    for (std::string_view prefix :
         {std::string_view("color"), std::string_view("dbnum"), std::string_view("natnum")}) {
      if (StartsWithNoCase(content, prefix) && content.size() > prefix.size() &&
          std::all_of(content.begin() + static_cast<long>(prefix.size()), content.end(),
                      [](char c) { return c >= '0' && c <= '9'; })) {
        if (prefix == "dbnum" && content.size() == prefix.size() + 1)
          section_.dbNum = static_cast<uint8_t>(content.back() - '0');
        return true;
      }
    }
    return false;
  }

  // [$sym-LCID]: the symbol is shown; the locale gives the names of months and days.
  bool LocaleTag(std::string_view content) {
    const size_t dash = content.find('-');
    AddLiteral(content.substr(0, dash));
    if (dash == std::string_view::npos) return true;
    const std::string_view hex = content.substr(dash + 1);
    uint32_t lcid = 0;
    const auto result = std::from_chars(hex.data(), hex.data() + hex.size(), lcid, 16);
    if (result.ec != std::errc()) return true;
    // The high bytes choose a calendar and digits; the low word is the locale.
    const unsigned language = lcid & 0xFFFF;
    if (language == 0xF800) {
      longDate_ = true;
    } else if (language == 0xF400) {
      longTime_ = true;
    } else if (language != 0) {
      section_.names = FormatLocale::ForLcid(language);
    }
    return true;
  }

  bool ConditionTag(std::string_view content) {
    size_t length = 1;
    CompareOp op = CompareOp::Equal;
    if (content.starts_with("<=")) {
      op = CompareOp::LessEqual, length = 2;
    } else if (content.starts_with(">=")) {
      op = CompareOp::GreaterEqual, length = 2;
    } else if (content.starts_with("<>")) {
      op = CompareOp::NotEqual, length = 2;
    } else if (content[0] == '<') {
      op = CompareOp::Less;
    } else if (content[0] == '>') {
      op = CompareOp::Greater;
    }
    std::string_view number = content.substr(length);
    while (!number.empty() && number.front() == ' ') number.remove_prefix(1);
    while (!number.empty() && number.back() == ' ') number.remove_suffix(1);
    if (!number.empty() && number.front() == '+') number.remove_prefix(1);
    double operand = 0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), operand);
    if (number.empty() || result.ec != std::errc() || result.ptr != number.data() + number.size()) {
      return false;
    }
    section_.condition = {op, operand};
    return true;
  }

  Section& section_;
  const FormatLocale& locale_;
  bool longDate_ = false;
  bool longTime_ = false;
};

void ToLiterals(Section& section, bool keep(const Token&)) {
  std::vector<Token> merged;
  for (Token& token : section.tokens) {
    if (keep(token)) {
      merged.push_back(std::move(token));
      continue;
    }
    std::string text = LiteralText(token);
    if (text.empty()) continue;
    if (!merged.empty() && merged.back().kind == Tok::Literal) {
      merged.back().text += text;
    } else {
      merged.push_back(Token(Tok::Literal, std::move(text)));
    }
  }
  section.tokens = std::move(merged);
}

void ResolveDateTime(Section& section) {
  auto& tokens = section.tokens;
  // ".000" after seconds: fractions of a second.
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].kind != Tok::Point) continue;
    size_t end = i + 1;
    while (end < tokens.size() && tokens[end].kind == Tok::Digit &&
           tokens[end].placeholder == '0') {
      ++end;
    }
    if (end == i + 1) continue;
    const auto digits = static_cast<uint16_t>(std::min<size_t>(end - i - 1, 3));
    tokens[i] = Token(Tok::SubSecond);
    tokens[i].width = digits;
    tokens.erase(tokens.begin() + static_cast<long>(i) + 1,
                 tokens.begin() + static_cast<long>(end));
    section.subSecondDigits = std::max<int>(section.subSecondDigits, digits);
  }
  // m and mm are minutes after an hour or before a second.
  std::vector<size_t> dateTokens;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (IsDateToken(tokens[i].kind) && tokens[i].kind != Tok::AmPm && tokens[i].kind != Tok::AOrP &&
        tokens[i].kind != Tok::SubSecond) {
      dateTokens.push_back(i);
    }
  }
  for (size_t k = 0; k < dateTokens.size(); ++k) {
    Token& token = tokens[dateTokens[k]];
    if (token.kind != Tok::Month && token.kind != Tok::Month2) continue;
    const auto isHour = [](Tok kind) {
      return kind == Tok::Hour || kind == Tok::Hour2 || kind == Tok::ElapsedHours;
    };
    const auto isSecond = [](Tok kind) {
      return kind == Tok::Second || kind == Tok::Second2 || kind == Tok::ElapsedSeconds;
    };
    const bool afterHourOrSecond = k > 0 && (isHour(tokens[dateTokens[k - 1]].kind) ||
                                             isSecond(tokens[dateTokens[k - 1]].kind));
    const bool beforeSecond = k + 1 < dateTokens.size() && isSecond(tokens[dateTokens[k + 1]].kind);
    if (afterHourOrSecond || beforeSecond)
      token.kind = token.kind == Tok::Month ? Tok::Minute : Tok::Minute2;
  }
  // After [h], [m] or [s], a plain h, m or s of the same unit counts elapsed time too.
  bool elapsedHours = false, elapsedMinutes = false, elapsedSeconds = false;
  for (Token& token : tokens) {
    const auto toElapsed = [&token](Tok kind, int width) {
      token.kind = kind;
      token.width = static_cast<uint16_t>(width);
    };
    switch (token.kind) {
      case Tok::ElapsedHours:
        elapsedHours = true;
        break;
      case Tok::ElapsedMinutes:
        elapsedMinutes = true;
        break;
      case Tok::ElapsedSeconds:
        elapsedSeconds = true;
        break;
      case Tok::Hour:
      case Tok::Hour2:
        if (elapsedHours) toElapsed(Tok::ElapsedHours, token.kind == Tok::Hour ? 1 : 2);
        break;
      case Tok::Month:
      case Tok::Month2:
      case Tok::Minute:
      case Tok::Minute2:
        if (elapsedMinutes) {
          toElapsed(Tok::ElapsedMinutes,
                    token.kind == Tok::Minute || token.kind == Tok::Month ? 1 : 2);
        }
        break;
      case Tok::Second:
      case Tok::Second2:
        if (elapsedSeconds) toElapsed(Tok::ElapsedSeconds, token.kind == Tok::Second ? 1 : 2);
        break;
      default:
        break;
    }
  }
  section.hour12 = std::any_of(tokens.begin(), tokens.end(), [](const Token& token) {
    return token.kind == Tok::AmPm || token.kind == Tok::AOrP;
  });
  ToLiterals(section, [](const Token& token) {
    return token.kind == Tok::Literal || IsDateToken(token.kind);
  });
}

void Number(Token& token, Part part, int& counter) {
  token.part = part;
  token.index = static_cast<uint16_t>(counter++);
}

bool ResolveFraction(Section& section) {
  auto& tokens = section.tokens;
  // The bar of a fraction has a placeholder somewhere before it.
  size_t bar = tokens.size();
  bool digitBefore = false;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].kind == Tok::Digit) digitBefore = true;
    if (tokens[i].kind == Tok::FractionBar && digitBefore) {
      bar = i;
      break;
    }
  }
  if (bar == tokens.size()) return false;
  // The numerator is the last run of placeholders before the bar, even with text between
  // them (#\:#=/=#); the placeholders before it are the whole number's.
  size_t numeratorEnd = bar;
  while (tokens[numeratorEnd - 1].kind != Tok::Digit) --numeratorEnd;
  size_t numeratorStart = numeratorEnd;
  while (numeratorStart > 0 && tokens[numeratorStart - 1].kind == Tok::Digit) --numeratorStart;

  section.kind = SectionKind::Fraction;
  if (!tokens[bar].text.empty()) {
    std::from_chars(tokens[bar].text.data(), tokens[bar].text.data() + tokens[bar].text.size(),
                    section.fixedDenominator);
    if (section.fixedDenominator <= 0) section.fixedDenominator = 1;
  }
  // Only the first run of placeholders after the bar limits the denominator; later ones pad.
  int denominatorRun = 0;
  bool denominatorRunOver = false;
  for (size_t i = 0; i < tokens.size(); ++i) {
    Token& token = tokens[i];
    if (token.kind != Tok::Digit) {
      if (i > bar && denominatorRun > 0) denominatorRunOver = true;
      continue;
    }
    if (i < numeratorStart) {
      Number(token, Part::Integer, section.integerDigits);
    } else if (i < bar) {
      Number(token, Part::Numerator, section.numeratorDigits);
    } else if (section.fixedDenominator == 0) {
      Number(token, Part::Denominator, section.denominatorDigits);
      if (!denominatorRunOver) ++denominatorRun;
    } else {
      token.kind = Tok::Literal, token.text.clear();  // digits after a fixed denominator
    }
  }
  section.denominatorLimitDigits = denominatorRun;
  if (section.fixedDenominator == 0 && section.denominatorDigits == 0)
    section.denominatorDigits = 1;
  if (section.denominatorLimitDigits == 0) section.denominatorLimitDigits = 1;
  ToLiterals(section, [](const Token& token) {
    return token.kind == Tok::Literal || token.kind == Tok::Digit || token.kind == Tok::FractionBar;
  });
  // Only the first bar is the fraction's; later ones are text.
  bool seenBar = false;
  for (Token& token : section.tokens) {
    if (token.kind != Tok::FractionBar) continue;
    if (seenBar) token = Token(Tok::Literal, LiteralText(token));
    seenBar = true;
  }
  return true;
}

void ResolveNumber(Section& section) {
  if (ResolveFraction(section)) return;
  auto& tokens = section.tokens;
  Part part = Part::Integer;
  bool seenDigit = false;
  for (size_t i = 0; i < tokens.size(); ++i) {
    Token& token = tokens[i];
    switch (token.kind) {
      case Tok::Digit:
        seenDigit = true;
        if (part == Part::Integer) {
          Number(token, part, section.integerDigits);
        } else if (part == Part::Fraction) {
          Number(token, part, section.fractionDigits);
        } else {
          Number(token, part, section.exponentDigits);
        }
        break;
      case Tok::Point:
        if (part == Part::Integer) {
          part = Part::Fraction;
        } else {
          token = Token(Tok::Literal, ".");
        }
        break;
      case Tok::Exponent:
        if (seenDigit && part != Part::Exponent) {
          part = Part::Exponent;
          section.scientific = true;
        } else {
          token = Token(Tok::Literal, LiteralText(token));
        }
        break;
      case Tok::Comma: {
        const bool afterDigit = i > 0 && tokens[i - 1].kind == Tok::Digit;
        const bool beforeDigit = i + 1 < tokens.size() && tokens[i + 1].kind == Tok::Digit;
        if (part == Part::Integer && seenDigit && beforeDigit) {
          section.grouping = true;
          token.text = "group";  // removed below
        } else if (seenDigit && !beforeDigit &&
                   (afterDigit ||
                    (i > 0 && tokens[i - 1].kind == Tok::Comma && tokens[i - 1].text == "scale"))) {
          section.decimalShift -= 3;
          token.text = "scale";
        } else {
          token = Token(Tok::Literal, ",");
        }
        break;
      }
      default:
        break;
    }
  }
  tokens.erase(std::remove_if(tokens.begin(), tokens.end(),
                              [](const Token& token) { return token.kind == Tok::Comma; }),
               tokens.end());
  ToLiterals(section, [](const Token& token) {
    return token.kind == Tok::Literal || token.kind == Tok::Digit || token.kind == Tok::Point ||
           token.kind == Tok::Exponent;
  });
}

bool ParseSection(std::string_view source, const FormatLocale& locale, Section& section) {
  SectionParser parser(section, locale);
  if (!parser.Tokenize(source)) return false;
  if (const std::string_view replacement = parser.Replacement(); !replacement.empty()) {
    const Condition condition = section.condition;
    section = {};
    SectionParser inner(section, locale);
    if (!inner.Tokenize(replacement)) return false;
    section.condition = condition;
  }
  const auto has = [&](auto predicate) {
    return std::any_of(section.tokens.begin(), section.tokens.end(), predicate);
  };
  if (has([](const Token& token) { return token.kind == Tok::TextValue; })) {
    section.kind = SectionKind::Text;
    ToLiterals(section, [](const Token& token) {
      return token.kind == Tok::Literal || token.kind == Tok::TextValue;
    });
  } else if (has([](const Token& token) { return IsDateToken(token.kind); })) {
    section.kind = SectionKind::DateTime;
    ResolveDateTime(section);
  } else if (has([](const Token& token) { return token.kind == Tok::General; })) {
    section.kind = SectionKind::General;
    ToLiterals(section, [](const Token& token) {
      return token.kind == Tok::Literal || token.kind == Tok::General;
    });
  } else {
    section.kind = SectionKind::Number;
    ResolveNumber(section);
  }
  return true;
}

// Splits at ';' outside quotes, brackets and escapes.
std::vector<std::string_view> SplitSections(std::string_view code) {
  std::vector<std::string_view> sections;
  size_t start = 0;
  bool quoted = false;
  bool bracket = false;
  for (size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (quoted) {
      quoted = c != '"';
    } else if (bracket) {
      bracket = c != ']';
    } else if (c == '"') {
      quoted = true;
    } else if (c == '[') {
      bracket = true;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;
    } else if (c == ';') {
      sections.push_back(code.substr(start, i - start));
      start = i + 1;
    }
  }
  sections.push_back(code.substr(start));
  return sections;
}

}  // namespace

ParsedFormat ParseFormatCode(std::string_view code, const FormatLocale& locale) {
  ParsedFormat parsed;
  if (code.empty()) return parsed;
  const std::vector<std::string_view> sources = SplitSections(code);
  if (sources.size() > 4) return parsed;
  for (std::string_view source : sources) {
    Section section;
    if (!ParseSection(source, locale, section)) return parsed;
    parsed.sections.push_back(std::move(section));
  }
  if (parsed.sections.size() == 4) {
    parsed.textSection = 3;
  } else if (parsed.sections.back().kind == SectionKind::Text) {
    parsed.textSection = static_cast<int>(parsed.sections.size()) - 1;
  }
  parsed.valid = true;
  return parsed;
}

}  // namespace cellverter::numfmt
