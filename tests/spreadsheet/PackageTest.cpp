// Part names and relationship targets; the string table that workbooks of one file share.
#include <gtest/gtest.h>

#include <thread>

#include "spreadsheet/Package.h"
#include "spreadsheet/SourceWorkbook.h"
#include "tests/engine/TestWorkbooks.h"
#include "tests/spreadsheet/TinyPackage.h"

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

// Read once while any workbook of the file holds it, on any thread; a file written again is
// read again.
TEST(SharedStringTableTest, IsSharedByWorkbooksOfTheSameFileOnly) {
  test::TempDir dir;
  const std::string path = dir / "in.xlsx";
  test::TinyPackage package;
  package.sheets = {{"Data", TINY_WS "<sheetData/></worksheet>"}};
  package.Write(path);
  const SourceWorkbook first(path), second(path);
  const SharedStrings* table = &first.Strings();
  EXPECT_EQ(&second.Strings(), table);
  std::thread([&] { EXPECT_EQ(&SourceWorkbook(path).Strings(), table); }).join();

  package.strings = "<si><t>changed</t></si>";
  package.Write(path);
  const SourceWorkbook changed(path);
  ASSERT_EQ(changed.Strings().items.size(), 1u);
  EXPECT_EQ(changed.Strings().items[0], "<si><t>changed</t></si>");
  EXPECT_EQ(first.Strings().items.size(), 3u);
}

}  // namespace
}  // namespace tabrend::spreadsheet
