// Document properties of an output.
#include "spreadsheet/DocumentProperties.h"

#include "spreadsheet/OpenXml.h"
#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

namespace {

// The source's package relationships of `kind` to parts it holds.
std::vector<Relationship> PackageRelationshipsOfKind(const SourceWorkbook& source, std::string_view kind) {
  std::vector<Relationship> found;
  for (const Relationship& relationship : source.Pkg().RelationshipsOf(""))
    if (!relationship.external && RelationshipKind(relationship.type) == kind && source.Pkg().Has(relationship.targetPart))
      found.push_back(relationship);
  return found;
}

void AppendElement(std::string& xml, const char* name, const std::string& text) {
  xml += "<";
  xml += name;
  xml += ">";
  AppendEscapedText(xml, text);
  xml += "</";
  xml += name;
  xml += ">";
}

}  // namespace

Producer ProducerOf(const SourceWorkbook* source) {
  if (source == nullptr) return {"Microsoft Excel", "16.0300"};
  Producer producer;
  // Of several, the last says.
  for (const Relationship& relationship : PackageRelationshipsOfKind(*source, "extended-properties")) {
    const std::string& part = relationship.targetPart;
    pugi::xml_document properties;
    ParseXml(properties, source->Pkg().Read(part), source->Label(), part);
    producer.application = ChildByLocalName(properties.document_element(), "Application").text().get();
    producer.version = ChildByLocalName(properties.document_element(), "AppVersion").text().get();
  }
  return producer;
}

std::string ExtendedPropertiesXml(const Producer& producer, const std::vector<std::string>& sheetNames) {
  const std::string count = std::to_string(sheetNames.size());
  std::string xml = ooxml::PartStart("Properties", ooxml::kExtendedPropertiesNamespace, "vt",
                                     ooxml::kDocPropsVTypesNamespace);
  xml += ">";
  if (!producer.application.empty()) AppendElement(xml, "Application", producer.application);
  xml += "<DocSecurity>0</DocSecurity><ScaleCrop>false</ScaleCrop>"
         "<HeadingPairs><vt:vector size=\"2\" baseType=\"variant\"><vt:variant><vt:lpstr>Worksheets</vt:lpstr></vt:variant>"
         "<vt:variant><vt:i4>" + count + "</vt:i4></vt:variant></vt:vector></HeadingPairs>"
         "<TitlesOfParts><vt:vector size=\"" + count + "\" baseType=\"lpstr\">";
  for (const std::string& name : sheetNames) AppendElement(xml, "vt:lpstr", name);
  xml += "</vt:vector></TitlesOfParts><LinksUpToDate>false</LinksUpToDate><SharedDoc>false</SharedDoc>"
         "<HyperlinksChanged>false</HyperlinksChanged>";
  if (!producer.version.empty()) AppendElement(xml, "AppVersion", producer.version);
  xml += "</Properties>";
  return xml;
}

std::optional<Relationship> CoreProperties(const SourceWorkbook& source) {
  std::vector<Relationship> found = PackageRelationshipsOfKind(source, "core-properties");
  if (found.empty()) return std::nullopt;
  return std::move(found.front());
}

}  // namespace tabrend::spreadsheet
