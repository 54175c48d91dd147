// Reads the values a range of another sheet shows, so that a rule or list pointing there can
// keep what it showed once the copy stands alone.
#pragma once

#include <string>
#include <vector>

#include "spreadsheet/Formula.h"
#include "spreadsheet/SourceWorkbook.h"

namespace tabrend::spreadsheet {

// The cells of range on sheet `sheetIndex`, row by row, as text: shared and inline strings
// as their plain text, booleans as TRUE/FALSE, numbers and errors as stored. Empty cells
// give "". Reads the sheet part only as far as the range's last row.
std::vector<std::string> ReadCellTexts(const SourceWorkbook& source, std::size_t sheetIndex, const SheetRange& range);

// The plain text of a raw <si> element: its runs without phonetic guides.
std::string SharedStringText(const std::string& rawItem);

}  // namespace tabrend::spreadsheet
