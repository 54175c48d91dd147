// A light streaming reader of cell values within a range.
#include "spreadsheet/CellReader.h"

#include <pugixml.hpp>

#include <cstring>
#include <functional>
#include <set>
#include <unordered_set>

#include "core/Error.h"
#include "spreadsheet/CellReference.h"
#include "spreadsheet/Text.h"
#include "spreadsheet/Xml.h"
#include "spreadsheet/XmlReader.h"

namespace tabrend::spreadsheet {

std::string SharedStringText(const std::string& rawItem) {
  pugi::xml_document document;
  // A run of blanks or a lone line break is text too.
  if (!document.load_buffer(rawItem.data(), rawItem.size(), pugi::parse_default | pugi::parse_ws_pcdata)) return {};
  std::string text;
  for (const pugi::xpath_node& found : document.select_nodes("//*[local-name()='t']")) {
    bool phonetic = false;
    for (pugi::xml_node up = found.node().parent(); up; up = up.parent())
      if (LocalName(up) == "rPh") phonetic = true;
    if (!phonetic) text += found.node().text().get();
  }
  return text;
}

namespace {

// The sheet a reader of cells reads, as its errors name it.
std::string Where(const SourceWorkbook& source, std::size_t sheetIndex) {
  return source.Label() + ": sheet '" + source.Sheets()[sheetIndex].name + "'";
}

class RangeReader : XmlReader::Handler {
 public:
  RangeReader(const SourceWorkbook& source, std::size_t sheetIndex, const SheetRange& range)
      : source_(source), range_(range),
        texts_(static_cast<std::size_t>(range.lastRow - range.firstRow + 1) * (range.lastColumn - range.firstColumn + 1)),
        xml_(*this, Where(source, sheetIndex), source.Sheets()[sheetIndex].part) {}

  std::vector<std::string> Read() {
    xml_.Read(source_.Pkg());  // stops past the range's last row: the rest is not needed
    return texts_;
  }

 private:
  void OnStart(const XML_Char* name, const XML_Char** attributes) override {
    const std::string_view local = LocalName(name);
    if (local == "row") {
      ++row_;
      for (int i = 0; attributes[i] != nullptr; i += 2)
        if (std::strcmp(attributes[i], "r") == 0) row_ = static_cast<std::uint32_t>(std::strtoul(attributes[i + 1], nullptr, 10));
      column_ = 0;
      if (row_ > range_.lastRow) xml_.Stop();
    } else if (local == "c") {
      ++column_;
      type_.clear();
      for (int i = 0; attributes[i] != nullptr; i += 2) {
        if (std::strcmp(attributes[i], "t") == 0) type_ = attributes[i + 1];
        if (std::strcmp(attributes[i], "r") == 0) {
          ReadColumn(attributes[i + 1], column_);
        }
      }
      value_.clear();
    } else if (local == "v" || (local == "t" && type_ == "inlineStr")) {
      collecting_ = true;
    }
  }

  void OnEnd(const XML_Char* name) override {
    const std::string_view local = LocalName(name);
    if (local == "v" || local == "t") collecting_ = false;
    if (local != "c") return;
    const SheetRange& range = range_;
    if (row_ < range.firstRow || column_ < range.firstColumn || column_ > range.lastColumn) return;
    std::string text = value_;
    if (type_ == "s") {
      const auto& items = source_.Strings().items;
      const auto index = std::strtoul(text.c_str(), nullptr, 10);
      text = index < items.size() ? SharedStringText(items[index]) : std::string();
    } else if (type_ == "b") {
      text = text == "1" ? "TRUE" : "FALSE";
    }
    texts_[static_cast<std::size_t>(row_ - range.firstRow) * (range.lastColumn - range.firstColumn + 1) +
           (column_ - range.firstColumn)] = std::move(text);
  }

  void OnText(const XML_Char* text, int length) override {
    if (collecting_) value_.append(text, static_cast<std::size_t>(length));
  }

