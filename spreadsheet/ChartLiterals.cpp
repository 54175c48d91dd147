// Chart parts: renamed references, and literal values for series on sheets left behind.
#include "spreadsheet/ChartLiterals.h"

#include <vector>

#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

namespace {

// Replaces the reference that holds formula by the literal form of its cache; a reference
// with no literal form (a data label range) goes, with its cache.
void Literalize(pugi::xml_node formula) {
  pugi::xml_node reference = formula.parent();
  const std::string referenceName = reference.name();
  const std::string prefix = referenceName.find(':') == std::string::npos ? "" : referenceName.substr(0, referenceName.find(':') + 1);
  const std::string_view local = LocalName(referenceName);
  pugi::xml_node cache;
  for (pugi::xml_node child : reference.children()) {
    const std::string_view childName = LocalName(child);
    if (childName == "numCache" || childName == "strCache" || childName == "multiLvlStrCache") cache = child;
  }
  if ((local == "numRef" || local == "strRef") && cache && reference.parent() && LocalName(reference.parent()) == "tx") {
    // A series or axis title: its text becomes a literal value.
    pugi::xml_node point = ChildByLocalName(cache, "pt");
    const std::string value = ChildByLocalName(point, "v").text().get();
    pugi::xml_node parent = reference.parent();
    pugi::xml_node literal = parent.insert_child_before((prefix + "v").c_str(), reference);
    literal.text().set(value.c_str());
    parent.remove_child(reference);
    return;
  }
  if ((local == "numRef" || local == "strRef" || local == "multiLvlStrRef") && cache) {
    pugi::xml_node source = cache;
    if (LocalName(cache) == "multiLvlStrCache") {
      // Only the innermost level has a literal form.
      pugi::xml_node level = ChildByLocalName(cache, "lvl");
      source = level ? level : cache;
    }
    pugi::xml_node parent = reference.parent();
    pugi::xml_node literal = parent.insert_child_before(
        (prefix + (local == "numRef" ? "numLit" : "strLit")).c_str(), reference);
    // strLit has no formatCode; numLit takes the cache's own.
    for (pugi::xml_node child : source.children()) {
      const std::string_view childName = LocalName(child);
      if (childName == "extLst") continue;
      if (local != "numRef" && childName == "formatCode") continue;
      literal.append_copy(child);
    }
    if (LocalName(cache) == "multiLvlStrCache")
      if (pugi::xml_node count = ChildByLocalName(cache, "ptCount"))
        literal.prepend_copy(count);
    parent.remove_child(reference);
    return;
  }
  // Any other reference (data label ranges and the like) goes, with its cache.
  reference.parent().remove_child(reference);
}

}  // namespace

std::optional<std::string> RewriteChart(const std::string& chart, const ReferenceContext& context,
                                        const std::string& label, const std::string& part, int& literalized) {
  literalized = 0;
  pugi::xml_document document;
  ParseXml(document, chart, label, part);
  std::vector<pugi::xml_node> formulas;
  for (const pugi::xpath_node& found : document.select_nodes("//*[local-name()='f']")) formulas.push_back(found.node());
  bool changed = false;
  for (pugi::xml_node formula : formulas) {
    const std::string text = formula.text().get();
    const auto rewritten = RewriteFormula(text, context);
    if (rewritten && *rewritten == text) continue;
    changed = true;
    if (rewritten) {
      formula.text().set(rewritten->c_str());
      continue;
    }
    ++literalized;
    Literalize(formula);
  }
  if (!changed) return std::nullopt;
  return SavedXml(document);
}

}  // namespace tabrend::spreadsheet
