#include "spreadsheet/xlsx/package_relationships.h"

#include "spreadsheet/workbook_error.h"
#include "spreadsheet/xlsx/xml_scanner.h"

namespace cellverter {
namespace {

constexpr size_t kMaxNameLength = 4096;  // relationship ids, types and targets together

[[noreturn]] void Damaged(const std::string& detail) { throw WorkbookDamaged(detail); }

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string FolderOf(std::string_view part) {
  const size_t slash = part.rfind('/');
  return slash == std::string_view::npos ? "" : std::string(part.substr(0, slash + 1));
}

// A relationship target resolved against the folder of its source part (OPC part names).
std::string ResolveTarget(std::string_view sourceFolder, std::string_view target) {
  std::string joined = !target.empty() && target[0] == '/'
                           ? std::string(target.substr(1))
                           : std::string(sourceFolder) + std::string(target);
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t slash = joined.find('/', start);
    if (slash == std::string::npos) slash = joined.size();
    const std::string segment = joined.substr(start, slash - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = slash + 1;
  }
  std::string result;
  for (const std::string& s : segments) {
    if (!result.empty()) result += '/';
    result += s;
  }
  return result;
}

std::string RelationshipsPartOf(std::string_view part) {
  const size_t slash = part.rfind('/');
  const std::string folder =
      slash == std::string_view::npos ? "" : std::string(part.substr(0, slash + 1));
  const std::string name(slash == std::string_view::npos ? part : part.substr(slash + 1));
  return folder + "_rels/" + name + ".rels";
}

}  // namespace

// Relationship types end the same way in transitional and strict packages.
bool IsType(std::string_view type, std::string_view last) {
  return EndsWith(type, last) && type.size() > last.size() &&
         type[type.size() - last.size() - 1] == '/';
}

const Relationship* FindRelationship(const std::vector<Relationship>& relationships,
                                     std::string_view id) {
  for (const Relationship& r : relationships) {
    if (r.id == id) return &r;
  }
  return nullptr;
}

std::unique_ptr<ByteStream> OpenPart(const ZipArchive& zip, const std::string& part) {
  const ZipArchive::Entry* entry = zip.Find(part);
  if (entry == nullptr) Damaged("the part " + part + " is missing");
  return zip.Open(*entry);
}

std::vector<Relationship> ReadRelationships(const ZipArchive& zip, const std::string& part) {
  std::vector<Relationship> relationships;
  const std::string relsPart = RelationshipsPartOf(part);
  const ZipArchive::Entry* entry = zip.Find(relsPart);
  if (entry == nullptr) return relationships;
  auto stream = zip.Open(*entry);
  XmlScanner xml(*stream, "the relationships");
  const std::string folder = FolderOf(part);
  for (auto e = xml.Next(); e != XmlScanner::Event::EndOfDocument; e = xml.Next()) {
    if (e != XmlScanner::Event::Start || !xml.Is(XmlNamespace::Package, "Relationship")) {
      continue;
    }
    if (xml.Attribute("TargetMode") == "External") continue;
    if (relationships.size() > 100000) Damaged("there are too many relationships");
    Relationship r{xml.Attribute("Id"), xml.Attribute("Type"),
                   ResolveTarget(folder, xml.Attribute("Target"))};
    if (r.id.size() + r.type.size() + r.target.size() > kMaxNameLength) {
      Damaged("a relationship is too long");
    }
    relationships.push_back(std::move(r));
  }
  return relationships;
}

// The kind of a sheet by the type of its relationship. A type we do not know is taken for a
// worksheet: the workbook lists the sheet, and reading its part tells whether it is one.
SheetKind SheetKindOf(std::string_view type) {
  if (IsType(type, "chartsheet")) return SheetKind::kChart;
  if (IsType(type, "dialogsheet")) return SheetKind::kDialog;
  if (IsType(type, "xlMacrosheet") || IsType(type, "xlIntlMacrosheet")) return SheetKind::kMacro;
  return SheetKind::kWorksheet;
}

std::string OfficeDocumentPart(const ZipArchive& zip) {
  for (const Relationship& r : ReadRelationships(zip, "")) {
    if (IsType(r.type, "officeDocument")) return r.target;
  }
  return "";
}

}  // namespace cellverter
