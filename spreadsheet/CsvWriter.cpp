// A worksheet part streamed into CSV text, cell by cell, through the styles' number formats.
#include "spreadsheet/CsvWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <vector>

#include "core/Error.h"
#include "spreadsheet/ByteSink.h"
#include "spreadsheet/CellReference.h"
#include "spreadsheet/CellReader.h"
#include "spreadsheet/LossReport.h"
#include "spreadsheet/NumberFormat.h"
#include "spreadsheet/Package.h"
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

struct Cell {
  std::uint32_t row = 0, column = 0;
  std::size_t style = 0;
  std::string type, value;
  std::string arrayRange;  // the range of an array formula entered in this cell
  bool hasValue = false, hasFormula = false;

  // A value to show; false for a formula saved without its result.
  bool Shows() const { return hasValue && (!value.empty() || type == "str" || type == "inlineStr"); }
};

std::string ReferenceOf(std::uint32_t row, std::uint32_t column) {
  std::string letters;
  for (; column > 0; column = (column - 1) / 26) letters.insert(letters.begin(), static_cast<char>('A' + (column - 1) % 26));
  return letters + std::to_string(row);
}

// Streams a sheet part and calls onCell for every cell that holds a value or a formula (with
// everyCell, for every cell), and onSparkline with the place of every sparkline.
class Scanner : XmlReader::Handler {
 public:
  Scanner(const SourceWorkbook& source, std::size_t sheetIndex, std::function<void(const Cell&)> onCell,
          std::function<void(const std::string&)> onSparkline, bool everyCell = false)
      : source_(source), onCell_(std::move(onCell)), onSparkline_(std::move(onSparkline)), everyCell_(everyCell),
        xml_(*this, source.Label() + ": sheet '" + source.Sheets()[sheetIndex].name + "'",
             source.Sheets()[sheetIndex].part) {}

  void Scan() { xml_.Read(source_.Pkg()); }

 private:
  void OnStart(const XML_Char* name, const XML_Char** attributes) override {
    Scanner& s = *this;
    const std::string_view local = LocalName(name);
    if (s.inCell_) {
      ++s.depth_;
      if (local == "rPh") ++s.phonetic_;
      if (s.depth_ == 1 && local == "f") {
        s.cell_.hasFormula = true;
        bool array = false;
        for (int i = 0; attributes[i] != nullptr; i += 2) {
          if (std::strcmp(attributes[i], "t") == 0) array = std::strcmp(attributes[i + 1], "array") == 0;
          if (std::strcmp(attributes[i], "ref") == 0) s.cell_.arrayRange = attributes[i + 1];
        }
        if (!array) s.cell_.arrayRange.clear();
      }
      if ((s.depth_ == 1 && local == "v") || (local == "t" && s.phonetic_ == 0 && s.cell_.type == "inlineStr")) {
        s.collecting_ = true;
        s.cell_.hasValue = true;
      }
      return;
    }
    if (local == "row") {
      ++s.row_;
      for (int i = 0; attributes[i] != nullptr; i += 2)
        if (std::strcmp(attributes[i], "r") == 0) s.row_ = static_cast<std::uint32_t>(std::strtoul(attributes[i + 1], nullptr, 10));
      s.column_ = 0;
    } else if (local == "c") {
      s.inCell_ = true;
      s.depth_ = s.phonetic_ = 0;
      s.cell_.type.clear();
      s.cell_.value.clear();
      s.cell_.arrayRange.clear();
      s.cell_.style = 0;
      s.cell_.hasValue = s.cell_.hasFormula = false;
      ++s.column_;
      for (int i = 0; attributes[i] != nullptr; i += 2) {
        const char* key = attributes[i];
        const char* value = attributes[i + 1];
        if (std::strcmp(key, "t") == 0) {
          s.cell_.type = value;
        } else if (std::strcmp(key, "s") == 0) {
          s.cell_.style = std::strtoul(value, nullptr, 10);
        } else if (std::strcmp(key, "r") == 0) {
          std::uint32_t column = 0;
          const char* c = value + ReadColumn(value, column);
          if (column > 0) s.column_ = column;
          if (std::isdigit(static_cast<unsigned char>(*c))) s.row_ = static_cast<std::uint32_t>(std::strtoul(c, nullptr, 10));
        }
      }
    } else if (local == "sparkline") {
      s.inSparkline_ = true;
    } else if (local == "sqref" && s.inSparkline_) {
      s.collecting_ = true;
      s.sqref_.clear();
    }
  }

