// The streaming worksheet copy: the expat path, and the one place each cell is finished.
#include "spreadsheet/SheetStream.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "core/Error.h"
#include "spreadsheet/CellReference.h"
#include "spreadsheet/Limits.h"
#include "spreadsheet/LossReport.h"
#include "spreadsheet/PartKinds.h"
#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

namespace {

// Output held before it is passed on, and room reserved for it from the start.
constexpr std::size_t kFlushBytes = 1u << 20;
constexpr std::size_t kOutputReserve = 2 * kFlushBytes;

bool IsRule(std::string_view local) {
  return local == "cfRule" || local == "dataValidation" || local == "sparkline";
}

bool IsGroup(std::string_view local) {
  return local == "conditionalFormatting" || local == "dataValidations" || local == "sparklineGroup" ||
         local == "sparklines" || local == "conditionalFormattings" || local == "sparklineGroups" ||
         local == "ext";
}

// Lists of at least one entry whose entries go one by one, with the relationship or the
// place they use.
bool IsDroppableList(std::string_view local) {
  return local == "hyperlinks" || local == "oleObjects" || local == "controls" || local == "customProperties";
}

bool IsFormulaText(std::string_view local) {
  return local == "formula" || local == "formula1" || local == "formula2" || local == "f";
}

// Cell attributes that point into the workbook's metadata part.
bool IsMetadataAttribute(const std::string& name) {
  return name.size() == 2 && name[1] == 'm' && (name[0] == 'c' || name[0] == 'v');
}

Attributes Copy(const XML_Char** attributes) {
  Attributes copy;
  for (int i = 0; attributes[i] != nullptr; i += 2) copy.emplace_back(attributes[i], attributes[i + 1]);
  return copy;
}

// Copies into storage that keeps its capacity from cell to cell: cells are most of a sheet.
void CopyInto(Attributes& into, const XML_Char** attributes) {
  std::size_t count = 0;
  for (int i = 0; attributes[i] != nullptr; i += 2) {
    if (count == into.size()) into.emplace_back();
    into[count].first.assign(attributes[i]);
    into[count].second.assign(attributes[i + 1]);
    ++count;
  }
  into.resize(count);
}

void AppendEndTag(std::string& out, std::string_view name) {
  out += "</";
  out += name;
  out += '>';
}

}  // namespace

SheetStream::SheetStream(const SourceWorkbook& source, std::size_t sheetIndex, const SheetRewriteOptions& options,
                         OutputStrings& strings, ByteSink& out)
    : source_(source),
      sheet_(source.Sheets()[sheetIndex]),
      options_(options),
      strings_(strings),
      out_(out),
      where_(source.Label() + ": sheet '" + sheet_.name + "'"),
      xml_(*this, where_, sheet_.part, XmlReader::kText | XmlReader::kRaw) {
  main_.reserve(kOutputReserve);
}

SheetStream::~SheetStream() = default;

SheetRewriteResult SheetStream::Run() {
  source_.Pkg().Zip().Stream(source_.Pkg().IndexOf(sheet_.part), [&](const char* data, std::size_t length) {
    Feed(data, length, false);
  });
  Feed("", 0, true);
  if (!sawRoot_) Fail(ErrorReason::kDamaged, where_ + ": part " + sheet_.part + " is empty");
  Flush();
  if (!out_.Finish()) Fail(ErrorReason::kNotWritten, where_ + ": the copy could not be written to a temporary file");
  return result_;
}

void SheetStream::Feed(const char* data, std::size_t length, bool last) {
  scanner_.Feed(data, length, last);
  if (main_.size() > kFlushBytes && captures_.empty() && !inCell_) Flush();
  if (HeldBytes() > limits::kMaxHeldElementBytes)
    Fail(ErrorReason::kRefused, where_ + " is refused: part " + sheet_.part + " holds an element larger than " +
         std::to_string(limits::kMaxHeldElementBytes >> 20) + " MiB");
}

