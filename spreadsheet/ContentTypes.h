// The content-type part of an output ("[Content_Types].xml"): a default by file extension
// where the source declared the same type as its default, an override for each other part.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace tabrend::spreadsheet {

// "xl/media/image1.PNG" -> "png"; "" for a name without an extension.
std::string ExtensionOf(std::string_view part);

class ContentTypes {
 public:
  // sourceDefaults: the source's defaults by lower-case extension; nullptr for none.
  explicit ContentTypes(const std::map<std::string, std::string>* sourceDefaults = nullptr)
      : sourceDefaults_(sourceDefaults) {}
  // A carried part: declared by the source's default for its extension when that names the
  // same type, else by an override (an unknown type as application/octet-stream).
  void Record(const std::string& part, const std::string& type);
  // A part the output makes itself.
  void Override(const std::string& part, std::string_view type) { overrides_[part] = std::string(type); }
  // The whole part, with the defaults every package has (relationships, plain XML).
  std::string Xml() const;

 private:
  const std::map<std::string, std::string>* sourceDefaults_;
  std::map<std::string, std::string> defaults_, overrides_;
};

}  // namespace tabrend::spreadsheet
