// The sheet stream on hand-written sheet parts: every shape a producer may write (prefixes,
// comments, rows and cells without positions, entities, inline strings, odd spacing) must
// come out with the same cells as the source, as openpyxl reads them, or as LibreOffice
// shows them where openpyxl cannot tell (spaces kept by xml:space) or cannot read at all.
#include <gtest/gtest.h>

#include "engine/Automation.h"
#include "tests/engine/TestWorkbooks.h"

namespace tabrend::automation {
namespace {

using test::RunPython;
using test::TempDir;

struct Reading {
  std::string source, output;      // "coordinate=value" lines
  std::vector<std::string> losses;  // the output's loss report
  std::string outputByOpenpyxl;     // openpyxl's reading of the output, when LibreOffice read both
};

// Writes a one-sheet package whose sheet part is `sheet` (with a shared-string table holding
// "zero", "one & two", "<three>", and a second cell style with a fill), splits it, and reads
// both with openpyxl or LibreOffice.
Reading SplitAndRead(const std::string& sheet, bool libreOffice = false) {
  TempDir dir;
  const std::string source = dir / "source.xlsx";
  const std::string output = dir / "output.xlsx";
  RunPython(R"(import sys, zipfile
args = open(sys.argv[1], encoding='utf-8').read().split('\n')
path, sheet = args[0], '\n'.join(args[1:-1])
main = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
with zipfile.ZipFile(path, 'w') as z:
    z.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/><Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/><Override PartName="/docProps/app.xml" ContentType="application/vnd.openxmlformats-officedocument.extended-properties+xml"/></Types>')
    z.writestr('_rels/.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="' + rel + '/officeDocument" Target="xl/workbook.xml"/><Relationship Id="rId2" Type="' + rel + '/extended-properties" Target="docProps/app.xml"/></Relationships>')
    # Written by Excel, as far as LibreOffice can tell: it shows the formula results the file holds.
    z.writestr('docProps/app.xml', '<Properties xmlns="http://schemas.openxmlformats.org/officeDocument/2006/extended-properties"><Application>Microsoft Excel</Application></Properties>')
    z.writestr('xl/_rels/workbook.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="' + rel + '/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="' + rel + '/sharedStrings" Target="sharedStrings.xml"/><Relationship Id="rId3" Type="' + rel + '/styles" Target="styles.xml"/></Relationships>')
    z.writestr('xl/workbook.xml', '<workbook xmlns="' + main + '" xmlns:r="' + rel + '"><sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>')
    z.writestr('xl/sharedStrings.xml', '<sst xmlns="' + main + '"><si><t>zero</t></si><si><t>one &amp; two</t></si><si><r><t>&lt;three</t></r><r><rPr><b/></rPr><t>&gt;</t></r></si></sst>')
    z.writestr('xl/styles.xml', '<styleSheet xmlns="' + main + '"><fonts count="1"><font/></fonts><fills count="3"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill><fill><patternFill patternType="solid"><fgColor rgb="FFFFFF00"/></patternFill></fill></fills><borders count="1"><border/></borders><cellStyleXfs count="1"><xf/></cellStyleXfs><cellXfs count="2"><xf/><xf fillId="2" applyFill="1"/></cellXfs></styleSheet>')
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
  Reading reading;
  reading.losses = book.LossReport();
  book.Close();
  // openpyxl: values and formulas, and the fill of each styled cell, even an empty one.
  const char* openpyxl = R"(import sys, openpyxl
for path in open(sys.argv[1], encoding='utf-8').read().split('\n')[:-1]:
    sheet = openpyxl.load_workbook(path).active
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is not None:
                sys.stdout.buffer.write(f'{cell.coordinate}={cell.value!r}\n'.encode('utf-8'))
            if cell.fill.fgColor.rgb != '00000000':
                print(f'{cell.coordinate} fill {cell.fill.fgColor.rgb}')
    print('--')
)";
  // LibreOffice: the text each cell shows (its source sheet may be one openpyxl refuses).
  const std::string libre = std::string("import sys\nsys.path.insert(0, '") + TABREND_SOURCE_DIR + R"(/tests/tools')
from lo_cells import lo_cells, cell_name
paths = open(sys.argv[1], encoding='utf-8').read().split('\n')[:-1]
shown = lo_cells(paths)
for path in paths:
    for cells in shown[path].sheets.values():
        for (row, col), text in sorted(cells.items()):
            sys.stdout.buffer.write(f'{cell_name(row, col)}={text!r}\n'.encode('utf-8'))
    print('--' if shown[path].error is None else 'not loaded: ' + shown[path].error)
)";
  const std::string both = RunPython(libreOffice ? libre : std::string(openpyxl), {source, output});
  const auto split = both.find("--\n");
  reading.source = both.substr(0, split);
  reading.output = both.substr(split + 3, both.size() - split - 6);
  if (libreOffice) reading.outputByOpenpyxl = RunPython(openpyxl, {output});
  return reading;
}

class SheetStreamTest : public testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(SheetStreamTest, KeepsEveryCellAsTheSourceHasIt) {
  const Reading read = SplitAndRead(GetParam().second);
  EXPECT_FALSE(read.source.empty());
  EXPECT_EQ(read.output, read.source);
  EXPECT_EQ(read.losses, std::vector<std::string>{});
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
        // Line ends inside a formula read as one "\n", as any XML reader takes them.
        std::pair{"line_ends", WS "<sheetData><row r=\"1\"><c r=\"A1\" t=\"str\"><f>\"a\"&amp;\r\n\"b\"&amp;\r\"c\"</f><v>abc</v></c></row></sheetData></worksheet>"},
        std::pair{"empty_rows", WS "<sheetData><row r=\"1\"/><row r=\"2\" ht=\"30\" customHeight=\"1\"><c r=\"A2\"><v>1</v></c></row><row r=\"3\"></row></sheetData></worksheet>"}),
    [](const auto& info) { return std::string(info.param.first); });

