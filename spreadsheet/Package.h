// The package layer: parts, their content types and their relationships. Parts are always
// found through relationships, never by file name, and relative targets are resolved
// against the part that holds them.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/Zip.h"

namespace tabrend::spreadsheet {

struct Relationship {
  std::string id;
  std::string type;        // full type URI
  std::string target;      // as written
  bool external = false;
  std::string targetPart;  // resolved part name (no leading "/"), for internal targets
};

// The last segment of a relationship type ("worksheet", "drawing", ...), the same in the
// transitional and strict namespaces.
std::string_view RelationshipKind(std::string_view type);

// "xl/worksheets/sheet1.xml" -> "xl/worksheets/_rels/sheet1.xml.rels"; "" -> "_rels/.rels".
std::string RelationshipsPartOf(std::string_view part);
// Resolves target, written in sourcePart's relationships, to a part name.
std::string ResolvePartName(std::string_view sourcePart, std::string_view target);
// The relative target that reaches toPart from fromPart's relationships.
std::string RelativeTarget(std::string_view fromPart, std::string_view toPart);

// A package opened read-only.
class Package {
 public:
  explicit Package(const std::string& path);

  const std::string& Path() const { return path_; }
  const std::string& Label() const { return zip_.Label(); }
  const ZipReader& Zip() const { return zip_; }

  bool Has(std::string_view part) const { return zip_.Find(part).has_value(); }
  // The whole part; throws "<label> is damaged: part P is missing" when absent.
  std::string Read(std::string_view part) const;
  std::uint64_t IndexOf(std::string_view part) const;
  std::string ContentType(std::string_view part) const;
  // Relationships held by part ("" for the package's own); empty when it has none.
  const std::vector<Relationship>& RelationshipsOf(std::string_view part) const;
  const std::map<std::string, std::string>& DefaultContentTypes() const { return defaults_; }

 private:
  std::string path_;
  ZipReader zip_;
  std::map<std::string, std::string> defaults_;   // extension (lower case) -> type
  std::map<std::string, std::string> overrides_;  // lower-case part name -> type
  mutable std::map<std::string, std::vector<Relationship>> relationships_;
};

}  // namespace tabrend::spreadsheet
