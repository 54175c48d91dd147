// Streams one worksheet part from its source package into an output, changing only what the
// copy must change: shared-string indexes, formulas that refer to what the output lacks
// (replaced by their cached values), renamed sheet references, links and rules that point
// at other sheets, and the selected tab. Everything else passes through byte for byte, and
// memory stays flat whatever the sheet's size.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "spreadsheet/Formula.h"
#include "spreadsheet/SourceWorkbook.h"
#include "spreadsheet/StylePruning.h"

namespace tabrend::spreadsheet {

// The output's shared-string table: only the strings its sheets use, in order of first use.
class OutputStrings {
 public:
  explicit OutputStrings(const SharedStrings* source) : source_(source) {}
  // New index of source string `index`; throws std::out_of_range for a missing one.
  std::uint32_t Use(std::uint32_t index);
  // Index of a plain text (a formula's cached string kept as a value).
  std::uint32_t AddText(const std::string& text);
  // How many uses were counted; RestoreUses takes the count back to such a mark before a
  // sheet is copied again (its strings are then used again, in the same order).
  std::uint64_t Uses() const { return references_; }
  void RestoreUses(std::uint64_t mark) { references_ = mark; }
  bool Empty() const { return items_.empty(); }
  // Writes the table's part. Throws AutomationError when the file cannot be written.
  void WriteXml(std::FILE* out) const;

 private:
  static constexpr std::uint64_t kAddedText = 1ull << 63;

  const SharedStrings* source_;
  // Output index + 1 of each source string used, 0 for one not used: 4 bytes a string
  // instead of a hash entry, as a big table has millions.
  std::vector<std::uint32_t> bySourceIndex_;
  std::unordered_map<std::string, std::uint32_t> byText_;
  // Each output entry: a source index, or kAddedText | position in addedTexts_.
  std::vector<std::uint64_t> items_;
  std::vector<std::string> addedTexts_;  // raw <si> elements of texts added
  std::uint64_t references_ = 0;
};

struct SheetRewriteOptions {
  const ReferenceContext* context = nullptr;
  bool selected = false;                        // the output's active sheet
  std::set<std::string> droppedRelationshipIds;  // elements using these ids are removed
  // For a rule formula that refers to another sheet: the literal that keeps what it showed
  // (a list of values when `list`, else a single value), or nullopt when there is none.
  std::function<std::optional<std::string>(std::string_view formula, bool list)> literal;
  // Results calculated for formulas the copy cannot keep and that were saved without one, by
  // cell reference; such a cell becomes its result. nullptr: none.
  const std::map<std::string, CellResult>* computed = nullptr;
  // Why such a cell with no result in `computed` stays empty ("" when nothing was tried).
  std::string missingReason;
  // Told every style the written sheet names, as it is written. nullptr: nobody asks.
  StyleUse* styleUse = nullptr;
};

struct SheetRewriteResult {
  bool usesMetadata = false;  // cells carry cm or vm attributes
  // What the copy could not keep, counted by kind ("formulas replaced by their values" -> 3).
  std::map<std::string, int> losses;
  // Cells ("B7") of formulas the copy could not keep that were saved without a result and
  // found none in options.computed: they are empty in the copy.
  std::vector<std::string> missingResults;
};

// The loss line of formulas that could not be kept and had no stored value, with why they
// could not be calculated either ("" when no calculation was tried).
std::string FormulaLeftEmptyLoss(const std::string& reason);

// Rewrites sheet `sheetIndex` of source into out. Throws AutomationError naming the file,
// part and sheet for malformed XML, hostile constructs or broken references.
SheetRewriteResult RewriteSheet(const SourceWorkbook& source, std::size_t sheetIndex,
                                const SheetRewriteOptions& options, OutputStrings& strings,
                                std::FILE* out);

}  // namespace tabrend::spreadsheet
