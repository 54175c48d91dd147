// Part names and relationship targets.
#include <gtest/gtest.h>

#include "spreadsheet/Package.h"

namespace tabrend::spreadsheet {
namespace {

TEST(PackagePathsTest, ResolvesTargetsAgainstTheirPart) {
  EXPECT_EQ(ResolvePartName("xl/worksheets/sheet1.xml", "../drawings/drawing1.xml"), "xl/drawings/drawing1.xml");
  EXPECT_EQ(ResolvePartName("xl/workbook.xml", "worksheets/sheet1.xml"), "xl/worksheets/sheet1.xml");
  EXPECT_EQ(ResolvePartName("xl/workbook.xml", "/xl/worksheets/sheet1.xml"), "xl/worksheets/sheet1.xml");
  EXPECT_EQ(ResolvePartName("", "xl/workbook.xml"), "xl/workbook.xml");
  EXPECT_EQ(ResolvePartName("xl/workbook.xml", "./media/image%201.png"), "xl/media/image 1.png");
  // A target that climbs above the package stays inside it.
  EXPECT_EQ(ResolvePartName("xl/workbook.xml", "../../../etc/passwd"), "etc/passwd");
}

TEST(PackagePathsTest, RelativeTargetsRoundTrip) {
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"xl/worksheets/sheet1.xml", "xl/drawings/drawing3.xml"},
           {"xl/workbook.xml", "xl/worksheets/sheet1.xml"},
           {"xl/drawings/drawing1.xml", "xl/media/image1.png"},
           {"xl/charts/chart1.xml", "xl/charts/style1.xml"},
           {"xl/workbook.xml", "customXml/item1.xml"}}) {
    EXPECT_EQ(ResolvePartName(from, RelativeTarget(from, to)), to) << from << " -> " << to;
  }
  EXPECT_EQ(RelativeTarget("xl/worksheets/sheet1.xml", "xl/drawings/drawing3.xml"), "../drawings/drawing3.xml");
}

TEST(PackagePathsTest, RelationshipsPartSitsBesideItsPart) {
  EXPECT_EQ(RelationshipsPartOf("xl/worksheets/sheet1.xml"), "xl/worksheets/_rels/sheet1.xml.rels");
  EXPECT_EQ(RelationshipsPartOf(""), "_rels/.rels");
  EXPECT_EQ(RelationshipKind("http://purl.oclc.org/ooxml/officeDocument/relationships/worksheet"), "worksheet");
}

}  // namespace
}  // namespace tabrend::spreadsheet