// What the copy holds in memory until an element ends.
std::uint64_t SheetStream::HeldBytes() const {
  std::uint64_t held = cell_.raw.size() + cell_.extra.size() + cell_.formula.size() + cell_.value.size();
  for (const Capture& capture : captures_) held += capture.buffer.size();
  return held;
}

void SheetStream::Parse(const char* data, std::size_t length, bool last) { xml_.Feed(data, length, last); }

void SheetStream::Refuse(const std::string& problem) { Fail(ErrorReason::kDamaged, where_ + ": " + problem); }

void SheetStream::Stop(const std::string& problem, ErrorReason reason) { xml_.Abort(reason, where_ + ": " + problem); }

// main_ is only ever cut between elements, so the styles its tags name are all seen.
void SheetStream::Flush() {
  if (options_.styleUse != nullptr && !rowsTaken_) options_.styleUse->Scan(std::string_view(main_).substr(stylesKnownUpTo_));
  if (!main_.empty() && !out_.Write(main_))
    Fail(ErrorReason::kNotWritten, where_ + ": the copy could not be written to a temporary file");
  main_.clear();
  stylesKnownUpTo_ = 0;
}

void SheetStream::RowsTaken(bool taken) {
  if (options_.styleUse != nullptr && taken) options_.styleUse->Scan(std::string_view(main_).substr(stylesKnownUpTo_));
  stylesKnownUpTo_ = main_.size();
  rowsTaken_ = taken;
}

void SheetStream::StylesIn(std::string_view written) {
  if (options_.styleUse != nullptr) options_.styleUse->Scan(written);
}

std::string* SheetStream::Sink() {
  if (skipDepth_ > 0) return nullptr;
  if (inCell_) return &cell_.raw;
  if (collect_ != nullptr) return nullptr;
  if (!captures_.empty()) return &captures_.back().buffer;
  return heldDepth_ > 0 ? &held_ : &main_;
}

void SheetStream::OnRaw(const XML_Char* data, int length) {
  SheetStream& stream = *this;
  if (std::string* sink = stream.Sink()) sink->append(data, static_cast<std::size_t>(length));
  if (stream.inCell_ && stream.cellRawDepth_ > 0 && stream.skipDepth_ == 0)
    stream.cell_.extra.append(data, static_cast<std::size_t>(length));
}

void SheetStream::OnText(const XML_Char* text, int length) {
  SheetStream& stream = *this;
  if (stream.skipDepth_ > 0) return;
  if (stream.collect_ != nullptr) stream.collect_->append(text, static_cast<std::size_t>(length));
  if (stream.collect_ != nullptr && !stream.inCell_) return;
  if (stream.inCell_ && stream.cellRawDepth_ == 0 && stream.collect_ == nullptr) return;
  stream.Raw();
}

void SheetStream::Start(const XML_Char* name, const XML_Char** attributes) {
  ++depth_;  // the reader has refused a part nested too deeply before this
  if (reserialized_.size() <= static_cast<std::size_t>(depth_)) reserialized_.resize(static_cast<std::size_t>(depth_) + 1);
  reserialized_[static_cast<std::size_t>(depth_)] = false;
  if (skipDepth_ > 0) return;
  const std::string_view local = LocalName(name);
  if (!sawRoot_) {
    sawRoot_ = true;
    if (local != "worksheet") return Stop("part " + sheet_.part + " is not a worksheet");
  }
  if (inCell_) return StartInCell(name, attributes);
  if (collect_ != nullptr) {
    // The element that looked like formula text wraps other elements: pass it on as it was.
    std::string pending = std::move(*collect_);
    collect_ = nullptr;
    if (std::string* sink = Sink()) AppendEscapedText(*sink, pending);
  }
  if (local == "sheetData" && depth_ == 2) sawSheetData_ = true;
  if (local == "row" && depth_ == 3)
    for (int i = 0; attributes[i] != nullptr; i += 2)
      if (std::string_view(attributes[i]) == "r" && RowOutsideGrid(attributes[i + 1]))
        return Stop(OutsideGridMessage(std::string("row ") + attributes[i + 1]));
  if (local == "c") return StartCell(name, attributes);
  if (StartDropped(local, attributes)) return;
  if (local == "sheetView" && !sawSheetView_) {
    sawSheetView_ = true;
    Attributes changed;
    for (auto& attribute : Copy(attributes))
      if (attribute.first != "tabSelected") changed.push_back(std::move(attribute));
    if (options_.selected) changed.emplace_back("tabSelected", "1");
    return StartRebuilt(name, changed);
  }
  if (depth_ == 2 && IsDroppableList(local)) heldDepth_ = depth_;
  if (local == "hyperlink") return StartHyperlink(name, Copy(attributes));
  if (IsRule(local) || IsGroup(local)) {
    Capture& capture = captures_.emplace_back();
    capture.name = name;
    capture.attributes = Copy(attributes);
    capture.depth = depth_;
    capture.rule = IsRule(local);
    return;
  }
  if (IsFormulaText(local)) {
    Raw();
    collect_ = &cell_.formula;
    cell_.formula.clear();
    formulaDepth_ = depth_;
    return;
  }
  Raw();
}

