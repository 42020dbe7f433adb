#include "app/version_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/little_endian.h"

namespace cellverter {
namespace {

constexpr std::string_view kSectionName = ".cellverter.version";
constexpr std::string_view kRootKey = "VS_VERSION_INFO";
constexpr size_t kMaxRecordSize = 65536;  // node lengths are 16-bit

// The error of a failed step, in the words of the system's own error report.
[[noreturn]] void RaiseSystemError(int code) {
  if (code == 0) throw Error("A call to an OS function failed");
  throw Error("System Error.  Code: " + std::to_string(code) + ".\r\n" + SystemMessage(code));
}

class File {
 public:
  explicit File(const std::filesystem::path& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) RaiseSystemError(errno);
    struct stat info {};
    if (::fstat(fd_, &info) != 0) RaiseSystemError(errno);
    if (!S_ISREG(info.st_mode)) RaiseSystemError(S_ISDIR(info.st_mode) ? EISDIR : ENOEXEC);
    size_ = static_cast<uint64_t>(info.st_size);
  }
  ~File() { ::close(fd_); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  uint64_t size() const { return size_; }

  // The bytes [offset, offset + length); a range outside the file means a damaged file.
  std::vector<unsigned char> Read(uint64_t offset, uint64_t length) const {
    if (offset > size_ || length > size_ - offset) RaiseSystemError(ENOEXEC);
    std::vector<unsigned char> bytes(length);
    size_t done = 0;
    while (done < length) {
      const ssize_t n =
          ::pread(fd_, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) RaiseSystemError(errno);
      if (n == 0) RaiseSystemError(ENOEXEC);  // shrank while we read
      done += static_cast<size_t>(n);
    }
    return bytes;
  }

 private:
  int fd_;
  uint64_t size_ = 0;
};

// Integers of the ELF headers in the file's byte order (ELF specification, "ELF Header").
struct ElfReader {
  bool bigEndian = false;
  uint64_t Get(const std::vector<unsigned char>& bytes, size_t offset, size_t width) const {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) {
      const size_t index = bigEndian ? offset + i : offset + width - 1 - i;
      value = (value << 8) | bytes.at(index);
    }
    return value;
  }
};

struct SectionHeader {
  uint32_t name = 0;
  uint32_t type = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t link = 0;
};

constexpr uint32_t kShtNobits = 8;

// The contents of the section that holds the record, or nothing when the file has none.
// Damaged ELF structures raise ENOEXEC.
std::optional<std::vector<unsigned char>> ReadRecordSection(const File& file) {
  if (file.size() < 16) RaiseSystemError(ENOEXEC);
  const std::vector<unsigned char> ident = file.Read(0, 16);
  if (ident[0] != 0x7F || ident[1] != 'E' || ident[2] != 'L' || ident[3] != 'F') {
    RaiseSystemError(ENOEXEC);
  }
  const bool is64 = ident[4] == 2;
  if (ident[4] != 1 && ident[4] != 2) RaiseSystemError(ENOEXEC);
  if (ident[5] != 1 && ident[5] != 2) RaiseSystemError(ENOEXEC);
  const ElfReader elf{ident[5] == 2};

  const std::vector<unsigned char> header = file.Read(0, is64 ? 64 : 52);
  const uint64_t shoff = is64 ? elf.Get(header, 0x28, 8) : elf.Get(header, 0x20, 4);
  const size_t shentsize = elf.Get(header, is64 ? 0x3A : 0x2E, 2);
  uint64_t shnum = elf.Get(header, is64 ? 0x3C : 0x30, 2);
  uint64_t shstrndx = elf.Get(header, is64 ? 0x3E : 0x32, 2);
  if (shoff == 0) return std::nullopt;  // no section headers at all
  const size_t minEntry = is64 ? 64 : 40;
  if (shentsize < minEntry) RaiseSystemError(ENOEXEC);

  auto parseHeader = [&](const std::vector<unsigned char>& bytes, size_t at) {
    SectionHeader s;
    s.name = static_cast<uint32_t>(elf.Get(bytes, at, 4));
    s.type = static_cast<uint32_t>(elf.Get(bytes, at + 4, 4));
    s.offset = is64 ? elf.Get(bytes, at + 0x18, 8) : elf.Get(bytes, at + 0x10, 4);
    s.size = is64 ? elf.Get(bytes, at + 0x20, 8) : elf.Get(bytes, at + 0x14, 4);
    s.link =
        static_cast<uint32_t>(is64 ? elf.Get(bytes, at + 0x28, 4) : elf.Get(bytes, at + 0x18, 4));
    return s;
  };

  // Counts that do not fit the header live in the first section header.
  if (shnum == 0 || shstrndx == 0xFFFF) {
    const SectionHeader first = parseHeader(file.Read(shoff, shentsize), 0);
    if (shnum == 0) shnum = first.size;
    if (shstrndx == 0xFFFF) shstrndx = first.link;
  }
  if (shnum == 0) return std::nullopt;
  if (shnum > file.size() / shentsize || shstrndx >= shnum) RaiseSystemError(ENOEXEC);
  const std::vector<unsigned char> table = file.Read(shoff, shnum * shentsize);

  const SectionHeader names = parseHeader(table, shstrndx * shentsize);
  if (names.type == kShtNobits) RaiseSystemError(ENOEXEC);
  const std::vector<unsigned char> nameBytes = file.Read(names.offset, names.size);

  for (uint64_t i = 0; i < shnum; ++i) {
    const SectionHeader section = parseHeader(table, i * shentsize);
    if (section.name >= nameBytes.size()) continue;
    const auto* begin = reinterpret_cast<const char*>(nameBytes.data()) + section.name;
    const std::string_view name(begin, strnlen(begin, nameBytes.size() - section.name));
    if (name != kSectionName) continue;
    if (section.type == kShtNobits) return std::nullopt;
    return file.Read(section.offset, std::min<uint64_t>(section.size, kMaxRecordSize));
  }
  return std::nullopt;
}

// One node of the record: wLength, wValueLength, wType, the key (UTF-8, NUL-terminated),
// padding to 4 bytes, the value, padding, the child nodes (docs/architecture.md).
struct Node {
  size_t end = 0;  // one past the node's last byte
  std::string_view key;
  size_t valueOffset = 0;
  size_t valueLength = 0;
  size_t childrenOffset = 0;
};

size_t Align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

class Record {
 public:
  explicit Record(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}