  const SourceWorkbook& source_;
  const SheetRange& range_;
  std::vector<std::string> texts_;
  XmlReader xml_;
  std::uint32_t row_ = 0, column_ = 0;
  std::string type_, value_;
  bool collecting_ = false;
};


// One cell as a streamed scan sees it.
struct ScannedCell {
  std::string reference, type, formula, formulaKind, sharedGroup, value;
  bool hasFormula = false, hasValue = false;
};

// Streams a worksheet part cell by cell. onRow (given the row number) and onCell return
// false to stop reading there.
class CellScanner : XmlReader::Handler {
 public:
  CellScanner(const SourceWorkbook& source, std::size_t sheetIndex, std::function<bool(std::uint32_t)> onRow,
              std::function<bool(const ScannedCell&)> onCell)
      : source_(source), onRow_(std::move(onRow)), onCell_(std::move(onCell)),
        xml_(*this, Where(source, sheetIndex), source.Sheets()[sheetIndex].part) {}

  // A reader that has what it needs skips the rest.
  void Scan() { xml_.Read(source_.Pkg()); }

 private:
  void Stop() { xml_.Stop(); }

  void OnStart(const XML_Char* name, const XML_Char** attributes) override {
    const std::string_view local = LocalName(name);
    ScannedCell& cell = cell_;
    if (inCell_) {
      ++cellDepth_;
      if (cellDepth_ == 1 && local == "f") {
        cell.hasFormula = true;
        for (int i = 0; attributes[i] != nullptr; i += 2) {
          if (std::strcmp(attributes[i], "t") == 0) cell.formulaKind = attributes[i + 1];
          if (std::strcmp(attributes[i], "si") == 0) cell.sharedGroup = attributes[i + 1];
        }
        collect_ = &cell.formula;
      } else if (cellDepth_ == 1 && local == "v") {
        cell.hasValue = true;
        collect_ = &cell.value;
      } else if (local == "rPh") {
        ++phonetic_;
      } else if (local == "t" && phonetic_ == 0) {
        cell.hasValue = true;  // inline text
        collect_ = &cell.value;
      }
      return;
    }
    if (local == "row") {
      ++row_;
      for (int i = 0; attributes[i] != nullptr; i += 2)
        if (std::strcmp(attributes[i], "r") == 0) row_ = static_cast<std::uint32_t>(std::strtoul(attributes[i + 1], nullptr, 10));
      if (!onRow_(row_)) Stop();
    } else if (local == "c") {
      inCell_ = true;
      cellDepth_ = 0;
      phonetic_ = 0;
      cell = ScannedCell();
      for (int i = 0; attributes[i] != nullptr; i += 2) {
        if (std::strcmp(attributes[i], "t") == 0) cell.type = attributes[i + 1];
        if (std::strcmp(attributes[i], "r") == 0) cell.reference = attributes[i + 1];
      }
    }
  }

  void OnEnd(const XML_Char* name) override {
    if (!inCell_) return;
    collect_ = nullptr;
    if (cellDepth_-- > 0) {
      if (LocalName(name) == "rPh") --phonetic_;
      return;
    }
    inCell_ = false;
    if (!onCell_(cell_)) Stop();
  }

  void OnText(const XML_Char* text, int length) override {
    if (collect_ != nullptr) collect_->append(text, static_cast<std::size_t>(length));
  }

