// The output's shared-string table.
#include "spreadsheet/OutputStrings.h"

#include <stdexcept>

#include "core/Error.h"
#include "spreadsheet/OpenXml.h"
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
  items_.push_back(kAddedText | static_cast<std::uint32_t>(addedTexts_.size()));
  addedTexts_.push_back(std::move(item));
  byText_.emplace(text, added);
  return added;
}

void OutputStrings::WriteXml(ByteSink& out) const {
  const auto fail = [] {
    Fail(ErrorReason::kNotWritten,
         "the shared strings of the copy could not be written to a temporary file (is the temporary folder full?)");
  };
  std::string xml(ooxml::kXmlDeclaration);
  xml += "<sst";
  const std::string declared = source_ != nullptr ? source_->rootAttributes : std::string();
  if (declared.find("xmlns=") == std::string::npos) {
    xml += " xmlns=\"";
    xml += ooxml::kMainNamespace;
    xml += "\"";
  }
  xml += declared + " count=\"" + std::to_string(references_) + "\" uniqueCount=\"" +
         std::to_string(items_.size()) + "\">";
  for (const std::uint32_t item : items_) {
    if ((item & kAddedText) != 0) xml += addedTexts_[item & ~kAddedText];
    else source_->items.AppendTo(item, xml);
    if (xml.size() >= kFlushBytes) {
      if (!out.Write(xml)) fail();
      xml.clear();
    }
  }
  xml += "</sst>";
  if (!out.Write(xml) || !out.Finish()) fail();
}

}  // namespace tabrend::spreadsheet
