// Relationship parts of an output.
#include "spreadsheet/Relationships.h"

#include "spreadsheet/OpenXml.h"
#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

std::string RelationshipsXml(const std::vector<OutputRelationship>& relationships) {
  std::string xml = ooxml::PartStart("Relationships", ooxml::kPackageRelationshipsNamespace);
  xml += ">";
  for (const auto& relationship : relationships) {
    xml += "<Relationship Id=\"";
    AppendEscapedAttribute(xml, relationship.id);
    xml += "\" Type=\"";
    AppendEscapedAttribute(xml, relationship.type);
    xml += "\" Target=\"";
    AppendEscapedAttribute(xml, relationship.target);
    xml += "\"";
    if (relationship.external) xml += " TargetMode=\"External\"";
    xml += "/>";
  }
  xml += "</Relationships>";
  return xml;
}

std::size_t NumberRelationships(std::vector<OutputRelationship>& relationships, std::size_t first) {
  for (auto& relationship : relationships) relationship.id = "rId" + std::to_string(first++);
  return first;
}

}  // namespace tabrend::spreadsheet
