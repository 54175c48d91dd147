// Test support: a workbook package of hand-written parts (sheets, shared strings, defined
// names), written with the engine's own ZIP writer so a test reaches one trap at a time.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "spreadsheet/ByteSink.h"
#include "spreadsheet/Zip.h"

namespace tabrend::test {

#define TINY_MAIN "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
#define TINY_REL "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
// The start of a sheet part in the main namespace.
#define TINY_WS "<worksheet xmlns=\"" TINY_MAIN "\" xmlns:r=\"" TINY_REL "\">"

struct TinyPackage {
  std::vector<std::pair<std::string, std::string>> sheets;  // name, sheet part
  // The <si> items of the shared-string table.
  std::string strings = "<si><t>zero</t></si><si><t>one &amp; two</t></si><si><t>&lt;three&gt;</t></si>";
  std::string definedNames;  // the inside of <definedNames>, "" for none

  void Write(const std::string& path) const {
    std::string types =
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
        "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";
    std::string workbook = "<workbook xmlns=\"" TINY_MAIN "\" xmlns:r=\"" TINY_REL "\"><sheets>";
    std::string relationships = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                "<Relationship Id=\"rIdS\" Type=\"" TINY_REL "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
    spreadsheet::ZipWriter zip(path);
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      const std::string n = std::to_string(i + 1);
      types += "<Override PartName=\"/xl/worksheets/sheet" + n +
               ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
      workbook += "<sheet name=\"" + sheets[i].first + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
      relationships += "<Relationship Id=\"rId" + n + "\" Type=\"" TINY_REL "/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
      zip.AddBytes("xl/worksheets/sheet" + n + ".xml", sheets[i].second);
    }
    workbook += "</sheets>";
    if (!definedNames.empty()) workbook += "<definedNames>" + definedNames + "</definedNames>";
    zip.AddBytes("[Content_Types].xml", types + "</Types>");
    zip.AddBytes("_rels/.rels", "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                "<Relationship Id=\"rId1\" Type=\"" TINY_REL "/officeDocument\" Target=\"xl/workbook.xml\"/>"
                                "</Relationships>");
    zip.AddBytes("xl/workbook.xml", workbook + "</workbook>");
    zip.AddBytes("xl/_rels/workbook.xml.rels", relationships + "</Relationships>");
    zip.AddBytes("xl/sharedStrings.xml", "<sst xmlns=\"" TINY_MAIN "\">" + strings + "</sst>");
    zip.Commit();
  }
};

// A sink that keeps what it is given.
struct StringSink : spreadsheet::ByteSink {
  std::string bytes;
  bool Write(std::string_view more) override {
    bytes += more;
    return true;
  }
  bool Finish() override { return true; }
};

}  // namespace tabrend::test
