// The row scanner: <row> and <c> elements of the regular shape, read without expat.
#include "spreadsheet/RowScanner.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "spreadsheet/CellReference.h"
#include "spreadsheet/Limits.h"
#include "spreadsheet/Text.h"
#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

namespace {

constexpr std::string_view kSheetData = "sheetData";
// Bytes held looking for <sheetData> before the part goes to expat whole: real parts have a
// few kilobytes of sheet properties and column widths before it.
constexpr std::size_t kMaxBytesBeforeRows = 16u << 20;
// Bytes of one row held unfinished before expat takes over from it.
constexpr std::size_t kMaxRowBytes = 64u << 20;
// Output held before it is passed on.
constexpr std::size_t kFlushBytes = 1u << 20;
// "&#x10FFFF;" is the longest entity the scanner decodes: anything longer goes to expat.
constexpr std::size_t kMaxEntityLength = 10;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// An attribute name of letters, digits and "_:.-", not starting with a digit, "." or "-".
// ASCII tests written out: the <cctype> ones go through the locale, for every attribute.
bool IsPlainName(std::string_view name) {
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (name.empty() || digit(name[0]) || name[0] == '.' || name[0] == '-') return false;
  for (const char c : name) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && !digit(c) && c != '_' && c != ':' && c != '.' && c != '-') return false;
  }
  return true;
}

// Whether buffer holds `what` at `at`. Written out: the names compared are a few bytes, and a
// call to memcmp for each costs more than the comparison.
bool HasAt(const std::string& buffer, std::size_t at, std::string_view what) {
  if (at > buffer.size() || buffer.size() - at < what.size()) return false;
  for (std::size_t i = 0; i < what.size(); ++i)
    if (buffer[at + i] != what[i]) return false;
  return true;
}

// The first `what` (which starts with '<') in buffer from `from`, or npos. std::string::find
// calls memcmp at every '<', and a row holds several for each cell.
std::size_t FindTag(const std::string& buffer, std::string_view what, std::size_t from) {
  const char* const data = buffer.data();
  for (std::size_t at = from; at < buffer.size();) {
    const void* found = std::memchr(data + at, '<', buffer.size() - at);
    if (found == nullptr) return std::string::npos;
    at = static_cast<std::size_t>(static_cast<const char*>(found) - data);
    if (HasAt(buffer, at, what)) return at;
    ++at;
  }
  return std::string::npos;
}

// Position of c in buffer [from, limit), or npos. A loop rather than memchr: it looks for the
// end of a value of a few bytes, where the call costs more than the search.
std::size_t FindByte(const std::string& buffer, char c, std::size_t from, std::size_t limit) {
  for (std::size_t at = from; at < limit; ++at)
    if (buffer[at] == c) return at;
  return std::string::npos;
}

// Whether DecodeXmlText would change text: most values hold no entity and no line end.
bool NeedsDecoding(std::string_view text, bool attribute) {
  for (const char c : text)
    if (c == '&' || c == '<' || c == '\r' || c == '\n' || (attribute && c == '\t')) return true;
  return false;
}

// The code point a numeric entity ("#233", "#x1F600") names, or 0 when it names none that
// XML allows.
unsigned long CharacterReference(std::string_view entity) {
  char* end = nullptr;
  const bool hex = entity[1] == 'x';
  const std::string digits(entity.substr(hex ? 2 : 1));
  const unsigned long code = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
  if (digits.empty() || *end != '\0' || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ||
      code == 0xFFFE || code == 0xFFFF)
    return 0;
  if (code < 0x20 && code != 0x9 && code != 0xA && code != 0xD) return 0;
  return code;
}

}  // namespace