// A child of a cell: its formula and value are collected, anything else kept as it stands.
void SheetStream::StartInCell(const XML_Char* name, const XML_Char** attributes) {
  const std::string_view local = LocalName(name);
  if (depth_ == cellDepth_ + 1 && local == "f") {
    cell_.formulaName = name;
    CopyInto(cell_.formulaAttributes, attributes);
    cell_.hasFormula = true;
    collect_ = &cell_.formula;
  } else if (depth_ == cellDepth_ + 1 && local == "v") {
    cell_.valueName = name;
    CopyInto(cell_.valueAttributes, attributes);
    cell_.hasValue = true;
    collect_ = &cell_.value;
  } else {
    ++cellRawDepth_;
  }
  Raw();  // the cell's bytes are kept whole for cells that need no change
}

void SheetStream::StartCell(const XML_Char* name, const XML_Char** attributes) {
  inCell_ = true;
  cellDepth_ = depth_;
  cell_.name = name;
  CopyInto(cell_.attributes, attributes);
  cell_.Clear();
  cell_.raw.clear();
  Raw();
}

// Whether the element goes, with all it holds: it uses a relationship that was dropped, or
// is an extension block of workbook-level objects.
bool SheetStream::StartDropped(std::string_view local, const XML_Char** attributes) {
  for (int i = 0; attributes[i] != nullptr; i += 2) {
    const bool droppedRelationship = LocalName(attributes[i]) == "id" && std::strchr(attributes[i], ':') != nullptr &&
                                     options_.droppedRelationshipIds.count(attributes[i + 1]) > 0;
    const bool droppedExtension =
        local == "ext" && std::string_view(attributes[i]) == "uri" && IsDroppedExtension(attributes[i + 1]);
    if (droppedRelationship || droppedExtension) {
      ++result_.losses[loss::kWorkbookObjectDropped];
      skipDepth_ = depth_;
      return true;
    }
  }
  return false;
}

void SheetStream::StartRebuilt(const XML_Char* name, const Attributes& attributes) {
  reserialized_[static_cast<std::size_t>(depth_)] = true;
  if (std::string* sink = Sink()) AppendStartTag(*sink, name, attributes);
}

void SheetStream::StartHyperlink(const XML_Char* name, Attributes attributes) {
  bool external = false;
  for (const auto& attribute : attributes)
    if (LocalName(attribute.first) == "id" && attribute.first.find(':') != std::string::npos) external = true;
  for (auto& attribute : attributes) {
    if (attribute.first != "location" || external) continue;
    const auto rewritten = RewriteFormula(attribute.second, *options_.context);
    if (!rewritten) {
      ++result_.losses[loss::kLinkDropped];
      skipDepth_ = depth_;
      return;
    }
    if (*rewritten != attribute.second) {
      attribute.second = *rewritten;
      return StartRebuilt(name, attributes);
    }
  }
  Raw();
}

