// The workbook part of an output.
#include "spreadsheet/WorkbookPart.h"

#include "spreadsheet/OpenXml.h"
#include "spreadsheet/StrictMarkup.h"
#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

namespace {

void AppendAttribute(std::string& xml, const std::string& key, const std::string& value) {
  xml += " " + key + "=\"";
  AppendEscapedAttribute(xml, value);
  xml += "\"";
}

}  // namespace

std::string ExtraNamespaces(const std::string& declarations) {
  std::string extra;
  std::size_t at = 0;
  while ((at = declarations.find(' ', at)) != std::string::npos) {
    const auto end = declarations.find('"', declarations.find('"', at) + 1);
    const std::string declaration = declarations.substr(at, end + 1 - at);
    if (declaration.rfind(" xmlns=", 0) != 0 && declaration.rfind(" xmlns:r=", 0) != 0) extra += declaration;
    at = end + 1;
  }
  return extra;
}

// The source's workbook properties, without what Transitional lacks: Strict's
// dateCompatibility (its other value, false, moves no date from 1 March 1900 on).
std::string TransitionalWorkbookPr(const std::string& properties) {
  if (properties.find("dateCompatibility") == std::string::npos) return properties;
  pugi::xml_document document;
  if (!document.load_string(properties.c_str(), pugi::parse_default)) return properties;
  pugi::xml_node node = document.first_child();
  node.remove_attribute("dateCompatibility");
  return Serialize(node);
}

std::string WorkbookPartXml(const WorkbookPartContent& content) {
  const SourceWorkbook* source = content.source;
  std::string xml = ooxml::PartStart("workbook", ooxml::kMainNamespace, "r", ooxml::kRelationshipNamespace);
  if (source != nullptr) xml += ExtraNamespaces(source->WorkbookNamespaces());
  xml += ">";
  xml += source != nullptr && !source->WorkbookPr().empty() ? TransitionalWorkbookPr(source->WorkbookPr()) : "<workbookPr/>";
  if (source != nullptr) xml += source->WorkbookProtection();
  xml += "<bookViews><workbookView";
  if (source != nullptr)
    for (const auto& [key, value] : source->WorkbookViewAttributes()) AppendAttribute(xml, key, value);
  xml += " activeTab=\"" + std::to_string(content.activeSheet) + "\"/></bookViews><sheets>";
  for (std::size_t i = 0; i < content.sheetNames.size(); ++i) {
    xml += "<sheet";
    AppendAttribute(xml, "name", content.sheetNames[i]);
    xml += " sheetId=\"" + std::to_string(i + 1) + "\" r:id=\"rId" + std::to_string(i + 1) + "\"/>";
  }
  xml += "</sheets>";
  xml += content.definedNames;
  if (source != nullptr) xml += source->CalcPr();
  xml += content.pivotCaches;
  xml += "</workbook>";
  if (source != nullptr && source->IsStrict()) return TransitionalXml(xml, source->Label(), source->WorkbookPart());
  return xml;
}

}  // namespace tabrend::spreadsheet
