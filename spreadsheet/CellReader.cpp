// A light streaming reader of cell values within a range.
#include "spreadsheet/CellReader.h"

#include <expat.h>
#include <pugixml.hpp>

#include <cstring>

#include "spreadsheet/Error.h"
#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

std::string SharedStringText(const std::string& rawItem) {
  pugi::xml_document document;
  if (!document.load_buffer(rawItem.data(), rawItem.size())) return {};
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

class RangeReader {
 public:
  RangeReader(const SourceWorkbook& source, const SheetRange& range)
      : source_(source), range_(range),
        texts_(static_cast<std::size_t>(range.lastRow - range.firstRow + 1) * (range.lastColumn - range.firstColumn + 1)),
        parser_(XML_ParserCreate(nullptr)) {
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &RangeReader::OnStart, &RangeReader::OnEnd);
    XML_SetCharacterDataHandler(parser_, &RangeReader::OnText);
    XML_SetStartDoctypeDeclHandler(parser_, &RangeReader::OnDoctype);
  }
  ~RangeReader() { XML_ParserFree(parser_); }

  std::vector<std::string> Read(const std::string& part) {
    struct PastTheRange {};
    try {
      source_.Pkg().Zip().Stream(source_.Pkg().IndexOf(part), [&](const char* data, std::size_t length) {
        const XML_Status status = XML_Parse(parser_, data, static_cast<int>(length), XML_FALSE);
        if (finished_) throw PastTheRange{};  // the rest of the part is not needed
        if (status == XML_STATUS_ERROR) Fail(source_.Label() + ": part " + part + " is not well-formed XML");
      });
    } catch (const PastTheRange&) {
    }
    return texts_;
  }

 private:
  static void XMLCALL OnDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    XML_StopParser(static_cast<RangeReader*>(self)->parser_, XML_FALSE);
  }

  static void XMLCALL OnStart(void* self, const XML_Char* name, const XML_Char** attributes) {
    auto& reader = *static_cast<RangeReader*>(self);
    const std::string_view local = LocalName(name);
    if (local == "row") {
      ++reader.row_;
      for (int i = 0; attributes[i] != nullptr; i += 2)
        if (std::strcmp(attributes[i], "r") == 0) reader.row_ = static_cast<std::uint32_t>(std::strtoul(attributes[i + 1], nullptr, 10));
      reader.column_ = 0;
      if (reader.row_ > reader.range_.lastRow) {
        reader.finished_ = true;
        XML_StopParser(reader.parser_, XML_FALSE);
      }
    } else if (local == "c") {
      ++reader.column_;
      reader.type_.clear();
      for (int i = 0; attributes[i] != nullptr; i += 2) {
        if (std::strcmp(attributes[i], "t") == 0) reader.type_ = attributes[i + 1];
        if (std::strcmp(attributes[i], "r") == 0) {
          std::uint32_t column = 0;
          for (const char* c = attributes[i + 1]; *c != '\0' && std::isalpha(static_cast<unsigned char>(*c)); ++c)
            column = column * 26 + static_cast<std::uint32_t>(std::toupper(static_cast<unsigned char>(*c)) - 'A' + 1);
          reader.column_ = column;
        }
      }
      reader.value_.clear();
    } else if (local == "v" || (local == "t" && reader.type_ == "inlineStr")) {
      reader.collecting_ = true;
    }
  }

  static void XMLCALL OnEnd(void* self, const XML_Char* name) {
    auto& reader = *static_cast<RangeReader*>(self);
    const std::string_view local = LocalName(name);
    if (local == "v" || local == "t") reader.collecting_ = false;
    if (local != "c") return;
    const SheetRange& range = reader.range_;
    if (reader.row_ < range.firstRow || reader.column_ < range.firstColumn || reader.column_ > range.lastColumn) return;
    std::string text = reader.value_;
    if (reader.type_ == "s") {
      const auto& items = reader.source_.Strings().items;
      const auto index = std::strtoul(text.c_str(), nullptr, 10);
      text = index < items.size() ? SharedStringText(std::string(items[index])) : std::string();
    } else if (reader.type_ == "b") {
      text = text == "1" ? "TRUE" : "FALSE";
    }
    reader.texts_[static_cast<std::size_t>(reader.row_ - range.firstRow) * (range.lastColumn - range.firstColumn + 1) +
                  (reader.column_ - range.firstColumn)] = std::move(text);
  }

  static void XMLCALL OnText(void* self, const XML_Char* text, int length) {
    auto& reader = *static_cast<RangeReader*>(self);
    if (reader.collecting_) reader.value_.append(text, static_cast<std::size_t>(length));
  }

  const SourceWorkbook& source_;
  const SheetRange& range_;
  std::vector<std::string> texts_;
  XML_Parser parser_;
  std::uint32_t row_ = 0, column_ = 0;
  std::string type_, value_;
  bool collecting_ = false;
  bool finished_ = false;
};

}  // namespace

std::vector<std::string> ReadCellTexts(const SourceWorkbook& source, std::size_t sheetIndex, const SheetRange& range) {
  // A range larger than any list or rule needs is not read at all.
  if (static_cast<std::uint64_t>(range.lastRow - range.firstRow + 1) * (range.lastColumn - range.firstColumn + 1) > 4096)
    return {};
  return RangeReader(source, range).Read(source.Sheets()[sheetIndex].part);
}

}  // namespace tabrend::spreadsheet
