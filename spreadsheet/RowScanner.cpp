// The row scanner: <row> and <c> elements of the regular shape, read without expat.
#include "spreadsheet/RowScanner.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "spreadsheet/CellReference.h"
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

// Classes of bytes in plain cells, looked up in a table: one load a byte where the tests
// written out take several comparisons, over nearly every byte of a sheet.
enum : unsigned char { kText = 1, kAttributeValue = 2, kName = 4, kNameStart = 8 };

constexpr std::array<unsigned char, 256> kByteClasses = [] {
  std::array<unsigned char, 256> classes{};
  for (int c = 0x20; c <= 0x7E; ++c) {
    // Printable ASCII that decoding and escaping leave as it is.
    if (c == '&' || c == '<' || c == '>') continue;
    classes[c] = kText;
    if (c != '"') classes[c] |= kAttributeValue;
    if (IsAsciiLetter(static_cast<char>(c)) || c == '_' || c == ':') classes[c] |= kName | kNameStart;
    if (IsAsciiDigit(static_cast<char>(c)) || c == '.' || c == '-') classes[c] |= kName;
  }
  return classes;
}();

bool Is(char c, unsigned char kind) { return (kByteClasses[static_cast<unsigned char>(c)] & kind) != 0; }

// An attribute name of letters, digits and "_:.-", not starting with a digit, "." or "-".
bool IsPlainName(std::string_view name) {
  if (name.empty() || !Is(name[0], kNameStart)) return false;
  for (const char c : name)
    if (!Is(c, kName)) return false;
  return true;
}

// Whether buffer holds `what` at `at`. Written out: the names compared are a few bytes, and a
// call to memcmp for each costs more than the comparison.
bool HasAt(std::string_view buffer, std::size_t at, std::string_view what) {
  if (at > buffer.size() || buffer.size() - at < what.size()) return false;
  for (std::size_t i = 0; i < what.size(); ++i)
    if (buffer[at + i] != what[i]) return false;
  return true;
}

