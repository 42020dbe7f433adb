#include "platform/ini_document.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace cellverter {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view TrimStart(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view TrimEnd(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view Trim(std::string_view text) { return TrimEnd(TrimStart(text)); }

std::string SingleLine(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return result;
}

}  // namespace

bool IniDocument::SameName(std::string_view a, std::string_view b) {
  if (a == b) return true;
  const auto ua = icu::UnicodeString::fromUTF8(icu::StringPiece(a.data(), a.size()));
  const auto ub = icu::UnicodeString::fromUTF8(icu::StringPiece(b.data(), b.size()));
  return ua.caseCompare(ub, U_FOLD_CASE_DEFAULT) == 0;
}

IniDocument IniDocument::Parse(std::string_view text) {
  if (text.starts_with(kBom)) text.remove_prefix(kBom.size());

  IniDocument document;
  Section* current = &document.preamble_;
  while (!text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    const std::string_view raw = text.substr(0, end);
    if (end == std::string_view::npos) {
      text = {};
    } else {
      const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
      text.remove_prefix(end + (crlf ? 2 : 1));
    }

    const std::string_view line = Trim(raw);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      document.sections_.push_back(
          Section{std::string(Trim(line.substr(1, line.size() - 2))), std::string(raw), {}});
      current = &document.sections_.back();
      continue;
    }
    Line parsed{Kind::kEmpty, std::string(raw), {}, {}};
    if (line.empty()) {
      parsed.kind = Kind::kEmpty;
    } else if (line.front() == ';') {
      parsed.kind = Kind::kComment;
    } else if (const size_t equals = line.find('='); equals == std::string_view::npos) {
      parsed.kind = Kind::kText;
      parsed.text = line;
    } else {
      parsed.kind = Kind::kEntry;
      parsed.text = TrimEnd(line.substr(0, equals));
      parsed.value = TrimStart(line.substr(equals + 1));
    }
    current->lines.push_back(std::move(parsed));
  }
  return document;
}

std::string IniDocument::Serialize(Layout layout) const {
  std::string text;
  if (layout == Layout::kSections) {
    text = kBom;
    for (const Section& section : sections_) {
      text += "[" + section.name + "]\r\n";
      for (const Line& line : section.lines) {
        if (line.kind == Kind::kText) text += line.text + "\r\n";
        if (line.kind == Kind::kEntry) text += line.text + "=" + line.value + "\r\n";
      }
      text += "\r\n";
    }
    return text;
  }
  auto writeLines = [&text](const Section& section) {
    for (const Line& line : section.lines) {
      const bool rendered = line.kind == Kind::kEntry && line.raw.empty();
      text += rendered ? line.text + "=" + line.value : line.raw;
      text += '\n';
    }
  };
  writeLines(preamble_);
  for (const Section& section : sections_) {
    text += section.rawHeader.empty() ? "[" + section.name + "]" : section.rawHeader;
    text += '\n';
    writeLines(section);
  }
  return text;
}

IniDocument::Section* IniDocument::FindSection(std::string_view name) {
  for (Section& section : sections_) {
    if (SameName(section.name, name)) return &section;
  }
  return nullptr;
}

const IniDocument::Section* IniDocument::FindSection(std::string_view name) const {
  return const_cast<IniDocument*>(this)->FindSection(name);
}

std::optional<std::string> IniDocument::Value(std::string_view section,
                                              std::string_view key) const {
  const Section* found = FindSection(section);
  if (found == nullptr) return std::nullopt;
  for (const Line& line : found->lines) {
    if (line.kind == Kind::kEntry && SameName(line.text, key)) return line.value;
  }
  return std::nullopt;
}

void IniDocument::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  Section* found = FindSection(section);
  if (found == nullptr) {
    sections_.push_back(Section{SingleLine(section), {}, {}});
    found = &sections_.back();
  }
  for (Line& line : found->lines) {
    if (line.kind == Kind::kEntry && SameName(line.text, key)) {
      line.value = SingleLine(value);
      line.raw.clear();  // the key keeps the spelling it has in the file
      return;
    }
  }
  // Next to the section's last line, before the empty lines that end it.
  auto at = found->lines.end();
  while (at != found->lines.begin() && std::prev(at)->kind == Kind::kEmpty) --at;
  found->lines.insert(at, Line{Kind::kEntry, {}, SingleLine(key), SingleLine(value)});
}

}  // namespace cellverter
