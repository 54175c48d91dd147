// Reads the values a range of another sheet shows, so that a rule or list pointing there can
// keep what it showed once the copy stands alone.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "spreadsheet/Formula.h"
#include "spreadsheet/SourceWorkbook.h"

namespace tabrend::spreadsheet {

// The cells of range on sheet `sheetIndex`, row by row, as text: shared and inline strings
// as their plain text, booleans as TRUE/FALSE, numbers and errors as stored. Empty cells
// give "". Reads the sheet part only as far as the range's last row.
std::vector<std::string> ReadCellTexts(const SourceWorkbook& source, std::size_t sheetIndex, const SheetRange& range);

// The results cells of worksheet sheetIndex hold, for the cells named ("B7"): shared and
// inline strings as "str" with their plain text, numbers as "n", booleans as "b", errors as
// "e". A named cell that is empty or holds no value is left out. Reads the sheet part only as
// far as the last named row. Throws AutomationError for a part that is not well-formed.
std::map<std::string, CellResult> ReadCellResults(const SourceWorkbook& source, std::size_t sheetIndex,
                                                  const std::vector<std::string>& cells);

// The formulas an output shows only through their results: those a workbook's copy of a sheet
// drops (referring to another sheet, another workbook, or a name or table the sheet alone
// lacks), or every formula (CSV text).
enum class ShownResults { kDroppedFormulas, kEveryFormula };

// Whether an output of worksheet sheetIndex would show, through its result, a formula saved
// without one, or with a placeholder (SourceWorkbook::ResultsArePlaceholders). Reads the part
// until it meets the first. Throws AutomationError for a part that is not well-formed.
bool NeedsCalculatedResults(const SourceWorkbook& source, std::size_t sheetIndex, ShownResults shown);

// The plain text of a raw <si> element: its runs without phonetic guides.
std::string SharedStringText(const std::string& rawItem);

}  // namespace tabrend::spreadsheet
