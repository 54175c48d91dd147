// Sheets written as CSV through the split's own path (WriteSheetFile), read back byte for
// byte: quoting, line ends, merged areas, shared and inline strings, booleans, errors,
// formats and the rectangle the text covers.
#include <gtest/gtest.h>

#include "engine/SheetOutput.h"
#include "tests/engine/TestWorkbooks.h"

namespace tabrend {
namespace {

using test::ReadFile;
using test::RunPython;
using test::TempDir;

// Writes the workbook with XlsxWriter (inline strings when constant_memory) and splits its
// first sheet to CSV; returns the CSV's bytes.
std::string SplitToCsv(const TempDir& dir, const std::string& body, bool constantMemory = false) {
  const std::string source = dir / "source.xlsx";
  RunPython(std::string("import sys, xlsxwriter\n"
                        "path = open(sys.argv[1]).read().split('\\n')[0]\n"
                        "wb = xlsxwriter.Workbook(path, {'constant_memory': ") +
                (constantMemory ? "True" : "False") + "})\nws = wb.add_worksheet('Data')\n" + body + "wb.close()\n",
            {source});
  auto app = automation::CreateObject("Excel.Application");
  automation::Workbook& book = app->Workbooks().Open(source);
  WriteSheetFile(*app, book.Worksheets()(1), dir.path().string(), "Data.csv", "Data", Placement::kReplace,
                 OutputFormat::kCsv);
  app->Quit();
  return ReadFile(dir.path() / "Data.csv");
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

}  // namespace
}  // namespace tabrend