  void OnEnd(const XML_Char* name) override {
    Scanner& s = *this;
    s.collecting_ = false;
    if (!s.inCell_) {
      const std::string_view local = LocalName(name);
      if (local == "sparkline") s.inSparkline_ = false;
      else if (local == "sqref" && s.inSparkline_) s.onSparkline_(s.sqref_);
      return;
    }
    if (s.depth_-- > 0) {
      if (LocalName(name) == "rPh") --s.phonetic_;
      return;
    }
    s.inCell_ = false;
    if (!s.cell_.Shows() && !s.cell_.hasFormula && !s.everyCell_) return;
    s.cell_.row = s.row_;
    s.cell_.column = s.column_;
    s.onCell_(s.cell_);
  }

  void OnText(const XML_Char* text, int length) override {
    Scanner& s = *this;
    if (s.collecting_) (s.inCell_ ? s.cell_.value : s.sqref_).append(text, static_cast<std::size_t>(length));
  }

  const SourceWorkbook& source_;
  std::function<void(const Cell&)> onCell_;
  std::function<void(const std::string&)> onSparkline_;
  bool everyCell_;
  XmlReader xml_;
  Cell cell_;
  std::string sqref_;
  std::uint32_t row_ = 0, column_ = 0;
  int depth_ = 0, phonetic_ = 0;
  bool inCell_ = false, collecting_ = false, inSparkline_ = false;
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

// The text of shared string `index`. Most items are one plain run, "<si><t>text</t></si>",
// read here without a parser; anything else (runs, phonetics, prefixes) goes through one.
std::string StringText(const SourceWorkbook& source, std::size_t index) {
  const auto& items = source.Strings().items;
  if (index >= items.size()) return {};
  const std::optional<std::string_view> plain = items.PlainText(index);
  std::string text = plain && plain->find_first_of("&\r") == std::string_view::npos ? std::string(*plain)
                                                                                     : SharedStringText(items[index]);
  DecodeEscapes(text);
  return text;
}

// What a cell shows; text is a string cell's text when the caller has it already.
std::string CellText(CellFormats& formats, const Cell& cell, std::string text = {}) {
  const NumberFormat* format = formats.Of(cell.style);
  const std::string& t = cell.type;
  if (t == "s" || t == "inlineStr") return format ? format->FormatText(text) : text;
  if (t == "str") return format ? format->FormatText(cell.value) : cell.value;
  if (t == "b") {
    // A number format other than General shows the truth as the number it is.
    const bool truth = cell.value == "1" || cell.value == "true";
    if (format) return format->Format(truth ? 1 : 0, formats.Date1904());
    return truth ? "TRUE" : "FALSE";
  }
  if (t == "e" || t == "d") return cell.value;
  // from_chars reads the plain numbers cells hold; strtod the rest ("+1", " 1", "0x1A").
  double number = 0;
  const char* begin = cell.value.data();
  const char* last = begin + cell.value.size();
  const auto read = std::from_chars(begin, last, number);
  if (read.ec != std::errc() || read.ptr != last) {
    char* end = nullptr;
    number = std::strtod(cell.value.c_str(), &end);
    if (end == cell.value.c_str()) return cell.value;
  }
  return format ? format->Format(number, formats.Date1904()) : FormatGeneral(number);
}

// Collects output and hands it to the sink in large pieces.
class Buffered {
 public:
  explicit Buffered(const CsvSink& sink) : sink_(sink) { buffer_.reserve(kSize + 4096); }
  ~Buffered() = default;
  void Put(std::string_view text) {
    buffer_ += text;
    if (buffer_.size() >= kSize) Flush();
  }
  void Flush() {
    if (!buffer_.empty()) sink_(buffer_);
    buffer_.clear();
  }

