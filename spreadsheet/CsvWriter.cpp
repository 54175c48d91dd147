// A worksheet part streamed into CSV text, cell by cell, through the styles' number formats.
#include "spreadsheet/CsvWriter.h"

#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

#include "core/Error.h"
#include "spreadsheet/ByteSink.h"
#include "spreadsheet/CellReference.h"
#include "spreadsheet/CellReader.h"
#include "spreadsheet/LossReport.h"
#include "spreadsheet/NumberFormat.h"
#include "spreadsheet/Package.h"
#include "spreadsheet/RowScanner.h"
#include "spreadsheet/Text.h"
#include "spreadsheet/Xml.h"
#include "spreadsheet/XmlReader.h"

namespace tabrend::spreadsheet {

namespace {

// The number format of each cell style (cellXfs), parsed on first use.
class CellFormats {
 public:
  explicit CellFormats(const SourceWorkbook& source) {
    const std::string& pr = source.WorkbookPr();
    date1904_ = pr.find("date1904=\"1\"") != std::string::npos || pr.find("date1904=\"true\"") != std::string::npos ||
                pr.find("date1904='1'") != std::string::npos;
    const auto part = source.WorkbookPartOfKind("styles");
    if (!part || !source.Pkg().Has(*part)) return;
    pugi::xml_document styles;
    ParseXml(styles, source.Pkg().Read(*part), source.Label(), *part);
    const pugi::xml_node root = styles.first_child();
    std::map<unsigned, std::string> custom;
    for (const pugi::xml_node fmt : ChildByLocalName(root, "numFmts").children())
      if (LocalName(fmt) == "numFmt")
        custom[AttributeByLocalName(fmt, "numFmtId").as_uint()] = AttributeByLocalName(fmt, "formatCode").value();
    for (const pugi::xml_node xf : ChildByLocalName(root, "cellXfs").children()) {
      if (LocalName(xf) != "xf") continue;
      const unsigned id = AttributeByLocalName(xf, "numFmtId").as_uint();
      const auto found = custom.find(id);
      codes_.push_back(found != custom.end() ? found->second : std::string(BuiltInNumberFormat(id)));
    }
    formats_.resize(codes_.size());
  }

  bool Date1904() const { return date1904_; }

  // nullptr for General.
  const NumberFormat* Of(std::size_t style) {
    if (style >= codes_.size()) return nullptr;
    if (!formats_[style]) formats_[style].emplace(codes_[style]);
    return formats_[style]->IsGeneral() ? nullptr : &*formats_[style];
  }

 private:
  std::vector<std::string> codes_;
  std::vector<std::optional<NumberFormat>> formats_;
  bool date1904_ = false;
};

// A cell as either reader gives it: views of the part's own bytes, for a plain cell read in
// place, or of the expat path's copy.
struct Cell {
  std::uint32_t row = 0, column = 0;
  std::size_t style = 0;
  std::string_view type, value;
  std::string_view arrayRange;  // the range of an array formula entered in this cell
  bool hasValue = false, hasFormula = false;

  // A value to show; false for a formula saved without its result.
  bool Shows() const { return hasValue && (!value.empty() || type == "str" || type == "inlineStr"); }
};

std::string ReferenceOf(std::uint32_t row, std::uint32_t column) {
  std::string letters;
  for (; column > 0; column = (column - 1) / 26) letters.insert(letters.begin(), static_cast<char>('A' + (column - 1) % 26));
  return letters + std::to_string(row);
}

// What strtoul makes of text, which need not end in a NUL: numbers have always been read so.
unsigned long ToUnsigned(std::string_view text) {
  if (!text.empty() && text.size() <= 9) {
    unsigned long value = 0;
    std::size_t i = 0;
    for (; i < text.size() && IsAsciiDigit(text[i]); ++i) value = value * 10 + static_cast<unsigned long>(text[i] - '0');
    if (i == text.size()) return value;
  }
  return std::strtoul(std::string(text).c_str(), nullptr, 10);
}

// The text of an inline string of the one shape nearly all are written in, <is><t>text</t></is>
// (prefixed as the cell is), decoded; false for any other.
bool PlainInlineText(std::string_view extra, std::string_view prefix, std::string& text) {
  auto skip = [&](std::string_view what) {
    if (extra.substr(0, what.size()) != what) return false;
    extra.remove_prefix(what.size());
    return true;
  };
  auto tag = [&](std::string_view open, std::string_view name, std::string_view close) {
    return skip(open) && skip(prefix) && skip(name) && skip(close);
  };
  if (!tag("<", "is", ">") || !tag("<", "t", "")) return false;
  if (!skip(">") && !skip(" xml:space=\"preserve\">")) return false;
  const std::size_t end = extra.find('<');
  if (end == std::string_view::npos) return false;
  const std::string_view body = extra.substr(0, end);
  extra.remove_prefix(end);
  return tag("</", "t", ">") && tag("</", "is", ">") && extra.empty() && DecodeXmlText(body, text);
}

// What a Scanner finds, in the order of the part.
class ScanListener {
 public:
  // A cell that holds a value or a formula (with everyCell, every cell).
  virtual void OnCell(const Cell& cell) = 0;
  // The place of a sparkline, a list of references.
  virtual void OnSparkline(std::string_view sqref) = 0;
  // The row scanner begins a row it may still hand back to expat; if it does, the row's cells
  // are reported again, and what was noted for them since must be forgotten first.
  virtual void OnRowBegun() = 0;
  virtual void OnRowTakenBack() = 0;

