// XML parts: small parts are read into pugixml documents, large ones streamed through expat
// (XmlReader). Neither ever expands an entity or resolves an external one: a part with a
// document type declaration is refused outright, as no workbook part has one.
#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>

namespace tabrend::spreadsheet {

// Parses a whole part. Throws AutomationError in XmlReader's words: "<label>: part <part> is
// not well-formed XML (line L: reason)", "<label> is refused: part <part> declares a document
// type (entities are not allowed)", or nests elements too deeply, or is too large.
void ParseXml(pugi::xml_document& document, const std::string& bytes, const std::string& label,
              const std::string& part);

// Whether text is well-formed UTF-8 made only of the characters XML allows (no C0 control
// but tab, line feed and carriage return; no surrogate, U+FFFE or U+FFFF).
bool IsXmlText(std::string_view text);

// An element's name without its namespace prefix ("x:c" -> "c").
std::string_view LocalName(std::string_view qualifiedName);
inline std::string_view LocalName(const pugi::xml_node& node) { return LocalName(node.name()); }
// The value of the attribute whose local name is given, whatever its prefix ("r:id").
pugi::xml_attribute AttributeByLocalName(const pugi::xml_node& node, std::string_view localName);
// First child element with the local name.
pugi::xml_node ChildByLocalName(const pugi::xml_node& node, std::string_view localName);

void AppendEscapedText(std::string& out, std::string_view text);
void AppendEscapedAttribute(std::string& out, std::string_view text);
std::string Serialize(const pugi::xml_node& node);
// A changed part written back: the whole document, unindented, in UTF-8, with an XML
// declaration unless the caller writes its own (declaration false).
std::string SavedXml(const pugi::xml_document& document, bool declaration = true);

}  // namespace tabrend::spreadsheet