bool DecodeXmlText(std::string_view text, std::string& out, bool attribute) {
  if (!NeedsDecoding(text, attribute)) {
    // clear and append: assign goes through the general replace, which costs more on every
    // cell's few bytes.
    out.clear();
    out.append(text.data(), text.size());
    return true;
  }
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
    if (semicolon == std::string_view::npos || semicolon - i > kMaxEntityLength) return false;
    const std::string_view entity = text.substr(i + 1, semicolon - i - 1);
    if (entity == "lt") out += '<';
    else if (entity == "gt") out += '>';
    else if (entity == "amp") out += '&';
    else if (entity == "quot") out += '"';
    else if (entity == "apos") out += '\'';
    else if (entity.size() > 1 && entity[0] == '#') {
      const unsigned long code = CharacterReference(entity);
      if (code == 0) return false;
      AppendUtf8(out, static_cast<char32_t>(code));
    } else {
      return false;
    }
    i = semicolon;
  }
  return true;
}

RowScanner::~RowScanner() {
  if (fragment_ != nullptr) XML_ParserFree(fragment_);
}

void RowScanner::Feed(const char* data, std::size_t length, bool last) {
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
      host_.Parse(data, length, last);
      break;
  }
}

void RowScanner::HandToExpat(std::size_t from, bool last) {
  mode_ = Mode::kExpat;
  host_.Parse(pending_.data() + from, pending_.size() - from, last);
  pending_.clear();
  pending_.shrink_to_fit();
}