 protected:
  ~ScanListener() = default;
};

// Streams a sheet part and reports its cells and sparklines. The rows go through the row
// scanner, which reads plain cells in place; expat reads the rest.
class Scanner : private RowScanner::Host, private XmlReader::Handler {
 public:
  Scanner(const SourceWorkbook& source, std::size_t sheetIndex, ScanListener& listener, bool everyCell = false)
      : source_(source), sheetIndex_(sheetIndex), listener_(listener), everyCell_(everyCell),
        where_(source.Label() + ": sheet '" + source.Sheets()[sheetIndex].name + "'"),
        xml_(*this, where_, source.Sheets()[sheetIndex].part) {}

  void Scan() {
    const SourceSheet& sheet = source_.Sheets()[sheetIndex_];
    source_.Pkg().Zip().Stream(source_.Pkg().IndexOf(sheet.part), [&](const char* data, std::size_t length) {
      rows_.Feed(data, length, false);
    });
    rows_.Feed("", 0, true);
  }

 private:
  // RowScanner::Host
  void Parse(const char* data, std::size_t length, bool last) override { xml_.Feed(data, length, last); }
  bool RowsMayFollow() const override { return sawSheetData_ && !inCell_; }
  void RowStarted(const Attributes& attributes) override {
    rowBefore_ = row_;
    listener_.OnRowBegun();
    const std::string* number = FindAttribute(attributes, "r");
    StartRow(number != nullptr ? std::string_view(*number) : std::string_view());
  }
  void RowTakenBack() override {
    row_ = rowBefore_;
    listener_.OnRowTakenBack();
  }
  PlainFate TakePlainCell(const PlainCell& plain) override {
    if (!StartCell(plain.reference)) return PlainFate::kReadWhole;  // to be refused
    cell_.style = plain.style.empty() ? 0 : ToUnsigned(plain.style);
    cell_.type = plain.type;
    cell_.value = plain.value;
    cell_.hasValue = plain.hasValue;
    cell_.hasFormula = plain.hasFormula;
    EndCell();
    return PlainFate::kAsWritten;
  }
  void WritePlainCell(const PlainCell&, std::string&) override {}
  bool FinishCell(std::string&) override {
    const std::string* reference = FindAttribute(record_.attributes, "r");
    const std::string* type = FindAttribute(record_.attributes, "t");
    cell_.type = type != nullptr ? std::string_view(*type) : std::string_view();
    cell_.value = record_.value;
    cell_.hasValue = record_.hasValue;
    if (!record_.extra.empty() && cell_.type == "inlineStr") {
      // Its <is> and <extLst> children, as they stand: expat reads any but the plainest.
      if (record_.hasValue || !PlainInlineText(record_.extra, Prefix(record_.name), inlineText_)) return false;
      cell_.value = inlineText_;
      cell_.hasValue = true;
    }
    if (!StartCell(reference != nullptr ? std::string_view(*reference) : std::string_view()))
      Refuse(OutsideGridMessage("cell " + *reference));
    const std::string* style = FindAttribute(record_.attributes, "s");
    cell_.style = style != nullptr ? ToUnsigned(*style) : 0;
    cell_.hasFormula = record_.hasFormula;
    if (record_.hasFormula) {
      const std::string* formulaType = FindAttribute(record_.formulaAttributes, "t");
      const std::string* range = FindAttribute(record_.formulaAttributes, "ref");
      if (formulaType != nullptr && *formulaType == "array" && range != nullptr) cell_.arrayRange = *range;
    }
    EndCell();
    return true;
  }
  void RowWritten() override { scratch_.clear(); }
  void RowsTaken(bool) override {}
  void StylesIn(std::string_view) override {}
  [[noreturn]] void Refuse(const std::string& problem) override { Fail(ErrorReason::kDamaged, where_ + ": " + problem); }

  static std::string_view Prefix(std::string_view cellName) { return cellName.substr(0, cellName.size() - 1); }

  // A row starts: the next after the last, or the one its number names.
  void StartRow(std::string_view number) {
    ++row_;
    if (!number.empty()) row_ = static_cast<std::uint32_t>(ToUnsigned(number));
    column_ = 0;
  }

  // A cell starts: the next after the last, or the one its reference names; false when that
  // lies outside the grid.
  bool StartCell(std::string_view reference) {
    cell_.arrayRange = {};
    ++column_;
    std::uint32_t column = 0, row = 0;
    if (ReadGridReference(reference, column, row)) {
      column_ = column;
      row_ = row;
      return true;
    }
    if (CellOutsideGrid(reference)) return false;
    const std::size_t letters = ReadColumn(reference, column);
    if (column > 0) column_ = column;
    if (letters < reference.size() && IsAsciiDigit(reference[letters])) {
      std::size_t digits = letters;
      while (digits < reference.size() && IsAsciiDigit(reference[digits])) ++digits;
      row_ = static_cast<std::uint32_t>(ToUnsigned(reference.substr(letters, digits - letters)));
    }
    return true;
  }

  void EndCell() {
    if (!cell_.Shows() && !cell_.hasFormula && !everyCell_) return;
    cell_.row = row_;
    cell_.column = column_;
    listener_.OnCell(cell_);
  }

