#include "spreadsheet/xlsx/package_globals.h"

namespace cellverter {

void PackageSheet::AddTableId(std::vector<std::string>& tableIds, std::string id) {
  if (tableIds.size() >= kMaxTables) ThrowDamaged("there are too many tables");
  tableIds.push_back(std::move(id));
}

// A comments part that is not there widens nothing; a table without its part is damage.
void PackageSheet::ReadSheetRelated(const std::string& part,
                                    const std::vector<std::string>& tableIds) {
  const std::vector<Relationship> relationships = ReadRelationships(*globals_.zip, part);
  for (const Relationship& r : relationships) {
    if (IsType(r.type, "comments") && globals_.zip->Find(r.target) != nullptr) {
      ReadComments(r.target);
    }
  }
  for (const std::string& id : tableIds) {
    const Relationship* r = FindRelationship(relationships, id);
    if (r == nullptr || !IsType(r->type, "table")) ThrowDamaged("a table has no part");
    ReadTable(r->target);
  }
}

PackageWorkbook::RelatedParts PackageWorkbook::ResolveSheets(
    const std::string& part, const std::vector<std::string>& sheetIds) {
  const std::vector<Relationship> relationships = ReadRelationships(*globals_.zip, part);
  sheetParts_.reserve(sheetIds.size());
  for (size_t i = 0; i < sheetIds.size(); ++i) {
    const Relationship* r = FindRelationship(relationships, sheetIds[i]);
    sheetParts_.push_back(r == nullptr ? std::string() : r->target);
    if (r != nullptr) sheets_[i].kind = SheetKindOf(r->type);
  }
  RelatedParts related;
  for (const Relationship& r : relationships) {
    if (related.styles.empty() && IsType(r.type, "styles")) {
      related.styles = r.target;
    } else if (related.sharedStrings.empty() && IsType(r.type, "sharedStrings")) {
      related.sharedStrings = r.target;
    }
  }
  return related;
}

void PackageWorkbook::CheckWorksheet(size_t position) const {
  if (position >= sheets_.size()) {
    ThrowWorkbookError(globals_.path,
                       "the workbook holds no sheet number " + std::to_string(position + 1),
                       ErrorKind::kNoSuchSheet);
  }
  if (sheets_[position].kind != SheetKind::kWorksheet) {
    ThrowWorkbookError(globals_.path,
                       "the sheet \"" + sheets_[position].name + "\" is not a worksheet",
                       ErrorKind::kNoSuchSheet);
  }
}

}  // namespace cellverter
