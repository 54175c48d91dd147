// The streaming worksheet rewriter. Expat reports every event; events this copy does not
// change are passed on as their original bytes (XML_DefaultCurrent), the rest are rebuilt.
#include "spreadsheet/SheetRewriter.h"

#include <expat.h>

#include <cstring>
#include <unordered_set>

#include "spreadsheet/Error.h"
#include "spreadsheet/Limits.h"
#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

std::uint32_t OutputStrings::Use(std::uint32_t index) {
  ++references_;
  const auto found = bySourceIndex_.find(index);
  if (found != bySourceIndex_.end()) return found->second;
  if (source_ == nullptr || index >= source_->items.size()) throw std::out_of_range("shared string");
  const auto added = static_cast<std::uint32_t>(items_.size());
  items_.push_back(source_->items[index]);
  bySourceIndex_.emplace(index, added);
  return added;
}

std::uint32_t OutputStrings::AddText(const std::string& text) {
  ++references_;
  const auto found = byText_.find(text);
  if (found != byText_.end()) return found->second;
  std::string item = "<si><t xml:space=\"preserve\">";
  AppendEscapedText(item, text);
  item += "</t></si>";
  const auto added = static_cast<std::uint32_t>(items_.size());
  items_.push_back(std::move(item));
  byText_.emplace(text, added);
  return added;
}

std::string OutputStrings::Xml() const {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<sst";
  const std::string declared = source_ != nullptr ? source_->rootAttributes : std::string();
  if (declared.find("xmlns=") == std::string::npos)
    xml += " xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
  xml += declared + " count=\"" + std::to_string(references_) + "\" uniqueCount=\"" +
         std::to_string(items_.size()) + "\">";
  for (const std::string& item : items_) xml += item;
  xml += "</sst>";
  return xml;
}