struct Shown {
  const char* name;
  std::string rows;                 // the <row>s of the sheet part
  std::vector<std::string> losses;  // the loss report expected
  const char* fill;                 // a line openpyxl's reading of the output must hold
};

void PrintTo(const Shown& shown, std::ostream* out) { *out << shown.name; }

class ShownByLibreOfficeTest : public testing::TestWithParam<Shown> {};

// The rows go through the row scanner; RowScannerTest holds expat to the same bytes.
TEST_P(ShownByLibreOfficeTest, LooksAsTheSourceDoes) {
  const Reading read = SplitAndRead(WS "<sheetData>" + GetParam().rows + "</sheetData></worksheet>", true);
  EXPECT_FALSE(read.source.empty());
  EXPECT_EQ(read.output, read.source);
  EXPECT_EQ(read.losses, GetParam().losses);
  EXPECT_NE(read.outputByOpenpyxl.find(GetParam().fill), std::string::npos) << read.outputByOpenpyxl;
}

INSTANTIATE_TEST_SUITE_P(
    Cells, ShownByLibreOfficeTest,
    testing::Values(
        // Text results whose spaces only xml:space keeps, with and without their formula.
        Shown{"spaced_results",
              "<row r=\"1\"><c r=\"A1\" t=\"str\"><f>\"World\"&amp;\" \"</f><v xml:space=\"preserve\">World </v></c>"
              "<c r=\"B1\" t=\"str\"><f xml:space=\"preserve\">\" \"&amp;\"beginsWithSpace\"</f><v xml:space=\"preserve\"> beginsWithSpace</v></c>"
              "<c r=\"C1\" s=\"1\" t=\"str\"><v xml:space=\"preserve\">\"  1</v></c>"
              "<c r=\"D1\" t=\"s\"><v xml:space=\"preserve\">1</v></c></row>",
              {}, "C1 fill FFFFFF00"},
        // A string cell naming no string is empty, keeps its style, and says so.
        Shown{"string_cell_without_index",
              "<row r=\"2\"><c r=\"E2\" s=\"1\" t=\"s\"><v/></c><c r=\"F2\" t=\"s\"><v>0</v></c></row>",
              {"1 string cells without a string index were left empty"}, "E2 fill FFFFFF00"}),
    [](const testing::TestParamInfo<Shown>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tabrend::automation