  // Stops the reading: the part is refused for problem.
  void Stop(const std::string& problem) { xml_.Abort(ErrorReason::kDamaged, where_ + ": " + problem); }

  void OnStart(const XML_Char* name, const XML_Char** attributes) override {
    const std::string_view local = LocalName(name);
    if (inCell_) {
      ++depth_;
      if (local == "rPh") ++phonetic_;
      if (depth_ == 1 && local == "f") {
        cell_.hasFormula = true;
        bool array = false;
        for (int i = 0; attributes[i] != nullptr; i += 2) {
          if (std::strcmp(attributes[i], "t") == 0) array = std::strcmp(attributes[i + 1], "array") == 0;
          if (std::strcmp(attributes[i], "ref") == 0) arrayText_ = attributes[i + 1];
        }
        cell_.arrayRange = array ? std::string_view(arrayText_) : std::string_view();
      }
      if ((depth_ == 1 && local == "v") || (local == "t" && phonetic_ == 0 && cell_.type == "inlineStr")) {
        collecting_ = true;
        cell_.hasValue = true;
      }
      return;
    }
    if (local == "sheetData") {
      sawSheetData_ = true;
    } else if (local == "row") {
      const char* number = nullptr;
      for (int i = 0; attributes[i] != nullptr; i += 2)
        if (std::strcmp(attributes[i], "r") == 0) number = attributes[i + 1];
      if (number != nullptr && RowOutsideGrid(number)) return Stop(OutsideGridMessage(std::string("row ") + number));
      StartRow(number != nullptr ? std::string_view(number) : std::string_view());
    } else if (local == "c") {
      inCell_ = true;
      depth_ = phonetic_ = 0;
      typeText_.clear();
      valueText_.clear();
      arrayText_.clear();
      cell_.style = 0;
      cell_.hasValue = cell_.hasFormula = false;
      const char* reference = "";
      for (int i = 0; attributes[i] != nullptr; i += 2) {
        const char* key = attributes[i];
        const char* value = attributes[i + 1];
        if (std::strcmp(key, "t") == 0) typeText_ = value;
        else if (std::strcmp(key, "s") == 0) cell_.style = std::strtoul(value, nullptr, 10);
        else if (std::strcmp(key, "r") == 0) reference = value;
      }
      if (!StartCell(reference)) return Stop(OutsideGridMessage(std::string("cell ") + reference));
      cell_.type = typeText_;
    } else if (local == "sparkline") {
      inSparkline_ = true;
    } else if (local == "sqref" && inSparkline_) {
      collecting_ = true;
      sqref_.clear();
    }
  }

  void OnEnd(const XML_Char* name) override {
    collecting_ = false;
    if (!inCell_) {
      const std::string_view local = LocalName(name);
      if (local == "sparkline") inSparkline_ = false;
      else if (local == "sqref" && inSparkline_) listener_.OnSparkline(sqref_);
      return;
    }
    if (depth_-- > 0) {
      if (LocalName(name) == "rPh") --phonetic_;
      return;
    }
    inCell_ = false;
    cell_.value = valueText_;
    EndCell();
  }

  void OnText(const XML_Char* text, int length) override {
    if (collecting_) (inCell_ ? valueText_ : sqref_).append(text, static_cast<std::size_t>(length));
  }

  const SourceWorkbook& source_;
  std::size_t sheetIndex_;
  ScanListener& listener_;
  bool everyCell_;
  std::string where_;  // "'Q1.xlsx': sheet 'Costs'", for messages
  XmlReader xml_;
  Cell cell_;
  std::string typeText_, valueText_, arrayText_, inlineText_;  // what cell_ views, when not the part's own bytes
  std::string sqref_;
  std::uint32_t row_ = 0, column_ = 0, rowBefore_ = 0;
  int depth_ = 0, phonetic_ = 0;
  bool inCell_ = false, collecting_ = false, inSparkline_ = false, sawSheetData_ = false;
  CellRecord record_;    // a cell the row scanner reads whole
  std::string scratch_;  // what the row scanner writes of the rows, which the text does not need
  RowScanner rows_{*this, record_, scratch_};
};

// The UTF-16 unit of an escape "_xHHHH_" at text[at], or -1.
long EscapedUnit(std::string_view text, std::size_t at) {
  if (at + 7 > text.size() || text[at] != '_' || text[at + 1] != 'x' || text[at + 6] != '_') return -1;
  long unit = 0;
  for (std::size_t i = at + 2; i < at + 6; ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

// A string item's text with its "_xHHHH_" escapes decoded, as Excel reads them: each stands
// for one UTF-16 unit (a pair for a character beyond the BMP; "_x005F_" for the "_" of a
// literal "_x"). A lone surrogate shows as U+FFFD.
void DecodeEscapes(std::string& text) {
  std::size_t at = text.find("_x");
  if (at == std::string::npos) return;
  std::string out(text, 0, at);
  while (at < text.size()) {
    const long unit = EscapedUnit(text, at);
    if (unit < 0) {
      out += text[at++];
      continue;
    }
    at += 7;
    std::uint32_t code = static_cast<std::uint32_t>(unit);
    if (unit >= 0xD800 && unit < 0xDC00) {
      const long low = EscapedUnit(text, at);
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) + (static_cast<std::uint32_t>(low) - 0xDC00);
        at += 7;
      } else {
        code = 0xFFFD;
      }
    } else if (unit >= 0xDC00 && unit < 0xE000) {
      code = 0xFFFD;
    }
    AppendUtf8(out, static_cast<char32_t>(code));
  }
  text = std::move(out);
}

// The texts of the shared strings, each decoded once: a plain item's text is a view of the
// table itself, the others are kept decoded.
class StringTexts {
 public:
  explicit StringTexts(const SourceWorkbook& source) : items_(source.Strings().items) {}