  const SourceWorkbook& source_;
  std::function<bool(std::uint32_t)> onRow_;
  std::function<bool(const ScannedCell&)> onCell_;
  XmlReader xml_;
  ScannedCell cell_;
  std::string* collect_ = nullptr;
  std::uint32_t row_ = 0;
  int cellDepth_ = 0, phonetic_ = 0;
  bool inCell_ = false;
};

std::uint32_t RowOf(std::string_view reference) {
  const auto digits = reference.find_first_of("0123456789");
  return digits == std::string_view::npos ? 0 : static_cast<std::uint32_t>(std::strtoul(std::string(reference.substr(digits)).c_str(), nullptr, 10));
}

}  // namespace

std::map<std::string, CellResult> ReadCellResults(const SourceWorkbook& source, std::size_t sheetIndex,
                                                  const std::vector<std::string>& cells) {
  std::map<std::string, std::string> wanted;  // lower-cased reference -> as asked
  std::uint32_t lastRow = 0;
  for (const std::string& cell : cells) {
    wanted.emplace(LowerAscii(cell), cell);
    lastRow = std::max(lastRow, RowOf(cell));
  }
  std::map<std::string, CellResult> results;
  CellScanner scanner(
      source, sheetIndex, [&](std::uint32_t row) { return row <= lastRow; },
      [&](const ScannedCell& cell) {
        const auto found = wanted.find(LowerAscii(cell.reference));
        if (found == wanted.end() || !cell.hasValue) return true;
        CellResult result{cell.type, cell.value};
        if (cell.type == "s") {
          const auto& items = source.Strings().items;
          const auto index = std::strtoul(cell.value.c_str(), nullptr, 10);
          if (cell.value.empty() || index >= items.size()) return true;
          result = {"str", SharedStringText(items[index])};
        } else if (cell.type == "inlineStr") {
          result.type = "str";
        } else if (cell.type.empty() || cell.type == "n") {
          if (cell.value.empty()) return true;
          result.type = "n";
        } else if (cell.type != "str" && cell.type != "b" && cell.type != "e") {
          return true;
        }
        results.emplace(found->second, std::move(result));
        return true;
      });
  scanner.Scan();
  return results;
}

bool NeedsCalculatedResults(const SourceWorkbook& source, std::size_t sheetIndex, ShownResults shown) {
  const SourceSheet& sheet = source.Sheets()[sheetIndex];
  const std::vector<std::string>& tables = source.TableNames(sheetIndex);
  ReferenceContext context;
  context.sheet = [&](std::string_view name) -> std::optional<std::string> {
    if (!EqualIgnoringCase(name, sheet.name)) return std::nullopt;
    return sheet.name;
  };
  context.table = [&](std::string_view name) {
    return std::any_of(tables.begin(), tables.end(), [&](const std::string& table) { return EqualIgnoringCase(table, name); });
  };
  // Names the sheet alone keeps: its own and the workbook's, referring to nothing but it.
  context.definedName = [](std::string_view) { return false; };
  std::set<std::string> names;
  for (const DefinedName& name : source.Names())
    if ((!name.localSheetId || static_cast<std::size_t>(*name.localSheetId) == sheetIndex) &&
        RewriteFormula(name.formula, context))
      names.insert(FoldCase(name.name));
  context.definedName = [&](std::string_view name) { return names.count(FoldCase(name)) > 0; };

  std::unordered_set<std::string> droppedGroups;
  bool needs = false;
  CellScanner scanner(
      source, sheetIndex, [](std::uint32_t) { return true; },
      [&](const ScannedCell& cell) {
        if (!cell.hasFormula) return true;
        bool throughResult = true;
        if (shown == ShownResults::kDroppedFormulas) {
          if (cell.formulaKind == "dataTable") return true;  // a copy keeps data tables
          if (cell.formulaKind == "shared" && cell.formula.empty()) {
            throughResult = droppedGroups.count(cell.sharedGroup) > 0;
          } else {
            throughResult = !RewriteFormula(cell.formula, context);
            if (throughResult && cell.formulaKind == "shared") droppedGroups.insert(cell.sharedGroup);
          }
        }
        const bool stored = cell.hasValue && (!cell.value.empty() || cell.type == "str");
        needs = throughResult && (!stored || source.ResultsArePlaceholders());
        return !needs;
      });
  scanner.Scan();
  return needs;
}

std::vector<std::string> ReadCellTexts(const SourceWorkbook& source, std::size_t sheetIndex, const SheetRange& range) {
  // A range larger than any list or rule needs is not read at all.
  constexpr std::uint64_t kMaxCells = 4096;
  if (static_cast<std::uint64_t>(range.lastRow - range.firstRow + 1) * (range.lastColumn - range.firstColumn + 1) > kMaxCells)
    return {};
  return RangeReader(source, sheetIndex, range).Read();
}

}  // namespace tabrend::spreadsheet
