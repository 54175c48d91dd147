// The streaming worksheet rewriter. Expat reports every event; events this copy does not
// change are passed on as their original bytes (XML_DefaultCurrent), the rest are rebuilt.
#include "spreadsheet/SheetRewriter.h"

#include <expat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_set>

#include "spreadsheet/Error.h"
#include "spreadsheet/Limits.h"
#include "spreadsheet/Text.h"
#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

std::uint32_t OutputStrings::Use(std::uint32_t index) {
  ++references_;
  if (source_ == nullptr || index >= source_->items.size()) throw std::out_of_range("shared string");
  if (bySourceIndex_.empty()) bySourceIndex_.resize(source_->items.size(), 0);
  std::uint32_t& known = bySourceIndex_[index];
  if (known != 0) return known - 1;
  const auto added = static_cast<std::uint32_t>(items_.size());
  items_.push_back(index);
  known = added + 1;
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
  items_.push_back(kAddedText | addedTexts_.size());
  addedTexts_.push_back(std::move(item));
  byText_.emplace(text, added);
  return added;
}

void OutputStrings::WriteXml(std::FILE* out) const {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<sst";
  const std::string declared = source_ != nullptr ? source_->rootAttributes : std::string();
  if (declared.find("xmlns=") == std::string::npos)
    xml += " xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
  xml += declared + " count=\"" + std::to_string(references_) + "\" uniqueCount=\"" +
         std::to_string(items_.size()) + "\">";
  constexpr std::size_t kFlushBytes = 1u << 20;
  bool written = true;
  for (const std::uint64_t item : items_) {
    if ((item & kAddedText) != 0) xml += addedTexts_[item & ~kAddedText];
    else xml += source_->items[item];
    if (xml.size() >= kFlushBytes) {
      written = written && std::fwrite(xml.data(), 1, xml.size(), out) == xml.size();
      xml.clear();
    }
  }
  xml += "</sst>";
  written = written && std::fwrite(xml.data(), 1, xml.size(), out) == xml.size() && std::fflush(out) == 0;
  if (!written) Fail("the shared strings of the copy could not be written to a temporary file (is the temporary folder full?)");
}

namespace {

using Attributes = std::vector<std::pair<std::string, std::string>>;

const char* const kFormulaReplaced = "formulas referring to other sheets, other workbooks or missing names were replaced by their values";
const char* const kFormulaLeftEmpty =
    "formulas referring to other sheets, other workbooks or missing names had no stored value, so their cells are empty";
const char* const kFormulaCalculated =
    "formulas referring to other sheets, other workbooks or missing names had no stored value and were replaced by "
    "the values LibreOffice calculated";
const char* const kHyperlinkDropped = "links to other sheets were removed";
const char* const kRuleDropped = "conditional formats, validations or sparklines referring to other sheets were removed";
const char* const kRuleLiteral = "validation lists or rule values taken from other sheets now hold the values they showed";
const char* const kPartDropped = "slicers, timelines or other workbook-level objects were removed";
const char* const kEmptyStringCell = "string cells without a string index were left empty";

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

// Whether a row number ("1048577", "0") lies outside the grid; text of another shape is not
// judged here.
bool RowOutsideGrid(std::string_view number) {
  if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos) return false;
  std::uint64_t row = 0;
  for (const char c : number) row = std::min<std::uint64_t>(row * 10 + static_cast<std::uint64_t>(c - '0'), limits::kMaxRows + 1);
  return row == 0 || row > limits::kMaxRows;
}

// Whether an A1 cell reference ("XFE1", "A0") lies outside the format's grid. Text of
// another shape is not judged here.
bool OutsideGrid(std::string_view reference) {
  std::size_t letters = 0;
  std::uint64_t column = 0;
  for (; letters < reference.size() && std::isalpha(static_cast<unsigned char>(reference[letters])); ++letters)
    column = std::min<std::uint64_t>(column * 26 + static_cast<std::uint64_t>(std::toupper(static_cast<unsigned char>(reference[letters])) - 'A' + 1),
                                     limits::kMaxColumns + 1);
  const std::string_view row = reference.substr(letters);
  if (letters == 0 || row.empty() || row.find_first_not_of("0123456789") != std::string_view::npos) return false;
  return column > limits::kMaxColumns || RowOutsideGrid(row);
}

