#include "spreadsheet/xlsx/package_globals.h"

namespace cellverter {

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