 private:
  static constexpr std::size_t kSize = 1 << 16;
  const CsvSink& sink_;
  std::string buffer_;
};

void AppendCsvField(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
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

// The rows of a sheet as its scan finds them, before the area's width is known: each row with
// its fields up to its last one that holds text. They stay in memory up to kInMemory bytes and
// go on to an unnamed temporary file beyond that, so memory stays flat whatever the sheet's size.
class RowSpool {
 public:
  RowSpool() = default;
  ~RowSpool() {
    if (file_ != nullptr) std::fclose(file_);
  }
  RowSpool(const RowSpool&) = delete;
  RowSpool& operator=(const RowSpool&) = delete;

  // Keeps row `row` made of the first `count` of fields.
  void Add(std::uint32_t row, const std::vector<std::string>& fields, std::uint32_t count) {
    const std::size_t header = buffer_.size();
    buffer_.resize(header + (2 + count) * sizeof(std::uint32_t));
    std::uint32_t end = 0;
    auto put = [&](std::size_t slot, std::uint32_t value) {
      std::memcpy(buffer_.data() + header + slot * sizeof value, &value, sizeof value);
    };
    put(0, row);
    put(1, count);
    for (std::uint32_t c = 0; c < count; ++c) {
      buffer_ += fields[c];
      end += static_cast<std::uint32_t>(fields[c].size());
      put(2 + c, end);
    }
    if (buffer_.size() >= kInMemory) Spill();
  }

  // Calls onRow(row, ends, count, body) for every row in order: field c of body ends at ends[c].
  void ForEach(const std::function<void(std::uint32_t, const std::uint32_t*, std::uint32_t, std::string_view)>& onRow) {
    if (file_ != nullptr) {
      Spill();
      std::rewind(file_);
      std::string record;
      std::uint32_t head[2];
      while (std::fread(head, sizeof head, 1, file_) == 1) {
        record.resize(head[1] * sizeof(std::uint32_t));
        ReadBack(record.data(), record.size());
        std::vector<std::uint32_t> ends(head[1]);
        std::memcpy(ends.data(), record.data(), record.size());
        record.resize(head[1] ? ends.back() : 0);
        ReadBack(record.data(), record.size());
        onRow(head[0], ends.data(), head[1], record);
      }
      return;
    }
    std::vector<std::uint32_t> ends;
    for (std::size_t at = 0; at < buffer_.size();) {
      std::uint32_t head[2];
      std::memcpy(head, buffer_.data() + at, sizeof head);
      at += sizeof head;
      ends.resize(head[1]);
      std::memcpy(ends.data(), buffer_.data() + at, head[1] * sizeof(std::uint32_t));
      at += head[1] * sizeof(std::uint32_t);
      const std::size_t length = head[1] ? ends.back() : 0;
      onRow(head[0], ends.data(), head[1], std::string_view(buffer_).substr(at, length));
      at += length;
    }
  }

 private:
  static constexpr std::size_t kInMemory = std::size_t{16} << 20;

  void Spill() {
    if (file_ == nullptr) file_ = UnnamedTemporaryFile("the CSV text of a large sheet");
    if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size())
      Fail(ErrorReason::kNotWritten,
           std::string("the CSV text of a large sheet cannot be kept in a temporary file: ") + std::strerror(errno));
    buffer_.clear();
  }

  void ReadBack(char* data, std::size_t size) {
    if (size > 0 && std::fread(data, 1, size, file_) != size)
      Fail(ErrorReason::kNotWritten,
           std::string("the CSV text of a large sheet cannot be read back from its temporary file: ") +
               std::strerror(errno));
  }

  std::string buffer_;
  std::FILE* file_ = nullptr;
};

using Position = std::pair<std::uint32_t, std::uint32_t>;  // row, column from 1

// The cells of a sheet, each as it shows, laid out in rows into a RowSpool, with the area that
// holds values. With calculated, the cells it holds show those results instead.
class SheetRows {
 public:
  SheetRows(const SourceWorkbook& source, std::size_t sheetIndex, const std::map<Position, CellResult>* calculated)
      : source_(source), formats_(source), calculated_(calculated), placeholders_(source.ResultsArePlaceholders()) {
    if (calculated_ != nullptr) next_ = calculated_->begin();
    Scanner(
        source, sheetIndex, [this](const Cell& cell) { OnCell(cell); },
        [this](const std::string& sqref) { area.TakeList(sqref); }, calculated_ != nullptr)
        .Scan();
    StartRow(std::numeric_limits<std::uint32_t>::max());
  }

