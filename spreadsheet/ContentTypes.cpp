// The content-type part of an output.
#include "spreadsheet/ContentTypes.h"

#include "spreadsheet/OpenXml.h"
#include "spreadsheet/Text.h"
#include "spreadsheet/Xml.h"

namespace tabrend::spreadsheet {

std::string ExtensionOf(std::string_view part) {
  const auto slash = part.find_last_of('/');
  const auto dot = part.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return LowerAscii(part.substr(dot + 1));
}

void ContentTypes::Record(const std::string& part, const std::string& type) {
  const std::string extension = ExtensionOf(part);
  if (sourceDefaults_ != nullptr) {
    const auto found = sourceDefaults_->find(extension);
    if (found != sourceDefaults_->end() && found->second == type) {
      defaults_[extension] = type;
      return;
    }
  }
  overrides_[part] = type.empty() ? std::string(ooxml::type::kUnknown) : type;
}

std::string ContentTypes::Xml() const {
  std::map<std::string, std::string> defaults = defaults_;
  defaults["rels"] = ooxml::type::kRelationships;
  if (!defaults.count("xml")) defaults["xml"] = ooxml::type::kXml;
  std::string xml = ooxml::PartStart("Types", ooxml::kContentTypesNamespace);
  xml += ">";
  const auto entry = [&xml](const char* element, const char* key, std::string_view name, const std::string& type) {
    xml += element;
    xml += key;
    AppendEscapedAttribute(xml, name);
    xml += "\" ContentType=\"";
    AppendEscapedAttribute(xml, type);
    xml += "\"/>";
  };
  for (const auto& [extension, type] : defaults) entry("<Default", " Extension=\"", extension, type);
  for (const auto& [part, type] : overrides_) entry("<Override", " PartName=\"/", part, type);
  xml += "</Types>";
  return xml;
}

}  // namespace tabrend::spreadsheet
