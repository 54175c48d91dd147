// A worksheet part streamed into CSV text, cell by cell, through the styles' number formats.
#include "spreadsheet/CsvWriter.h"

#include <expat.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "spreadsheet/CellReference.h"
#include "spreadsheet/CellReader.h"
#include "spreadsheet/Error.h"
#include "spreadsheet/NumberFormat.h"
#include "spreadsheet/Package.h"
#include "spreadsheet/Xml.h"

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
  bool hasValue = false, hasFormula = false;

  // A value to show; false for a formula saved without its result.
  bool Shows() const { return hasValue && (!value.empty() || type == "str" || type == "inlineStr"); }
};

std::string ReferenceOf(std::uint32_t row, std::uint32_t column) {
  std::string letters;
  for (; column > 0; column = (column - 1) / 26) letters.insert(letters.begin(), static_cast<char>('A' + (column - 1) % 26));
  return letters + std::to_string(row);
}

// Streams a sheet part and calls onCell for every cell that holds a value or a formula.
class Scanner {
 public:
  Scanner(const SourceWorkbook& source, std::size_t sheetIndex, std::function<void(const Cell&)> onCell)
      : source_(source), sheetIndex_(sheetIndex), onCell_(std::move(onCell)), parser_(XML_ParserCreate(nullptr)) {
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &Scanner::OnStart, &Scanner::OnEnd);
    XML_SetCharacterDataHandler(parser_, &Scanner::OnText);
    XML_SetStartDoctypeDeclHandler(parser_, &Scanner::OnDoctype);
  }
  ~Scanner() { XML_ParserFree(parser_); }
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  void Scan() {
    const SourceSheet& sheet = source_.Sheets()[sheetIndex_];
    const std::string where = source_.Label() + ": sheet '" + sheet.name + "': part " + sheet.part;
    source_.Pkg().Zip().Stream(source_.Pkg().IndexOf(sheet.part), [&](const char* data, std::size_t length) {
      if (XML_Parse(parser_, data, static_cast<int>(length), XML_FALSE) == XML_STATUS_ERROR || refused_)
        Fail(where + (refused_ ? " is refused: it declares a document type" : " is not well-formed XML"));
    });
    if (XML_Parse(parser_, nullptr, 0, XML_TRUE) == XML_STATUS_ERROR) Fail(where + " is not well-formed XML");
  }

 private:
  static void XMLCALL OnDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    auto& scanner = *static_cast<Scanner*>(self);
    scanner.refused_ = true;
    XML_StopParser(scanner.parser_, XML_FALSE);
  }

  static void XMLCALL OnStart(void* self, const XML_Char* name, const XML_Char** attributes) {
    auto& s = *static_cast<Scanner*>(self);
    const std::string_view local = LocalName(name);
    if (s.inCell_) {
      ++s.depth_;
      if (local == "rPh") ++s.phonetic_;
      if (s.depth_ == 1 && local == "f") s.cell_.hasFormula = true;
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
    }
  }

  static void XMLCALL OnEnd(void* self, const XML_Char* name) {
    auto& s = *static_cast<Scanner*>(self);
    if (!s.inCell_) return;
    s.collecting_ = false;
    if (s.depth_-- > 0) {
      if (LocalName(name) == "rPh") --s.phonetic_;
      return;
    }
    s.inCell_ = false;
    if (!s.cell_.Shows() && !s.cell_.hasFormula) return;
    s.cell_.row = s.row_;
    s.cell_.column = s.column_;
    s.onCell_(s.cell_);
  }

  static void XMLCALL OnText(void* self, const XML_Char* text, int length) {
    auto& s = *static_cast<Scanner*>(self);
    if (s.collecting_) s.cell_.value.append(text, static_cast<std::size_t>(length));
  }

  const SourceWorkbook& source_;
  std::size_t sheetIndex_;
  std::function<void(const Cell&)> onCell_;
  XML_Parser parser_;
  Cell cell_;
  std::uint32_t row_ = 0, column_ = 0;
  int depth_ = 0, phonetic_ = 0;
  bool inCell_ = false, collecting_ = false, refused_ = false;
};