namespace {

using Attributes = std::vector<std::pair<std::string, std::string>>;

const char* const kFormulaReplaced = "formulas referring to other sheets, other workbooks or missing names were replaced by their values";
const char* const kHyperlinkDropped = "links to other sheets were removed";
const char* const kRuleDropped = "conditional formats, validations or sparklines referring to other sheets were removed";
const char* const kRuleLiteral = "validation lists or rule values taken from other sheets now hold the values they showed";
const char* const kPartDropped = "slicers, timelines or other workbook-level objects were removed";

// Extension blocks that only make sense with workbook-level parts the copy does not carry.
bool IsDroppedExtension(std::string_view uri) {
  return uri == "{A8765BA9-456A-4dab-B4F3-ACF838C121DE}" ||  // slicers (2010)
         uri == "{3A4CF648-6AED-40f4-86FF-DC5316D8AED3}" ||  // slicers (2013)
         uri == "{7E03D99C-DC04-49d9-9315-930204A7B6E9}";    // timelines
}

bool IsRule(std::string_view local) {
  return local == "cfRule" || local == "dataValidation" || local == "sparkline";
}

bool IsGroup(std::string_view local) {
  return local == "conditionalFormatting" || local == "dataValidations" || local == "sparklineGroup" ||
         local == "sparklines" || local == "conditionalFormattings" || local == "sparklineGroups" ||
         local == "ext";
}

bool IsFormulaText(std::string_view local) {
  return local == "formula" || local == "formula1" || local == "formula2" || local == "f";
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

const std::string* Find(const Attributes& attributes, std::string_view key) {
  for (const auto& attribute : attributes)
    if (attribute.first == key) return &attribute.second;
  return nullptr;
}

void AppendStartTag(std::string& out, const std::string& name, const Attributes& attributes) {
  out += '<';
  out += name;
  for (const auto& [key, value] : attributes) {
    out += ' ';
    out += key;
    out += "=\"";
    AppendEscapedAttribute(out, value);
    out += '"';
  }
  out += '>';
}

class SheetStream {
 public:
  SheetStream(const SourceWorkbook& source, std::size_t sheetIndex, const SheetRewriteOptions& options,
              OutputStrings& strings, std::FILE* out)
      : source_(source),
        sheet_(source.Sheets()[sheetIndex]),
        options_(options),
        strings_(strings),
        out_(out),
        parser_(XML_ParserCreate(nullptr)) {
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &SheetStream::OnStart, &SheetStream::OnEnd);
    XML_SetCharacterDataHandler(parser_, &SheetStream::OnText);
    XML_SetDefaultHandler(parser_, &SheetStream::OnRaw);
    XML_SetStartDoctypeDeclHandler(parser_, &SheetStream::OnDoctype);
    main_.reserve(1 << 21);
  }
  ~SheetStream() { XML_ParserFree(parser_); }

  SheetRewriteResult Run() {
    const std::string where = source_.Label() + ": sheet '" + sheet_.name + "'";
    source_.Pkg().Zip().Stream(source_.Pkg().IndexOf(sheet_.part), [&](const char* data, std::size_t length) {
      Feed(data, length, false, where);
    });
    Feed("", 0, true, where);
    if (!sawRoot_) Fail(where + ": part " + sheet_.part + " is empty");
    Flush();
    if (std::ferror(out_)) Fail(where + ": the copy could not be written to a temporary file");
    return result_;
  }

 private:
  struct Capture {
    std::string name;
    Attributes attributes;
    int depth = 0;
    bool rule = false;
    bool drop = false;
    int kept = 0;
    int dropped = 0;
    std::string buffer;
  };

  void Feed(const char* data, std::size_t length, bool last, const std::string& where) {
    if (XML_Parse(parser_, data, static_cast<int>(length), last) == XML_STATUS_ERROR) {
      if (!problem_.empty()) Fail(where + ": " + problem_);
      Fail(where + ": part " + sheet_.part + " is not well-formed XML (line " +
           std::to_string(XML_GetCurrentLineNumber(parser_)) + ": " +
           XML_ErrorString(XML_GetErrorCode(parser_)) + ")");
    }
    if (main_.size() > (1u << 20) && captures_.empty() && !inCell_) Flush();
  }

  void Stop(const std::string& problem) {
    if (problem_.empty()) problem_ = problem;
    XML_StopParser(parser_, XML_FALSE);
  }

  void Flush() {
    if (!main_.empty()) std::fwrite(main_.data(), 1, main_.size(), out_);
    main_.clear();
  }

  std::string* Sink() {
    if (skipDepth_ > 0) return nullptr;
    if (inCell_) return &cellRaw_;
    if (collect_ != nullptr) return nullptr;
    if (!captures_.empty()) return &captures_.back().buffer;
    return &main_;
  }

  void Raw() { XML_DefaultCurrent(parser_); }

  static void XMLCALL OnRaw(void* self, const XML_Char* data, int length) {
    auto& stream = *static_cast<SheetStream*>(self);
    if (std::string* sink = stream.Sink()) sink->append(data, static_cast<std::size_t>(length));
    if (stream.inCell_ && stream.cellRawDepth_ > 0 && stream.skipDepth_ == 0)
      stream.cellExtra_.append(data, static_cast<std::size_t>(length));
  }

  static void XMLCALL OnDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<SheetStream*>(self)->Stop("the part declares a document type (entities are not allowed)");
  }

  static void XMLCALL OnText(void* self, const XML_Char* text, int length) {
    auto& stream = *static_cast<SheetStream*>(self);
    if (stream.skipDepth_ > 0) return;
    if (stream.collect_ != nullptr) stream.collect_->append(text, static_cast<std::size_t>(length));
    if (stream.collect_ != nullptr && !stream.inCell_) return;
    if (stream.inCell_ && stream.cellRawDepth_ == 0 && stream.collect_ == nullptr) return;
    stream.Raw();
  }

  static void XMLCALL OnStart(void* self, const XML_Char* name, const XML_Char** attributes) {
    static_cast<SheetStream*>(self)->Start(name, attributes);
  }
  static void XMLCALL OnEnd(void* self, const XML_Char* name) { static_cast<SheetStream*>(self)->End(name); }