void SheetStream::End(const XML_Char* name) {
  const bool skipped = skipDepth_ == depth_;
  if (skipDepth_ > 0) {
    if (depth_ == skipDepth_) skipDepth_ = 0;
  } else if (inCell_) {
    EndInCell();
  } else if (collect_ != nullptr && depth_ == formulaDepth_) {
    EndFormulaText();
  } else if (!captures_.empty() && captures_.back().depth == depth_) {
    FinishCapture();
  } else if (reserialized_[static_cast<std::size_t>(depth_)]) {
    if (std::string* sink = Sink()) AppendEndTag(*sink, name);
  } else {
    Raw();
  }
  if (heldDepth_ > 0 && (depth_ == heldDepth_ || (depth_ == heldDepth_ + 1 && !skipped))) {
    // An entry stayed, and the list with it; or the list ends with none.
    if (depth_ > heldDepth_) main_ += held_;
    held_.clear();
    heldDepth_ = 0;
  }
  --depth_;
}

void SheetStream::EndInCell() {
  Raw();
  if (depth_ == cellDepth_) {
    CompleteCell(captures_.empty() ? main_ : captures_.back().buffer);
    inCell_ = false;
  } else if (collect_ != nullptr && depth_ == cellDepth_ + 1) {
    collect_ = nullptr;
  } else {
    --cellRawDepth_;
  }
}

// A rule's formula: renamed, or the values it showed, or its rule goes.
void SheetStream::EndFormulaText() {
  collect_ = nullptr;
  auto rewritten = RewriteFormula(cell_.formula, *options_.context);
  if (!rewritten) rewritten = LiteralForRule();
  if (!rewritten) MarkRuleDropped();
  if (std::string* sink = Sink()) AppendEscapedText(*sink, rewritten ? *rewritten : cell_.formula);
  Raw();
}

// A validation list or a rule value on another sheet becomes the values it showed.
std::optional<std::string> SheetStream::LiteralForRule() {
  if (!options_.literal) return std::nullopt;
  for (auto capture = captures_.rbegin(); capture != captures_.rend(); ++capture) {
    if (!capture->rule) continue;
    const std::string_view local = LocalName(capture->name);
    const std::string* type = FindAttribute(capture->attributes, "type");
    std::optional<std::string> literal;
    if (local == "dataValidation" && type != nullptr && *type == "list") literal = options_.literal(cell_.formula, true);
    else if (local == "cfRule") literal = options_.literal(cell_.formula, false);
    if (literal) ++result_.losses[loss::kRuleLiteral];
    return literal;
  }
  return std::nullopt;
}

void SheetStream::MarkRuleDropped() {
  for (auto capture = captures_.rbegin(); capture != captures_.rend(); ++capture)
    if (capture->rule) {
      capture->drop = true;
      return;
    }
}

void SheetStream::FinishCapture() {
  Capture capture = std::move(captures_.back());
  captures_.pop_back();
  const bool discard = capture.rule ? capture.drop : (capture.kept == 0 && capture.dropped > 0);
  if (capture.rule && capture.drop) ++result_.losses[loss::kRuleDropped];
  if (!captures_.empty()) ++(discard ? captures_.back().dropped : captures_.back().kept);
  if (discard) return;
  if (!capture.rule && capture.dropped > 0)
    for (auto& attribute : capture.attributes)
      if (attribute.first == "count") attribute.second = std::to_string(capture.kept);
  std::string* sink = Sink();
  AppendStartTag(*sink, capture.name, capture.attributes);
  *sink += capture.buffer;
  AppendEndTag(*sink, capture.name);
}

