// The styles part of an output: only what its own sheet uses.
//
// A sheet names its cell formats by position (s="3" on a cell or row, style="3" on a column)
// and its differential formats by position too (dxfId, on conditional formats, tables and
// pivot tables); tables and pivot tables name their table styles. Positions stay as they
// are, so nothing in the sheet or its parts is renumbered: an entry the output does not use
// is replaced by a copy of the first one of its list (a differential format by an empty one),
// and what only such entries reached (number formats, fonts, fills, borders, named cell
// styles, custom table styles) goes with them. Nothing of the formats of other sheets stays.
// Every list's count is the number of entries it holds, whatever the source's said.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace tabrend::spreadsheet {

struct StyleUse {
  std::set<std::uint32_t> cellFormats{0};  // positions in cellXfs
  std::set<std::uint32_t> differentialFormats;  // positions in dxfs
  std::set<std::string> tableStyles;  // names

  // Adds what a stretch of XML names. Attributes are found wherever they stand, so a stretch
  // may only be cut between elements (before a "<"); finding one too many is harmless.
  void Scan(std::string_view xml);
  // Adds the cell format a cell's s attribute names.
  void AddCellFormat(std::string_view number);

 private:
  std::uint64_t seenSmall_ = 0;  // cell formats under 64 already added
};

// The styles part reduced to use. Throws AutomationError when it is not well-formed.
std::string PrunedStyles(const std::string& stylesXml, const StyleUse& use, const std::string& label,
                         const std::string& part);

}  // namespace tabrend::spreadsheet