  void Start(const XML_Char* name, const XML_Char** attributes) {
    ++depth_;
    if (depth_ > limits::kMaxXmlDepth) return Stop("elements are nested more than " + std::to_string(limits::kMaxXmlDepth) + " levels deep");
    if (reserialized_.size() <= static_cast<std::size_t>(depth_)) reserialized_.resize(static_cast<std::size_t>(depth_) + 1);
    reserialized_[static_cast<std::size_t>(depth_)] = false;
    if (skipDepth_ > 0) return;
    const std::string_view local = LocalName(name);
    if (!sawRoot_) {
      sawRoot_ = true;
      if (local != "worksheet") return Stop("part " + sheet_.part + " is not a worksheet");
    }
    if (inCell_) {
      if (depth_ == cellDepth_ + 1 && local == "f") {
        formulaName_ = name;
        CopyInto(formulaAttributes_, attributes);
        hasFormula_ = true;
        collect_ = &formula_;
      } else if (depth_ == cellDepth_ + 1 && local == "v") {
        valueName_ = name;
        hasValue_ = true;
        collect_ = &value_;
      } else {
        ++cellRawDepth_;
      }
      Raw();  // the cell's bytes are kept whole for cells that need no change
      return;
    }
    if (collect_ != nullptr) {
      // The element that looked like formula text wraps other elements: pass it on as it was.
      std::string pending = std::move(*collect_);
      collect_ = nullptr;
      if (std::string* sink = Sink()) AppendEscapedText(*sink, pending);
    }
    if (local == "c") {
      inCell_ = true;
      cellDepth_ = depth_;
      cellName_ = name;
      CopyInto(cellAttributes_, attributes);
      hasFormula_ = hasValue_ = false;
      formula_.clear();
      value_.clear();
      cellExtra_.clear();
      cellRaw_.clear();
      Raw();
      return;
    }
    for (int i = 0; attributes[i] != nullptr; i += 2) {
      if (LocalName(attributes[i]) == "id" && std::strchr(attributes[i], ':') != nullptr &&
          options_.droppedRelationshipIds.count(attributes[i + 1]) > 0) {
        ++result_.losses[kPartDropped];
        skipDepth_ = depth_;
        return;
      }
    }
    if (local == "ext") {
      for (int i = 0; attributes[i] != nullptr; i += 2)
        if (std::string_view(attributes[i]) == "uri" && IsDroppedExtension(attributes[i + 1])) {
          ++result_.losses[kPartDropped];
          skipDepth_ = depth_;
          return;
        }
    }
    if (local == "sheetView" && !sawSheetView_) {
      sawSheetView_ = true;
      Attributes changed;
      for (auto& attribute : Copy(attributes))
        if (attribute.first != "tabSelected") changed.push_back(std::move(attribute));
      if (options_.selected) changed.emplace_back("tabSelected", "1");
      return StartRebuilt(name, changed);
    }
    if (local == "hyperlink") return StartHyperlink(name, Copy(attributes));
    if (IsRule(local) || IsGroup(local)) {
      Capture capture;
      capture.name = name;
      capture.attributes = Copy(attributes);
      capture.depth = depth_;
      capture.rule = IsRule(local);
      captures_.push_back(std::move(capture));
      return;
    }
    if (IsFormulaText(local)) {
      Raw();
      collect_ = &formula_;
      formula_.clear();
      formulaDepth_ = depth_;
      return;
    }
    Raw();
  }

  void StartRebuilt(const XML_Char* name, const Attributes& attributes) {
    reserialized_[static_cast<std::size_t>(depth_)] = true;
    if (std::string* sink = Sink()) AppendStartTag(*sink, name, attributes);
  }

