// Sheets as CSV text, byte for byte: quoting, line ends, merged areas, shared and inline
// strings, booleans, errors, formats, the rectangle the text covers, cells without positions,
// a sheet whose text outgrows memory, and the failures of a damaged part.
#include <gtest/gtest.h>

#include "core/Error.h"
#include "spreadsheet/CsvWriter.h"
#include "tests/engine/TestWorkbooks.h"
#include "tests/spreadsheet/TinyPackage.h"

namespace tabrend::spreadsheet {
namespace {

using test::RunPython;
using test::TempDir;

std::string CsvOf(const std::string& path) {
  const SourceWorkbook source(path);
  std::string csv;
  WriteCsv(source, 0, [&](std::string_view text) { csv += text; });
  return csv;
}

// The CSV of a one-sheet package whose sheet part is `sheet` (TinyPackage's shared strings).
std::string CsvOfPart(const TempDir& dir, const std::string& sheet) {
  test::TinyPackage package;
  package.sheets = {{"S", sheet}};
  package.Write(dir / "tiny.xlsx");
  return CsvOf(dir / "tiny.xlsx");
}

// Writes the workbook with XlsxWriter (inline strings when constant_memory); returns the CSV
// of its first sheet.
std::string SplitToCsv(const TempDir& dir, const std::string& body, bool constantMemory = false) {
  const std::string source = dir / "source.xlsx";
  RunPython(std::string("import sys, xlsxwriter\n"
                        "path = open(sys.argv[1]).read().split('\\n')[0]\n"
                        "wb = xlsxwriter.Workbook(path, {'constant_memory': ") +
                (constantMemory ? "True" : "False") + "})\nws = wb.add_worksheet('Data')\n" + body + "wb.close()\n",
            {source});
  return CsvOf(source);
}

TEST(CsvOutput, QuotesWhatNeedsItAndShowsCellsAsTheSheetDoes) {
  TempDir dir;
  const std::string csv = SplitToCsv(dir, R"(
ws.write_string('A1', 'plain')
ws.write_string('B1', 'a,b')
ws.write_string('C1', 'say "hi"')
ws.write_string('D1', 'two\nlines')
ws.write_string('E1', ' padded ')
ws.write_boolean('A2', True)
ws.write_boolean('B2', False)
ws.write_formula('C2', '=1/0', None, '#DIV/0!')
ws.write_formula('D2', '=A1&"!"', None, 'plain!')
ws.write_number('E2', 1234.5, wb.add_format({'num_format': '#,##0.00'}))
ws.merge_range('A4:B5', 'merged', None)
ws.write_number('C4', 45000.75, wb.add_format({'num_format': 'yyyy-mm-dd hh:mm'}))
ws.write_string('A6', 'plain')
ws.write_number('F7', 0.25, wb.add_format({'num_format': '0%'}))
)");
  EXPECT_EQ(csv,
            "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\", padded ,\r\n"
            "TRUE,FALSE,#DIV/0!,plain!,\"1,234.50\",\r\n"
            ",,,,,\r\n"
            "merged,,2023-03-15 18:00,,,\r\n"
            ",,,,,\r\n"
            "plain,,,,,\r\n"
            ",,,,,25%\r\n");
}

TEST(CsvOutput, InlineStringsAndAnEmptySheet) {
  TempDir dir;
  EXPECT_EQ(SplitToCsv(dir, "ws.write_string('B1', 'inline, too')\nws.write_number('A2', 0.1)\n", true),
            ",\"inline, too\"\r\n0.1,\r\n");
  TempDir empty;
  EXPECT_EQ(SplitToCsv(empty, ""), "\r\n");
}

// The writer escapes control characters as "_xHHHH_" and a literal "_xHHHH_" as "_x005F_xHHHH_",
// in shared and inline strings alike; the CSV shows the text that was written.
TEST(CsvOutput, StringEscapesShowTheTextWritten) {
  for (const bool inlineStrings : {false, true}) {
    TempDir dir;
    EXPECT_EQ(SplitToCsv(dir, "ws.write_string('A1', 'a_x0041_b\\x01c')\nws.write_string('B1', '_x000D_')\n", inlineStrings),
              "a_x0041_b\x01" "c,_x000D_\r\n")
        << (inlineStrings ? "inline strings" : "shared strings");
  }
}

// Cells placed by their order where they carry no reference; rows past the text's last one
// and cells with nothing to show stay out of the rectangle.
TEST(CsvOutput, CellsWithoutPositionsAndTheRectangle) {
  TempDir dir;
  EXPECT_EQ(CsvOfPart(dir, TINY_WS "<sheetData><row><c t=\"s\"><v>1</v></c><c/><c t=\"b\"><v>0</v></c></row>"
                           "<row r=\"3\"><c r=\"B3\" t=\"s\"><v>2</v></c><c><v>7</v></c></row>"
                           "<row r=\"5\"><c r=\"E5\" s=\"0\"/><c r=\"F5\" t=\"inlineStr\"><is><t></t></is></c></row>"
                           "</sheetData></worksheet>"),
            "one & two,,FALSE\r\n,,\r\n,<three>,7\r\n");
}

// Beyond a few megabytes the rows wait in a temporary file: they come back whole and in order.
TEST(CsvOutput, ASheetLargerThanMemoryHoldsComesBackWhole) {
  TempDir dir;
  const std::string text(200, 'x');
  std::string rows, expected;
  for (int r = 1; r <= 100'000; ++r) {
    const std::string n = std::to_string(r);
    rows += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c><c r=\"B" + n + "\" t=\"inlineStr\"><is><t>" +
            text + "</t></is></c></row>";
    expected += n + "," + text + "\r\n";
  }
  const std::string csv = CsvOfPart(dir, TINY_WS "<sheetData>" + rows + "</sheetData></worksheet>");
  EXPECT_EQ(csv.size(), expected.size());
  EXPECT_TRUE(csv == expected);
}

TEST(CsvOutput, ADamagedPartFailsByItsReason) {
  TempDir dir;
  const auto reasonOf = [&](const std::string& sheet) {
    try {
      CsvOfPart(dir, sheet);
    } catch (const AutomationError& error) {
      return error.Reason();
    }
    return ErrorReason::kOther;
  };
  EXPECT_EQ(reasonOf(TINY_WS "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"), ErrorReason::kDamaged);
  EXPECT_EQ(reasonOf("<!DOCTYPE x [<!ENTITY a \"b\">]>" TINY_WS "<sheetData/></worksheet>"), ErrorReason::kRefused);
}

}  // namespace
}  // namespace tabrend::spreadsheet
