// Drawings and other XML parts cleaned of what the output does not carry.
#include "spreadsheet/DrawingParts.h"

#include <vector>

#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

namespace {

bool ShowsSlicer(const std::string& uri) {
  constexpr std::string_view kSlicer = "/slicer";
  return (uri.size() >= kSlicer.size() && uri.compare(uri.size() - kSlicer.size(), kSlicer.size(), kSlicer) == 0) ||
         uri.find("/timeslicer") != std::string::npos;
}

bool UsesDropped(const pugi::xml_node& node, const std::set<std::string>& dropped) {
  for (pugi::xml_attribute attribute : node.attributes()) {
    const std::string_view name = attribute.name();
    if (name.find(':') != std::string_view::npos && dropped.count(attribute.value()) > 0 &&
        (LocalName(name) == "id" || LocalName(name) == "embed" || LocalName(name) == "link"))
      return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> WithoutSlicerShapes(const std::string& drawing, const std::string& label,
                                               const std::string& part, int& removed) {
  removed = 0;
  if (drawing.find("/slicer\"") == std::string::npos && drawing.find("/timeslicer\"") == std::string::npos)
    return std::nullopt;
  pugi::xml_document document;
  ParseXml(document, drawing, label, part);
  std::vector<pugi::xml_node> doomed;
  for (pugi::xml_node anchor : document.document_element().children()) {
    for (const pugi::xpath_node& graphic : anchor.select_nodes(".//*[local-name()='graphicData']")) {
      if (ShowsSlicer(graphic.node().attribute("uri").value())) {
        doomed.push_back(anchor);
        break;
      }
    }
  }
  if (doomed.empty()) return std::nullopt;
  for (pugi::xml_node anchor : doomed) document.document_element().remove_child(anchor);
  removed = static_cast<int>(doomed.size());
  return SavedXml(document);
}

std::optional<std::string> WithoutUsesOf(const std::set<std::string>& dropped, const std::string& bytes,
                                         const std::string& label, const std::string& part) {
  pugi::xml_document document;
  ParseXml(document, bytes, label, part);
  std::vector<pugi::xml_node> doomed;
  for (const pugi::xpath_node& found : document.select_nodes("//*[@*]"))
    if (UsesDropped(found.node(), dropped)) doomed.push_back(found.node());
  if (doomed.empty()) return std::nullopt;
  // Only the outermost: removing an element frees what it holds. A set, so a part with
  // many such elements costs its depth per element, not their number.
  std::set<pugi::xml_node_struct*> doomedSet;
  for (pugi::xml_node node : doomed) doomedSet.insert(node.internal_object());
  auto inside = [&](pugi::xml_node node) {
    for (pugi::xml_node up = node.parent(); up; up = up.parent())
      if (doomedSet.count(up.internal_object())) return true;
    return false;
  };
  std::vector<pugi::xml_node> outermost;
  for (pugi::xml_node node : doomed)
    if (!inside(node)) outermost.push_back(node);
  for (pugi::xml_node node : outermost) node.parent().remove_child(node);
  return SavedXml(document);
}

}  // namespace tabrend::spreadsheet