  RowSpool rows;
  Area area;
  // The cells whose results the sheet does not hold (formulas saved without results, or with
  // placeholders, and the rest of their arrays' ranges), and for each the placeholder it shows
  // meanwhile, if any.
  std::vector<std::string> unsaved;
  std::vector<std::optional<std::string>> placeholders;

 private:
  void OnCell(const Cell& cell) {
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
    std::string text;
    if (cell.type == "s") {
      text = StringText(source_, std::strtoul(cell.value.c_str(), nullptr, 10));
    } else if (cell.type == "inlineStr") {
      text = cell.value;
      DecodeEscapes(text);
    }
    // A string cell whose text is empty stands outside the area, as in LibreOffice.
    if (!((cell.type == "s" || cell.type == "inlineStr") && text.empty())) area.Take(cell.row, cell.column);
    Put(cell.column, CellText(formats_, cell, std::move(text)));
  }

  void Unsaved(const Cell& cell) {
    AddUnsavedCells(cell);
    placeholders.resize(unsaved.size(), cell.Shows() ? std::optional<std::string>(cell.value) : std::nullopt);
  }

  void AddUnsavedCells(const Cell& cell) {
    unsaved.push_back(ReferenceOf(cell.row, cell.column));
    // The other cells of an array formula's range hold no formula of their own.
    std::uint32_t firstColumn = 0, lastColumn = 0;
    const std::string& range = cell.arrayRange;
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
    result.type = found.type == "n" ? "" : found.type;
    result.value = found.value;
    result.hasValue = true;
    Put(cell.column, CellText(formats_, result));
  }

  void Put(std::uint32_t column, std::string text) {
    if (column > fields_.size()) {
      fields_.resize(column);
      taken_.resize(column);
    }
    width_ = std::max(width_, column);
    std::string& field = fields_[column - 1];
    field.clear();
    AppendCsvField(field, text);
    taken_[column - 1] = true;
    if (!field.empty()) count_ = std::max(count_, column);
    else if (column == count_)
      while (count_ > 0 && fields_[count_ - 1].empty()) --count_;
  }

  // Ends the row being laid out and every row of calculated results before `row`.
  void StartRow(std::uint32_t row) {
    for (;;) {
      // The results for cells the part does not hold (the rest of an array's range).
      while (calculated_ != nullptr && next_ != calculated_->end() && next_->first.first <= row_) {
        const auto [r, column] = next_->first;
        if (r == row_ && (column > taken_.size() || !taken_[column - 1])) {
          Cell cell;
          cell.row = r;
          cell.column = column;
          Calculated(cell, next_->second);
        }
        ++next_;
      }
      if (count_ > 0) rows.Add(row_, fields_, count_);
      for (std::size_t c = 0; c < width_; ++c) fields_[c].clear(), taken_[c] = false;
      count_ = width_ = 0;
      if (calculated_ == nullptr || next_ == calculated_->end() || next_->first.first >= row) break;
      row_ = next_->first.first;
    }
    row_ = row;
  }