// Every cell is one of three cases: nothing in it changes, a shared string whose index
// changes, or a formula that is kept (renamed) or replaced by its value.
void SheetStream::CompleteCell(std::string& sink) {
  if (const std::string* reference = FindAttribute(cell_.attributes, "r"); reference != nullptr && CellOutsideGrid(*reference))
    Refuse(OutsideGridMessage("cell " + *reference));
  const std::string* cellType = FindAttribute(cell_.attributes, "t");
  const bool sharedString = cellType != nullptr && *cellType == "s";
  if (!cell_.hasFormula && !sharedString) return KeepCell(sink);
  if (sharedString && cell_.hasValue && cell_.value.find_first_not_of(" \t\n") == std::string::npos &&
      ForgetMissingString(sink))
    return;
  if (!cell_.hasFormula && cell_.hasValue && cell_.extra.empty()) return RenumberString(sink);
  FinishFormulaCell(sink);
}

namespace {

// A string index of up to nine digits (no sign, no blanks), which the fast path takes.
bool ReadSmallIndex(std::string_view digits, std::uint32_t& index) {
  if (digits.empty() || digits.size() > 9) return false;
  index = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    index = index * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return true;
}

}  // namespace

// CompleteCell for a plain cell, where it can be written from its own bytes: a value that stays,
// a string whose index alone changes, a formula that stays as it is. Everything else (a cell
// outside the grid, a string cell without a usable index, a formula that changes or goes)
// takes the long way.
SheetStream::PlainFate SheetStream::TakePlainCell(const PlainCell& cell) {
  if (CellOutsideGrid(cell.reference)) return PlainFate::kReadWhole;
  const bool sharedString = cell.type.size() == 1 && cell.type[0] == 's';
  if (cell.hasFormula && (sharedString || !FormulaStaysAsWritten(cell.formula, *options_.context)))
    return PlainFate::kReadWhole;
  // From here a string cell has no formula: only its index changes.
  std::uint32_t index = 0;
  if (sharedString && (!cell.hasValue || !ReadSmallIndex(cell.value, index))) return PlainFate::kReadWhole;
  if (sharedString) plainIndex_ = UseString(index, cell.value, cell.reference);
  if (cell.hasMetadata) result_.usesMetadata = true;
  NoteStyle(cell);
  return sharedString ? PlainFate::kRewritten : PlainFate::kAsWritten;
}

// A string cell taken last, with its new index.
void SheetStream::WritePlainCell(const PlainCell& cell, std::string& sink) {
  if (valueOpen_.empty()) {
    valueOpen_ = "<" + cell_.valueName + ">";
    valueAndCellClose_ = "</" + cell_.valueName + "></" + cell_.name + ">";
  }
  sink += cell.startTag;
  sink += valueOpen_;
  char digits[16];
  sink.append(digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, plainIndex_).ptr - digits));
  sink += valueAndCellClose_;
}

void SheetStream::NoteStyle(const PlainCell& cell) {
  if (options_.styleUse == nullptr) return;
  if (cell.otherAttributes) options_.styleUse->Scan(cell.startTag);
  else if (!cell.style.empty()) options_.styleUse->AddCellFormat(cell.style);
}

// Nothing in it changes: the cell goes on as it was written.
void SheetStream::KeepCell(std::string& sink) {
  NoteMetadata();
  sink += cell_.raw;
}

// A string cell that names no string (<v/>): readers show it empty, and so does the copy,
// keeping its style. Its formula, if any, stays. True when the cell is written (empty).
bool SheetStream::ForgetMissingString(std::string& sink) {
  ++result_.losses[loss::kEmptyStringCell];
  cell_.hasValue = false;
  auto& attributes = cell_.attributes;
  attributes.erase(std::remove_if(attributes.begin(), attributes.end(),
                                  [](const auto& attribute) { return attribute.first == "t"; }),
                   attributes.end());
  if (cell_.hasFormula || !cell_.extra.empty()) return false;
  AppendStartTag(sink, cell_.name, attributes);
  sink.insert(sink.size() - 1, "/");
  return true;
}