  std::string_view Of(std::size_t index) {
    if (index >= items_.size()) return {};
    if (kinds_.empty()) kinds_.resize(items_.size(), kUnread);
    if (kinds_[index] == kUnread) Read(index);
    if (kinds_[index] == kDecoded) return decoded_.at(index);
    return *items_.PlainText(index);
  }

 private:
  enum : unsigned char { kUnread, kPlain, kDecoded };

  // Most items are one plain run, read here without a parser; anything else (runs,
  // phonetics, prefixes, entities) goes through one.
  void Read(std::size_t index) {
    const std::optional<std::string_view> plain = items_.PlainText(index);
    const bool simple = plain && plain->find_first_of("&\r") == std::string_view::npos;
    if (simple && plain->find("_x") == std::string_view::npos) {
      kinds_[index] = kPlain;
      return;
    }
    std::string text = simple ? std::string(*plain) : SharedStringText(items_[index]);
    DecodeEscapes(text);
    decoded_.emplace(index, std::move(text));
    kinds_[index] = kDecoded;
  }

  const SharedStringItems& items_;
  std::vector<unsigned char> kinds_;
  std::unordered_map<std::size_t, std::string> decoded_;
};

// What a cell holds, by its t attribute.
enum class CellKind { kNumber, kSharedString, kInlineString, kFormulaString, kBoolean, kAsStored };

CellKind KindOf(std::string_view type) {
  if (type.empty()) return CellKind::kNumber;
  if (type.size() == 1) {
    switch (type[0]) {
      case 's': return CellKind::kSharedString;
      case 'b': return CellKind::kBoolean;
      case 'e': case 'd': return CellKind::kAsStored;  // errors, ISO dates
      default: return CellKind::kNumber;
    }
  }
  if (type == "inlineStr") return CellKind::kInlineString;
  if (type == "str") return CellKind::kFormulaString;
  return CellKind::kNumber;
}

// Appends what a cell shows to out; text is a string cell's text.
void AppendCellText(std::string& out, CellFormats& formats, const Cell& cell, CellKind kind, std::string_view text) {
  const NumberFormat* format = formats.Of(cell.style);
  switch (kind) {
    case CellKind::kFormulaString:
      text = cell.value;
      [[fallthrough]];
    case CellKind::kSharedString:
    case CellKind::kInlineString:
      if (format) out += format->FormatText(text);
      else out += text;
      return;
    case CellKind::kBoolean: {
      // A number format other than General shows the truth as the number it is.
      const bool truth = cell.value == "1" || cell.value == "true";
      WrittenNumber number;
      number.value = truth ? 1 : 0;
      if (format) format->Append(out, number, formats.Date1904());
      else out += truth ? "TRUE" : "FALSE";
      return;
    }
    case CellKind::kAsStored:
      out += cell.value;
      return;
    case CellKind::kNumber:
      break;
  }
  // Numbers are read as from_chars reads them; strtod reads the rest ("+1", " 1", "0x1A").
  WrittenNumber number;
  if (!ReadWrittenNumber(cell.value, number)) {
    const std::string value(cell.value);
    char* end = nullptr;
    number = WrittenNumber();
    number.value = std::strtod(value.c_str(), &end);
    if (end == value.c_str()) {
      out += cell.value;
      return;
    }
  }
  if (format) format->Append(out, number, formats.Date1904());
  else AppendGeneral(out, number);
}

// The characters that make a field need quotes.
constexpr std::array<bool, 256> kCsvSpecial = [] {
  std::array<bool, 256> special{};
  special[','] = special['"'] = special['\r'] = special['\n'] = true;
  return special;
}();

// One pass over the field: find_first_of would call memchr on its four characters per byte.
void AppendCsvField(std::string& out, std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && !kCsvSpecial[static_cast<unsigned char>(text[at])]) ++at;
  if (at == text.size()) {
    out += text;
    return;
  }
  out += '"';
  for (std::size_t quote = text.find('"'); quote != std::string_view::npos; quote = text.find('"')) {
    out.append(text, 0, quote + 1);
    out += '"';
    text.remove_prefix(quote + 1);
  }
  out += text;
  out += '"';
}

}  // namespace

std::string CsvField(std::string_view text) {
  std::string out;
  AppendCsvField(out, text);
  return out;
}

namespace {

// The rectangle from A1 that a sheet's CSV text covers.
struct Area {
  std::uint32_t lastRow = 0, lastColumn = 0;