  static constexpr std::uint64_t kArrayCells = 1 << 16;

  const SourceWorkbook& source_;
  CellFormats formats_;
  const std::map<Position, CellResult>* calculated_;
  const bool placeholders_;
  std::map<Position, CellResult>::const_iterator next_;
  std::vector<std::string> fields_;
  std::vector<char> taken_;
  std::uint32_t row_ = 1;
  std::uint32_t count_ = 0, width_ = 0;  // the last field with text, the last one set
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

// The rows of area, each padded to its width.
void WriteRows(RowSpool& rows, const Area& area, Buffered& out) {
  const std::uint32_t lastRow = area.lastRow, lastColumn = area.lastColumn;
  const std::string commas(lastColumn - 1, ',');
  std::uint32_t next = 1;  // the first row not written yet
  rows.ForEach([&](std::uint32_t row, const std::uint32_t* ends, std::uint32_t count, std::string_view body) {
    if (row > lastRow) return;
    for (; next < row; ++next) {
      out.Put(commas);
      out.Put("\r\n");
    }
    const std::uint32_t fields = std::min(count, lastColumn);
    for (std::uint32_t c = 0, start = 0; c < fields; start = ends[c++]) {
      if (c > 0) out.Put(",");
      out.Put(body.substr(start, ends[c] - start));
    }
    out.Put(std::string_view(commas).substr(0, lastColumn - fields));
    out.Put("\r\n");
    next = row + 1;
  });
  for (; next <= lastRow; ++next) {
    out.Put(commas);
    out.Put("\r\n");
  }
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
  Buffered out(sink);
  if (area.lastRow == 0) out.Put("\r\n");  // an empty sheet is one empty line
  else WriteRows(again ? again->rows : sheet.rows, area, out);
  out.Flush();
  std::vector<std::string> lines;
  for (const auto& [what, count] : losses) lines.push_back(std::to_string(count) + " " + what);
  return lines;
}

namespace {

// Builds the file beside path through produce, then renames it into place.
void WriteInOneStep(const std::string& path, const std::function<void(const CsvSink&)>& produce) {
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string label = "'" + (slash == std::string::npos ? path : path.substr(slash + 1)) + "'";
  std::string scratch = folder + "/.tabrend-csv-XXXXXX";
  const int fd = ::mkstemp(scratch.data());
  if (fd < 0) Fail(ErrorReason::kNotWritten, label + " cannot be saved: " + std::strerror(errno));
  ::fchmod(fd, 0644);  // as a workbook's save leaves it; a split sets the source's mode after
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    ::close(fd);
    ::unlink(scratch.c_str());
    Fail(ErrorReason::kNotWritten, label + " cannot be saved: " + std::strerror(errno));
  }
  bool failed = false;
  try {
    produce([&](std::string_view text) {
      if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) failed = true;
    });
  } catch (...) {
    std::fclose(file);
    ::unlink(scratch.c_str());
    throw;
  }
  if (std::fclose(file) != 0) failed = true;
  if (failed || ::rename(scratch.c_str(), path.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(scratch.c_str());
    Fail(ErrorReason::kNotWritten, label + " cannot be saved: " + why);
  }
}

}  // namespace

std::vector<std::string> WriteCsvFile(const SourceWorkbook& source, std::size_t sheetIndex, const std::string& path) {
  std::vector<std::string> losses;
  WriteInOneStep(path, [&](const CsvSink& sink) { losses = WriteCsv(source, sheetIndex, sink); });
  return losses;
}

void WriteBlankCsvFile(const std::string& path) {
  WriteInOneStep(path, [](const CsvSink& sink) { sink("\r\n"); });
}

}  // namespace tabrend::spreadsheet
