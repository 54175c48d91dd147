// References inside formulas: which sheets, workbooks, names and tables a formula uses, and
// the same formula with sheet references renamed.
//
// A split sheet must not refer to anything its workbook lacks, so a formula that does is
// reported as not keepable and its cell keeps only its cached value.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tabrend::spreadsheet {

struct ReferenceContext {
  // The output name of the sheet a formula calls `name` (compared ignoring case), or nullopt
  // when that sheet is not in the output.
  std::function<std::optional<std::string>(std::string_view name)> sheet;
  // Whether a defined name used without a sheet prefix exists in the output.
  std::function<bool(std::string_view name)> definedName;
  // Whether a table used in a structured reference exists in the output.
  std::function<bool(std::string_view name)> table;
};

// The formula with every sheet reference renamed through context.sheet, or nullopt when it
// refers to another workbook, to a sheet the output lacks, or to a missing name or table.
std::optional<std::string> RewriteFormula(std::string_view formula, const ReferenceContext& context);
// Whether RewriteFormula gives the formula back as it stands; cheaper to ask than to rewrite
// it, as most formulas name no sheet.
bool FormulaStaysAsWritten(std::string_view formula, const ReferenceContext& context);

// A rectangle of cells on a named sheet, as "Sheet!$A$1:$B$4" or "'My sheet'!C3" write it.
// Rows and columns count from 1.
struct SheetRange {
  std::string sheet;
  std::uint32_t firstRow = 0, firstColumn = 0, lastRow = 0, lastColumn = 0;
};
// The range a formula consists of, optionally after "=", or nullopt for anything else.
std::optional<SheetRange> ParseSheetRange(std::string_view formula);

// The sheet name as a formula must write it: quoted (with doubled apostrophes) unless it is a
// plain word that cannot be mistaken for a cell reference.
std::string FormulaSheetName(std::string_view sheetName);

}  // namespace tabrend::spreadsheet
