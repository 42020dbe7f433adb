#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "spreadsheet/container/zip_archive.h"
#include "spreadsheet/sheet_source.h"

namespace cellverter {

// What a package's "mimetype" entry says (its first bytes), or "" when it has none; an
// OpenDocument spreadsheet's, or its template's, starts with kOdsMimeType.
inline constexpr std::string_view kOdsMimeType = "application/vnd.oasis.opendocument.spreadsheet";
std::string OpenDocumentMimeType(const ZipArchive& zip);

// Opens an OpenDocument spreadsheet (.ods, ODF 1.2/1.3) from its zip package: the data and
// cell styles of styles.xml and content.xml, then the sheets of content.xml in one pass, each
// sheet's rows into a compact spool (repeated rows and cells kept once with their count), so
// that every sheet's used range is known before its first row is served. A content.xml
// encrypted by the manifest is password-protected. Throws Error naming `path`.
std::unique_ptr<WorkbookSource> OpenOdsWorkbook(const std::string& path,
                                                std::unique_ptr<ZipArchive> zip);

// The same for a flat OpenDocument spreadsheet (.fods): one XML document <office:document>
// whose body is a spreadsheet; any other document is not a workbook. `fd` is owned and closed.
std::unique_ptr<WorkbookSource> OpenFlatOdsWorkbook(const std::string& path, int fd);

}  // namespace cellverter
