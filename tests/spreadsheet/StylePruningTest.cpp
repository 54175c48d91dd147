// An output's styles part keeps what its sheet uses, at the same positions, and nothing that
// only other sheets use.
#include "spreadsheet/StylePruning.h"

#include <gtest/gtest.h>

namespace tabrend::spreadsheet {
namespace {

const std::string kStyles =
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<numFmts count=\"2\"><numFmt numFmtId=\"164\" formatCode=\"0.0&quot;kg&quot;\"/>"
    "<numFmt numFmtId=\"165\" formatCode=\"&quot;SECRETFMT-kilo&quot;0\"/></numFmts>"
    "<fonts count=\"3\"><font><sz val=\"11\"/></font><font><b/></font><font><name val=\"SecretFont\"/></font></fonts>"
    "<fills count=\"3\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill>"
    "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"FFABCDEF\"/></patternFill></fill></fills>"
    "<borders count=\"2\"><border/><border><left style=\"thick\"/></border></borders>"
    "<cellStyleXfs count=\"2\"><xf numFmtId=\"0\" fontId=\"0\"/><xf numFmtId=\"0\" fontId=\"2\"/></cellStyleXfs>"
    "<cellXfs count=\"3\"><xf numFmtId=\"0\" fontId=\"0\" xfId=\"0\"/>"
    "<xf numFmtId=\"164\" fontId=\"1\" xfId=\"0\"/>"
    "<xf numFmtId=\"165\" fontId=\"2\" fillId=\"2\" borderId=\"1\" xfId=\"1\"/></cellXfs>"
    "<cellStyles count=\"2\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
    "<cellStyle name=\"Secret style\" xfId=\"1\"/></cellStyles>"
    "<dxfs count=\"3\"><dxf><font><i/></font></dxf><dxf><font><color rgb=\"FF5EC4E7\"/></font></dxf><dxf><fill/></dxf></dxfs>"
    "<tableStyles count=\"2\" defaultTableStyle=\"TableStyleMedium2\">"
    "<tableStyle name=\"Used &amp; kept\"><tableStyleElement type=\"wholeTable\" dxfId=\"2\"/></tableStyle>"
    "<tableStyle name=\"SecretTableStyle\"><tableStyleElement type=\"wholeTable\" dxfId=\"1\"/></tableStyle>"
    "</tableStyles></styleSheet>";

TEST(StylePruningTest, KeepsWhatTheSheetUsesAtItsPositionsAndNothingElse) {
  StyleUse use;
  // Cut between elements, as a streamed sheet is read back.
  use.Scan("<row r=\"1\" s=\"0\"><c r=\"A1\" s='1'><v>1</v></c></row>");
  use.Scan("<conditionalFormatting><cfRule type=\"expression\" dxfId=\"0\"/></conditionalFormatting>");
  use.Scan("<table><tableStyleInfo name=\"Used &amp; kept\" showRowStripes=\"1\"/></table>");
  EXPECT_EQ(use.cellFormats, (std::set<std::uint32_t>{0, 1}));
  EXPECT_EQ(use.differentialFormats, (std::set<std::uint32_t>{0}));
  EXPECT_EQ(use.tableStyles, (std::set<std::string>{"Used & kept"}));

  const std::string pruned = PrunedStyles(kStyles, use, "'Book.xlsx'", "xl/styles.xml");
  for (const char* secret : {"SECRET", "Secret", "FFABCDEF", "thick", "FF5EC4E7"})
    EXPECT_EQ(pruned.find(secret), std::string::npos) << secret << " in " << pruned;
  // Positions hold: three cell formats, the third now the first's copy; the used one intact.
  EXPECT_NE(pruned.find("<cellXfs count=\"3\"><xf numFmtId=\"0\" fontId=\"0\" xfId=\"0\"/>"
                        "<xf numFmtId=\"164\" fontId=\"1\" xfId=\"0\"/><xf numFmtId=\"0\" fontId=\"0\" xfId=\"0\"/>"),
            std::string::npos)
      << pruned;
  EXPECT_NE(pruned.find("<numFmts count=\"1\"><numFmt numFmtId=\"164\""), std::string::npos) << pruned;
  EXPECT_NE(pruned.find("<cellStyles count=\"1\"><cellStyle name=\"Normal\""), std::string::npos) << pruned;
  // The table style in use keeps its differential format; the unused one is emptied.
  EXPECT_NE(pruned.find("<dxfs count=\"3\"><dxf><font><i/></font></dxf><dxf/><dxf><fill/></dxf></dxfs>"),
            std::string::npos)
      << pruned;
  EXPECT_NE(pruned.find("<tableStyles count=\"1\""), std::string::npos) << pruned;
}

}  // namespace
}  // namespace tabrend::spreadsheet
