// A workbook package opened read-only: its sheets, defined names, workbook settings and the
// shared-string table, read once and kept for every copy made from it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/FileStamp.h"
#include "spreadsheet/Package.h"

namespace tabrend::spreadsheet {

enum class SheetKind { kWorksheet, kChartsheet, kDialogsheet, kMacrosheet };

struct SourceSheet {
  std::string name;
  SheetKind kind = SheetKind::kWorksheet;
  std::string part;   // resolved part name; "" when the workbook lists the sheet without one
  std::string state;  // "", "hidden" or "veryHidden"
};

struct DefinedName {
  std::string name;
  std::optional<int> localSheetId;  // position in SourceWorkbook::Sheets(), from 0
  std::string formula;
  std::vector<std::pair<std::string, std::string>> attributes;  // all but name, localSheetId
};

// The shared-string table, each entry kept as its raw <si> element so rich text and phonetic
// runs travel untouched.
//
// Entries are packed into large blocks that never move, with 12 bytes of index each, so the
// table costs little more than its own bytes and never needs a second copy to grow. The
// commonest entry, one plain run ("<si><t>text</t></si>"), keeps only its text: a table of
// millions of short strings is mostly index.
class SharedStringItems {
 public:
  std::size_t size() const { return index_.size(); }
  // Entry i as its raw <si> element.
  std::string operator[](std::size_t i) const {
    std::string item;
    AppendTo(i, item);
    return item;
  }
  void AppendTo(std::size_t i, std::string& out) const;
  // The text of entry i when it is one plain run, as the XML writes it (entities unresolved);
  // nothing for any other entry.
  std::optional<std::string_view> PlainText(std::size_t i) const;
  void push_back(std::string_view item);
  // What the table holds: its blocks and its index.
  std::uint64_t HeldBytes() const { return heldBytes_; }

 private:
  struct Entry {
    std::uint32_t block, offset;
    std::uint32_t length;  // the bytes kept, and in the top two bits the markup left out
  };
  std::vector<std::string> blocks_;  // each reserved once, never grown past its capacity
  std::deque<Entry> index_;
  std::uint64_t heldBytes_ = 0;
};

struct SharedStrings {
  SharedStringItems items;
  std::string rootAttributes;  // namespace declarations and mc:Ignorable... of the source's <sst>, raw
};

class SourceWorkbook;

// A formula's result as a cell stores it: type "n" (a number), "str", "b" or "e", and its
// text as <v> holds it ("42", "pears", "1", "#DIV/0!").
struct CellResult {
  std::string type;
  std::string value;
};

// Whether a calculated result may replace the placeholder a formula's cell stores: not when the
// calculator knew no function or name of the formula (#NAME?, which the placeholder is not),
// as a LibreOffice older than the workbook's functions shows.
inline bool ReplacesPlaceholder(const CellResult& calculated, std::string_view placeholder) {
  return !(calculated.type == "e" && calculated.value == "#NAME?" && placeholder != "#NAME?");
}

// Calculates what formulas saved without a result would show. The engine cannot calculate;
// whoever opens a workbook may attach one (the automation layer runs LibreOffice).
class ResultCalculator {
 public:
  struct Results {
    std::map<std::string, CellResult> cells;  // by cell reference ("B7")
    std::string problem;                      // why cells asked for have none, for the loss report
  };
  virtual ~ResultCalculator() = default;
  // The results of cells (references such as "B7") of worksheet sheetIndex of source. Never
  // throws for a calculation that fails or cannot run: problem says why, and the copy goes on
  // without those results.
  virtual Results Calculate(const SourceWorkbook& source, std::size_t sheetIndex,
                            const std::vector<std::string>& cells) = 0;
};

class SourceWorkbook {
 public:
  // Opens and checks the package; throws AutomationError naming the file and what is wrong.
  explicit SourceWorkbook(const std::string& path);