  void Take(std::uint32_t row, std::uint32_t column) {
    lastRow = std::max(lastRow, row);
    lastColumn = std::max(lastColumn, column);
  }
  // A reference such as "B7"; one without a row is passed over.
  void Take(std::string_view reference) {
    std::uint32_t column = 0;
    const std::size_t letters = ReadColumn(reference, column);
    if (letters == 0 || letters == reference.size()) return;
    Take(static_cast<std::uint32_t>(std::strtoul(std::string(reference.substr(letters)).c_str(), nullptr, 10)), column);
  }
  // Every reference or range ("F1:F4") of a space-separated list: its far end.
  void TakeList(std::string_view references) {
    while (!references.empty()) {
      const std::size_t space = references.find(' ');
      const std::string_view range = references.substr(0, space);
      Take(range.substr(range.find(':') == std::string_view::npos ? 0 : range.find(':') + 1));
      references = space == std::string_view::npos ? std::string_view() : references.substr(space + 1);
    }
  }
};

// A cell with a note belongs to the area, as in LibreOffice, even without a value.
void TakeNotes(const SourceWorkbook& source, std::size_t sheetIndex, Area& area) {
  const std::string& part = source.Sheets()[sheetIndex].part;
  for (const Relationship& relationship : source.Pkg().RelationshipsOf(part)) {
    if (relationship.external || RelationshipKind(relationship.type) != "comments" ||
        !source.Pkg().Has(relationship.targetPart))
      continue;
    pugi::xml_document comments;
    ParseXml(comments, source.Pkg().Read(relationship.targetPart), source.Label(), relationship.targetPart);
    for (const pugi::xml_node list : comments.first_child().children()) {
      if (LocalName(list) != "commentList") continue;
      for (const pugi::xml_node comment : list.children()) area.Take(AttributeByLocalName(comment, "ref").value());
    }
  }
}

// The rows of a sheet as CSV text, before the area's width is known: each row's fields up to
// its last one that holds text, joined by commas and ended by CR LF, back to back, with an
// index of the rows. The row being laid out is built in place at the end of the text. The
// text stays in memory up to kInMemory bytes and goes on to an unnamed temporary file beyond
// that, so memory stays flat whatever the sheet's size.
class CsvRows {
 public:
  // The room for the text held in memory is taken once: grown step by step, it would be
  // copied at each step and held twice meanwhile. Pages never written cost no memory.
  CsvRows() { text_.reserve(kInMemory + kPiece); }
  ~CsvRows() {
    if (file_ != nullptr) std::fclose(file_);
  }
  CsvRows(const CsvRows&) = delete;
  CsvRows& operator=(const CsvRows&) = delete;

  // Shows text in field `column` (from 1) of the row being laid out, in place of what it held.
  void Put(std::uint32_t column, std::string_view text) {
    if (column <= ends_.size()) return ReplaceField(column, text);
    StartField(column);
    AppendCsvField(text_, text);
    EndField(column);
  }

  // The same in two steps, for text shown straight into its place: the string to append the
  // text to, then EndShown.
  std::string& BeginShown(std::uint32_t column) {
    if (column <= ends_.size()) {
      shown_.clear();
      return shown_;
    }
    StartField(column);
    return text_;
  }
  void EndShown(std::uint32_t column) {
    if (column <= ends_.size()) return ReplaceField(column, shown_);
    // Quoted where it stands when it holds no quote to double.
    const std::size_t start = lineStart_ + (column == 1 ? 0 : ends_.back() + 1);
    bool special = false, quote = false;
    for (std::size_t at = start; at < text_.size(); ++at) {
      special = special || kCsvSpecial[static_cast<unsigned char>(text_[at])];
      quote = quote || text_[at] == '"';
    }
    if (quote) {
      shown_.assign(text_, start);
      text_.resize(start);
      AppendCsvField(text_, shown_);
    } else if (special) {
      text_.insert(start, 1, '"');
      text_ += '"';
    }
    EndField(column);
  }

  // Whether field `column` of the row being laid out was put.
  bool Taken(std::uint32_t column) const { return column <= taken_.size() && taken_[column - 1] != 0; }

  // Ends the row being laid out as row `row`; a row without text is not kept.
  void EndRow(std::uint32_t row) {
    if (count_ > 0) {
      text_.resize(lineStart_ + ends_[count_ - 1]);
      text_ += "\r\n";
      const std::size_t length = text_.size() - lineStart_;
      if (length > std::numeric_limits<std::uint32_t>::max()) Fail("a row of the sheet is too long for its CSV text");
      rows_.push_back({row, count_, static_cast<std::uint32_t>(length)});
      if (text_.size() >= kInMemory) Spill();
    } else {
      text_.resize(lineStart_);
    }
    lineStart_ = text_.size();
    ends_.clear();
    taken_.clear();
    count_ = 0;
  }

  // Writes rows 1 to lastRow to sink, each with lastColumn fields.
  void Write(std::uint32_t lastRow, std::uint32_t lastColumn, const CsvSink& sink) {
    RowWriter out(lastRow, lastColumn, sink);
    std::size_t row = 0;
    if (file_ != nullptr) {
      if (std::fflush(file_) != 0) Fail(ErrorReason::kNotWritten, std::string("the CSV text of a large sheet cannot be kept in a temporary file: ") + std::strerror(errno));
      std::rewind(file_);
      std::string piece;
      while (row < spilledRows_) {
        // As many whole rows as fill a piece, and at least one.
        std::size_t count = 0, bytes = 0;
        while (row + count < spilledRows_ && (count == 0 || bytes + rows_[row + count].length <= kPiece))
          bytes += rows_[row + count++].length;
        piece.resize(bytes);
        if (std::fread(piece.data(), 1, bytes, file_) != bytes)
          Fail(ErrorReason::kNotWritten, std::string("the CSV text of a large sheet cannot be read back from its temporary file: ") + std::strerror(errno));
        out.Rows(rows_.data() + row, count, piece);
        row += count;
      }
    }
    out.Rows(rows_.data() + row, rows_.size() - row, text_);
    out.Finish();
  }

