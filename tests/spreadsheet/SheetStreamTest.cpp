// The sheet stream on hand-written sheet parts: every shape a producer may write (prefixes,
// comments, rows and cells without positions, entities, inline strings, odd spacing) must
// come out with the same cells as the source, as openpyxl reads them.
#include <gtest/gtest.h>

#include "engine/Automation.h"
#include "tests/engine/TestWorkbooks.h"

namespace tabrend::automation {
namespace {

using test::RunPython;
using test::TempDir;

// Writes a one-sheet package whose sheet part is `sheet` (with a shared-string table holding
// "zero", "one & two", "<three>"), splits it, and returns openpyxl's reading of both as
// "coordinate=value" lines.
std::pair<std::string, std::string> SplitAndRead(const std::string& sheet) {
  TempDir dir;
  const std::string source = dir / "source.xlsx";
  const std::string output = dir / "output.xlsx";
  RunPython(R"(import sys, zipfile
args = open(sys.argv[1], encoding='utf-8').read().split('\n')
path, sheet = args[0], '\n'.join(args[1:-1])
main = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
with zipfile.ZipFile(path, 'w') as z:
    z.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/></Types>')
    z.writestr('_rels/.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="' + rel + '/officeDocument" Target="xl/workbook.xml"/></Relationships>')
    z.writestr('xl/_rels/workbook.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="' + rel + '/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="' + rel + '/sharedStrings" Target="sharedStrings.xml"/></Relationships>')
    z.writestr('xl/workbook.xml', '<workbook xmlns="' + main + '" xmlns:r="' + rel + '"><sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>')
    z.writestr('xl/sharedStrings.xml', '<sst xmlns="' + main + '"><si><t>zero</t></si><si><t>one &amp; two</t></si><si><r><t>&lt;three</t></r><r><rPr><b/></rPr><t>&gt;</t></r></si></sst>')
    z.writestr('xl/worksheets/sheet1.xml', sheet)
)",
            {source, sheet});
  auto app = CreateObject("Excel.Application");
  Workbook& src = app->Workbooks().Open(source);
  Workbook& book = app->Workbooks().Add();
  book.SaveAs(output);
  src.Worksheets()(1).Copy(book.Sheets()(1));
  book.Sheets()(2).Delete();
  book.Save();
  book.Close();
  const char* read = R"(import sys, openpyxl
for path in open(sys.argv[1], encoding='utf-8').read().split('\n')[:-1]:
    sheet = openpyxl.load_workbook(path).active
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is not None:
                sys.stdout.buffer.write(f'{cell.coordinate}={cell.value!r}\n'.encode('utf-8'))
    print('--')
)";
  const std::string both = RunPython(read, {source, output});
  const auto split = both.find("--\n");
  return {both.substr(0, split), both.substr(split + 3, both.size() - split - 6)};
}

class SheetStreamTest : public testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(SheetStreamTest, KeepsEveryCellAsTheSourceHasIt) {
  const auto [source, output] = SplitAndRead(GetParam().second);
  EXPECT_FALSE(source.empty());
  EXPECT_EQ(output, source);
}

#define WS "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"

INSTANTIATE_TEST_SUITE_P(
    Shapes, SheetStreamTest,
    testing::Values(
        std::pair{"plain", WS "<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>1</v></c><c r=\"B1\"><v>2.5</v></c>"
                           "<c r=\"C1\" t=\"b\"><v>1</v></c><c r=\"D1\" t=\"e\"><v>#N/A</v></c></row>"
                           "<row r=\"3\"><c r=\"A3\" t=\"s\"><v>2</v></c><c r=\"B3\"><f>B1*2</f><v>5</v></c></row></sheetData></worksheet>"},
        std::pair{"prefixed", "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><x:sheetData>"
                              "<x:row r=\"1\"><x:c r=\"A1\" t=\"s\"><x:v>0</x:v></x:c><x:c r=\"B1\"><x:f>1+1</x:f><x:v>2</x:v></x:c></x:row>"
                              "</x:sheetData></x:worksheet>"},
        std::pair{"no_positions", WS "<sheetData><row><c t=\"s\"><v>1</v></c><c><v>7</v></c></row><row><c/><c t=\"s\"><v>0</v></c></row></sheetData></worksheet>"},
        std::pair{"comments_and_spacing", WS "<sheetData>\n  <!-- produced by hand -->\n  <row r=\"1\" >\n    <c r=\"A1\" t=\"s\" >\n      <v>0</v>\n    </c>\n"
                                          "  </row >\n  <row r=\"2\"><c r='A2'><v>3</v></c><?pi here?></row>\n</sheetData></worksheet>"},
        std::pair{"entities", WS "<sheetData><row r=\"1\"><c r=\"A1\" t=\"str\"><f>\"a&amp;b\"&amp;\"&#x3c;\"</f><v>a&amp;b&lt;</v></c>"
                              "<c r=\"B1\" t=\"inlineStr\"><is><t>caf&#233; &amp; &#x1F600;</t></is></c></row></sheetData></worksheet>"},
        std::pair{"cdata_inline", WS "<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t><![CDATA[x < y]]></t></is></c>"
                                  "<c r=\"B1\" t=\"s\"><v>2</v></c></row></sheetData></worksheet>"},
        std::pair{"shared_formulas", WS "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f t=\"shared\" ref=\"B1:B3\" si=\"0\">A1*10</f><v>10</v></c></row>"
                                     "<row r=\"2\"><c r=\"A2\"><v>2</v></c><c r=\"B2\"><f t=\"shared\" si=\"0\"/><v>20</v></c></row>"
                                     "<row r=\"3\"><c r=\"A3\"><v>3</v></c><c r=\"B3\"><f t=\"shared\" si=\"0\"/><v>30</v></c></row></sheetData></worksheet>"},
        std::pair{"empty_rows", WS "<sheetData><row r=\"1\"/><row r=\"2\" ht=\"30\" customHeight=\"1\"><c r=\"A2\"><v>1</v></c></row><row r=\"3\"></row></sheetData></worksheet>"}),
    [](const auto& info) { return std::string(info.param.first); });

}  // namespace
}  // namespace tabrend::automation
