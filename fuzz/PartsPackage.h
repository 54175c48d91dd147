// Workbook packages made from a text of parts, so that a fuzzer's mutations reach the XML
// readers instead of dying on ZIP checksums.
//
// The text is a series of blocks, each "=====<part name>" on a line of its own followed by
// the part's bytes up to the next block. A block replaces or adds that part of a small
// two-sheet workbook; a block named "-<part name>" removes it. Parts are stored
// uncompressed.
#pragma once

#include <zip.h>

#include <deque>
#include <map>
#include <string>
#include <string_view>

namespace tabrend::fuzz {

using Parts = std::map<std::string, std::string>;

inline Parts DefaultParts() {
  const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::string pkg = "http://schemas.openxmlformats.org/package/2006/relationships";
  const std::string ct = "application/vnd.openxmlformats-officedocument.spreadsheetml.";
  Parts parts;
  parts["[Content_Types].xml"] =
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/xl/workbook.xml\" ContentType=\"" + ct + "sheet.main+xml\"/>"
      "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"" + ct + "worksheet+xml\"/>"
      "<Override PartName=\"/xl/worksheets/sheet2.xml\" ContentType=\"" + ct + "worksheet+xml\"/>"
      "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"" + ct + "sharedStrings+xml\"/>"
      "<Override PartName=\"/xl/styles.xml\" ContentType=\"" + ct + "styles+xml\"/></Types>";
  parts["_rels/.rels"] = "<Relationships xmlns=\"" + pkg + "\"><Relationship Id=\"rId1\" Type=\"" + rel +
                         "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
  parts["xl/_rels/workbook.xml.rels"] =
      "<Relationships xmlns=\"" + pkg + "\">"
      "<Relationship Id=\"rId1\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
      "<Relationship Id=\"rId2\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/sheet2.xml\"/>"
      "<Relationship Id=\"rId3\" Type=\"" + rel + "/sharedStrings\" Target=\"sharedStrings.xml\"/>"
      "<Relationship Id=\"rId4\" Type=\"" + rel + "/styles\" Target=\"styles.xml\"/></Relationships>";
  parts["xl/workbook.xml"] =
      "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + rel + "\"><sheets>"
      "<sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"Other Sheet\" sheetId=\"2\" r:id=\"rId2\"/>"
      "</sheets><definedNames><definedName name=\"Rate\">Data!$A$1</definedName>"
      "<definedName name=\"Far\" localSheetId=\"1\">'Other Sheet'!$B$1</definedName></definedNames></workbook>";
  parts["xl/worksheets/sheet1.xml"] =
      "<worksheet xmlns=\"" + main + "\" xmlns:r=\"" + rel + "\"><sheetViews><sheetView workbookViewId=\"0\"/>"
      "</sheetViews><sheetData><row r=\"1\"><c r=\"A1\"><v>2</v></c><c r=\"B1\" t=\"s\"><v>0</v></c>"
      "<c r=\"C1\"><f>Rate*'Other Sheet'!A1</f><v>4</v></c><c r=\"D1\" t=\"str\"><f>Data!B1&amp;\"x\"</f><v>ax</v></c>"
      "</row></sheetData><conditionalFormatting sqref=\"A1\"><cfRule type=\"expression\" priority=\"1\">"
      "<formula>'Other Sheet'!A1&gt;1</formula></cfRule></conditionalFormatting>"
      "<hyperlinks><hyperlink ref=\"A1\" location=\"'Other Sheet'!A1\"/></hyperlinks></worksheet>";
  parts["xl/worksheets/sheet2.xml"] =
      "<worksheet xmlns=\"" + main + "\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>1</v></c>"
      "<c r=\"B1\"><f t=\"shared\" ref=\"B1:B2\" si=\"0\">Data!A1+1</f><v>3</v></c></row>"
      "<row r=\"2\"><c r=\"B2\"><f t=\"shared\" si=\"0\"/><v>1</v></c></row></sheetData></worksheet>";
  parts["xl/sharedStrings.xml"] = "<sst xmlns=\"" + main + "\" count=\"2\" uniqueCount=\"2\"><si><t>a</t></si>"
                                  "<si><r><t>b</t></r></si></sst>";
  parts["xl/styles.xml"] = "<styleSheet xmlns=\"" + main + "\"/>";
  return parts;
}

// The default parts with the text's blocks applied.
inline Parts ParseParts(std::string_view text) {
  Parts parts = DefaultParts();
  constexpr std::string_view kMark = "=====";
  std::size_t at = text.rfind(kMark, 0) == 0 ? 0 : text.find(std::string("\n") + std::string(kMark));
  if (at != std::string_view::npos && at != 0) ++at;
  int blocks = 0;
  while (at != std::string_view::npos && blocks++ < 64) {
    const std::size_t nameStart = at + kMark.size();
    const std::size_t lineEnd = text.find('\n', nameStart);
    const std::string name(text.substr(nameStart, lineEnd == std::string_view::npos ? std::string_view::npos
                                                                                   : lineEnd - nameStart));
    std::size_t next = lineEnd == std::string_view::npos ? std::string_view::npos
                                                         : text.find(std::string("\n") + std::string(kMark), lineEnd);
    const std::size_t bodyStart = lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
    const std::size_t bodyEnd = next == std::string_view::npos ? text.size() : next;
    std::string body(text.substr(bodyStart, bodyEnd > bodyStart ? bodyEnd - bodyStart : 0));
    if (!name.empty() && name.front() == '-') parts.erase(name.substr(1));
    else if (!name.empty()) parts[name] = std::move(body);
    at = next == std::string_view::npos ? next : next + 1;
  }
  return parts;
}

// Writes the parts as a ZIP file at path; false when libzip refuses a part name.
inline bool WritePackage(const Parts& parts, const std::string& path) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (archive == nullptr) return false;
  for (const auto& [name, bytes] : parts) {
    zip_source_t* source = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
    const zip_int64_t index = source == nullptr ? -1 : zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      if (source != nullptr) zip_source_free(source);
      zip_discard(archive);
      return false;
    }
    zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
  }
  if (zip_close(archive) != 0) {
    zip_discard(archive);
    return false;
  }
  return true;
}

}  // namespace tabrend::fuzz
