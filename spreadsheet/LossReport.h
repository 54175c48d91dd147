// The lines of the loss report: what a copied sheet could not keep, one text per kind of
// loss. The report counts them ("3 links to other sheets were removed"), so each kind has one
// text wherever it is counted.
#pragma once

#include <string>

namespace tabrend::spreadsheet::loss {

inline constexpr const char* kFormulaReplaced =
    "formulas referring to other sheets, other workbooks or missing names were replaced by their values";
inline constexpr const char* kFormulaLeftEmpty =
    "formulas referring to other sheets, other workbooks or missing names had no stored value, so their cells are empty";
inline constexpr const char* kFormulaCalculated =
    "formulas referring to other sheets, other workbooks or missing names had no stored value and were replaced by "
    "the values LibreOffice calculated";
inline constexpr const char* kPlaceholderCalculated =
    "formulas referring to other sheets, other workbooks or missing names were replaced by the values LibreOffice "
    "calculated, as the workbook stores only placeholders for their results";
inline constexpr const char* kLinkDropped = "links to other sheets were removed";
inline constexpr const char* kRuleDropped =
    "conditional formats, validations or sparklines referring to other sheets were removed";
inline constexpr const char* kRuleLiteral =
    "validation lists or rule values taken from other sheets now hold the values they showed";
inline constexpr const char* kWorkbookObjectDropped = "slicers, timelines or other workbook-level objects were removed";
inline constexpr const char* kEmptyStringCell = "string cells without a string index were left empty";
inline constexpr const char* kChartLiteral = "chart series referring to other sheets now hold the values they showed";
inline constexpr const char* kRelationshipDropped = "links to parts of other sheets or to missing parts were removed";
inline constexpr const char* kNameDropped = "defined names referring to other sheets or workbooks were left out";
inline constexpr const char* kPivotTableDropped = "pivot tables drawing on other sheets were kept as their values";

// The line of formulas that could not be kept and had no stored value, with why they could
// not be calculated either ("" when no calculation was tried).
inline std::string FormulaLeftEmpty(const std::string& reason) {
  return reason.empty() ? kFormulaLeftEmpty : std::string(kFormulaLeftEmpty) + ": " + reason;
}

// The line of formulas that could not be kept and whose stored results, only placeholders
// (the workbook asks to be calculated on opening), stay as they are, with why they could not
// be calculated ("" when no calculation was tried).
inline std::string PlaceholderKept(const std::string& reason) {
  const std::string line =
      "formulas referring to other sheets, other workbooks or missing names were replaced by their stored results, "
      "which are only placeholders (the workbook leaves its results to be calculated on opening)";
  return reason.empty() ? line : line + ": " + reason;
}

// Why a placeholder stays though LibreOffice calculated the workbook.
inline constexpr const char* kUnknownToCalculator =
    "LibreOffice knows no function or name they use, so it shows #NAME? for them";

// CSV: cells showing their formula's stored result, only a placeholder, and cells of formulas
// saved without a result, which stay empty, each with why they could not be calculated.
inline std::string CsvPlaceholderShown(const std::string& reason) {
  const std::string line =
      "cells show the stored results of their formulas, which are only placeholders (the workbook leaves its "
      "results to be calculated on opening)";
  return reason.empty() ? line : line + ": " + reason;
}
inline std::string CsvResultMissing(const std::string& reason) {
  const std::string line = "cells of formulas saved without a result are empty";
  return reason.empty() ? line : line + ": " + reason;
}

}  // namespace tabrend::spreadsheet::loss
