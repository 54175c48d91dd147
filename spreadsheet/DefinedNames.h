// What the formulas of an output may refer to, and the defined names it carries
// (<definedNames> of the workbook part).
//
// The output has its sheets (known by their source names, written by their output names),
// their tables, and the source's defined names whose formulas refer only to those; a name
// that uses a name which cannot come cannot come either. A workbook-level constant (a name
// that refers to no sheet) is written only when a sheet, a part or a written name uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/Formula.h"
#include "spreadsheet/SourceWorkbook.h"
#include "spreadsheet/WorkbookWriter.h"

namespace tabrend::spreadsheet {

class OutputNames {
 public:
  // The scope of formulas outside any sheet (charts, pivot caches, workbook-level names).
  static constexpr std::size_t kWorkbookScope = SIZE_MAX;

  // source nullptr: blank sheets only, which refer to nothing.
  OutputNames(const SourceWorkbook* source, const std::vector<OutputSheet>& sheets);

  // How formulas in output sheet `scope` (or kWorkbookScope) find sheets, names and tables.
  // Every name it finds counts as used.
  ReferenceContext ContextFor(std::size_t scope) const;
  // The output name of the sheet the source calls sourceName; nullopt when the output lacks it.
  std::optional<std::string> OutputSheetName(std::string_view sourceName) const;
  bool HasTable(std::string_view name) const;
  bool HasWorkbookName(std::string_view name) const;
  // How many source names were left out because they refer to what the output lacks.
  int Dropped() const { return dropped_; }
  // "<definedNames>...</definedNames>" of the names worth writing, "" when there is none.
  std::string Xml() const;

 private:
  struct NameReading;
  struct CarriedName {
    const DefinedName* source;
    std::optional<std::size_t> outputSheet;
    std::string formula;
    bool constant = false;          // workbook-level, referring to no sheet
    std::vector<std::string> uses;  // folded names its formula uses
  };
  using Candidates = std::vector<std::pair<const DefinedName*, std::optional<std::size_t>>>;

  Candidates CandidatesOf(const SourceWorkbook& source) const;
  void Carry(const Candidates& candidates);
  std::vector<NameReading> ReadNames(const Candidates& candidates) const;
  std::vector<const CarriedName*> NamesToWrite() const;

  std::map<std::string, std::string> outputNameOf_;  // folded source sheet name -> output name
  std::map<std::size_t, std::size_t> outputPositionOf_;  // source sheet index -> output position
  std::set<std::string> tables_, globalNames_;           // folded
  std::map<std::size_t, std::set<std::string>> scopedNames_;
  std::vector<CarriedName> names_;
  mutable std::set<std::string> referencedNames_;  // folded names the sheets and parts use
  int dropped_ = 0;
};

}  // namespace tabrend::spreadsheet