// Position of the '>' that ends the tag starting at `from`, quotes respected; npos when the
// buffer does not hold it yet.
std::size_t RowScanner::TagEnd(std::size_t from, std::size_t limit) const {
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

bool RowScanner::StartsTag(std::size_t at, const std::string& name, std::size_t limit) const {
  if (at + 1 + name.size() >= limit || pending_[at] != '<' || !HasAt(pending_, at + 1, name))
    return false;
  const char next = pending_[at + 1 + name.size()];
  return IsSpace(next) || next == '>' || next == '/';
}

// Everything up to and including the <sheetData> start tag goes to expat; the scanner takes
// the rows after it.
void RowScanner::FindRows(bool last) {
  for (;;) {
    const std::size_t found = pending_.find(kSheetData, searchFrom_);
    if (found == std::string::npos || found + kSheetData.size() + 1 > pending_.size()) break;
    searchFrom_ = found + 1;
    std::size_t open = found;
    while (open > 0 && pending_[open - 1] != '<' && pending_[open - 1] != '>' && !IsSpace(pending_[open - 1])) --open;
    if (open == 0 || pending_[open - 1] != '<') continue;
    const std::string name = pending_.substr(open, found + kSheetData.size() - open);
    // "sheetData", or a prefix of at least one character and a colon before it.
    const bool prefixed = name.size() >= kSheetData.size() + 2 && name[name.size() - kSheetData.size() - 1] == ':';
    if (name != kSheetData && !prefixed) continue;
    if (!StartsTag(open - 1, name, pending_.size())) continue;
    const std::size_t end = TagEnd(open - 1, pending_.size());
    if (end == std::string::npos) break;
    host_.Parse(pending_.data(), end + 1, false);
    const bool rowsFollow = pending_[end - 1] != '/' && host_.RowsMayFollow();
    pending_.erase(0, end + 1);
    if (!rowsFollow) return HandToExpat(0, last);
    TakeNames(name);
    mode_ = Mode::kRows;
    return ScanRows(last);
  }
  if (last || pending_.size() > kMaxBytesBeforeRows) HandToExpat(0, last);
}

// The element names of the rows, with the prefix <sheetData> was written with.
void RowScanner::TakeNames(const std::string& sheetDataName) {
  const std::string prefix = sheetDataName.substr(0, sheetDataName.size() - kSheetData.size());
  sheetDataEnd_ = "</" + sheetDataName;
  rowName_ = prefix + "row";
  rowEnd_ = "</" + rowName_ + ">";
  cell_.name = prefix + "c";
  cellEnd_ = "</" + cell_.name + ">";
  cell_.formulaName = prefix + "f";
  cell_.valueName = prefix + "v";
  inlineName_ = prefix + "is";
  extensionName_ = prefix + "extLst";
}

void RowScanner::ScanRows(bool last) {
  std::size_t at = 0;
  const std::size_t size = pending_.size();
  for (;;) {
    std::size_t next = at;
    while (next < size && IsSpace(pending_[next])) ++next;
    out_.append(pending_, at, next - at);
    at = next;
    if (at == size) break;
    if (pending_[at] != '<') return HandToExpat(at, last);
    if (pending_.compare(at, 2, "</") == 0) {
      // </sheetData> or anything else: expat reads the rest.
      if (size - at < sheetDataEnd_.size() + 1 && !last) break;
      return HandToExpat(at, last);
    }
    if (!StartsTag(at, rowName_, size)) {
      if (size - at < rowName_.size() + 2 && !last) break;
      return HandToExpat(at, last);
    }
    const std::size_t startEnd = TagEnd(at, size);
    if (startEnd == std::string::npos) break;
    if (!ParseAttributes(at + 1 + rowName_.size(), startEnd, rowAttributes_)) return HandToExpat(at, last);
    if (const std::string* number = FindAttribute(rowAttributes_, "r"); number != nullptr && RowOutsideGrid(*number))
      host_.Refuse(OutsideGridMessage("row " + *number));
    if (pending_[startEnd - 1] == '/') {
      out_.append(pending_, at, startEnd + 1 - at);
      at = startEnd + 1;
      continue;
    }
    const std::size_t close = FindTag(pending_, rowEnd_, startEnd);
    if (close == std::string::npos) break;
    // Bytes this scanner passes on must be XML's own characters, as expat would insist.
    const std::string_view row = std::string_view(pending_).substr(at, close - at);
    if (!IsXmlText(row) || row.find("]]>") != std::string_view::npos) return HandToExpat(at, last);
    rowOut_.clear();
    if (!ScanCells(startEnd + 1, close)) return HandToExpat(at, last);
    out_.append(pending_, at, startEnd + 1 - at);
    out_ += rowOut_;
    out_ += rowEnd_;
    at = close + rowEnd_.size();
    if (out_.size() > kFlushBytes) host_.RowWritten();
  }
  if (last || (at == 0 && pending_.size() > kMaxRowBytes)) return HandToExpat(at, last);
  pending_.erase(0, at);
}

// Attributes of the tag [from, end) after its name; false when they are not plain.
bool RowScanner::ParseAttributes(std::size_t from, std::size_t end, Attributes& into) {
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
    const std::size_t valueEnd = FindByte(pending_, quote, i, end);
    if (valueEnd == std::string::npos) return false;
    if (count == into.size()) into.emplace_back();
    // Cells mostly repeat the names of the cell before: kept, they need no copy.
    const std::string_view name = std::string_view(pending_).substr(nameStart, nameEnd - nameStart);
    if (!HasAt(into[count].first, 0, name) || into[count].first.size() != name.size()) into[count].first.assign(name);
    if (!DecodeXmlText(std::string_view(pending_).substr(i, valueEnd - i), into[count].second, true)) return false;
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
bool RowScanner::TextChild(std::size_t& at, std::size_t limit, const std::string& name, Attributes& attributes,
                           std::string& text) {
  const std::size_t end = TagEnd(at, limit);
  if (end == std::string::npos) return false;
  if (!ParseAttributes(at + 1 + name.size(), end, attributes)) return false;
  text.clear();
  if (pending_[end - 1] == '/') {
    at = end + 1;
    return true;
  }
  const std::size_t textEnd = FindByte(pending_, '<', end + 1, limit);
  if (textEnd == std::string::npos) return false;
  // The end tag, compared in place rather than built for every cell.
  if (textEnd + name.size() + 3 > limit || pending_[textEnd + 1] != '/' ||
      !HasAt(pending_, textEnd + 2, name) || pending_[textEnd + 2 + name.size()] != '>')
    return false;
  if (!DecodeXmlText(std::string_view(pending_).substr(end + 1, textEnd - end - 1), text)) return false;
  at = textEnd + name.size() + 3;
  return true;
}

// Whether a child kept as it stands is well-formed and not nested too deeply: the scanner
// does not look inside it, so expat does, on the child alone.
bool RowScanner::WellFormed(std::string_view body) {
  if (fragment_ == nullptr) fragment_ = XML_ParserCreate(nullptr);
  else XML_ParserReset(fragment_, nullptr);
  fragmentDepth_ = 0;
  XML_SetUserData(fragment_, this);
  XML_SetElementHandler(
      fragment_,
      [](void* self, const XML_Char*, const XML_Char**) {
        auto& scanner = *static_cast<RowScanner*>(self);
        if (++scanner.fragmentDepth_ > limits::kMaxXmlDepth) XML_StopParser(scanner.fragment_, XML_FALSE);
      },
      [](void* self, const XML_Char*) { --static_cast<RowScanner*>(self)->fragmentDepth_; });
  return XML_Parse(fragment_, body.data(), static_cast<int>(body.size()), XML_TRUE) == XML_STATUS_OK;
}

// A child kept as it stands: <is>...</is>, <extLst>...</extLst>.
bool RowScanner::RawChild(std::size_t& at, std::size_t limit, const std::string& name) {
  const std::string close = "</" + name + ">";
  const std::size_t end = pending_.find(close, at);
  if (end == std::string::npos || end + close.size() > limit) return false;
  const std::string_view body = std::string_view(pending_).substr(at, end + close.size() - at);
  if (body.find("<!") != std::string_view::npos || body.find("<?") != std::string_view::npos) return false;
  if (!WellFormed(body)) return false;
  cell_.extra.append(body);
  at = end + close.size();
  return true;
}

// The cells of one row [from, limit) into rowOut_; false at anything of another shape.
bool RowScanner::ScanCells(std::size_t from, std::size_t limit) {
  std::size_t at = from;
  while (at < limit) {
    std::size_t next = at;
    while (next < limit && IsSpace(pending_[next])) ++next;
    rowOut_.append(pending_, at, next - at);
    at = next;
    if (at == limit) break;
    if (!StartsTag(at, cell_.name, limit)) return false;
    const std::size_t startEnd = TagEnd(at, limit);
    if (startEnd == std::string::npos) return false;
    const bool empty = pending_[startEnd - 1] == '/';
    if (!ParseAttributes(at + 1 + cell_.name.size(), startEnd, cell_.attributes)) return false;
    cell_.Clear();
    std::size_t cursor = startEnd + 1;
    while (!empty) {
      while (cursor < limit && IsSpace(pending_[cursor])) ++cursor;
      if (cursor >= limit) return false;
      if (HasAt(pending_, cursor, cellEnd_)) {
        cursor += cellEnd_.size();
        break;
      }
      if (StartsTag(cursor, cell_.formulaName, limit) && !cell_.hasFormula) {
        if (!TextChild(cursor, limit, cell_.formulaName, cell_.formulaAttributes, cell_.formula)) return false;
        cell_.hasFormula = true;
      } else if (StartsTag(cursor, cell_.valueName, limit) && !cell_.hasValue) {
        if (!TextChild(cursor, limit, cell_.valueName, cell_.valueAttributes, cell_.value)) return false;
        cell_.hasValue = true;
      } else if (StartsTag(cursor, inlineName_, limit)) {
        if (!RawChild(cursor, limit, inlineName_)) return false;
      } else if (StartsTag(cursor, extensionName_, limit)) {
        if (!RawChild(cursor, limit, extensionName_)) return false;
      } else {
        return false;
      }
    }
    cell_.raw.clear();
    cell_.raw.append(pending_, at, cursor - at);
    host_.FinishCell(rowOut_);
    at = cursor;
  }
  return true;
}

}  // namespace tabrend::spreadsheet
