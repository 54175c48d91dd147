// XML helpers shared by every part reader and writer.
#include "spreadsheet/Xml.h"

#include <cstring>

#include <sstream>
#include <string_view>
#include <vector>

#include "core/Error.h"
#include "spreadsheet/Limits.h"
#include "spreadsheet/XmlReader.h"

namespace tabrend::spreadsheet {

namespace {

// text in UTF-8 (and ASCII), UTF-16 or UTF-32 of either byte order: the encodings the XML
// readers accept for a part.
std::vector<std::string> Encodings(std::string_view text) {
  std::vector<std::string> forms{std::string(text)};
  for (const std::size_t width : {2u, 4u}) {
    for (const bool bigEndian : {false, true}) {
      std::string form;
      for (const char c : text) {
        std::string unit(width, '\0');
        unit[bigEndian ? width - 1 : 0] = c;
        form += unit;
      }
      forms.push_back(std::move(form));
    }
  }
  return forms;
}

bool DeclaresDoctype(const std::string& bytes) {
  static const std::vector<std::string> markers = [] {
    std::vector<std::string> all;
    for (const char* marker : {"<!DOCTYPE", "<!ENTITY"})
      for (std::string& form : Encodings(marker)) all.push_back(std::move(form));
    return all;
  }();
  for (const std::string& marker : markers)
    if (bytes.find(marker) != std::string::npos) return true;
  return false;
}

std::size_t LineOf(const std::string& bytes, std::ptrdiff_t offset) {
  std::size_t line = 1;
  for (std::ptrdiff_t i = 0; i < offset && i < static_cast<std::ptrdiff_t>(bytes.size()); ++i)
    if (bytes[static_cast<std::size_t>(i)] == '\n') ++line;
  return line;
}

// pugixml takes any bytes for text; what it took must be XML's own characters, or the
// names and values copied from it would make outputs no reader accepts.
bool NodeHasXmlText(const pugi::xml_node& node) {
  if (!IsXmlText(node.name()) || !IsXmlText(node.value())) return false;
  for (pugi::xml_attribute attribute : node.attributes())
    if (!IsXmlText(attribute.name()) || !IsXmlText(attribute.value())) return false;
  return true;
}

// Depth of the tree; -1 when a node holds a character XML does not allow.
int Depth(const pugi::xml_node& root) {
  // Iterative, so a hostile nesting cannot exhaust the stack here.
  int deepest = 0;
  int depth = 0;
  pugi::xml_node node = root.first_child();
  while (node) {
    if (!NodeHasXmlText(node)) return -1;
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
  if (bytes.size() > limits::kMaxParsedPartBytes)
    Fail(ErrorReason::kRefused, label + " is refused: part " + part + " is larger than " +
         std::to_string(limits::kMaxParsedPartBytes >> 20) + " MiB");
  if (DeclaresDoctype(bytes)) FailDocumentType(label, part);
  const pugi::xml_parse_result result =
      document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default | pugi::parse_ws_pcdata_single);
  if (result.status == pugi::status_out_of_memory) FailOutOfMemory(label, part);
  if (!result)
    FailNotWellFormed(label, part, "line " + std::to_string(LineOf(bytes, result.offset)) + ": " + result.description());
  const int depth = Depth(document);
  if (depth < 0) FailNotWellFormed(label, part, "it holds a character XML does not allow");
  if (depth > limits::kMaxXmlDepth) FailTooDeep(label, part);
}

bool IsXmlText(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    // Eight bytes at a time while all are printable ASCII, as nearly all of a sheet is.
    constexpr std::uint64_t kHigh = 0x8080808080808080ull, kSpace = 0x2020202020202020ull;
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      if (((word | (word - kSpace)) & kHigh) != 0) break;  // a byte >= 0x80 or < 0x20
      p += 8;
    }
    if (p == end) break;
    const unsigned char c = *p;
    if (c < 0x80) {
      if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
      ++p;
      continue;
    }
    const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
    if (c < 0xC2 || c > 0xF4) return false;
    char32_t code = c & (0x3F >> extra);
    if (end - p <= extra) return false;
    for (int k = 1; k <= extra; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (p[k] & 0x3F);
    }
    if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE || code == 0xFFFF)
      return false;
    p += extra + 1;
  }
  return true;
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

namespace {

// Text escapes &, <, > and carriage returns (which a reader would otherwise turn into line
// feeds); an attribute value also its quote, line feeds and tabs (read as spaces otherwise).
// Whether text holds a character AppendEscaped changes. One pass: find_first_of would scan
// the text once per character of its set, and this runs for most cells of a sheet.
bool NeedsEscaping(std::string_view text, bool attribute) {
  for (const char c : text) {
    if (c == '&' || c == '<' || c == '>' || c == '\r') return true;
    if (attribute && (c == '"' || c == '\n' || c == '\t')) return true;
  }
  return false;
}

void AppendEscaped(std::string& out, std::string_view text, bool attribute) {
  if (!NeedsEscaping(text, attribute)) {
    out.append(text);  // the common case: nothing to escape
    return;
  }
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r': out += "&#13;"; break;
      case '"': out += attribute ? "&quot;" : "\""; break;
      case '\n': out += attribute ? "&#10;" : "\n"; break;
      case '\t': out += attribute ? "&#9;" : "\t"; break;
      default: out += c;
    }
  }
}

}  // namespace

void AppendEscapedText(std::string& out, std::string_view text) { AppendEscaped(out, text, false); }

void AppendEscapedAttribute(std::string& out, std::string_view text) { AppendEscaped(out, text, true); }

std::string Serialize(const pugi::xml_node& node) {
  std::ostringstream out;
  node.print(out, "", pugi::format_raw | pugi::format_no_declaration);
  return out.str();
}

std::string SavedXml(const pugi::xml_document& document, bool declaration) {
  std::ostringstream out;
  document.save(out, "", pugi::format_raw | (declaration ? 0u : pugi::format_no_declaration), pugi::encoding_utf8);
  return out.str();
}

}  // namespace tabrend::spreadsheet
