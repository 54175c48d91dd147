// XML helpers shared by every part reader and writer.
#include "spreadsheet/Xml.h"

#include <sstream>

#include "spreadsheet/Error.h"
#include "spreadsheet/Limits.h"

namespace tabrend::spreadsheet {

namespace {

bool DeclaresDoctype(const std::string& bytes) {
  return bytes.find("<!DOCTYPE") != std::string::npos || bytes.find("<!ENTITY") != std::string::npos;
}

std::size_t LineOf(const std::string& bytes, std::ptrdiff_t offset) {
  std::size_t line = 1;
  for (std::ptrdiff_t i = 0; i < offset && i < static_cast<std::ptrdiff_t>(bytes.size()); ++i)
    if (bytes[static_cast<std::size_t>(i)] == '\n') ++line;
  return line;
}

int Depth(const pugi::xml_node& root) {
  // Iterative, so a hostile nesting cannot exhaust the stack here.
  int deepest = 0;
  int depth = 0;
  pugi::xml_node node = root.first_child();
  while (node) {
    if (node.type() == pugi::node_element && depth + 1 > deepest) deepest = depth + 1;
    if (node.first_child()) {
      node = node.first_child();
      ++depth;
      continue;
    }
    while (node && !node.next_sibling()) {
      node = node.parent();
      --depth;
      if (node == root) return deepest;
    }
    if (node) node = node.next_sibling();
  }
  return deepest;
}

}  // namespace

void ParseXml(pugi::xml_document& document, const std::string& bytes, const std::string& label,
              const std::string& part) {
  if (DeclaresDoctype(bytes))
    Fail(label + " is refused: part " + part + " declares a document type (entities are not allowed)");
  const pugi::xml_parse_result result =
      document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default | pugi::parse_ws_pcdata_single);
  if (!result)
    Fail(label + ": part " + part + " is not well-formed XML (line " +
         std::to_string(LineOf(bytes, result.offset)) + ": " + result.description() + ")");
  if (Depth(document) > limits::kMaxXmlDepth)
    Fail(label + " is refused: part " + part + " nests elements deeper than " +
         std::to_string(limits::kMaxXmlDepth) + " levels");
}

std::string_view LocalName(std::string_view qualifiedName) {
  const auto colon = qualifiedName.find(':');
  return colon == std::string_view::npos ? qualifiedName : qualifiedName.substr(colon + 1);
}

pugi::xml_attribute AttributeByLocalName(const pugi::xml_node& node, std::string_view localName) {
  for (pugi::xml_attribute attribute : node.attributes())
    if (LocalName(attribute.name()) == localName) return attribute;
  return {};
}

pugi::xml_node ChildByLocalName(const pugi::xml_node& node, std::string_view localName) {
  for (pugi::xml_node child : node.children())
    if (child.type() == pugi::node_element && LocalName(child.name()) == localName) return child;
  return {};
}

void AppendEscapedText(std::string& out, std::string_view text) {
  if (text.find_first_of("&<>\r") == std::string_view::npos) {
    out.append(text);
    return;
  }
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r': out += "&#13;"; break;
      default: out += c;
    }
  }
}

void AppendEscapedAttribute(std::string& out, std::string_view text) {
  if (text.find_first_of("&<>\"\n\r\t") == std::string_view::npos) {
    out.append(text);  // the common case: nothing to escape
    return;
  }
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      case '\t': out += "&#9;"; break;
      default: out += c;
    }
  }
}

std::string Serialize(const pugi::xml_node& node) {
  std::ostringstream out;
  node.print(out, "", pugi::format_raw | pugi::format_no_declaration);
  return out.str();
}

}  // namespace tabrend::spreadsheet
