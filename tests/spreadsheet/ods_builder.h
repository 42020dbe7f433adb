#pragma once

// Builds small OpenDocument spreadsheets at test time: the package around a hand-written
// content.xml, and the flat document of the same body.

#include <string>
#include <vector>

#include "xlsx_builder.h"

namespace cellverter::testing_support {

inline const std::string kOdsNamespaces =
    " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
    " xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\""
    " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
    " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
    " xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\""
    " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\""
    " xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0\""
    " xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\"";

// The parts of a document: automatic styles (data and cell styles) and the spreadsheet's
// content (<table:table> elements, and calculation settings).
struct OdsDocument {
  std::string automaticStyles;
  std::string spreadsheet;
  std::string styles;  // <office:styles> of styles.xml (or of the flat document)
  std::string mimetype = "application/vnd.oasis.opendocument.spreadsheet";
  std::string manifestEntries;  // extra <manifest:file-entry> elements

  std::string ContentXml() const {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content" + kOdsNamespaces +
           " office:version=\"1.3\"><office:automatic-styles>" + automaticStyles +
           "</office:automatic-styles><office:body><office:spreadsheet>" + spreadsheet +
           "</office:spreadsheet></office:body></office:document-content>";
  }
  std::string StylesXml() const {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-styles" + kOdsNamespaces +
           " office:version=\"1.3\"><office:styles>" + styles +
           "</office:styles></office:document-styles>";
  }
  std::string ManifestXml() const {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest:manifest" + kOdsNamespaces +
           " manifest:version=\"1.3\"><manifest:file-entry manifest:full-path=\"/\" "
           "manifest:media-type=\"" +
           mimetype +
           "\"/><manifest:file-entry manifest:full-path=\"content.xml\" "
           "manifest:media-type=\"text/xml\"/>" +
           manifestEntries + "</manifest:manifest>";
  }

  // The .ods package: mimetype first and stored, as the ODF 1.2 package format (3.3) asks.
  std::string Zip() const {
    std::vector<ZipPart> parts = {{"mimetype", mimetype, false},
                                  {"META-INF/manifest.xml", ManifestXml()},
                                  {"styles.xml", StylesXml()},
                                  {"content.xml", ContentXml()}};
    return BuildZip(parts);
  }

  // The flat document (.fods).
  std::string Flat() const {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document" + kOdsNamespaces +
           " office:version=\"1.3\" office:mimetype=\"" + mimetype + "\"><office:styles>" + styles +
           "</office:styles><office:automatic-styles>" + automaticStyles +
           "</office:automatic-styles><office:body><office:spreadsheet>" + spreadsheet +
           "</office:spreadsheet></office:body></office:document>";
  }
};

// A <text:p> of `text`, its runs of spaces and its tabs written as ODF writes them.
inline std::string OdsParagraph(const std::string& text) {
  std::string xml = "<text:p>";
  size_t spaces = 0;
  auto flush = [&] {
    if (spaces == 0) return;
    // One space stands as it is unless it leads the paragraph; more are <text:s>.
    const bool leading = xml.size() == 8;
    if (spaces == 1 && !leading) {
      xml += ' ';
    } else {
      if (!leading) {
        xml += ' ';
        --spaces;
      }
      xml += "<text:s text:c=\"" + std::to_string(spaces) + "\"/>";
    }
    spaces = 0;
  };
  for (const char c : text) {
    if (c == ' ') {
      ++spaces;
      continue;
    }
    flush();
    if (c == '\t') {
      xml += "<text:tab/>";
    } else {
      xml += XmlEscape(std::string(1, c));
    }
  }
  flush();
  return xml + "</text:p>";
}

// The paragraphs of a cell's text: one per line.
inline std::string OdsParagraphs(const std::string& text) {
  std::string xml;
  size_t start = 0;
  for (size_t end = text.find('\n');; end = text.find('\n', start)) {
    xml += OdsParagraph(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return xml;
}

}  // namespace cellverter::testing_support
