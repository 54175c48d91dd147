// Streams one worksheet part from its source package into an output, changing only what the
// copy must change: shared-string indexes, formulas that refer to what the output lacks
// (replaced by their cached values), renamed sheet references, links and rules that point
// at other sheets, and the selected tab. Everything else passes through byte for byte, and
// memory stays flat whatever the sheet's size. SheetStream.h holds the workings.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "spreadsheet/ByteSink.h"
#include "spreadsheet/Formula.h"
#include "spreadsheet/OutputStrings.h"
#include "spreadsheet/SourceWorkbook.h"
#include "spreadsheet/StylePruning.h"

namespace tabrend::spreadsheet {

struct SheetRewriteOptions {
  const ReferenceContext* context = nullptr;
  bool selected = false;                        // the output's active sheet
  std::set<std::string> droppedRelationshipIds;  // elements using these ids are removed
  // For a rule formula that refers to another sheet: the literal that keeps what it showed
  // (a list of values when `list`, else a single value), or nullopt when there is none.
  std::function<std::optional<std::string>(std::string_view formula, bool list)> literal;
  // Results calculated for formulas the copy cannot keep and that were saved without one, or
  // with a placeholder (SourceWorkbook::ResultsArePlaceholders), by cell reference; such a
  // cell becomes its result. nullptr: none.
  const std::map<std::string, CellResult>* computed = nullptr;
  // Why such a cell with no result in `computed` stays empty, or keeps its placeholder ("" when
  // nothing was tried).
  std::string missingReason;
  // Told every style the written sheet names, as it is written. nullptr: nobody asks.
  StyleUse* styleUse = nullptr;
};

struct SheetRewriteResult {
  bool usesMetadata = false;  // cells carry cm or vm attributes
  // What the copy could not keep, counted by kind ("formulas replaced by their values" -> 3).
  std::map<std::string, int> losses;
  // Cells ("B7") of formulas the copy could not keep that were saved without a result, or
  // with a placeholder, and found none in options.computed: they are empty in the copy, or
  // keep the placeholder.
  std::vector<std::string> missingResults;
};

// Rewrites sheet `sheetIndex` of source into out, counting the strings it uses in strings.
// Throws AutomationError naming the file, part and sheet for malformed XML, hostile
// constructs, broken references, or a write the sink refuses.
SheetRewriteResult RewriteSheet(const SourceWorkbook& source, std::size_t sheetIndex,
                                const SheetRewriteOptions& options, OutputStrings& strings, ByteSink& out);

}  // namespace tabrend::spreadsheet