// The text of shared string `index`. Most items are one plain run, "<si><t>text</t></si>",
// read here without a parser; anything else (runs, phonetics, prefixes) goes through one.
std::string StringText(const SourceWorkbook& source, std::size_t index) {
  const auto& items = source.Strings().items;
  if (index >= items.size()) return {};
  const std::string_view item = items[index];
  for (const std::string_view open : {std::string_view("<si><t>"), std::string_view("<si><t xml:space=\"preserve\">")}) {
    constexpr std::string_view kClose = "</t></si>";
    if (item.size() < open.size() + kClose.size() || item.substr(0, open.size()) != open ||
        item.substr(item.size() - kClose.size()) != kClose)
      continue;
    const std::string_view body = item.substr(open.size(), item.size() - open.size() - kClose.size());
    if (body.find_first_of("<&\r") != std::string_view::npos) break;
    return std::string(body);
  }
  return SharedStringText(std::string(item));
}

// A string cell whose text is empty stands outside the rectangle, as in LibreOffice.
bool EmptyString(const SourceWorkbook& source, const Cell& cell) {
  if (cell.type == "inlineStr") return cell.value.empty();
  if (cell.type != "s") return false;
  return StringText(source, std::strtoul(cell.value.c_str(), nullptr, 10)).empty();
}

// What a cell shows.
std::string CellText(const SourceWorkbook& source, CellFormats& formats, const Cell& cell) {
  const NumberFormat* format = formats.Of(cell.style);
  const std::string& t = cell.type;
  if (t == "s") {
    std::string text = StringText(source, std::strtoul(cell.value.c_str(), nullptr, 10));
    return format ? format->FormatText(text) : text;
  }
  if (t == "str" || t == "inlineStr") return format ? format->FormatText(cell.value) : cell.value;
  if (t == "b") {
    // A number format other than General shows the truth as the number it is.
    const bool truth = cell.value == "1" || cell.value == "true";
    if (format) return format->Format(truth ? 1 : 0, formats.Date1904());
    return truth ? "TRUE" : "FALSE";
  }
  if (t == "e" || t == "d") return cell.value;
  char* end = nullptr;
  const double number = std::strtod(cell.value.c_str(), &end);
  if (end == cell.value.c_str()) return cell.value;
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

}  // namespace

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
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
  void Take(const std::string& reference) {
    std::uint32_t column = 0;
    const std::size_t letters = ReadColumn(reference, column);
    if (letters == 0 || letters == reference.size()) return;
    Take(static_cast<std::uint32_t>(std::strtoul(reference.c_str() + letters, nullptr, 10)), column);
  }
};

// The area of the cells with values, and in unsaved the formulas saved without results.
Area ValueArea(const SourceWorkbook& source, std::size_t sheetIndex, std::vector<std::string>& unsaved) {
  Area area;
  Scanner(source, sheetIndex, [&](const Cell& cell) {
    if (!cell.Shows()) {
      unsaved.push_back(ReferenceOf(cell.row, cell.column));
      return;
    }
    if (EmptyString(source, cell)) return;
    area.Take(cell.row, cell.column);
  }).Scan();
  return area;
}

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

// The formulas saved without results show what the calculator (LibreOffice, when the
// workbook was opened with one) makes of them; without one they stay empty.
std::map<std::string, CellResult> Calculated(const SourceWorkbook& source, std::size_t sheetIndex,
                                             const std::vector<std::string>& unsaved, Area& area) {
  std::map<std::string, CellResult> calculated;
  if (unsaved.empty() || source.Calculator() == nullptr) return calculated;
  calculated = source.Calculator()->Calculate(source, sheetIndex, unsaved).cells;
  for (const auto& [reference, result] : calculated)
    if (!result.value.empty() || result.type == "str") area.Take(reference);
  return calculated;
}

