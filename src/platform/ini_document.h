#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cellverter {

// An INI document that keeps its lines in file order. One reading rule for every INI file
// the program keeps: an optional UTF-8 byte order mark is skipped; lines end with CR LF, LF
// or CR; every line is stripped of leading and trailing characters with codes up to 32;
// empty lines and lines starting with ";" hold nothing; "[" name "]" starts a section (the
// name stripped too); any other line of a section is split at its first "=" (key stripped
// at its end, value at its start) or, without "=", kept as text that holds no value; lines
// before the first section belong to no section. Section and key names are compared without
// regard to letter case (Unicode case folding); the first section and the first entry of a
// name count.
class IniDocument {
 public:
  // How the document is written back.
  enum class Layout {
    // UTF-8 with a byte order mark and CR LF: per section "[name]", its entries as
    // key=value and its text lines, then an empty line. Comments, empty lines and lines
    // before the first section are dropped.
    kSections,
    // No byte order mark, LF: every line as it was read, comments, empty lines and lines
    // before the first section included; only changed or new entries are written as
    // key=value.
    kAsRead,
  };

  static IniDocument Parse(std::string_view text);
  std::string Serialize(Layout layout) const;

  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  // Changes the first entry of the key in place, or adds it after the section's last line
  // that is not empty (creating the section at the end). Line breaks in keys or values are
  // written as blanks so that a value never becomes several lines.
  void SetValue(std::string_view section, std::string_view key, std::string_view value);

  // The comparison of section and key names.
  static bool SameName(std::string_view a, std::string_view b);

 private:
  enum class Kind { kEmpty, kComment, kText, kEntry };
  struct Line {
    Kind kind = Kind::kEmpty;
    std::string raw;    // as read; empty for a new or changed entry
    std::string text;   // the stripped line (kText), or the key (kEntry)
    std::string value;  // kEntry only
  };
  struct Section {
    std::string name;
    std::string rawHeader;  // as read; empty for a new section
    std::vector<Line> lines;
  };
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;

  Section preamble_;  // the lines before the first section
  std::vector<Section> sections_;
};

}  // namespace cellverter
