// Parts of a new workbook.
#include "spreadsheet/BlankParts.h"

#include "spreadsheet/OpenXml.h"

namespace tabrend::spreadsheet {

std::string BlankSheetXml(bool selected) {
  std::string xml = ooxml::PartStart("worksheet", ooxml::kMainNamespace, "r", ooxml::kRelationshipNamespace);
  xml += "><dimension ref=\"A1\"/><sheetViews><sheetView ";
  if (selected) xml += "tabSelected=\"1\" ";
  xml += "workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/><sheetData/>"
         "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/></worksheet>";
  return xml;
}

std::string DefaultStylesXml() {
  std::string xml = ooxml::PartStart("styleSheet", ooxml::kMainNamespace);
  xml +=
      "><fonts count=\"1\"><font><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/>"
      "<scheme val=\"minor\"/></font></fonts>"
      "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill></fills>"
      "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
      "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
      "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/></cellXfs>"
      "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
      "<dxfs count=\"0\"/><tableStyles count=\"0\" defaultTableStyle=\"TableStyleMedium2\" defaultPivotStyle=\"PivotStyleLight16\"/>"
      "</styleSheet>";
  return xml;
}

}  // namespace tabrend::spreadsheet
