// Chart parts in an output: sheet references in series formulas renamed, and a series whose
// data lives on a sheet the output lacks turned into the literal values it showed (its
// cache), so the chart looks as it did.
//
//   <c:val><c:numRef><c:f>Data!$B$2:$B$4</c:f><c:numCache>...</c:numCache></c:numRef></c:val>
//   -> <c:val><c:numLit>(the cache's format code and points)</c:numLit></c:val>
#pragma once

#include <optional>
#include <string>

#include "spreadsheet/Formula.h"

namespace tabrend::spreadsheet {

// The chart with its formulas rewritten through context, or nullopt when none changes;
// literalized counts the references that became literal values. Throws AutomationError
// "<label>: part <part> is not well-formed XML ..." for a chart it cannot read.
std::optional<std::string> RewriteChart(const std::string& chart, const ReferenceContext& context,
                                        const std::string& label, const std::string& part, int& literalized);

}  // namespace tabrend::spreadsheet
