// Part names and relationship targets; the string table that workbooks of one file share.
#include <gtest/gtest.h>

#include <latch>
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

  // Each entry comes back as it was written, however it is kept.
  const std::vector<std::string> items{"<si><t>changed</t></si>", "<si><t xml:space=\"preserve\"> a&amp;b </t></si>",
                                       "<si><r><t>rich</t></r></si>", "<si><t/></si>", "<x:si><x:t>y</x:t></x:si>"};
  package.strings.clear();
  for (const auto& item : items) package.strings += item;
  package.Write(path);
  const SourceWorkbook changed(path);
  ASSERT_EQ(changed.Strings().items.size(), items.size());
  for (std::size_t i = 0; i < items.size(); ++i) EXPECT_EQ(changed.Strings().items[i], items[i]);
  EXPECT_EQ(first.Strings().items.size(), 3u);

  // Two threads that need a big table at the same moment read it once: one waits for the other.
  package.strings.clear();
  for (int i = 0; i < 400'000; ++i) package.strings += "<si><t>" + std::to_string(i) + "</t></si>";
  package.Write(path);
  const SourceWorkbook big1(path), big2(path);
  const SharedStrings* tables[2] = {};
  std::latch start(2);
  std::thread other([&] {
    start.arrive_and_wait();
    tables[1] = &big2.Strings();
  });
  start.arrive_and_wait();
  tables[0] = &big1.Strings();
  other.join();
  EXPECT_EQ(tables[0], tables[1]);
  EXPECT_EQ(tables[0]->items.size(), 400'000u);
}

}  // namespace
}  // namespace tabrend::spreadsheet
