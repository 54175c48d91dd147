// The row scanner against expat: the same rows, read by the scanner or (after a comment that
// hands them to expat) by expat, give the same sheet part, loss report and string table.
#include <gtest/gtest.h>

#include "spreadsheet/SheetRewriter.h"
#include "spreadsheet/Text.h"
#include "tests/engine/TestWorkbooks.h"
#include "tests/spreadsheet/TinyPackage.h"

namespace tabrend::spreadsheet {
namespace {

struct Copied {
  std::string sheet, strings;
  std::map<std::string, int> losses;
};

// Copies the only sheet "S" of a package whose other sheet "Gone" is not in the output.
Copied CopyRows(const std::string& sheetData) {
  test::TempDir dir;
  test::TinyPackage package;
  package.sheets = {{"S", TINY_WS + sheetData + "</worksheet>"}, {"Gone", TINY_WS "<sheetData/></worksheet>"}};
  package.Write(dir / "in.xlsx");
  const SourceWorkbook source(dir / "in.xlsx");
  ReferenceContext context;
  context.sheet = [](std::string_view name) -> std::optional<std::string> {
    if (EqualIgnoringCase(name, "S")) return std::string("S");
    return std::nullopt;
  };
  context.definedName = [](std::string_view) { return false; };
  context.table = [](std::string_view) { return false; };
  SheetRewriteOptions options;
  options.context = &context;
  OutputStrings strings(&source.Strings());
  test::StringSink sheet, table;
  Copied copied;
  copied.losses = RewriteSheet(source, 0, options, strings, sheet).losses;
  strings.WriteXml(table);
  copied.sheet = sheet.bytes;
  copied.strings = table.bytes;
  return copied;
}

class RowScannerTest : public testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(RowScannerTest, GivesWhatExpatGives) {
  const Copied scanned = CopyRows(std::string("<sheetData>") + GetParam().second + "</sheetData>");
  Copied parsed = CopyRows(std::string("<sheetData><!--expat-->") + GetParam().second + "</sheetData>");
  parsed.sheet.erase(parsed.sheet.find("<!--expat-->"), 12);
  EXPECT_EQ(scanned.sheet, parsed.sheet);
  EXPECT_EQ(scanned.strings, parsed.strings);
  EXPECT_EQ(scanned.losses, parsed.losses);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RowScannerTest,
    testing::Values(
        std::pair{"strings_and_values", "<row r=\"1\" spans=\"1:4\"><c r=\"A1\" t=\"s\"><v>2</v></c><c r=\"B1\" s=\"1\"><v>2.5</v></c>"
                                        "<c r=\"C1\" t=\"b\"><v>1</v></c><c r=\"D1\" t=\"s\" cm=\"1\"><v>0</v></c></row>"
                                        "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>0</v></c><c r='B2' t='s'><v>1</v></c></row>"},
        std::pair{"spacing_and_entities", "\n  <row r=\"1\" >\n    <c r=\"A1\" t=\"str\" ><f>\"a&amp;b\"&amp;\"&#x3c;\"</f>\r\n"
                                          "<v xml:space=\"preserve\"> a&amp;b&lt;</v></c><c r=\"B1\" t=\"inlineStr\"><is><t>caf&#233;</t></is></c>\n  </row>"},
        std::pair{"spaced_results",
                  "<row r=\"1\"><c r=\"A1\" t=\"str\"><f>\"World\"&amp;\" \"</f><v xml:space=\"preserve\">World </v></c>"
                  "<c r=\"B1\" t=\"str\"><f xml:space=\"preserve\">\" \"&amp;\"x\"</f><v xml:space=\"preserve\"> x</v></c>"
                  "<c r=\"C1\" s=\"1\" t=\"str\"><v xml:space=\"preserve\">\"  1</v></c>"
                  "<c r=\"D1\" t=\"s\"><v xml:space=\"preserve\">1</v></c></row>"},
        std::pair{"formulas_kept_and_replaced",
                  "<row r=\"1\"><c r=\"A1\"><f>S!B1*2</f><v>4</v></c><c r=\"B1\"><f>Gone!A1</f><v>7</v></c>"
                  "<c r=\"C1\" t=\"str\"><f>Gone!A2</f><v>text</v></c><c r=\"D1\" t=\"str\" cm=\"1\"><f>Gone!A3</f><v></v></c>"
                  "<c r=\"E1\"><f>Gone!A4</f></c><c r=\"F1\" t=\"e\"><f t=\"dataTable\" ref=\"F1\" dt2D=\"0\" r1=\"A1\"/><v>#N/A</v></c></row>"},
        std::pair{"shared_formula_groups",
                  "<row r=\"1\"><c r=\"A1\"><f t=\"shared\" ref=\"A1:A2\" si=\"0\">Gone!B1</f><v>1</v></c>"
                  "<c r=\"B1\"><f t=\"shared\" ref=\"B1:B2\" si=\"1\">A1+1</f><v>2</v></c></row>"
                  "<row r=\"2\"><c r=\"A2\"><f t=\"shared\" si=\"0\"/><v>3</v></c><c r=\"B2\"><f t=\"shared\" si=\"1\"/><v>4</v></c></row>"},
        std::pair{"string_cells_without_index",
                  "<row r=\"1\"><c r=\"A1\" s=\"1\" t=\"s\"><v/></c><c r=\"B1\" t=\"s\"><f>\"x\"</f><v> </v></c>"
                  "<c r=\"C1\" t=\"s\"><v></v><extLst><ext uri=\"{X}\"/></extLst></c></row>"},
        std::pair{"plain_cells_beside_others",
                  "<row r=\"1\" s=\"4\" customFormat=\"1\"><c r=\"A1\" s=\"2\" t=\"s\"><v>1</v></c>"
                  "<c r=\"B1\" t=\"s\"><v>0</v><extLst><ext uri=\"{X}\"/></extLst></c> <c r=\"C1\" s=\"3\"><f>S!A1</f><v>1</v></c>"
                  "<c r=\"D1\" t=\"str\"><f>Gone!A1&amp;\"x\"</f><v>ax</v></c><c r=\"E1\" t=\"s\" vm=\"1\"><v>1</v></c>"
                  "<c r=\"F1\" t=\"s\"><v>001</v></c><c r=\"G1\" s=\"5\" t=\"s\" ph=\"1\"><v>0</v></c>\n</row>"},
        std::pair{"empty_rows_and_cells", "<row r=\"1\"/><row r=\"2\" ht=\"30\" customHeight=\"1\"><c r=\"A2\"/><c r=\"B2\" s=\"1\"></c></row><row r=\"3\"></row>"}),
    [](const auto& info) { return std::string(info.param.first); });

// Enough rows, of changing lengths, for the part to come in many pieces that end anywhere in a
// row: in a plain cell, in one the scanner reads whole, between cells and in a row tag.
TEST(RowScannerPiecesTest, RowsAcrossPiecesGiveWhatExpatGives) {
  std::string rows;
  for (int r = 1; r <= 4000; ++r) {
    const std::string n = std::to_string(r);
    rows += "<row r=\"" + n + "\"><c r=\"A" + n + "\" s=\"1\" t=\"s\"><v>" + std::to_string(r % 3) + "</v></c>";
    rows += r % 7 == 0 ? "<c r=\"B" + n + "\" t=\"str\"><f>\"" + std::string(r % 50, 'x') + "\"&amp;\"y\"</f><v>y</v></c>"
                       : "<c r=\"B" + n + "\"><f>S!A" + n + "*2</f><v>" + std::string(r % 13 + 1, '7') + "</v></c>";
    rows += "</row>";
  }
  const Copied scanned = CopyRows("<sheetData>" + rows + "</sheetData>");
  Copied parsed = CopyRows("<sheetData><!--expat-->" + rows + "</sheetData>");
  parsed.sheet.erase(parsed.sheet.find("<!--expat-->"), 12);
  EXPECT_TRUE(scanned.sheet == parsed.sheet);
  EXPECT_EQ(scanned.strings, parsed.strings);
  EXPECT_EQ(scanned.losses, parsed.losses);
}

}  // namespace
}  // namespace tabrend::spreadsheet