  std::optional<Node> ParseNode(size_t offset, size_t limit) const {
    if (limit > bytes_.size() || offset + 6 > limit) return std::nullopt;
    const size_t length = U16(offset);
    if (length < 6 || length > limit - offset) return std::nullopt;
    Node node;
    node.end = offset + length;
    const auto* keyBegin = reinterpret_cast<const char*>(bytes_.data()) + offset + 6;
    const size_t keyLength = strnlen(keyBegin, node.end - offset - 6);
    if (offset + 6 + keyLength >= node.end) return std::nullopt;  // no terminating NUL
    node.key = std::string_view(keyBegin, keyLength);
    node.valueLength = U16(offset + 2);
    node.valueOffset = Align4(offset + 6 + keyLength + 1);
    if (node.valueOffset > node.end || node.valueLength > node.end - node.valueOffset) {
      if (node.valueLength != 0) return std::nullopt;
      node.valueOffset = node.end;
    }
    node.childrenOffset = std::min(Align4(node.valueOffset + node.valueLength), node.end);
    return node;
  }

  std::optional<Node> Child(const Node& parent, std::string_view key) const {
    size_t offset = parent.childrenOffset;
    while (offset + 6 <= parent.end) {
      const std::optional<Node> child = ParseNode(offset, parent.end);
      if (!child) return std::nullopt;
      if (EqualsIgnoringCase(child->key, key)) return child;
      offset = Align4(child->end);
    }
    return std::nullopt;
  }

  // Like VerQueryValue: follows the keys of `path` from the root.
  std::optional<Node> Query(const Node& root, std::initializer_list<std::string_view> path) const {
    std::optional<Node> node = root;
    for (std::string_view key : path) {
      node = Child(*node, key);
      if (!node) return std::nullopt;
    }
    return node;
  }

  size_t size() const { return bytes_.size(); }

  uint16_t U16(size_t offset) const { return LoadLe16(bytes_.data() + offset); }

  // A text value up to its first NUL.
  std::string Text(const Node& node) const {
    const auto* begin = reinterpret_cast<const char*>(bytes_.data()) + node.valueOffset;
    return std::string(begin, strnlen(begin, node.valueLength));
  }

 private:
  static bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
      return lower(x) == lower(y);
    });
  }

  std::vector<unsigned char> bytes_;
};

}  // namespace

void ReadEXEVersionData(const std::filesystem::path& FileName, TEXEVersionData& Data) {
  // Step 1 and 2: the file's record.
  const File file(FileName);
  std::optional<std::vector<unsigned char>> section = ReadRecordSection(file);
  if (!section) RaiseSystemError(ENODATA);
  const Record record(std::move(*section));
  const std::optional<Node> root = record.ParseNode(0, record.size());
  if (!root || root->key != kRootKey) RaiseSystemError(ENODATA);

  // Step 3 and 4: the first translation names the string table.
  const std::optional<Node> translation = record.Query(*root, {"VarFileInfo", "Translation"});
  if (!translation) RaiseSystemError(ENODATA);
  if (translation->valueLength < 4) return;  // an empty table: a record without values
  std::array<char, 9> key{};
  std::snprintf(key.data(), key.size(), "%04X%04X", record.U16(translation->valueOffset),
                record.U16(translation->valueOffset + 2));

  // Step 5: every field that the table holds; the others stay as they are.
  const std::pair<std::string_view, std::string TEXEVersionData::*> fields[] = {
      {"CompanyName", &TEXEVersionData::CompanyName},
      {"FileDescription", &TEXEVersionData::FileDescription},
      {"FileVersion", &TEXEVersionData::FileVersion},
      {"InternalName", &TEXEVersionData::InternalName},
      {"LegalCopyright", &TEXEVersionData::LegalCopyright},
      {"LegalTrademarks", &TEXEVersionData::LegalTrademarks},
      {"OriginalFileName", &TEXEVersionData::OriginalFileName},
      {"ProductName", &TEXEVersionData::ProductName},
      {"ProductVersion", &TEXEVersionData::ProductVersion},
      {"Comments", &TEXEVersionData::Comments},
      {"PrivateBuild", &TEXEVersionData::PrivateBuild},
      {"SpecialBuild", &TEXEVersionData::SpecialBuild},
  };
  for (const auto& [name, member] : fields) {
    const std::optional<Node> value =
        record.Query(*root, {"StringFileInfo", std::string_view(key.data(), 8), name});
    if (value) Data.*member = record.Text(*value);
  }
}

std::filesystem::path ExecutablePath() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    throw Error("Cannot find the program's own file. " + SystemMessage(error.value()));
  }
  return path;
}

}  // namespace cellverter