 private:
  static constexpr std::size_t kInMemory = std::size_t{16} << 20;
  static constexpr std::size_t kPiece = std::size_t{1} << 20;

  struct Row {
    std::uint32_t number, fields, length;  // the text's length, CR LF included
  };

  // Writes kept rows out: rows that need nothing added go as they stand, in runs as long as
  // the text holds them; the others, and the blank rows between, through a buffer.
  class RowWriter {
   public:
    RowWriter(std::uint32_t lastRow, std::uint32_t lastColumn, const CsvSink& sink)
        : lastRow_(lastRow), lastColumn_(lastColumn), commas_(lastColumn - 1, ','), sink_(sink) {}

    // count rows whose texts lie back to back in text.
    void Rows(const Row* rows, std::size_t count, std::string_view text) {
      std::size_t at = 0, run = 0, runEnd = 0;
      for (std::size_t i = 0; i < count; at += rows[i++].length) {
        const Row& row = rows[i];
        if (row.number > lastRow_) break;
        const bool asItStands = row.number == next_ && row.fields == lastColumn_;
        if (runEnd != at || !asItStands) {
          Put(text.substr(run, runEnd - run));
          run = runEnd = at;
        }
        if (asItStands) {
          runEnd = at + row.length;
        } else {
          BlankRowsBefore(row.number);
          std::string_view body = text.substr(at, row.length - 2);
          if (row.fields > lastColumn_) body = FirstFields(body, lastColumn_);
          Put(body);
          Put(std::string_view(commas_).substr(0, lastColumn_ - std::min(row.fields, lastColumn_)));
          Put("\r\n");
        }
        next_ = row.number + 1;
      }
      Put(text.substr(run, runEnd - run));
    }

    void Finish() {
      BlankRowsBefore(lastRow_ + 1);
      if (!buffer_.empty()) sink_(buffer_);
    }

   private:
    static constexpr std::size_t kBuffer = std::size_t{1} << 16;

    void Put(std::string_view text) {
      if (text.size() >= kBuffer) {
        if (!buffer_.empty()) sink_(buffer_);
        buffer_.clear();
        sink_(text);
        return;
      }
      buffer_ += text;
      if (buffer_.size() >= kBuffer) {
        sink_(buffer_);
        buffer_.clear();
      }
    }

    void BlankRowsBefore(std::uint32_t row) {
      for (; next_ < row; ++next_) {
        Put(commas_);
        Put("\r\n");
      }
    }

    // The first `fields` fields of a row's text: commas inside quotes belong to their field.
    static std::string_view FirstFields(std::string_view body, std::uint32_t fields) {
      bool quoted = false;
      std::uint32_t field = 1;
      for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '"') quoted = !quoted;
        else if (body[i] == ',' && !quoted && ++field > fields) return body.substr(0, i);
      }
      return body;
    }

    const std::uint32_t lastRow_, lastColumn_;
    const std::string commas_;
    const CsvSink& sink_;
    std::string buffer_;
    std::uint32_t next_ = 1;  // the first row not written yet
  };

  std::size_t FieldStart(std::uint32_t column) const { return column == 1 ? 0 : ends_[column - 2] + 1; }

  // Empty fields up to the one before column, and the comma before it.
  void StartField(std::uint32_t column) {
    while (ends_.size() + 1 < column) {
      if (!ends_.empty()) text_ += ',';
      ends_.push_back(text_.size() - lineStart_);
      taken_.push_back(0);
    }
    if (!ends_.empty()) text_ += ',';
  }

  // The field that ends the text so far is column's.
  void EndField(std::uint32_t column) {
    ends_.push_back(text_.size() - lineStart_);
    taken_.push_back(1);
    Count(column);
  }

  void ReplaceField(std::uint32_t column, std::string_view text) {
    std::string field;
    AppendCsvField(field, text);
    const std::size_t start = lineStart_ + FieldStart(column), end = lineStart_ + ends_[column - 1];
    text_.replace(start, end - start, field);
    for (std::size_t c = column - 1; c < ends_.size(); ++c) ends_[c] = ends_[c] + field.size() - (end - start);
    taken_[column - 1] = 1;
    Count(column);
  }

  // Keeps count_ the last field with text after column was put.
  void Count(std::uint32_t column) {
    if (FieldStart(column) != ends_[column - 1]) count_ = std::max(count_, column);
    else if (column == count_)
      while (count_ > 0 && FieldStart(count_) == ends_[count_ - 1]) --count_;
  }

  void Spill() {
    if (file_ == nullptr) file_ = UnnamedTemporaryFile("the CSV text of a large sheet");
    if (std::fwrite(text_.data(), 1, text_.size(), file_) != text_.size())
      Fail(ErrorReason::kNotWritten, std::string("the CSV text of a large sheet cannot be kept in a temporary file: ") + std::strerror(errno));
    text_.clear();
    spilledRows_ = rows_.size();
  }

  std::string text_;          // the rows kept in memory, then the row being laid out
  std::size_t lineStart_ = 0;  // where the row being laid out starts in text_
  std::vector<std::size_t> ends_;  // where each of its fields ends, from lineStart_
  std::vector<char> taken_;        // whether each of its fields was put
  std::string shown_;              // a field's text on its way into it
  std::uint32_t count_ = 0;        // its last field with text
  std::vector<Row> rows_;
  std::FILE* file_ = nullptr;
  std::size_t spilledRows_ = 0;  // how many of rows_ the file holds
};

