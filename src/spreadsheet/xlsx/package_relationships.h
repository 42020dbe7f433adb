#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/container/zip_archive.h"
#include "spreadsheet/sheet_source.h"

namespace cellverter {

// A relationship id longer than this (bytes) marks a damaged file.
inline constexpr size_t kMaxRelationshipId = 4096;

// The relationships of the Open Packaging Conventions that .xlsx and .xlsb packages share.

struct Relationship {
  std::string id;
  std::string type;
  std::string target;  // resolved part name
};

// Whether a relationship type ends in "/`last`": types end the same way in transitional and
// strict packages.
bool IsType(std::string_view type, std::string_view last);

// The internal relationships of `part` ("" for the package's own), their targets resolved
// against the part's folder; none when the part has no relationships part. Throws
// WorkbookDamaged when they cannot be read.
std::vector<Relationship> ReadRelationships(const ZipArchive& zip, const std::string& part);

const Relationship* FindRelationship(const std::vector<Relationship>& relationships,
                                     std::string_view id);

// The package's main part, the target of its officeDocument relationship; "" when the
// package names none.
std::string OfficeDocumentPart(const ZipArchive& zip);

// The kind of a sheet by the type of its relationship. A type we do not know is taken for a
// worksheet: the workbook lists the sheet, and reading its part tells whether it is one.
SheetKind SheetKindOf(std::string_view type);

// A stream of the part's bytes; a missing part is damage.
std::unique_ptr<ByteStream> OpenPart(const ZipArchive& zip, const std::string& part);

}  // namespace cellverter