// The first `what` (which starts with '<') in buffer from `from`, or npos. std::string::find
// calls memcmp at every '<', and a row holds several for each cell.
std::size_t FindTag(std::string_view buffer, std::string_view what, std::size_t from) {
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
std::size_t FindByte(std::string_view buffer, char c, std::size_t from, std::size_t limit) {
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

// Whether [at, end) starts with `what`; kShort when it ends before that can be told.
enum class Match { kNo, kYes, kShort };
Match MatchAt(const char* at, const char* end, std::string_view what) {
  const std::size_t available = std::min(static_cast<std::size_t>(end - at), what.size());
  for (std::size_t i = 0; i < available; ++i)
    if (at[i] != what[i]) return Match::kNo;
  return available == what.size() ? Match::kYes : Match::kShort;
}

template <typename Tag>
void SetTag(Tag& tag, std::string text) {
  tag.text = std::move(text);
  tag.word = tag.mask = 0;
  if (tag.text.size() > sizeof tag.word) return;
  std::memcpy(&tag.word, tag.text.data(), tag.text.size());
  std::memset(&tag.mask, 0xFF, tag.text.size());
}

// MatchAt for a tag, in one step where eight bytes are there to load.
template <typename Tag>
[[gnu::always_inline]] inline Match MatchTag(const char* at, const char* end, const Tag& tag) {
  if (end - at >= 8 && tag.mask != 0) {
    std::uint64_t bytes;
    std::memcpy(&bytes, at, sizeof bytes);
    return (bytes & tag.mask) == tag.word ? Match::kYes : Match::kNo;
  }
  return MatchAt(at, end, tag.text);
}

// The first byte from p on that is not of class kind (kText or kAttributeValue), or end. Four
// bytes a round where four are left: values are a few bytes long, and the test of the end
// costs as much as the test of the byte. (Sixteen a round with SSE2 was slower: most values
// end within the first four.)
[[gnu::always_inline]] inline const char* SkipClass(const char* p, const char* end, unsigned char kind) {
  for (; end - p >= 4; p += 4) {
    if (!Is(p[0], kind)) return p;
    if (!Is(p[1], kind)) return p + 1;
    if (!Is(p[2], kind)) return p + 2;
    if (!Is(p[3], kind)) return p + 3;
  }
  while (p < end && Is(*p, kind)) ++p;
  return p;
}

// An optional child <f>text</f> or <v>text</v> at `at` (open and close its tags), read when
// it is there.
template <typename Tag>
[[gnu::always_inline]] inline RowScanner::Plain ReadPlainChild(const char*& at, const char* end, const Tag& open, const Tag& close,
                                 std::string_view& text, bool& present) {
  present = false;
  if (const Match match = MatchTag(at, end, open); match != Match::kYes)
    return match == Match::kNo ? RowScanner::Plain::kTaken : RowScanner::Plain::kShort;
  const char* const textStart = at + open.text.size();
  const char* const textEnd = SkipClass(textStart, end, kText);
  if (const Match match = MatchTag(textEnd, end, close); match != Match::kYes)
    return match == Match::kNo ? RowScanner::Plain::kOther : RowScanner::Plain::kShort;
  text = std::string_view(textStart, static_cast<std::size_t>(textEnd - textStart));
  present = true;
  at = textEnd + close.text.size();
  return RowScanner::Plain::kTaken;
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

void RowScanner::Feed(const char* data, std::size_t length, bool last) {
  switch (mode_) {
    case Mode::kBeforeRows:
      pending_.append(data, length);
      FindRows(last);
      break;
    case Mode::kRows:
      FeedRows(data, length, last);
      break;
    case Mode::kExpat:
      host_.Parse(data, length, last);
      break;
  }
}

void RowScanner::HandToExpat(std::size_t from, bool last) {
  if (mode_ == Mode::kRows) host_.RowsTaken(false);
  if (mode_ == Mode::kBeforeRows) text_ = pending_;
  mode_ = Mode::kExpat;
  host_.Parse(text_.data() + from, text_.size() - from, last);
  text_ = {};
  pending_.clear();
  pending_.shrink_to_fit();
}

// Rows are read where the piece lies: only the start of a row a piece ends in is copied, and
// with it only as much of the next piece as completes that row.
void RowScanner::FeedRows(const char* data, std::size_t length, bool last) {
  if (!pending_.empty()) {
    const std::size_t rowEnd = std::string_view(data, length).find(rowEnd_);
    const std::size_t taken = rowEnd == std::string_view::npos ? length : rowEnd + rowEnd_.size();
    pending_.append(data, taken);
    text_ = pending_;
    ScanRows(last && taken == length);
    data += taken;
    length -= taken;
    if (length == 0) return;
    if (mode_ != Mode::kRows) return Feed(data, length, last);
    if (!pending_.empty()) {
      pending_.append(data, length);
      text_ = pending_;
      return ScanRows(last);
    }
  }
  text_ = std::string_view(data, length);
  ScanRows(last);
}

// Position of the '>' that ends the tag starting at `from`, quotes respected; npos when the
// buffer does not hold it yet.
std::size_t RowScanner::TagEnd(std::size_t from, std::size_t limit) const {
  char quote = 0;
  for (std::size_t i = from; i < limit; ++i) {
    const char c = text_[i];
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
  if (at + 1 + name.size() >= limit || text_[at] != '<' || !HasAt(text_, at + 1, name))
    return false;
  const char next = text_[at + 1 + name.size()];
  return IsSpace(next) || next == '>' || next == '/';
}

// Everything up to and including the <sheetData> start tag goes to expat; the scanner takes
// the rows after it.
void RowScanner::FindRows(bool last) {
  text_ = pending_;
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
    text_ = pending_;
    if (!rowsFollow) return HandToExpat(0, last);
    TakeNames(name);
    mode_ = Mode::kRows;
    host_.RowsTaken(true);
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
  SetTag(cellOpen_, "<" + cell_.name);
  SetTag(cellEnd_, "</" + cell_.name + ">");
  cell_.formulaName = prefix + "f";
  cell_.valueName = prefix + "v";
  inlineName_ = prefix + "is";
  extensionName_ = prefix + "extLst";
  SetTag(formulaOpen_, "<" + cell_.formulaName + ">");
  SetTag(formulaClose_, "</" + cell_.formulaName + ">");
  SetTag(valueOpen_, "<" + cell_.valueName + ">");
  SetTag(valueClose_, "</" + cell_.valueName + ">");
}

void RowScanner::ScanRows(bool last) {
  std::size_t at = 0;
  const std::size_t size = text_.size();
  for (;;) {
    std::size_t next = at;
    while (next < size && IsSpace(text_[next])) ++next;
    out_.append(text_, at, next - at);
    at = next;
    if (at == size) break;
    if (text_[at] != '<') return HandToExpat(at, last);
    if (text_.compare(at, 2, "</") == 0) {
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
    const std::string_view startTag = std::string_view(text_).substr(at, startEnd + 1 - at);
    if (text_[startEnd - 1] == '/') {
      out_.append(startTag);
      host_.StylesIn(startTag);
      host_.RowStarted(rowAttributes_);
      at = startEnd + 1;
      continue;
    }
    // Bytes this scanner passes on must be XML's own characters, as expat would insist: plain
    // cells are, and the rest of the row is checked whole.
    std::size_t stop = 0;
    const Plain plain = ScanPlainCells(startEnd + 1, stop);
    if (plain == Plain::kShort) break;
    std::size_t close = stop;
    if (plain == Plain::kRowEnd) {
      while (IsSpace(text_[close])) ++close;
      if (!IsXmlText(startTag) || startTag.find("]]>") != std::string_view::npos) return HandToExpat(at, last);
    } else {
      close = FindTag(text_, rowEnd_, stop);
      if (close == std::string::npos) break;
      const std::string_view row = std::string_view(text_).substr(at, close - at);
      if (!IsXmlText(row) || row.find("]]>") != std::string_view::npos) return HandToExpat(at, last);
    }
    // Written straight to the output, and taken back if a cell turns out to need expat.
    const std::size_t rowStart = out_.size();
    host_.StylesIn(startTag);
    host_.RowStarted(rowAttributes_);
    const char* run = startTag.data();
    bool taken = TakePlainCells(run);
    if (taken && plain == Plain::kRowEnd) {
      out_.append(run, static_cast<std::size_t>(text_.data() + close + rowEnd_.size() - run));
    } else if (taken) {
      out_.append(run, static_cast<std::size_t>(text_.data() + stop - run));
      taken = ScanCells(stop, close);
      out_ += rowEnd_;
    }
    if (!taken) {
      out_.resize(rowStart);
      host_.RowTakenBack();
      return HandToExpat(at, last);
    }
    at = close + rowEnd_.size();
    if (out_.size() > kFlushBytes) host_.RowWritten();
  }
  if (last || (at == 0 && text_.size() > kMaxRowBytes)) return HandToExpat(at, last);
  // What is left (the start of a row) is held until the rest of it comes.
  if (text_.data() == pending_.data()) pending_.erase(0, at);
  else pending_.assign(text_.substr(at));
  text_ = {};
}

// Attributes of the tag [from, end) after its name; false when they are not plain.
bool RowScanner::ParseAttributes(std::size_t from, std::size_t end, Attributes& into) {
  std::size_t count = 0;
  std::size_t i = from;
  for (;;) {
    while (i < end && IsSpace(text_[i])) ++i;
    if (i >= end) break;
    if (text_[i] == '/') {
      if (i + 1 != end) return false;
      break;
    }
    const std::size_t nameStart = i;
    while (i < end && text_[i] != '=' && !IsSpace(text_[i])) ++i;
    const std::size_t nameEnd = i;
    if (!IsPlainName(std::string_view(text_).substr(nameStart, nameEnd - nameStart))) return false;
    while (i < end && IsSpace(text_[i])) ++i;
    if (i >= end || text_[i] != '=' || nameEnd == nameStart) return false;
    ++i;
    while (i < end && IsSpace(text_[i])) ++i;
    if (i >= end || (text_[i] != '"' && text_[i] != '\'')) return false;
    const char quote = text_[i++];
    const std::size_t valueEnd = FindByte(text_, quote, i, end);
    if (valueEnd == std::string::npos) return false;
    if (count == into.size()) into.emplace_back();
    // Cells mostly repeat the names of the cell before: kept, they need no copy.
    const std::string_view name = std::string_view(text_).substr(nameStart, nameEnd - nameStart);
    if (!HasAt(into[count].first, 0, name) || into[count].first.size() != name.size()) into[count].first.assign(name);
    if (!DecodeXmlText(std::string_view(text_).substr(i, valueEnd - i), into[count].second, true)) return false;
    for (std::size_t k = 0; k < count; ++k)
      if (into[k].first == into[count].first) return false;  // expat refuses a repeated attribute
    ++count;
    i = valueEnd + 1;
    if (i < end && !IsSpace(text_[i]) && text_[i] != '/') return false;  // attributes need a blank between
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
  if (text_[end - 1] == '/') {
    at = end + 1;
    return true;
  }
  const std::size_t textEnd = FindByte(text_, '<', end + 1, limit);
  if (textEnd == std::string::npos) return false;
  // The end tag, compared in place rather than built for every cell.
  if (textEnd + name.size() + 3 > limit || text_[textEnd + 1] != '/' ||
      !HasAt(text_, textEnd + 2, name) || text_[textEnd + 2 + name.size()] != '>')
    return false;
  if (!DecodeXmlText(std::string_view(text_).substr(end + 1, textEnd - end - 1), text)) return false;
  at = textEnd + name.size() + 3;
  return true;
}

// A child kept as it stands: <is>...</is>, <extLst>...</extLst>.
bool RowScanner::RawChild(std::size_t& at, std::size_t limit, const std::string& name) {
  const std::string close = "</" + name + ">";
  const std::size_t end = text_.find(close, at);
  if (end == std::string::npos || end + close.size() > limit) return false;
  const std::string_view body = std::string_view(text_).substr(at, end + close.size() - at);
  if (body.find("<!") != std::string_view::npos || body.find("<?") != std::string_view::npos) return false;
  // The scanner does not look inside it, so expat does, on the child alone.
  if (!pieces_.WellFormed(body.data(), body.size())) return false;
  cell_.extra.append(body);
  at = end + close.size();
  return true;
}

// The plain cells from `from` into plainCells_, up to the first thing that is not one; `stop`
// is where that thing starts, blanks before it included.
RowScanner::Plain RowScanner::ScanPlainCells(std::size_t from, std::size_t& stop) {
  const char* const begin = text_.data();
  const char* const end = begin + text_.size();
  const char* at = begin + from;
  plainCount_ = 0;
  for (;;) {
    const char* const gap = at;
    while (at < end && IsSpace(*at)) ++at;
    stop = static_cast<std::size_t>(gap - begin);
    if (end - at < 2) return Plain::kShort;
    if (*at != '<') return Plain::kOther;
    if (at[1] == '/') {
      const Match match = MatchAt(at, end, rowEnd_);
      return match == Match::kYes ? Plain::kRowEnd : match == Match::kShort ? Plain::kShort : Plain::kOther;
    }
    if (plainCount_ == plainCells_.size()) plainCells_.emplace_back();
    PlainCell& cell = plainCells_[plainCount_];
    if (const Plain read = ReadPlainCell(at, end, cell); read != Plain::kTaken) return read;
    ++plainCount_;
  }
}

// One plain cell at `at` (a '<'), which moves past it when it is read.
RowScanner::Plain RowScanner::ReadPlainCell(const char*& at, const char* end, PlainCell& cell) const {
  constexpr int kMostAttributes = 8;  // a cell has r, s, t and the metadata ones
  if (const Match match = MatchTag(at, end, cellOpen_); match != Match::kYes)
    return match == Match::kNo ? Plain::kOther : Plain::kShort;
  const char* p = at + cellOpen_.text.size();
  // Repeats, which expat refuses, are caught by a bit for each name of one letter (two letters
  // may share one, and such a cell is then read whole) and by comparing the longer names.
  // Left uninitialised: clearing them for every cell costs more than reading the cell.
  const char* nameStarts[kMostAttributes];
  std::size_t nameSizes[kMostAttributes];
  int count = 0, longNames = 0;
  std::uint64_t letters = 0;
  // Each cleared on its own: a chained assignment reads each view back just after writing
  // it, and the processor stalls on that for every cell.
  cell.reference = {};
  cell.type = {};
  cell.style = {};
  cell.hasMetadata = false;
  cell.otherAttributes = false;
  // The usual attributes, r="A1" s="3" t="s", in that order, are read without their names'
  // checks; the loop below reads the rest, and these too when they look otherwise.
  const auto usual = [&](char name, std::string_view& value) __attribute__((always_inline)) {
    if (end - p < 5 || p[0] != ' ' || p[1] != name || p[2] != '=' || p[3] != '"') return;
    const char* const valueStart = p + 4;
    const char* const valueEnd = SkipClass(valueStart, end, kAttributeValue);
    if (valueEnd == end || *valueEnd != '"') return;
    value = std::string_view(valueStart, static_cast<std::size_t>(valueEnd - valueStart));
    letters |= std::uint64_t{1} << (name & 63);
    ++count;
    p = valueEnd + 1;
  };
  usual('r', cell.reference);
  usual('s', cell.style);
  usual('t', cell.type);
  while (p < end && *p == ' ') {
    const char* const nameStart = ++p;
    if (end - p >= 3 && p[1] == '=' && p[2] == '"') {
      p += 1;  // a name of one letter, as r, s and t are
    } else {
      while (p < end && Is(*p, kName)) ++p;
      if (end - p < 2) return Plain::kShort;
      if (p == nameStart || p[0] != '=' || p[1] != '"') return Plain::kOther;
    }
    if (!Is(*nameStart, kNameStart) || count++ == kMostAttributes) return Plain::kOther;
    const std::string_view name(nameStart, static_cast<std::size_t>(p - nameStart));
    if (name.size() == 1) {
      const std::uint64_t bit = std::uint64_t{1} << (name[0] & 63);
      if ((letters & bit) != 0) return Plain::kOther;
      letters |= bit;
    } else {
      // Compared in place: a call to memcmp costs more than these names of a letter or two.
      for (int k = 0; k < longNames; ++k)
        if (nameSizes[k] == name.size() && HasAt(name, 0, std::string_view(nameStarts[k], nameSizes[k])))
          return Plain::kOther;
      nameStarts[longNames] = nameStart;
      nameSizes[longNames++] = name.size();
    }
    const char* const valueStart = p + 2;
    p = SkipClass(valueStart, end, kAttributeValue);
    if (p == end) return Plain::kShort;
    if (*p++ != '"') return Plain::kOther;
    const std::string_view value(valueStart, static_cast<std::size_t>(p - 1 - valueStart));
    if (name.size() == 1 && name[0] == 'r') cell.reference = value;
    else if (name.size() == 1 && name[0] == 's') cell.style = value;
    else if (name.size() == 1 && name[0] == 't') cell.type = value;
    else if (name.size() == 2 && name[1] == 'm' && (name[0] == 'c' || name[0] == 'v')) cell.hasMetadata = true;
    else if (!(name.size() == 2 && name[0] == 'p' && name[1] == 'h')) cell.otherAttributes = true;
  }
  if (end - p < 2) return Plain::kShort;
  if (p[0] == '/') {
    if (p[1] != '>') return Plain::kOther;
    p += 2;
    cell.raw = cell.startTag = std::string_view(at, static_cast<std::size_t>(p - at));
    cell.hasFormula = cell.hasValue = false;
    at = p;
    return Plain::kTaken;
  }
  if (*p++ != '>') return Plain::kOther;
  cell.startTag = std::string_view(at, static_cast<std::size_t>(p - at));
  if (const Plain read = ReadPlainChild(p, end, formulaOpen_, formulaClose_, cell.formula, cell.hasFormula);
      read != Plain::kTaken)
    return read;
  if (const Plain read = ReadPlainChild(p, end, valueOpen_, valueClose_, cell.value, cell.hasValue);
      read != Plain::kTaken)
    return read;
  if (const Match match = MatchTag(p, end, cellEnd_); match != Match::kYes)
    return match == Match::kNo ? Plain::kOther : Plain::kShort;
  p += cellEnd_.text.size();
  cell.raw = std::string_view(at, static_cast<std::size_t>(p - at));
  at = p;
  return Plain::kTaken;
}

// The plain cells read into out_: the bytes from run on that go on as written are copied at
// once, up to a cell the host rewrites or has read whole.
bool RowScanner::TakePlainCells(const char*& run) {
  for (std::size_t i = 0; i < plainCount_; ++i) {
    const PlainCell& cell = plainCells_[i];
    const Host::PlainFate fate = host_.TakePlainCell(cell);
    if (fate == Host::PlainFate::kAsWritten) continue;
    out_.append(run, static_cast<std::size_t>(cell.raw.data() - run));
    run = cell.raw.data() + cell.raw.size();
    if (fate == Host::PlainFate::kRewritten) {
      host_.WritePlainCell(cell, out_);
      continue;
    }
    std::size_t at = static_cast<std::size_t>(cell.raw.data() - text_.data());
    if (!ScanCell(at, at + cell.raw.size())) return false;
  }
  return true;
}

// The cells of one row [from, limit) into out_; false at anything of another shape.
bool RowScanner::ScanCells(std::size_t from, std::size_t limit) {
  std::size_t at = from;
  while (at < limit) {
    std::size_t next = at;
    while (next < limit && IsSpace(text_[next])) ++next;
    out_.append(text_, at, next - at);
    at = next;
    if (at == limit) break;
    if (!ScanCell(at, limit)) return false;
  }
  return true;
}

// One cell starting at `at`, which moves past it; false when it is of another shape.
bool RowScanner::ScanCell(std::size_t& at, std::size_t limit) {
  if (!StartsTag(at, cell_.name, limit)) return false;
  const std::size_t startEnd = TagEnd(at, limit);
  if (startEnd == std::string::npos) return false;
  const bool empty = text_[startEnd - 1] == '/';
  if (!ParseAttributes(at + 1 + cell_.name.size(), startEnd, cell_.attributes)) return false;
  cell_.Clear();
  std::size_t cursor = startEnd + 1;
  while (!empty) {
    while (cursor < limit && IsSpace(text_[cursor])) ++cursor;
    if (cursor >= limit) return false;
    if (HasAt(text_, cursor, cellEnd_.text)) {
      cursor += cellEnd_.text.size();
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
  cell_.raw.append(text_, at, cursor - at);
  const std::size_t written = out_.size();
  if (!host_.FinishCell(out_)) return false;
  host_.StylesIn(std::string_view(out_).substr(written));
  at = cursor;
  return true;
}

}  // namespace tabrend::spreadsheet