// A shared string: only its index changes.
void SheetStream::RenumberString(std::string& sink) {
  const std::uint32_t index = UseString(cell_.value);
  NoteMetadata();
  AppendStartTag(sink, cell_.name, cell_.attributes);
  AppendStartTag(sink, cell_.valueName, cell_.valueAttributes);
  sink += std::to_string(index);
  AppendEndTag(sink, cell_.valueName);
  AppendEndTag(sink, cell_.name);
}

// A cell with a formula (or what is left of a string cell that named no string): the formula
// stays, renamed, or gives way to its stored value, or to a calculated one. A stored value
// that is only a placeholder gives way to a calculated one where there is one.
void SheetStream::FinishFormulaCell(std::string& sink) {
  const std::string* type = FindAttribute(cell_.attributes, "t");
  NoteMetadata();
  const bool keepFormula = cell_.hasFormula && KeepFormula();
  if (cell_.hasFormula && !keepFormula) {
    // An empty result is a stored value only for a text result.
    const bool stored = cell_.hasValue && (!cell_.value.empty() || (type != nullptr && *type == "str"));
    const bool placeholder = stored && source_.ResultsArePlaceholders();
    const CellResult* computed = stored && !placeholder ? nullptr : ComputedResult();
    if (computed != nullptr && placeholder && !ReplacesPlaceholder(*computed, cell_.value)) {
      ++result_.losses[loss::PlaceholderKept(loss::kUnknownToCalculator)];
    } else if (stored && !placeholder) {
      ++result_.losses[loss::kFormulaReplaced];
    } else if (computed != nullptr) {
      ++result_.losses[placeholder ? loss::kPlaceholderCalculated : loss::kFormulaCalculated];
      return WriteComputed(sink, *computed);
    } else {
      ++result_.losses[placeholder ? loss::PlaceholderKept(options_.missingReason)
                                   : loss::FormulaLeftEmpty(options_.missingReason)];
      if (const std::string* reference = FindAttribute(cell_.attributes, "r")) result_.missingResults.push_back(*reference);
    }
  }
  bool writeValue = cell_.hasValue;
  if (type != nullptr && *type == "s" && cell_.hasValue) cell_.value = std::to_string(UseString(cell_.value));
  // A kept formula leaves the attributes as they are: no copy of them for every such cell.
  if (!cell_.hasFormula || keepFormula) return WriteCell(sink, cell_.attributes, keepFormula, writeValue, cell_.value);
  std::string value = cell_.value;
  const Attributes written = ValueAttributes(true, value, writeValue);
  WriteCell(sink, written, keepFormula, writeValue, value);
}

// Whether the cell's formula can stay; it is renamed for the output when it does.
bool SheetStream::KeepFormula() {
  const std::string* kind = FindAttribute(cell_.formulaAttributes, "t");
  const std::string* group = FindAttribute(cell_.formulaAttributes, "si");
  const bool shared = kind != nullptr && *kind == "shared";
  // A cell that only follows a shared formula goes with its group's first cell.
  if (shared && cell_.formula.empty()) return group == nullptr || droppedSharedGroups_.count(*group) == 0;
  if (kind != nullptr && *kind == "dataTable") return true;
  const auto rewritten = RewriteFormula(cell_.formula, *options_.context);
  if (rewritten) {
    cell_.formula = *rewritten;
    return true;
  }
  if (shared && group != nullptr) droppedSharedGroups_.insert(*group);
  return false;
}

// The cell's attributes once its formula goes (formulaGoes), with the value's type set for
// the value that stays: a text result becomes a shared string, an empty one an empty cell.
Attributes SheetStream::ValueAttributes(bool formulaGoes, std::string& value, bool& writeValue) {
  Attributes written;
  written.reserve(cell_.attributes.size());
  for (auto& attribute : cell_.attributes) {
    if (formulaGoes) {
      if (attribute.first == "cm") continue;  // formula metadata goes with the formula
      if (attribute.first == "t") {
        if (!cell_.hasValue) continue;
        if (attribute.second == "str") {
          if (cell_.value.empty()) {
            writeValue = false;  // an empty result is an empty cell
            continue;
          }
          value = std::to_string(strings_.AddText(cell_.value));
          written.emplace_back("t", "s");
          continue;
        }
      }
    }
    written.push_back(std::move(attribute));
  }
  return written;
}

