// The units an output package is assembled from, each on its own: content types,
// relationships, the workbook part, document properties, defined names, drawings, chart
// literal values, pivot caches and cell references.
#include <gtest/gtest.h>

#include "spreadsheet/CellReference.h"
#include "spreadsheet/ChartLiterals.h"
#include "spreadsheet/ContentTypes.h"
#include "spreadsheet/DefinedNames.h"
#include "spreadsheet/DocumentProperties.h"
#include "spreadsheet/DrawingParts.h"
#include "spreadsheet/PivotCaches.h"
#include "spreadsheet/Relationships.h"
#include "spreadsheet/StrictMarkup.h"
#include "spreadsheet/WorkbookPart.h"
#include "tests/engine/TestWorkbooks.h"
#include "tests/spreadsheet/TinyPackage.h"

namespace tabrend::spreadsheet {
namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";

TEST(ContentTypesTest, UsesTheSourcesDefaultOnlyForTheSameType) {
  const std::map<std::string, std::string> source = {{"png", "image/png"}, {"bin", "application/x-other"}};
  ContentTypes types(&source);
  types.Record("xl/media/image1.PNG", "image/png");
  types.Record("xl/printerSettings/p1.bin", "application/vnd.openxmlformats-officedocument.spreadsheetml.printerSettings");
  types.Record("xl/odd", "");
  types.Override("xl/workbook.xml", "application/x-book & more");
  EXPECT_EQ(types.Xml(), std::string(kDeclaration) +
                             "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                             "<Default Extension=\"png\" ContentType=\"image/png\"/>"
                             "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                             "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                             "<Override PartName=\"/xl/odd\" ContentType=\"application/octet-stream\"/>"
                             "<Override PartName=\"/xl/printerSettings/p1.bin\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.printerSettings\"/>"
                             "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/x-book &amp; more\"/></Types>");
  EXPECT_EQ(ExtensionOf("xl/media.d/image"), "");
}

TEST(RelationshipsTest, NumbersEscapesAndMarksExternalTargets) {
  std::vector<OutputRelationship> relationships = {{"", "t1", "a&b.xml", false}, {"", "t2", "http://x/?a=\"1\"", true}};
  EXPECT_EQ(NumberRelationships(relationships, 3), 5u);
  EXPECT_EQ(RelationshipsXml(relationships),
            std::string(kDeclaration) +
                "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId3\" Type=\"t1\" Target=\"a&amp;b.xml\"/>"
                "<Relationship Id=\"rId4\" Type=\"t2\" Target=\"http://x/?a=&quot;1&quot;\" TargetMode=\"External\"/>"
                "</Relationships>");
}

TEST(WorkbookPartTest, NewWorkbookListsItsSheetsInOrder) {
  WorkbookPartContent content;
  content.sheetNames = {"A & B", "C"};
  content.activeSheet = 1;
  EXPECT_EQ(WorkbookPartXml(content),
            std::string(kDeclaration) +
                "<workbook xmlns=\"" TINY_MAIN "\" xmlns:r=\"" TINY_REL "\"><workbookPr/><bookViews>"
                "<workbookView activeTab=\"1\"/></bookViews><sheets><sheet name=\"A &amp; B\" sheetId=\"1\" r:id=\"rId1\"/>"
                "<sheet name=\"C\" sheetId=\"2\" r:id=\"rId2\"/></sheets></workbook>");
  // What declares the view's xr2:uid stays: its namespace and that a reader may ignore it.
  EXPECT_EQ(ExtraNamespaces(" xmlns=\"m\" xmlns:r=\"r\" xmlns:mc=\"x\" mc:Ignorable=\"x15 xr2\" xmlns:xr2=\"y\""),
            " xmlns:mc=\"x\" mc:Ignorable=\"x15 xr2\" xmlns:xr2=\"y\"");
}

TEST(StrictMarkupTest, OnlyNamespacesBecomeTransitional) {
  const std::string strict =
      "<?xml version=\"1.0\"?>\r\n<!-- as written --><x:sst xmlns:x=\"http://purl.oclc.org/ooxml/spreadsheetml/main\" "
      "xmlns:o='urn:other'><x:si><x:t>a &amp; http://purl.oclc.org/ooxml/spreadsheetml/main</x:t></x:si><x:si/>"
      "<a:graphicData xmlns:a=\"http://purl.oclc.org/ooxml/drawingml/main\" uri=\"http://purl.oclc.org/ooxml/drawingml/chart\"/>"
      "</x:sst>";
  EXPECT_EQ(TransitionalXml(strict, "'in.xlsx'", "xl/sharedStrings.xml"),
            "<?xml version=\"1.0\"?>\r\n<!-- as written --><x:sst xmlns:x=\"" TINY_MAIN "\" xmlns:o=\"urn:other\">"
            "<x:si><x:t>a &amp; http://purl.oclc.org/ooxml/spreadsheetml/main</x:t></x:si><x:si/>"
            "<a:graphicData xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
            "uri=\"http://schemas.openxmlformats.org/drawingml/2006/chart\"/></x:sst>");
  EXPECT_EQ(TransitionalRelationshipType("http://purl.oclc.org/ooxml/officeDocument/relationships/extendedProperties"),
            "http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties");
  EXPECT_EQ(TransitionalRelationshipType(TINY_REL "/worksheet"), TINY_REL "/worksheet");
}

TEST(DocumentPropertiesTest, NamesTheProducerAndTheSheets) {
  const std::string xml = ExtendedPropertiesXml(ProducerOf(nullptr), {"Q1 <draft>"});
  EXPECT_NE(xml.find("<Application>Microsoft Excel</Application>"), std::string::npos);
  EXPECT_NE(xml.find("<vt:i4>1</vt:i4>"), std::string::npos);
  EXPECT_NE(xml.find("<vt:lpstr>Q1 &lt;draft&gt;</vt:lpstr>"), std::string::npos);
  EXPECT_NE(xml.find("<AppVersion>16.0300</AppVersion></Properties>"), std::string::npos);
  EXPECT_EQ(ExtendedPropertiesXml({}, {}).find("<Application>"), std::string::npos);
}

TEST(DefinedNamesTest, CarriesWhatReferstoTheOutputOnly) {
  test::TempDir dir;
  test::TinyPackage package;
  package.sheets = {{"Kept", TINY_WS "<sheetData/></worksheet>"}, {"Gone", TINY_WS "<sheetData/></worksheet>"}};
  package.definedNames =
      "<definedName name=\"Here\">Kept!$A$1</definedName><definedName name=\"There\">Gone!$A$1</definedName>"
      "<definedName name=\"ViaThere\">There*2</definedName><definedName name=\"Rate\">0.2</definedName>"
      "<definedName name=\"Unused\">7</definedName><definedName name=\"Local\" localSheetId=\"0\">Kept!$B$1</definedName>";
  package.Write(dir / "in.xlsx");
  const SourceWorkbook source(dir / "in.xlsx");
  const OutputNames names(&source, {{"Renamed", &source, 0}});
  EXPECT_EQ(names.Dropped(), 2);  // There, and ViaThere that uses it
  EXPECT_EQ(names.OutputSheetName("KEPT"), "Renamed");
  EXPECT_FALSE(names.OutputSheetName("Gone"));
  EXPECT_TRUE(names.HasWorkbookName("rate"));
  // A constant goes only when something uses it.
  EXPECT_EQ(RewriteFormula("Rate*Kept!A1", names.ContextFor(0)), "Rate*Renamed!A1");
  EXPECT_EQ(names.Xml(), "<definedNames><definedName name=\"Here\">Renamed!$A$1</definedName>"
                         "<definedName name=\"Rate\">0.2</definedName>"
                         "<definedName name=\"Local\" localSheetId=\"0\">Renamed!$B$1</definedName></definedNames>");
}

TEST(PivotCachesTest, CacheNamesItsSheetByItsOutputName) {
  test::TempDir dir;
  test::TinyPackage package;
  package.sheets = {{"Data", TINY_WS "<sheetData/></worksheet>"}};
  package.Write(dir / "in.xlsx");
  const SourceWorkbook source(dir / "in.xlsx");
  const auto cache = [](const std::string& source) {
    return "<pivotCacheDefinition xmlns=\"" TINY_MAIN "\"><cacheSource type=\"worksheet\">" + source +
           "</cacheSource></pivotCacheDefinition>";
  };
  const std::string part = "xl/pivotCache/pivotCacheDefinition1.xml";
  const OutputNames renamed(&source, {{"Data 2", &source, 0}});
  const auto rewritten = RewritePivotCache(cache("<worksheetSource ref=\"A1:B9\" sheet=\"data\"/>"), source, part, renamed);
  ASSERT_TRUE(rewritten);
  EXPECT_NE(rewritten->find("<worksheetSource ref=\"A1:B9\" sheet=\"Data 2\"/>"), std::string::npos) << *rewritten;
  const OutputNames same(&source, {{"Data", &source, 0}});
  EXPECT_FALSE(RewritePivotCache(cache("<worksheetSource ref=\"A1:B9\" sheet=\"Data\"/>"), source, part, same));
  EXPECT_FALSE(RewritePivotCache(cache("<worksheetSource name=\"Table1\"/>"), source, part, renamed));
  std::vector<OutputRelationship> relationships;
  EXPECT_EQ(PivotCacheList().Xml(4, relationships), "");
  EXPECT_TRUE(relationships.empty());
}

TEST(DrawingPartsTest, RemovesSlicerShapesAndUsesOfDroppedRelationships) {
  const std::string drawing =
      "<xdr:wsDr xmlns:xdr=\"d\" xmlns:a=\"a\" xmlns:r=\"r\"><xdr:twoCellAnchor><a:graphicData uri=\"http://x/slicer\"/>"
      "</xdr:twoCellAnchor><xdr:twoCellAnchor><xdr:pic><a:blip r:embed=\"rId2\"><a:ext r:link=\"rId2\"/></a:blip></xdr:pic>"
      "<xdr:sp/></xdr:twoCellAnchor></xdr:wsDr>";
  int removed = 0;
  const auto withoutSlicer = WithoutSlicerShapes(drawing, "'in.xlsx'", "xl/drawings/drawing1.xml", removed);
  ASSERT_TRUE(withoutSlicer);
  EXPECT_EQ(removed, 1);
  EXPECT_EQ(withoutSlicer->find("slicer"), std::string::npos);
  const auto cleaned = WithoutUsesOf({"rId2"}, *withoutSlicer, "'in.xlsx'", "xl/drawings/drawing1.xml");
  ASSERT_TRUE(cleaned);
  EXPECT_NE(cleaned->find("<xdr:twoCellAnchor><xdr:pic/><xdr:sp/></xdr:twoCellAnchor>"), std::string::npos) << *cleaned;
  EXPECT_FALSE(WithoutUsesOf({"rId9"}, *cleaned, "'in.xlsx'", "xl/drawings/drawing1.xml"));
  EXPECT_FALSE(WithoutSlicerShapes(*cleaned, "'in.xlsx'", "xl/drawings/drawing1.xml", removed));
}

TEST(ChartLiteralsTest, SeriesOnALostSheetKeepTheirValues) {
  ReferenceContext context;
  context.sheet = [](std::string_view name) -> std::optional<std::string> {
    if (name == "Kept") return std::string("New");
    return std::nullopt;
  };
  const std::string chart =
      "<c:chart xmlns:c=\"c\"><c:ser><c:tx><c:strRef><c:f>Gone!$A$1</c:f><c:strCache><c:ptCount val=\"1\"/>"
      "<c:pt idx=\"0\"><c:v>Sales</c:v></c:pt></c:strCache></c:strRef></c:tx>"
      "<c:cat><c:strRef><c:f>Kept!$A$2</c:f></c:strRef></c:cat>"
      "<c:val><c:numRef><c:f>Gone!$B$2</c:f><c:numCache><c:formatCode>0.0</c:formatCode><c:ptCount val=\"1\"/>"
      "<c:pt idx=\"0\"><c:v>4</c:v></c:pt></c:numCache></c:numRef></c:val></c:ser></c:chart>";
  int literalized = 0;
  const auto rewritten = RewriteChart(chart, context, "'in.xlsx'", "xl/charts/chart1.xml", literalized);
  ASSERT_TRUE(rewritten);
  EXPECT_EQ(literalized, 2);
  EXPECT_NE(rewritten->find("<c:tx><c:v>Sales</c:v></c:tx>"), std::string::npos) << *rewritten;
  EXPECT_NE(rewritten->find("<c:f>New!$A$2</c:f>"), std::string::npos);
  EXPECT_NE(rewritten->find("<c:val><c:numLit><c:formatCode>0.0</c:formatCode><c:ptCount val=\"1\"/>"
                            "<c:pt idx=\"0\"><c:v>4</c:v></c:pt></c:numLit></c:val>"),
            std::string::npos);
  EXPECT_FALSE(RewriteChart("<c:chart xmlns:c=\"c\"><c:f>A1</c:f></c:chart>", context, "'in.xlsx'", "c.xml", literalized));
}

TEST(CellReferenceTest, KnowsTheGrid) {
  std::uint32_t column = 0;
  EXPECT_EQ(ReadColumn("xfd7", column), 3u);
  EXPECT_EQ(column, 16384u);
  EXPECT_EQ(ReadColumn("ZZZZZZZZZZ1", column), 10u);
  EXPECT_EQ(column, 16385u);
  EXPECT_EQ(ReadColumn("12", column), 0u);
  EXPECT_FALSE(CellOutsideGrid("XFD1048576"));
  EXPECT_TRUE(CellOutsideGrid("XFE1"));
  EXPECT_TRUE(CellOutsideGrid("A1048577"));
  EXPECT_TRUE(CellOutsideGrid("A0"));
  EXPECT_FALSE(CellOutsideGrid("R1C1"));
  EXPECT_EQ(OutsideGridMessage("row 0"), "row 0 lies outside the grid of 1048576 rows and 16384 columns");
}

}  // namespace
}  // namespace tabrend::spreadsheet