// The rows of area, each cell as the sheet shows it.
void WriteRows(const SourceWorkbook& source, std::size_t sheetIndex, const Area& area,
               const std::map<std::string, CellResult>& calculated, Buffered& out) {
  const std::uint32_t lastRow = area.lastRow, lastColumn = area.lastColumn;
  CellFormats formats(source);
  std::vector<std::string> fields(lastColumn);
  std::uint32_t row = 1;  // the row the fields belong to
  auto emitRow = [&] {
    for (std::uint32_t c = 0; c < lastColumn; ++c) {
      if (c > 0) out.Put(",");
      out.Put(fields[c]);
      fields[c].clear();
    }
    out.Put("\r\n");
  };
  auto emptyRow = [&] {
    out.Put(std::string(lastColumn - 1, ','));
    out.Put("\r\n");
  };
  Scanner(source, sheetIndex, [&](const Cell& cell) {
    if (cell.row > lastRow || cell.column == 0 || cell.column > lastColumn || cell.row < row) return;
    if (cell.row > row) {
      emitRow();
      for (++row; row < cell.row; ++row) emptyRow();
    }
    if (cell.Shows()) {
      fields[cell.column - 1] = CsvField(CellText(source, formats, cell));
      return;
    }
    const auto found = calculated.find(ReferenceOf(cell.row, cell.column));
    if (found == calculated.end()) return;
    Cell result = cell;
    result.type = found->second.type == "n" ? "" : found->second.type;
    result.value = found->second.value;
    result.hasValue = true;
    fields[cell.column - 1] = CsvField(CellText(source, formats, result));
  }).Scan();
  emitRow();
  for (++row; row <= lastRow; ++row) emptyRow();
}

}  // namespace

void WriteCsv(const SourceWorkbook& source, std::size_t sheetIndex, const CsvSink& sink) {
  if (sheetIndex >= source.Sheets().size() || source.Sheets()[sheetIndex].part.empty())
    Fail(source.Label() + ": sheet " + std::to_string(sheetIndex + 1) + " has no worksheet part");
  std::vector<std::string> unsaved;
  Area area = ValueArea(source, sheetIndex, unsaved);
  TakeNotes(source, sheetIndex, area);
  const std::map<std::string, CellResult> calculated = Calculated(source, sheetIndex, unsaved, area);
  Buffered out(sink);
  if (area.lastRow == 0) out.Put("\r\n");  // an empty sheet is one empty line
  else WriteRows(source, sheetIndex, area, calculated, out);
  out.Flush();
}

namespace {

// Builds the file beside path through produce, then renames it into place.
void WriteInOneStep(const std::string& path, const std::function<void(const CsvSink&)>& produce) {
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string label = "'" + (slash == std::string::npos ? path : path.substr(slash + 1)) + "'";
  std::string scratch = folder + "/.tabrend-csv-XXXXXX";
  const int fd = ::mkstemp(scratch.data());
  if (fd < 0) Fail(label + " cannot be saved: " + std::strerror(errno));
  ::fchmod(fd, 0644);  // as a workbook's save leaves it; a split sets the source's mode after
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    ::close(fd);
    ::unlink(scratch.c_str());
    Fail(label + " cannot be saved: " + std::strerror(errno));
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
    Fail(label + " cannot be saved: " + why);
  }
}

}  // namespace

void WriteCsvFile(const SourceWorkbook& source, std::size_t sheetIndex, const std::string& path) {
  WriteInOneStep(path, [&](const CsvSink& sink) { WriteCsv(source, sheetIndex, sink); });
}

void WriteBlankCsvFile(const std::string& path) {
  WriteInOneStep(path, [](const CsvSink& sink) { sink("\r\n"); });
}

}  // namespace tabrend::spreadsheet