std::string OutsideGridMessage(const std::string& what) {
  return what + " lies outside the grid of " + std::to_string(limits::kMaxRows) + " rows and " +
         std::to_string(limits::kMaxColumns) + " columns";
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
  ~SheetStream() {
    XML_ParserFree(parser_);
    if (fragment_ != nullptr) XML_ParserFree(fragment_);
  }

  SheetRewriteResult Run() {
    where_ = source_.Label() + ": sheet '" + sheet_.name + "'";
    source_.Pkg().Zip().Stream(source_.Pkg().IndexOf(sheet_.part), [&](const char* data, std::size_t length) {
      Feed(data, length, false);
    });
    Feed("", 0, true);
    if (!sawRoot_) Fail(where_ + ": part " + sheet_.part + " is empty");
    Flush();
    if (std::ferror(out_)) Fail(where_ + ": the copy could not be written to a temporary file");
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

  // The part goes to expat, except the rows of <sheetData>, which hold nearly all of its
  // bytes and follow a regular shape: a scanner of that shape handles them several times
  // faster, and hands everything it does not recognise (comments, unknown elements, odd
  // entities, malformed markup) back to expat from the row where it met it.
  void Feed(const char* data, std::size_t length, bool last) {
    switch (mode_) {
      case Mode::kBeforeRows:
        pending_.append(data, length);
        FindRows(last);
        break;
      case Mode::kRows:
        pending_.append(data, length);
        ScanRows(last);
        break;
      case Mode::kExpat:
        Parse(data, length, last);
        break;
    }
    if (main_.size() > (1u << 20) && captures_.empty() && !inCell_) Flush();
    if (HeldBytes() > limits::kMaxHeldElementBytes)
      Fail(where_ + " is refused: part " + sheet_.part + " holds an element larger than " +
           std::to_string(limits::kMaxHeldElementBytes >> 20) + " MiB");
  }

  // What the copy holds in memory until an element ends.
  std::uint64_t HeldBytes() const {
    std::uint64_t held = cellRaw_.size() + cellExtra_.size() + formula_.size() + value_.size();
    for (const Capture& capture : captures_) held += capture.buffer.size();
    return held;
  }

  void Parse(const char* data, std::size_t length, bool last) {
    if (XML_Parse(parser_, data, static_cast<int>(length), last) == XML_STATUS_ERROR) {
      if (!problem_.empty()) Fail(where_ + ": " + problem_);
      if (XML_GetErrorCode(parser_) == XML_ERROR_NO_MEMORY) Fail(where_ + ": part " + sheet_.part + " cannot be read: out of memory");
      Fail(where_ + ": part " + sheet_.part + " is not well-formed XML (line " +
           std::to_string(XML_GetCurrentLineNumber(parser_)) + ": " +
           XML_ErrorString(XML_GetErrorCode(parser_)) + ")");
    }
  }

  void HandToExpat(std::size_t from, bool last) {
    mode_ = Mode::kExpat;
    Parse(pending_.data() + from, pending_.size() - from, last);
    pending_.clear();
    pending_.shrink_to_fit();
  }

  static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

  // Position of the '>' that ends the tag starting at `from`, quotes respected; npos when the
  // buffer does not hold it yet.
  std::size_t TagEnd(std::size_t from, std::size_t limit) const {
    char quote = 0;
    for (std::size_t i = from; i < limit; ++i) {
      const char c = pending_[i];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        return i;
      } else if (c == '<' && i > from) {
        return std::string::npos;
      }
    }
    return std::string::npos;
  }

  bool StartsTag(std::size_t at, const std::string& name, std::size_t limit) const {
    if (at + 1 + name.size() >= limit || pending_[at] != '<' || pending_.compare(at + 1, name.size(), name) != 0)
      return false;
    const char next = pending_[at + 1 + name.size()];
    return IsSpace(next) || next == '>' || next == '/';
  }

  void FindRows(bool last) {
    for (;;) {
      const std::size_t found = pending_.find("sheetData", searchFrom_);
      if (found == std::string::npos || found + 10 > pending_.size()) break;
      searchFrom_ = found + 1;
      std::size_t open = found;
      while (open > 0 && pending_[open - 1] != '<' && pending_[open - 1] != '>' && !IsSpace(pending_[open - 1])) --open;
      if (open == 0 || pending_[open - 1] != '<') continue;
      const std::string name = pending_.substr(open, found + 9 - open);
      if (name != "sheetData" && (name.size() < 11 || name[name.size() - 10] != ':')) continue;
      if (!StartsTag(open - 1, name, pending_.size())) continue;
      const std::size_t end = TagEnd(open - 1, pending_.size());
      if (end == std::string::npos) break;
      Parse(pending_.data(), end + 1, false);
      const bool rowsFollow = sawSheetData_ && pending_[end - 1] != '/' && captures_.empty() && skipDepth_ == 0;
      pending_.erase(0, end + 1);
      if (!rowsFollow) return HandToExpat(0, last);
      const std::string prefix = name.substr(0, name.size() - 9);
      sheetDataEnd_ = "</" + name;
      rowName_ = prefix + "row";
      rowEnd_ = "</" + rowName_ + ">";
      cellName_ = prefix + "c";
      cellEnd_ = "</" + cellName_ + ">";
      formulaName_ = prefix + "f";
      valueName_ = prefix + "v";
      inlineName_ = prefix + "is";
      extensionName_ = prefix + "extLst";
      mode_ = Mode::kRows;
      return ScanRows(last);
    }
    if (last || pending_.size() > (16u << 20)) HandToExpat(0, last);
  }

  void ScanRows(bool last) {
    std::size_t at = 0;
    const std::size_t size = pending_.size();
    for (;;) {
      std::size_t next = at;
      while (next < size && IsSpace(pending_[next])) ++next;
      main_.append(pending_, at, next - at);
      at = next;
      if (at == size) break;
      if (pending_[at] != '<') return HandToExpat(at, last);
      if (pending_.compare(at, 2, "</") == 0) {
        if (size - at < sheetDataEnd_.size() + 1 && !last) break;
        if (pending_.compare(at, sheetDataEnd_.size(), sheetDataEnd_) == 0) return HandToExpat(at, last);
        return HandToExpat(at, last);
      }
      if (!StartsTag(at, rowName_, size)) {
        if (size - at < rowName_.size() + 2 && !last) break;
        return HandToExpat(at, last);
      }
      const std::size_t startEnd = TagEnd(at, size);
      if (startEnd == std::string::npos) break;
      if (!ParseAttributes(at + 1 + rowName_.size(), startEnd, rowAttributes_)) return HandToExpat(at, last);
      if (const std::string* number = Find(rowAttributes_, "r"); number != nullptr && RowOutsideGrid(*number))
        Fail(where_ + ": " + OutsideGridMessage("row " + *number));
      if (pending_[startEnd - 1] == '/') {
        main_.append(pending_, at, startEnd + 1 - at);
        at = startEnd + 1;
        continue;
      }
      const std::size_t close = pending_.find(rowEnd_, startEnd);
      if (close == std::string::npos) break;
      // Bytes this scanner passes on must be XML's own characters, as expat would insist.
      const std::string_view row = std::string_view(pending_).substr(at, close - at);
      if (!IsXmlText(row) || row.find("]]>") != std::string_view::npos) return HandToExpat(at, last);
      rowOut_.clear();
      if (!ScanCells(startEnd + 1, close)) return HandToExpat(at, last);
      main_.append(pending_, at, startEnd + 1 - at);
      main_ += rowOut_;
      main_ += rowEnd_;
      at = close + rowEnd_.size();
      if (main_.size() > (1u << 20)) Flush();
    }
    if (last || (at == 0 && pending_.size() > (64u << 20))) return HandToExpat(at, last);
    pending_.erase(0, at);
  }

  // Decodes the predefined and numeric entities as expat does; false for anything else
  // (expat judges it). Line ends written as such read as "\n" (CR LF and a lone CR too); in
  // an attribute value they and tabs read as a space. A character reference stays what it
  // names: "&#10;" in an attribute is a line break.
  static bool Decode(std::string_view text, std::string& out, bool attribute = false) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '<') return false;
      if (c == '\r' || c == '\n' || (c == '\t' && attribute)) {
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out += attribute ? ' ' : '\n';
        continue;
      }
      if (c != '&') {
        out += c;
        continue;
      }
      const std::size_t semicolon = text.find(';', i);
      if (semicolon == std::string_view::npos || semicolon - i > 10) return false;
      const std::string_view entity = text.substr(i + 1, semicolon - i - 1);
      if (entity == "lt") out += '<';
      else if (entity == "gt") out += '>';
      else if (entity == "amp") out += '&';
      else if (entity == "quot") out += '"';
      else if (entity == "apos") out += '\'';
      else if (entity.size() > 1 && entity[0] == '#') {
        char* end = nullptr;
        const std::string digits(entity.substr(entity[1] == 'x' ? 2 : 1));
        const unsigned long code = std::strtoul(digits.c_str(), &end, entity[1] == 'x' ? 16 : 10);
        if (digits.empty() || *end != '\0' || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ||
            code == 0xFFFE || code == 0xFFFF)
          return false;
        if (code < 0x20 && code != 0x9 && code != 0xA && code != 0xD) return false;
        AppendUtf8(out, static_cast<char32_t>(code));
      } else {
        return false;
      }
      i = semicolon;
    }
    return true;
  }

  // An attribute name of letters, digits and "_:.-", not starting with a digit, "." or "-".
  static bool IsPlainName(std::string_view name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])) || name[0] == '.' || name[0] == '-')
      return false;
    for (const char c : name)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != ':' && c != '.' && c != '-') return false;
    return true;
  }

  // Attributes of the tag [from, end) after its name; false when they are not plain.
  bool ParseAttributes(std::size_t from, std::size_t end, Attributes& into) {
    std::size_t count = 0;
    std::size_t i = from;
    for (;;) {
      while (i < end && IsSpace(pending_[i])) ++i;
      if (i >= end) break;
      if (pending_[i] == '/') {
        if (i + 1 != end) return false;
        break;
      }
      const std::size_t nameStart = i;
      while (i < end && pending_[i] != '=' && !IsSpace(pending_[i])) ++i;
      const std::size_t nameEnd = i;
      if (!IsPlainName(std::string_view(pending_).substr(nameStart, nameEnd - nameStart))) return false;
      while (i < end && IsSpace(pending_[i])) ++i;
      if (i >= end || pending_[i] != '=' || nameEnd == nameStart) return false;
      ++i;
      while (i < end && IsSpace(pending_[i])) ++i;
      if (i >= end || (pending_[i] != '"' && pending_[i] != '\'')) return false;
      const char quote = pending_[i++];
      const std::size_t valueEnd = pending_.find(quote, i);
      if (valueEnd == std::string::npos || valueEnd >= end) return false;
      if (count == into.size()) into.emplace_back();
      into[count].first.assign(pending_, nameStart, nameEnd - nameStart);
      if (!Decode(std::string_view(pending_).substr(i, valueEnd - i), into[count].second, true)) return false;
      for (std::size_t k = 0; k < count; ++k)
        if (into[k].first == into[count].first) return false;  // expat refuses a repeated attribute
      ++count;
      i = valueEnd + 1;
      if (i < end && !IsSpace(pending_[i]) && pending_[i] != '/') return false;  // attributes need a blank between
    }
    into.resize(count);
    return true;
  }

  // A child holding only text: <f ...>text</f>, <v ...>text</v>, or empty forms. Its
  // attributes (xml:space above all) are kept to be written back with it.
  bool TextChild(std::size_t& at, std::size_t limit, const std::string& name, Attributes& attributes, std::string& text) {
    const std::size_t end = TagEnd(at, limit);
    if (end == std::string::npos) return false;
    if (!ParseAttributes(at + 1 + name.size(), end, attributes)) return false;
    text.clear();
    if (pending_[end - 1] == '/') {
      at = end + 1;
      return true;
    }
    const std::size_t textEnd = pending_.find('<', end + 1);
    if (textEnd == std::string::npos || textEnd >= limit) return false;
    if (pending_.compare(textEnd, name.size() + 3, "</" + name + ">") != 0) return false;
    if (!Decode(std::string_view(pending_).substr(end + 1, textEnd - end - 1), text)) return false;
    at = textEnd + name.size() + 3;
    return true;
  }

  // Whether a child kept as it stands is well-formed and not nested too deeply: the scanner
  // does not look inside it, so expat does, on the child alone.
  bool WellFormed(std::string_view body) {
    if (fragment_ == nullptr) fragment_ = XML_ParserCreate(nullptr);
    else XML_ParserReset(fragment_, nullptr);
    fragmentDepth_ = 0;
    XML_SetUserData(fragment_, this);
    XML_SetElementHandler(
        fragment_,
        [](void* self, const XML_Char*, const XML_Char**) {
          auto& stream = *static_cast<SheetStream*>(self);
          if (++stream.fragmentDepth_ > limits::kMaxXmlDepth) XML_StopParser(stream.fragment_, XML_FALSE);
        },
        [](void* self, const XML_Char*) { --static_cast<SheetStream*>(self)->fragmentDepth_; });
    return XML_Parse(fragment_, body.data(), static_cast<int>(body.size()), XML_TRUE) == XML_STATUS_OK;
  }

  // A child kept as it stands: <is>...</is>, <extLst>...</extLst>.
  bool RawChild(std::size_t& at, std::size_t limit, const std::string& name) {
    const std::string close = "</" + name + ">";
    const std::size_t end = pending_.find(close, at);
    if (end == std::string::npos || end + close.size() > limit) return false;
    const std::string_view body = std::string_view(pending_).substr(at, end + close.size() - at);
    if (body.find("<!") != std::string_view::npos || body.find("<?") != std::string_view::npos) return false;
    if (!WellFormed(body)) return false;
    cellExtra_.append(body);
    at = end + close.size();
    return true;
  }

  bool ScanCells(std::size_t from, std::size_t limit) {
    std::size_t at = from;
    while (at < limit) {
      std::size_t next = at;
      while (next < limit && IsSpace(pending_[next])) ++next;
      rowOut_.append(pending_, at, next - at);
      at = next;
      if (at == limit) break;
      if (!StartsTag(at, cellName_, limit)) return false;
      const std::size_t startEnd = TagEnd(at, limit);
      if (startEnd == std::string::npos) return false;
      const bool empty = pending_[startEnd - 1] == '/';
      if (!ParseAttributes(at + 1 + cellName_.size(), startEnd, cellAttributes_)) return false;
      hasFormula_ = hasValue_ = false;
      formula_.clear();
      value_.clear();
      cellExtra_.clear();
      std::size_t cursor = startEnd + 1;
      if (!empty) {
        for (;;) {
          while (cursor < limit && IsSpace(pending_[cursor])) ++cursor;
          if (cursor >= limit) return false;
          if (pending_.compare(cursor, cellEnd_.size(), cellEnd_) == 0) {
            cursor += cellEnd_.size();
            break;
          }
          if (StartsTag(cursor, formulaName_, limit) && !hasFormula_) {
            if (!TextChild(cursor, limit, formulaName_, formulaAttributes_, formula_)) return false;
            hasFormula_ = true;
          } else if (StartsTag(cursor, valueName_, limit) && !hasValue_) {
            if (!TextChild(cursor, limit, valueName_, valueAttributes_, value_)) return false;
            hasValue_ = true;
          } else if (StartsTag(cursor, inlineName_, limit)) {
            if (!RawChild(cursor, limit, inlineName_)) return false;
          } else if (StartsTag(cursor, extensionName_, limit)) {
            if (!RawChild(cursor, limit, extensionName_)) return false;
          } else {
            return false;
          }
        }
      } else {
        cursor = startEnd + 1;
      }
      cellRaw_.assign(pending_, at, cursor - at);
      FinishCell(rowOut_);
      at = cursor;
    }
    return true;
  }

  void Stop(const std::string& problem) {
    if (problem_.empty()) problem_ = problem;
    XML_StopParser(parser_, XML_FALSE);
  }

  // main_ is only ever cut between elements, so the styles its tags name are all seen.
  void Flush() {
    if (options_.styleUse != nullptr) options_.styleUse->Scan(main_);
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
        CopyInto(valueAttributes_, attributes);
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
    if (local == "sheetData" && depth_ == 2) sawSheetData_ = true;
    if (local == "row" && depth_ == 3)
      for (int i = 0; attributes[i] != nullptr; i += 2)
        if (std::string_view(attributes[i]) == "r" && RowOutsideGrid(attributes[i + 1]))
          return Stop(OutsideGridMessage(std::string("row ") + attributes[i + 1]));
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
        FinishCell(captures_.empty() ? main_ : captures_.back().buffer);
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

  void FinishCell(std::string& sink) {
    if (const std::string* reference = Find(cellAttributes_, "r"); reference != nullptr && OutsideGrid(*reference))
      Fail(where_ + ": " + OutsideGridMessage("cell " + *reference));
    const std::string* cellType = Find(cellAttributes_, "t");
    if (!hasFormula_ && (cellType == nullptr || *cellType != "s")) {
      // Nothing in it changes: the cell goes on as it was written.
      for (const auto& attribute : cellAttributes_)
        if (attribute.first == "cm" || attribute.first == "vm") result_.usesMetadata = true;
      sink += cellRaw_;
      return;
    }
    if (cellType != nullptr && *cellType == "s" && hasValue_ &&
        value_.find_first_not_of(" \t\n") == std::string::npos) {
      // A string cell that names no string (<v/>): readers show it empty, and so does the copy,
      // keeping its style. Its formula, if any, stays.
      ++result_.losses[kEmptyStringCell];
      hasValue_ = false;
      cellAttributes_.erase(std::remove_if(cellAttributes_.begin(), cellAttributes_.end(),
                                           [](const auto& attribute) { return attribute.first == "t"; }),
                            cellAttributes_.end());
      if (!hasFormula_ && cellExtra_.empty()) {
        AppendStartTag(sink, cellName_, cellAttributes_);
        sink.insert(sink.size() - 1, "/");
        return;
      }
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
      AppendStartTag(sink, valueName_, valueAttributes_);
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
      if (!keepFormula) {
        // An empty result is a stored value only for a text result.
        const bool stored = hasValue_ && (!value_.empty() || (type != nullptr && *type == "str"));
        if (stored) {
          ++result_.losses[kFormulaReplaced];
        } else if (const CellResult* computed = ComputedResult()) {
          ++result_.losses[kFormulaCalculated];
          return WriteComputed(sink, *computed);
        } else {
          ++result_.losses[FormulaLeftEmptyLoss(options_.missingReason)];
          if (const std::string* reference = Find(cellAttributes_, "r")) result_.missingResults.push_back(*reference);
        }
      }
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
            if (value_.empty()) {
              writeValue = false;  // an empty result is an empty cell
              continue;
            }
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
      AppendStartTag(sink, valueName_, valueAttributes_);
      AppendEscapedText(sink, value);
      sink += "</" + valueName_ + ">";
    }
    sink += cellExtra_;
    sink += "</" + cellName_ + ">";
  }

  const CellResult* ComputedResult() const {
    if (options_.computed == nullptr) return nullptr;
    const std::string* reference = Find(cellAttributes_, "r");
    if (reference == nullptr) return nullptr;
    const auto found = options_.computed->find(*reference);
    return found != options_.computed->end() ? &found->second : nullptr;
  }

  // The cell without its formula, holding the calculated result typed as the result is; an
  // empty text is an empty cell, as for a stored one.
  void WriteComputed(std::string& sink, const CellResult& computed) {
    Attributes written;
    for (auto& attribute : cellAttributes_)
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
    AppendStartTag(sink, cellName_, written);
    if (!value.empty()) {
      // The source cell may have had no <v> to take the name from: it takes the cell's prefix.
      const std::string valueName = cellName_.substr(0, cellName_.size() - 1) + "v";
      sink += '<' + valueName + '>';
      AppendEscapedText(sink, value);
      sink += "</" + valueName + ">";
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
  XML_Parser fragment_ = nullptr;  // checks children the row scanner copies whole
  int fragmentDepth_ = 0;
  Attributes rowAttributes_;
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
  Attributes cellAttributes_, formulaAttributes_, valueAttributes_;
  bool hasFormula_ = false, hasValue_ = false;
  std::string formula_, value_, cellExtra_;
  std::string cellRaw_;  // the cell's original bytes

  enum class Mode { kBeforeRows, kRows, kExpat };
  Mode mode_ = Mode::kBeforeRows;
  std::string where_;
  std::string pending_;  // bytes not yet handled by the row scanner
  std::size_t searchFrom_ = 0;
  bool sawSheetData_ = false;
  std::string sheetDataEnd_, rowName_, rowEnd_, cellEnd_, inlineName_, extensionName_;
  std::string rowOut_;
  std::unordered_set<std::string> droppedSharedGroups_;
};

}  // namespace

std::string FormulaLeftEmptyLoss(const std::string& reason) {
  return reason.empty() ? kFormulaLeftEmpty : std::string(kFormulaLeftEmpty) + ": " + reason;
}

SheetRewriteResult RewriteSheet(const SourceWorkbook& source, std::size_t sheetIndex,
                                const SheetRewriteOptions& options, OutputStrings& strings, std::FILE* out) {
  return SheetStream(source, sheetIndex, options, strings, out).Run();
}

}  // namespace tabrend::spreadsheet
