// One worksheet cell (<c>) as it was read, by the row scanner or by expat, and the pieces of
// markup both readers share.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

// An element's attributes in the order written, values decoded.
using Attributes = std::vector<std::pair<std::string, std::string>>;

struct CellRecord {
  // Element names as the part writes them, prefix included ("x:c", "x:f", "x:v").
  std::string name, formulaName, valueName;
  Attributes attributes, formulaAttributes, valueAttributes;
  bool hasFormula = false, hasValue = false;
  std::string formula, value;  // decoded text of <f> and <v>
  std::string extra;           // other children (<is>, <extLst>) as they stand
  std::string raw;             // the whole element as the source wrote it

  // Forgets the contents of the previous cell (names and attribute storage stay).
  void Clear() {
    hasFormula = hasValue = false;
    formula.clear();
    value.clear();
    extra.clear();
  }
};

// Looked up several times for every cell: keys are a letter or two, compared in place rather
// than through a call to memcmp.
inline const std::string* FindAttribute(const Attributes& attributes, std::string_view key) {
  for (const auto& attribute : attributes) {
    const std::string& name = attribute.first;
    if (name.size() != key.size()) continue;
    std::size_t i = 0;
    while (i < key.size() && name[i] == key[i]) ++i;
    if (i == key.size()) return &attribute.second;
  }
  return nullptr;
}

inline void AppendStartTag(std::string& out, const std::string& name, const Attributes& attributes) {
  out += '<';
  out += name;
  for (const auto& [key, value] : attributes) {
    out += ' ';
    out += key;
    out += "=\"";
    AppendEscapedAttribute(out, value);
    out += '"';
  }
  out += '>';
}

}  // namespace tabrend::spreadsheet