using Position = std::pair<std::uint32_t, std::uint32_t>;  // row, column from 1

// The cells of a sheet, each as it shows, laid out in rows, with the area that holds values.
// With calculated, the cells it holds show those results instead.
class SheetRows final : private ScanListener {
 public:
  SheetRows(const SourceWorkbook& source, std::size_t sheetIndex, const std::map<Position, CellResult>* calculated)
      : formats_(source), strings_(source), calculated_(calculated), placeholders_(source.ResultsArePlaceholders()) {
    if (calculated_ != nullptr) next_ = calculated_->begin();
    Scanner(source, sheetIndex, *this, calculated_ != nullptr).Scan();
    StartRow(std::numeric_limits<std::uint32_t>::max());
  }

  CsvRows rows;
  Area area;
  // The cells whose results the sheet does not hold (formulas saved without results, or with
  // placeholders, and the rest of their arrays' ranges), and for each the placeholder it shows
  // meanwhile, if any.
  std::vector<std::string> unsaved;
  std::vector<std::optional<std::string>> placeholders;

 private:
  void OnCell(const Cell& cell) override {
    // Rows come in order; a cell before the row being laid out is passed over.
    if (cell.row < row_ || cell.column == 0) return;
    if (cell.row > row_) StartRow(cell.row);
    if (calculated_ != nullptr) {
      const auto found = calculated_->find({cell.row, cell.column});
      if (found != calculated_->end()) return Calculated(cell, found->second);
    } else if (cell.hasFormula && (placeholders_ || !cell.Shows())) {
      Unsaved(cell);
    }
    if (!cell.Shows()) return;
    const CellKind kind = KindOf(cell.type);
    std::string_view text;
    if (kind == CellKind::kSharedString) {
      text = strings_.Of(ToUnsigned(cell.value));
    } else if (kind == CellKind::kInlineString) {
      inlineText_.assign(cell.value);
      DecodeEscapes(inlineText_);
      text = inlineText_;
    }
    const bool stringCell = kind == CellKind::kSharedString || kind == CellKind::kInlineString;
    // A string cell whose text is empty stands outside the area, as in LibreOffice.
    if (!(stringCell && text.empty())) area.Take(cell.row, cell.column);
    if (stringCell && formats_.Of(cell.style) == nullptr) return rows.Put(cell.column, text);
    AppendCellText(rows.BeginShown(cell.column), formats_, cell, kind, text);
    rows.EndShown(cell.column);
  }

  void OnSparkline(std::string_view sqref) override { area.TakeList(sqref); }
  void OnRowBegun() override { unsavedAtRow_ = unsaved.size(); }
  void OnRowTakenBack() override {
    unsaved.resize(unsavedAtRow_);
    placeholders.resize(unsavedAtRow_);
  }

  void Unsaved(const Cell& cell) {
    AddUnsavedCells(cell);
    placeholders.resize(unsaved.size(), cell.Shows() ? std::optional<std::string>(cell.value) : std::nullopt);
  }

  void AddUnsavedCells(const Cell& cell) {
    unsaved.push_back(ReferenceOf(cell.row, cell.column));
    // The other cells of an array formula's range hold no formula of their own.
    std::uint32_t firstColumn = 0, lastColumn = 0;
    const std::string range(cell.arrayRange);
    const std::size_t colon = range.find(':');
    if (colon == std::string::npos) return;
    const std::size_t a = ReadColumn(range, firstColumn), b = ReadColumn(std::string_view(range).substr(colon + 1), lastColumn);
    const auto firstRow = static_cast<std::uint32_t>(std::strtoul(range.c_str() + a, nullptr, 10));
    const auto lastRow = static_cast<std::uint32_t>(std::strtoul(range.c_str() + colon + 1 + b, nullptr, 10));
    if (firstRow == 0 || lastRow < firstRow || lastColumn < firstColumn ||
        std::uint64_t{lastRow - firstRow + 1} * (lastColumn - firstColumn + 1) > kArrayCells)
      return;
    for (std::uint32_t r = firstRow; r <= lastRow; ++r)
      for (std::uint32_t c = firstColumn; c <= lastColumn; ++c)
        if (r != cell.row || c != cell.column) unsaved.push_back(ReferenceOf(r, c));
  }

  void Calculated(const Cell& cell, const CellResult& found) {
    Cell result = cell;
    result.type = found.type == "n" ? std::string_view() : std::string_view(found.type);
    result.value = found.value;
    result.hasValue = true;
    AppendCellText(rows.BeginShown(cell.column), formats_, result, KindOf(result.type), {});
    rows.EndShown(cell.column);
  }

  // Ends the row being laid out and every row of calculated results before `row`.
  void StartRow(std::uint32_t row) {
    for (;;) {
      // The results for cells the part does not hold (the rest of an array's range).
      while (calculated_ != nullptr && next_ != calculated_->end() && next_->first.first <= row_) {
        const auto [r, column] = next_->first;
        if (r == row_ && !rows.Taken(column)) {
          Cell cell;
          cell.row = r;
          cell.column = column;
          Calculated(cell, next_->second);
        }
        ++next_;
      }
      rows.EndRow(row_);
      if (calculated_ == nullptr || next_ == calculated_->end() || next_->first.first >= row) break;
      row_ = next_->first.first;
    }
    row_ = row;
  }