  const Package& Pkg() const { return package_; }
  const std::string& Label() const { return package_.Label(); }
  const std::string& WorkbookPart() const { return workbookPart_; }
  const std::vector<SourceSheet>& Sheets() const { return sheets_; }
  const std::vector<DefinedName>& Names() const { return names_; }

  // Raw elements of workbook.xml kept for outputs ("" when absent).
  const std::string& WorkbookPr() const { return workbookPr_; }
  const std::string& CalcPr() const { return calcPr_; }
  // Whether the workbook asks to be calculated in full when it is opened (fullCalcOnLoad).
  // Programs that write such workbooks store placeholders for the formulas' results (0, as
  // XlsxWriter does), so no stored result can stand for what the sheet shows.
  bool ResultsArePlaceholders() const { return resultsArePlaceholders_; }
  const std::string& WorkbookProtection() const { return workbookProtection_; }
  // Attributes of the first <workbookView>, without activeTab and firstSheet.
  const std::vector<std::pair<std::string, std::string>>& WorkbookViewAttributes() const {
    return workbookView_;
  }
  // Namespace declarations and Markup Compatibility attributes (mc:Ignorable...) of the
  // source's <workbook> root, raw.
  const std::string& WorkbookNamespaces() const { return workbookNamespaces_; }
  // Whether the workbook is in the Strict dialect (its parts in the Strict namespaces).
  bool IsStrict() const { return strict_; }
  // cacheId of each pivot cache definition part, as workbook.xml registers it.
  const std::map<std::string, std::string>& PivotCacheIds() const { return pivotCacheIds_; }

  // Workbook-level parts by relationship kind ("styles", "theme", "person"...): resolved names.
  std::optional<std::string> WorkbookPartOfKind(std::string_view kind) const;
  // The table names (displayName) of each worksheet, read on first use.
  const std::vector<std::string>& TableNames(std::size_t sheetIndex) const;
  // The shared strings, read on first use and kept. Workbooks open on other threads share
  // the table of the same file (the same file system entry, size and time of change) while
  // one of them holds it, rather than each reading its own.
  const SharedStrings& Strings() const;
  // False for a worksheet with nothing to show: no cell holding a value, an inline string or
  // a formula, and no drawing (pictures, charts, shapes), comments, table, pivot table, form
  // control or embedded object. Styled empty cells, widths and page setup do not count. The
  // relationships are looked at first; the sheet part is streamed only up to its first cell
  // with content. A sheet listed without a part has nothing. A part that cannot be read up
  // to there throws AutomationError, as its copy would: damage is never a blank sheet.
  bool SheetHasContent(std::size_t sheetIndex) const;

  // What calculates results the source never saved; nullptr (the default) leaves such
  // cells of formulas an output cannot keep empty.
  void SetCalculator(std::shared_ptr<ResultCalculator> calculator) { calculator_ = std::move(calculator); }
  ResultCalculator* Calculator() const { return calculator_.get(); }

 private:
  struct SharedTables;
  static SharedTables& Tables();
  // The shared-string table read from the package; throws AutomationError when it is refused.
  std::shared_ptr<const SharedStrings> ReadStrings() const;

  // The file opened, where it stood still while it was opened (a file changing meanwhile
  // shares nothing); taken before the package is opened.
  std::optional<FileStamp> identity_;
  Package package_;
  std::string workbookPart_;
  std::vector<SourceSheet> sheets_;
  std::vector<DefinedName> names_;
  std::string workbookPr_, calcPr_, workbookProtection_, workbookNamespaces_;
  bool resultsArePlaceholders_ = false;
  std::vector<std::pair<std::string, std::string>> workbookView_;
  bool strict_ = false;
  std::map<std::string, std::string> pivotCacheIds_;
  std::shared_ptr<ResultCalculator> calculator_;
  mutable std::shared_ptr<const SharedStrings> strings_;
  mutable std::map<std::size_t, std::vector<std::string>> tableNames_;
};

}  // namespace tabrend::spreadsheet
