// Pivot tables and their caches in an output.
#include "spreadsheet/PivotCaches.h"

#include "spreadsheet/OpenXml.h"
#include "spreadsheet/Package.h"
#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

namespace {

// The worksheet source of a cache definition, or an empty node.
pugi::xml_node PivotSource(pugi::xml_document& cache, const std::string& bytes, const std::string& label,
                           const std::string& cachePart) {
  ParseXml(cache, bytes, label, cachePart);
  const pugi::xml_node cacheSource = ChildByLocalName(cache.document_element(), "cacheSource");
  const std::string type = cacheSource.attribute("type").value();
  if (!type.empty() && type != "worksheet") return {};
  return ChildByLocalName(cacheSource, "worksheetSource");
}

}  // namespace

bool PivotDrawsOnOutput(const SourceWorkbook& source, const std::string& pivotPart, const OutputNames& names) {
  for (const Relationship& relationship : source.Pkg().RelationshipsOf(pivotPart)) {
    if (relationship.external || RelationshipKind(relationship.type) != "pivotCacheDefinition" ||
        !source.Pkg().Has(relationship.targetPart))
      continue;
    pugi::xml_document cache;
    const pugi::xml_node worksheetSource =
        PivotSource(cache, source.Pkg().Read(relationship.targetPart), source.Label(), relationship.targetPart);
    if (!worksheetSource || AttributeByLocalName(worksheetSource, "id")) return false;  // external data
    if (const pugi::xml_attribute sheet = worksheetSource.attribute("sheet"))
      return names.OutputSheetName(sheet.value()).has_value();
    const std::string name = worksheetSource.attribute("name").value();
    return names.HasTable(name) || names.HasWorkbookName(name);
  }
  return false;
}

std::optional<std::string> RewritePivotCache(const std::string& bytes, const SourceWorkbook& source,
                                             const std::string& cachePart, const OutputNames& names) {
  pugi::xml_document cache;
  const pugi::xml_node worksheetSource = PivotSource(cache, bytes, source.Label(), cachePart);
  pugi::xml_attribute sheet = worksheetSource.attribute("sheet");
  if (!sheet) return std::nullopt;
  const auto renamed = names.OutputSheetName(sheet.value());
  if (!renamed || *renamed == sheet.value()) return std::nullopt;
  sheet.set_value(renamed->c_str());
  return SavedXml(cache);
}

void PivotCacheList::Add(const SourceWorkbook& source, const std::string& sourcePart, const std::string& outputPart) {
  const auto id = source.PivotCacheIds().find(sourcePart);
  if (id == source.PivotCacheIds().end()) return;
  const std::string target = RelativeTarget("xl/workbook.xml", outputPart);
  for (const auto& cache : caches_)
    if (cache.second.target == target) return;
  caches_.emplace_back(id->second, OutputRelationship{"", ooxml::RelationshipType("pivotCacheDefinition"), target, false});
}

std::string PivotCacheList::Xml(std::size_t nextId, std::vector<OutputRelationship>& relationships) const {
  if (caches_.empty()) return {};
  std::string xml = "<pivotCaches>";
  for (const auto& [cacheId, cache] : caches_) {
    OutputRelationship relationship = cache;
    relationship.id = "rId" + std::to_string(nextId++);
    xml += "<pivotCache cacheId=\"";
    AppendEscapedAttribute(xml, cacheId);
    xml += "\" r:id=\"" + relationship.id + "\"/>";
    relationships.push_back(std::move(relationship));
  }
  xml += "</pivotCaches>";
  return xml;
}

}  // namespace tabrend::spreadsheet

