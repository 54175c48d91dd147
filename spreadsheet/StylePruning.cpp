// Finding the styles a sheet uses, and keeping only those in its output's styles part.
#include "spreadsheet/StylePruning.h"

#include <pugixml.hpp>

#include <cctype>
#include <vector>

#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The quoted value after `=` at `at` (spaces allowed around it); npos-safe.
std::string_view QuotedValueAt(std::string_view xml, std::size_t at) {
  while (at < xml.size() && IsSpace(xml[at])) ++at;
  if (at >= xml.size() || xml[at] != '=') return {};
  ++at;
  while (at < xml.size() && IsSpace(xml[at])) ++at;
  if (at >= xml.size() || (xml[at] != '"' && xml[at] != '\'')) return {};
  const char quote = xml[at];
  const auto end = xml.find(quote, at + 1);
  if (end == std::string_view::npos) return {};
  return xml.substr(at + 1, end - at - 1);
}

// Every value of attributes named `name`. With whole, the name must stand alone (a blank
// before it); otherwise it may end a longer name ("headerRowDxfId" for "DxfId").
template <typename Found>
void EachValue(std::string_view xml, std::string_view name, bool whole, Found found) {
  for (auto at = xml.find(name); at != std::string_view::npos; at = xml.find(name, at + 1)) {
    if (whole && (at == 0 || !IsSpace(xml[at - 1]))) continue;
    if (!whole && at > 0 && !std::isalpha(static_cast<unsigned char>(xml[at - 1])) && !IsSpace(xml[at - 1])) continue;
    const std::string_view value = QuotedValueAt(xml, at + name.size());
    if (!value.empty()) found(value);
  }
}

void AddNumber(std::set<std::uint32_t>& into, std::string_view text) {
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > UINT32_MAX) return;
  }
  into.insert(static_cast<std::uint32_t>(value));
}

// AddNumber for a scan that meets the same few numbers over and over (a style on every
// cell): numbers under 64 already added are remembered in `seen` and skip the set.
void AddNumberOnce(std::set<std::uint32_t>& into, std::string_view text, std::uint64_t& seen) {
  if (text.size() <= 2 && !text.empty()) {
    const auto first = static_cast<unsigned>(text[0] - '0');
    const auto second = text.size() == 2 ? static_cast<unsigned>(text[1] - '0') : 0u;
    const unsigned value = text.size() == 2 ? first * 10 + second : first;
    if (first <= 9 && second <= 9 && value < 64) {
      if ((seen >> value & 1u) != 0) return;
      seen |= std::uint64_t{1} << value;
    }
  }
  AddNumber(into, text);
}

std::string Unescaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      for (const auto& [entity, character] : {std::pair{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'},
                                              {"&quot;", '"'}, {"&apos;", '\''}}) {
        if (text.substr(i, std::char_traits<char>::length(entity)) == entity) {
          out += character;
          i += std::char_traits<char>::length(entity) - 1;
          goto next;
        }
      }
    }
    out += text[i];
  next:;
  }
  return out;
}

// The child elements of list with the local name (any name when it is empty).
std::vector<pugi::xml_node> Children(const pugi::xml_node& list, std::string_view name) {
  std::vector<pugi::xml_node> children;
  for (pugi::xml_node child : list.children())
    if (child.type() == pugi::node_element && (name.empty() || LocalName(child) == name)) children.push_back(child);
  return children;
}

// Makes entry a copy of model (its name kept), or empties it when there is no model.
void Neutralise(pugi::xml_node entry, const pugi::xml_node& model) {
  while (entry.first_attribute()) entry.remove_attribute(entry.first_attribute());
  while (entry.first_child()) entry.remove_child(entry.first_child());
  if (!model) return;
  for (pugi::xml_attribute attribute : model.attributes()) entry.append_copy(attribute);
  for (pugi::xml_node child : model.children()) entry.append_copy(child);
}

// Keeps the entries of list at positions in used; the others become copies of the first.
void KeepPositions(const pugi::xml_node& list, std::string_view name, const std::set<std::uint32_t>& used,
                   bool emptyInstead = false) {
  const std::vector<pugi::xml_node> entries = Children(list, name);
  if (entries.empty()) return;
  pugi::xml_document modelHolder;
  const pugi::xml_node model = emptyInstead ? pugi::xml_node() : modelHolder.append_copy(entries.front());
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (!used.count(static_cast<std::uint32_t>(i))) Neutralise(entries[i], model);
}

void Collect(const pugi::xml_node& list, std::string_view name, const char* attribute,
             const std::set<std::uint32_t>& positions, std::set<std::uint32_t>& into) {
  const std::vector<pugi::xml_node> entries = Children(list, name);
  for (const std::uint32_t position : positions)
    if (position < entries.size())
      if (const pugi::xml_attribute value = entries[position].attribute(attribute)) AddNumber(into, value.value());
}