  static constexpr std::uint64_t kArrayCells = 1 << 16;

  CellFormats formats_;
  StringTexts strings_;
  const std::map<Position, CellResult>* calculated_;
  const bool placeholders_;
  std::map<Position, CellResult>::const_iterator next_;
  std::uint32_t row_ = 1;
  std::size_t unsavedAtRow_ = 0;
  std::string inlineText_;
};

// The calculated result of the cell at reference ("B7") takes its place.
void TakeResult(const std::string& reference, const CellResult& result, std::map<Position, CellResult>& calculated,
                Area& area) {
  std::uint32_t column = 0;
  const std::size_t letters = ReadColumn(reference, column);
  const auto row = static_cast<std::uint32_t>(std::strtoul(reference.c_str() + letters, nullptr, 10));
  if (column == 0 || row == 0) return;
  if (!result.value.empty() || result.type == "str") area.Take(row, column);
  calculated.emplace(Position{row, column}, result);
}

// The cells whose results the sheet does not hold show what the calculator (LibreOffice, when
// the workbook was opened with one) makes of them; the others stay empty or show their
// placeholders, and losses counts them with why.
std::map<Position, CellResult> Calculated(const SourceWorkbook& source, std::size_t sheetIndex,
                                          const SheetRows& sheet, Area& area, std::map<std::string, int>& losses) {
  std::map<Position, CellResult> calculated;
  if (sheet.unsaved.empty()) return calculated;
  ResultCalculator::Results results;
  if (source.Calculator() != nullptr) results = source.Calculator()->Calculate(source, sheetIndex, sheet.unsaved);
  for (std::size_t i = 0; i < sheet.unsaved.size(); ++i) {
    const auto found = results.cells.find(sheet.unsaved[i]);
    const std::optional<std::string>& placeholder = sheet.placeholders[i];
    if (found == results.cells.end())
      ++losses[placeholder ? loss::CsvPlaceholderShown(results.problem) : loss::CsvResultMissing(results.problem)];
    else if (placeholder && !ReplacesPlaceholder(found->second, *placeholder))
      ++losses[loss::CsvPlaceholderShown(loss::kUnknownToCalculator)];
    else
      TakeResult(found->first, found->second, calculated, area);
  }
  return calculated;
}

}  // namespace

std::vector<std::string> WriteCsv(const SourceWorkbook& source, std::size_t sheetIndex, const CsvSink& sink) {
  if (sheetIndex >= source.Sheets().size() || source.Sheets()[sheetIndex].part.empty())
    Fail(ErrorReason::kDamaged,
         source.Label() + ": sheet " + std::to_string(sheetIndex + 1) + " has no worksheet part");
  // One read of the part lays the rows out and finds the area; only results the sheet does
  // not hold, once calculated, need a second.
  SheetRows sheet(source, sheetIndex, nullptr);
  Area area = sheet.area;
  TakeNotes(source, sheetIndex, area);
  std::map<std::string, int> losses;
  const std::map<Position, CellResult> calculated = Calculated(source, sheetIndex, sheet, area, losses);
  std::optional<SheetRows> again;
  if (!calculated.empty()) {
    again.emplace(source, sheetIndex, &calculated);
    area.Take(again->area.lastRow, again->area.lastColumn);
  }
  if (area.lastRow == 0) sink("\r\n");  // an empty sheet is one empty line
  else (again ? again->rows : sheet.rows).Write(area.lastRow, area.lastColumn, sink);
  std::vector<std::string> lines;
  for (const auto& [what, count] : losses) lines.push_back(std::to_string(count) + " " + what);
  return lines;
}

namespace {

// Writes path's own file through produce; a failed write removes it. The file is new or
// emptied from the first byte on: a caller who needs it complete or absent under its final
// name writes it in a folder of its own and renames it (engine/SheetOutput.h).
void WriteToFile(const std::string& path, const std::function<void(const CsvSink&)>& produce) {
  const std::string label = Quoted(path);
  std::FILE* file = std::fopen(path.c_str(), "wbe");
  if (file == nullptr) Fail(ErrorReason::kNotWritten, label + " cannot be saved: " + std::strerror(errno));
  bool failed = false;
  try {
    produce([&](std::string_view text) {
      if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) failed = true;
    });
  } catch (...) {
    std::fclose(file);
    ::unlink(path.c_str());
    throw;
  }
  if (std::fclose(file) != 0) failed = true;
  if (failed) {
    const std::string why = std::strerror(errno);
    ::unlink(path.c_str());
    Fail(ErrorReason::kNotWritten, label + " cannot be saved: " + why);
  }
}

}  // namespace

std::vector<std::string> WriteCsvFile(const SourceWorkbook& source, std::size_t sheetIndex, const std::string& path) {
  std::vector<std::string> losses;
  WriteToFile(path, [&](const CsvSink& sink) { losses = WriteCsv(source, sheetIndex, sink); });
  return losses;
}

void WriteBlankCsvFile(const std::string& path) {
  WriteToFile(path, [](const CsvSink& sink) { sink("\r\n"); });
}

}  // namespace tabrend::spreadsheet