  void StartHyperlink(const XML_Char* name, Attributes attributes) {
    bool external = false;
    for (const auto& attribute : attributes)
      if (LocalName(attribute.first) == "id" && attribute.first.find(':') != std::string::npos) external = true;
    for (auto& attribute : attributes) {
      if (attribute.first != "location" || external) continue;
      const auto rewritten = RewriteFormula(attribute.second, *options_.context);
      if (!rewritten) {
        ++result_.losses[kHyperlinkDropped];
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

  void End(const XML_Char* name) {
    if (skipDepth_ > 0) {
      if (depth_ == skipDepth_) skipDepth_ = 0;
      --depth_;
      return;
    }
    if (inCell_) {
      Raw();
      if (depth_ == cellDepth_) {
        FinishCell();
        inCell_ = false;
      } else if (collect_ != nullptr && depth_ == cellDepth_ + 1) {
        collect_ = nullptr;
      } else {
        --cellRawDepth_;
      }
      --depth_;
      return;
    }
    if (collect_ != nullptr && depth_ == formulaDepth_) {
      collect_ = nullptr;
      auto rewritten = RewriteFormula(formula_, *options_.context);
      if (!rewritten) rewritten = LiteralForRule();
      if (!rewritten) MarkRuleDropped();
      if (std::string* sink = Sink()) AppendEscapedText(*sink, rewritten ? *rewritten : formula_);
      Raw();
    } else if (!captures_.empty() && captures_.back().depth == depth_) {
      FinishCapture();
    } else if (reserialized_[static_cast<std::size_t>(depth_)]) {
      if (std::string* sink = Sink()) {
        *sink += "</";
        *sink += name;
        *sink += '>';
      }
    } else {
      Raw();
    }
    --depth_;
  }

  // A validation list or a rule value on another sheet becomes the values it showed.
  std::optional<std::string> LiteralForRule() {
    if (!options_.literal) return std::nullopt;
    for (auto capture = captures_.rbegin(); capture != captures_.rend(); ++capture) {
      if (!capture->rule) continue;
      const std::string_view local = LocalName(capture->name);
      const std::string* type = Find(capture->attributes, "type");
      std::optional<std::string> literal;
      if (local == "dataValidation" && type != nullptr && *type == "list") literal = options_.literal(formula_, true);
      else if (local == "cfRule") literal = options_.literal(formula_, false);
      if (literal) ++result_.losses[kRuleLiteral];
      return literal;
    }
    return std::nullopt;
  }

  void MarkRuleDropped() {
    for (auto capture = captures_.rbegin(); capture != captures_.rend(); ++capture)
      if (capture->rule) {
        capture->drop = true;
        return;
      }
  }

  void FinishCapture() {
    Capture capture = std::move(captures_.back());
    captures_.pop_back();
    const bool discard = capture.rule ? capture.drop : (capture.kept == 0 && capture.dropped > 0);
    if (capture.rule && capture.drop) ++result_.losses[kRuleDropped];
    if (!captures_.empty()) ++(discard ? captures_.back().dropped : captures_.back().kept);
    if (discard) return;
    if (!capture.rule && capture.dropped > 0)
      for (auto& attribute : capture.attributes)
        if (attribute.first == "count") attribute.second = std::to_string(capture.kept);
    std::string* sink = Sink();
    AppendStartTag(*sink, capture.name, capture.attributes);
    *sink += capture.buffer;
    *sink += "</";
    *sink += capture.name;
    *sink += '>';
  }

  void FinishCell() {
    std::string& sink = captures_.empty() ? main_ : captures_.back().buffer;
    const std::string* cellType = Find(cellAttributes_, "t");
    if (!hasFormula_ && (cellType == nullptr || *cellType != "s")) {
      // Nothing in it changes: the cell goes on as it was written.
      for (const auto& attribute : cellAttributes_)
        if (attribute.first == "cm" || attribute.first == "vm") result_.usesMetadata = true;
      sink += cellRaw_;
      return;
    }
    if (!hasFormula_ && hasValue_ && cellExtra_.empty()) {
      // A shared string: only its index changes.
      std::uint32_t index = 0;
      try {
        index = strings_.Use(static_cast<std::uint32_t>(std::stoul(value_)));
      } catch (const std::exception&) {
        Fail(source_.Label() + ": sheet '" + sheet_.name + "': cell " + CellRef() + " refers to shared string " +
             value_ + ", which does not exist");
      }
      for (const auto& attribute : cellAttributes_)
        if (attribute.first == "cm" || attribute.first == "vm") result_.usesMetadata = true;
      AppendStartTag(sink, cellName_, cellAttributes_);
      sink += '<';
      sink += valueName_;
      sink += '>';
      sink += std::to_string(index);
      sink += "</";
      sink += valueName_;
      sink += "></";
      sink += cellName_;
      sink += '>';
      return;
    }
    std::string* type = nullptr;
    Attributes& attributes = cellAttributes_;
    for (auto& attribute : attributes) {
      if (attribute.first == "t") type = &attribute.second;
      if (attribute.first == "cm" || attribute.first == "vm") result_.usesMetadata = true;
    }
    bool keepFormula = hasFormula_;
    if (hasFormula_) {
      const std::string* kind = Find(formulaAttributes_, "t");
      const std::string* group = Find(formulaAttributes_, "si");
      const bool shared = kind != nullptr && *kind == "shared";
      if (shared && formula_.empty()) {
        keepFormula = group == nullptr || droppedSharedGroups_.count(*group) == 0;
      } else if (kind == nullptr || *kind != "dataTable") {
        const auto rewritten = RewriteFormula(formula_, *options_.context);
        if (rewritten) {
          formula_ = *rewritten;
        } else {
          keepFormula = false;
          if (shared && group != nullptr) droppedSharedGroups_.insert(*group);
        }
      }
      if (!keepFormula) ++result_.losses[kFormulaReplaced];
    }
    std::string value = value_;
    bool writeValue = hasValue_;
    if (type != nullptr && *type == "s" && hasValue_) {
      try {
        value = std::to_string(strings_.Use(static_cast<std::uint32_t>(std::stoul(value_))));
      } catch (const std::exception&) {
        Fail(source_.Label() + ": sheet '" + sheet_.name + "': cell " + CellRef() +
             " refers to shared string " + value_ + ", which does not exist");
      }
    }
    Attributes written;
    written.reserve(attributes.size());
    for (auto& attribute : attributes) {
      if (!keepFormula && hasFormula_) {
        if (attribute.first == "cm") continue;  // formula metadata goes with the formula
        if (attribute.first == "t") {
          if (!hasValue_) continue;
          if (attribute.second == "str") {
            value = std::to_string(strings_.AddText(value_));
            written.emplace_back("t", "s");
            continue;
          }
        }
      }
      written.push_back(std::move(attribute));
    }
    if (!(keepFormula || writeValue || !cellExtra_.empty())) {
      AppendStartTag(sink, cellName_, written);
      sink.insert(sink.size() - 1, "/");
      return;
    }
    AppendStartTag(sink, cellName_, written);
    if (keepFormula) {
      AppendStartTag(sink, formulaName_, formulaAttributes_);
      AppendEscapedText(sink, formula_);
      sink += "</" + formulaName_ + ">";
    }
    if (writeValue) {
      sink += '<';
      sink += valueName_;
      sink += '>';
      AppendEscapedText(sink, value);
      sink += "</" + valueName_ + ">";
    }
    sink += cellExtra_;
    sink += "</" + cellName_ + ">";
  }

  std::string CellRef() const {
    const std::string* reference = Find(cellAttributes_, "r");
    return reference != nullptr ? *reference : std::string("?");
  }

  const SourceWorkbook& source_;
  const SourceSheet& sheet_;
  const SheetRewriteOptions& options_;
  OutputStrings& strings_;
  std::FILE* out_;
  XML_Parser parser_;
  SheetRewriteResult result_;
  std::string problem_;
  std::string main_;

  int depth_ = 0;
  int skipDepth_ = 0;
  bool sawRoot_ = false;
  bool sawSheetView_ = false;
  std::vector<bool> reserialized_;
  std::vector<Capture> captures_;

  std::string* collect_ = nullptr;  // text of the element being collected (formula or value)
  int formulaDepth_ = 0;

  bool inCell_ = false;
  int cellDepth_ = 0;
  int cellRawDepth_ = 0;
  std::string cellName_, formulaName_, valueName_;
  Attributes cellAttributes_, formulaAttributes_;
  bool hasFormula_ = false, hasValue_ = false;
  std::string formula_, value_, cellExtra_;
  std::string cellRaw_;  // the cell's original bytes
  std::unordered_set<std::string> droppedSharedGroups_;
};

}  // namespace

SheetRewriteResult RewriteSheet(const SourceWorkbook& source, std::size_t sheetIndex,
                                const SheetRewriteOptions& options, OutputStrings& strings, std::FILE* out) {
  return SheetStream(source, sheetIndex, options, strings, out).Run();
}

}  // namespace tabrend::spreadsheet