void SheetStream::WriteCell(std::string& sink, const Attributes& attributes, bool keepFormula, bool writeValue,
                            const std::string& value) {
  AppendStartTag(sink, cell_.name, attributes);
  if (!(keepFormula || writeValue || !cell_.extra.empty())) {
    sink.insert(sink.size() - 1, "/");
    return;
  }
  if (keepFormula) {
    AppendStartTag(sink, cell_.formulaName, cell_.formulaAttributes);
    AppendEscapedText(sink, cell_.formula);
    AppendEndTag(sink, cell_.formulaName);
  }
  if (writeValue) {
    AppendStartTag(sink, cell_.valueName, cell_.valueAttributes);
    AppendEscapedText(sink, value);
    AppendEndTag(sink, cell_.valueName);
  }
  sink += cell_.extra;
  AppendEndTag(sink, cell_.name);
}

const CellResult* SheetStream::ComputedResult() const {
  if (options_.computed == nullptr) return nullptr;
  const std::string* reference = FindAttribute(cell_.attributes, "r");
  if (reference == nullptr) return nullptr;
  const auto found = options_.computed->find(*reference);
  return found != options_.computed->end() ? &found->second : nullptr;
}

// The cell without its formula, holding the calculated result typed as the result is; an
// empty text is an empty cell, as for a stored one.
void SheetStream::WriteComputed(std::string& sink, const CellResult& computed) {
  Attributes written;
  for (auto& attribute : cell_.attributes)
    if (attribute.first != "t" && attribute.first != "cm") written.push_back(std::move(attribute));
  std::string value = computed.value;
  if (computed.type == "str") {
    if (!value.empty()) {
      value = std::to_string(strings_.AddText(computed.value));
      written.emplace_back("t", "s");
    }
  } else if (computed.type == "b" || computed.type == "e") {
    written.emplace_back("t", computed.type);
  }
  AppendStartTag(sink, cell_.name, written);
  if (!value.empty()) {
    // The source cell may have had no <v> to take the name from: it takes the cell's prefix.
    const std::string valueName = cell_.name.substr(0, cell_.name.size() - 1) + "v";
    sink += '<' + valueName + '>';
    AppendEscapedText(sink, value);
    AppendEndTag(sink, valueName);
  }
  sink += cell_.extra;
  AppendEndTag(sink, cell_.name);
}

// The output index of the source string a cell's value names.
std::uint32_t SheetStream::UseString(const std::string& index) {
  try {
    return strings_.Use(static_cast<std::uint32_t>(std::stoul(index)));
  } catch (const std::exception&) {
    Fail(ErrorReason::kDamaged,
         where_ + ": cell " + CellRef() + " refers to shared string " + index + ", which does not exist");
  }
}

std::uint32_t SheetStream::UseString(std::uint32_t index, std::string_view written, std::string_view reference) {
  try {
    return strings_.Use(index);
  } catch (const std::out_of_range&) {
    Fail(ErrorReason::kDamaged,
         where_ + ": cell " + std::string(reference.empty() ? "?" : reference) + " refers to shared string " +
         std::string(written) + ", which does not exist");
  }
}

void SheetStream::NoteMetadata() {
  for (const auto& attribute : cell_.attributes)
    if (IsMetadataAttribute(attribute.first)) result_.usesMetadata = true;
}

std::string SheetStream::CellRef() const {
  const std::string* reference = FindAttribute(cell_.attributes, "r");
  return reference != nullptr ? *reference : std::string("?");
}

SheetRewriteResult RewriteSheet(const SourceWorkbook& source, std::size_t sheetIndex,
                                const SheetRewriteOptions& options, OutputStrings& strings, ByteSink& out) {
  return SheetStream(source, sheetIndex, options, strings, out).Run();
}

}  // namespace tabrend::spreadsheet