void SetCount(pugi::xml_node list, std::string_view name) {
  if (pugi::xml_attribute count = list.attribute("count"))
    count.set_value(static_cast<unsigned long long>(Children(list, name).size()));
}

// Removes the entries of list whose `attribute` is not a number among keep, and recounts.
void KeepReferring(pugi::xml_node list, std::string_view name, const char* attribute,
                   const std::set<std::uint32_t>& keep) {
  if (!list) return;
  for (pugi::xml_node entry : Children(list, name)) {
    std::set<std::uint32_t> number;
    AddNumber(number, entry.attribute(attribute).value());
    if (number.empty() || !keep.count(*number.begin())) list.remove_child(entry);
  }
  SetCount(list, name);
}

}  // namespace

void StyleUse::Scan(std::string_view xml) {
  EachValue(xml, "s", true, [&](std::string_view value) { AddNumberOnce(cellFormats, value, seenSmall_); });
  EachValue(xml, "style", true, [&](std::string_view value) { AddNumberOnce(cellFormats, value, seenSmall_); });
  EachValue(xml, "dxfId", false, [&](std::string_view value) { AddNumber(differentialFormats, value); });
  EachValue(xml, "DxfId", false, [&](std::string_view value) { AddNumber(differentialFormats, value); });
  for (auto at = xml.find("StyleInfo"); at != std::string_view::npos; at = xml.find("StyleInfo", at + 1)) {
    const auto end = xml.find('>', at);
    const std::string_view tag = xml.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    EachValue(tag, "name", true, [&](std::string_view value) { tableStyles.insert(Unescaped(value)); });
  }
}

void StyleUse::AddCellFormat(std::string_view number) { AddNumberOnce(cellFormats, number, seenSmall_); }

std::string PrunedStyles(const std::string& stylesXml, const StyleUse& use, const std::string& label,
                         const std::string& part) {
  pugi::xml_document document;
  ParseXml(document, stylesXml, label, part);
  pugi::xml_node root = document.document_element();
  const pugi::xml_node cellXfs = ChildByLocalName(root, "cellXfs");
  const pugi::xml_node styleXfs = ChildByLocalName(root, "cellStyleXfs");

  // Cell formats, and the named styles they are based on.
  KeepPositions(cellXfs, "xf", use.cellFormats);
  std::set<std::uint32_t> namedStyles{0};
  Collect(cellXfs, "xf", "xfId", use.cellFormats, namedStyles);
  KeepPositions(styleXfs, "xf", namedStyles);
  KeepReferring(ChildByLocalName(root, "cellStyles"), "cellStyle", "xfId", namedStyles);

  // What the kept formats reach.
  std::set<std::uint32_t> fonts{0}, fills{0, 1}, borders{0}, numberFormats;
  for (const auto& [list, positions] : {std::pair{cellXfs, use.cellFormats}, {styleXfs, namedStyles}}) {
    Collect(list, "xf", "fontId", positions, fonts);
    Collect(list, "xf", "fillId", positions, fills);
    Collect(list, "xf", "borderId", positions, borders);
    Collect(list, "xf", "numFmtId", positions, numberFormats);
  }
  KeepPositions(ChildByLocalName(root, "fonts"), "font", fonts);
  KeepPositions(ChildByLocalName(root, "fills"), "fill", fills);
  KeepPositions(ChildByLocalName(root, "borders"), "border", borders);
  if (pugi::xml_node formats = ChildByLocalName(root, "numFmts")) {
    KeepReferring(formats, "numFmt", "numFmtId", numberFormats);
    if (Children(formats, "numFmt").empty()) root.remove_child(formats);
  }

  // Table styles in use (and the default ones), and the differential formats they and the
  // sheet use.
  std::set<std::uint32_t> differential = use.differentialFormats;
  if (pugi::xml_node tableStyles = ChildByLocalName(root, "tableStyles")) {
    std::set<std::string> kept = use.tableStyles;
    kept.insert(tableStyles.attribute("defaultTableStyle").value());
    kept.insert(tableStyles.attribute("defaultPivotStyle").value());
    for (pugi::xml_node style : Children(tableStyles, "tableStyle")) {
      if (!kept.count(style.attribute("name").value())) {
        tableStyles.remove_child(style);
        continue;
      }
      for (pugi::xml_node element : Children(style, "tableStyleElement"))
        AddNumber(differential, element.attribute("dxfId").value());
    }
  }
  KeepPositions(ChildByLocalName(root, "dxfs"), "dxf", differential, true);

  // Every list says how many entries it holds, also where the source said otherwise.
  for (pugi::xml_node list : root.children()) {
    if (list.attribute("count")) SetCount(list, {});
    if (LocalName(list) == "tableStyles")
      for (pugi::xml_node style : Children(list, "tableStyle")) SetCount(style, {});
  }
  return SavedXml(document, false);
}

}  // namespace tabrend::spreadsheet
