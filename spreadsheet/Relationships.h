// The relationship parts of an output ("_rels/.rels", "xl/_rels/workbook.xml.rels", one
// beside each carried part that has relationships).
//
//   RelationshipsXml({{"rId1", ooxml::RelationshipType("worksheet"), "worksheets/sheet1.xml"}})
//   -> "<?xml ...?>\r\n<Relationships xmlns=...><Relationship Id="rId1" Type=... Target=.../></Relationships>"
#pragma once

#include <string>
#include <vector>

namespace tabrend::spreadsheet {

// One relationship as the output writes it.
struct OutputRelationship {
  std::string id, type, target;  // target: relative to the part that holds it, or a URI
  bool external = false;         // TargetMode="External"
};

// The whole relationship part, attributes escaped, in the order given.
std::string RelationshipsXml(const std::vector<OutputRelationship>& relationships);

// Numbers relationships "rId<first>", "rId<first+1>", ... in order; returns the next number.
std::size_t NumberRelationships(std::vector<OutputRelationship>& relationships, std::size_t first);

}  // namespace tabrend::spreadsheet
