// Content types and relationships of a package.
#include "spreadsheet/Package.h"

#include <algorithm>

#include "core/Error.h"
#include "spreadsheet/Text.h"
#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

namespace {

std::string FolderWithSlashOf(std::string_view part) {
  const auto slash = part.find_last_of('/');
  return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::string_view RelationshipKind(std::string_view type) {
  const auto slash = type.find_last_of('/');
  return slash == std::string_view::npos ? type : type.substr(slash + 1);
}

std::string RelationshipsPartOf(std::string_view part) {
  const std::string folder = FolderWithSlashOf(part);
  const std::string name(part.substr(folder.size()));
  return folder + "_rels/" + name + ".rels";
}

std::string ResolvePartName(std::string_view sourcePart, std::string_view target) {
  std::string path = PercentDecoded(target);
  const auto fragment = path.find('#');
  if (fragment != std::string::npos) path.erase(fragment);
  if (path.empty() || path.front() != '/') path = FolderWithSlashOf(sourcePart) + path;
  // Normalise "." and ".." segments; a target that climbs above the package root stays at it.
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto end = std::min(path.find('/', start), path.size());
    const std::string segment = path.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::string resolved;
  for (const auto& segment : segments) resolved += (resolved.empty() ? "" : "/") + segment;
  return resolved;
}

std::string RelativeTarget(std::string_view fromPart, std::string_view toPart) {
  const std::string fromFolder = FolderWithSlashOf(fromPart);
  std::size_t common = 0;
  // Count the shared leading folders.
  for (std::size_t i = 0; i < fromFolder.size() && i < toPart.size() && fromFolder[i] == toPart[i]; ++i)
    if (fromFolder[i] == '/') common = i + 1;
  std::string target;
  for (std::size_t i = common; i < fromFolder.size(); ++i)
    if (fromFolder[i] == '/') target += "../";
  target += std::string(toPart.substr(common));
  return target;
}

Package::Package(const std::string& path) : path_(path), zip_(path) {
  const auto typesIndex = zip_.Find("[Content_Types].xml");
  if (!typesIndex) {
    if (zip_.Find("xl/workbook.bin"))
      Fail(ErrorReason::kUnsupported,
           Label() + " is a binary workbook (.xlsb), which cannot be opened as a workbook package");
    Fail(ErrorReason::kNotAWorkbook, Label() + " is not a workbook: it has no [Content_Types].xml part");
  }
  pugi::xml_document types;
  ParseXml(types, zip_.Read(*typesIndex), Label(), "[Content_Types].xml");
  for (pugi::xml_node node : types.document_element().children()) {
    if (LocalName(node) == "Default")
      defaults_[LowerAscii(node.attribute("Extension").value())] = node.attribute("ContentType").value();
    else if (LocalName(node) == "Override")
      overrides_[LowerAscii(ResolvePartName("", node.attribute("PartName").value()))] =
          node.attribute("ContentType").value();
  }
}

std::uint64_t Package::IndexOf(std::string_view part) const {
  const auto index = zip_.Find(part);
  if (!index) Fail(ErrorReason::kDamaged, Label() + " is damaged: part " + std::string(part) + " is missing");
  return *index;
}

std::string Package::Read(std::string_view part) const { return zip_.Read(IndexOf(part)); }

std::string Package::ContentType(std::string_view part) const {
  const auto found = overrides_.find(LowerAscii(part));
  if (found != overrides_.end()) return found->second;
  const auto dot = part.find_last_of('.');
  if (dot != std::string_view::npos) {
    const auto byExtension = defaults_.find(LowerAscii(part.substr(dot + 1)));
    if (byExtension != defaults_.end()) return byExtension->second;
  }
  return {};
}

const std::vector<Relationship>& Package::RelationshipsOf(std::string_view part) const {
  const std::string key(part);
  const auto cached = relationships_.find(key);
  if (cached != relationships_.end()) return cached->second;
  std::vector<Relationship>& list = relationships_[key];
  const std::string relsPart = RelationshipsPartOf(part);
  const auto index = zip_.Find(relsPart);
  if (!index) return list;
  pugi::xml_document document;
  ParseXml(document, zip_.Read(*index), Label(), relsPart);
  for (pugi::xml_node node : document.document_element().children()) {
    if (LocalName(node) != "Relationship") continue;
    Relationship relationship;
    relationship.id = node.attribute("Id").value();
    relationship.type = node.attribute("Type").value();
    relationship.target = node.attribute("Target").value();
    relationship.external = std::string_view(node.attribute("TargetMode").value()) == "External";
    if (!relationship.external) relationship.targetPart = ResolvePartName(part, relationship.target);
    list.push_back(std::move(relationship));
  }
  return list;
}

}  // namespace tabrend::spreadsheet
