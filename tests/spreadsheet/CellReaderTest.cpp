// The light cell reader on hand-written sheet parts: the texts a range shows, the stored
// results of named cells, and whether a copy of a sheet would drop a formula saved without
// a result. Cells without positions, rich and phonetic text, and every cell type.
#include <gtest/gtest.h>

#include <functional>

#include "core/Error.h"
#include "spreadsheet/CellReader.h"
#include "tests/engine/TestWorkbooks.h"
#include "tests/spreadsheet/TinyPackage.h"

namespace tabrend::spreadsheet {
namespace {

using test::TempDir;
using test::TinyPackage;

// Shared strings 0 "zero", 1 "one & two", 2 "<three>", 3 rich text with a phonetic guide.
constexpr char kStrings[] =
    "<si><t>zero</t></si><si><t>one &amp; two</t></si><si><t>&lt;three&gt;</t></si>"
    "<si><r><t xml:space=\"preserve\">ka </t></r><r><rPr><b/></rPr><t>ji</t></r><rPh sb=\"0\" eb=\"1\"><t>KA</t></rPh></si>";

// Row 2 without positions, row 3 absent; row 9 lies beyond every range read.
constexpr char kCells[] = TINY_WS
    "<sheetData>"
    "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>1</v></c><c r=\"B1\" t=\"b\"><v>1</v></c><c r=\"D1\"><v>2.5</v></c></row>"
    "<row><c t=\"inlineStr\"><is><t>inline</t></is></c><c t=\"e\"><v>#N/A</v></c></row>"
    "<row r=\"4\"><c r=\"A4\" t=\"s\"><v>3</v></c><c r=\"B4\" t=\"str\"><f>\"x\"&amp;\"y\"</f><v>xy</v></c>"
    "<c r=\"C4\" t=\"inlineStr\"><is><r><t>in</t></r><r><t>4</t></r></is></c><c r=\"D4\" t=\"e\"><v>#REF!</v></c></row>"
    "<row r=\"5\"><c r=\"B5\"><f>1+1</f></c><c r=\"C5\" t=\"s\"><v>99</v></c></row>"
    "<row r=\"9\"><c r=\"A9\"><v>9</v></c></row>"
    "</sheetData></worksheet>";

class CellReaderTest : public testing::Test {
 protected:
  // A package of named sheet parts, opened.
  const SourceWorkbook& Open(std::vector<std::pair<std::string, std::string>> sheets, std::string names = "") {
    TinyPackage package;
    package.sheets = std::move(sheets);
    package.strings = kStrings;
    package.definedNames = std::move(names);
    package.Write(dir_ / "book.xlsx");
    source_.emplace(dir_ / "book.xlsx");
    return *source_;
  }

  TempDir dir_;
  std::optional<SourceWorkbook> source_;
};

TEST_F(CellReaderTest, RangeTextsShowEachCellTypeAndKeepOutsideCellsOut) {
  const SourceWorkbook& book = Open({{"S", kCells}});
  EXPECT_EQ(ReadCellTexts(book, 0, {"S", 1, 2, 5, 4}),
            (std::vector<std::string>{"TRUE", "", "2.5",     // B1..D1
                                      "#N/A", "", "",        // row 2, by the cells' order
                                      "", "", "",            // row 3 is absent
                                      "xy", "in4", "#REF!",  // B4..D4
                                      "", "", ""}));         // no value, a string index past the table
  EXPECT_EQ(ReadCellTexts(book, 0, {"S", 2, 1, 4, 1}), (std::vector<std::string>{"inline", "", "ka ji"}));
  EXPECT_TRUE(ReadCellTexts(book, 0, {"S", 1, 1, 5000, 1}).empty());  // beyond what a list ever shows
}

TEST_F(CellReaderTest, ResultsOfNamedCellsByTypeAndCaseOfTheirReference) {
  const SourceWorkbook& book = Open({{"S", kCells}});
  std::map<std::string, std::string> seen;
  for (const auto& [cell, result] : ReadCellResults(book, 0, {"A1", "b1", "D1", "A4", "B4", "C4", "D4", "B5", "C5", "Z9"}))
    seen[cell] = result.type + ":" + result.value;
  EXPECT_EQ(seen, (std::map<std::string, std::string>{{"A1", "str:one & two"},
                                                      {"b1", "b:1"},
                                                      {"D1", "n:2.5"},
                                                      {"A4", "str:ka ji"},
                                                      {"B4", "str:xy"},
                                                      {"C4", "str:in4"},
                                                      {"D4", "e:#REF!"}}));
}

// A workbook output shows through its result only a formula the sheet alone cannot keep; CSV
// text shows every formula so.
TEST_F(CellReaderTest, ResultsNeededAreThoseOfFormulasShownThroughThemAndSavedWithout) {
  const std::string other = TINY_WS "<sheetData/></worksheet>";
  struct Case {
    const char* cells;
    bool dropped, every;
  };
  for (const Case& c : {
           Case{"<c r=\"A1\"><f>1+2</f></c>", false, true},                         // local
           Case{"<c r=\"A1\"><f>Other!A1</f><v>3</v></c>", false, false},           // its result stored
           Case{"<c r=\"A1\"><f>Other!A1</f><v></v></c>", true, true},              // another sheet
           Case{"<c r=\"A1\"><f>[1]Book!A1</f></c>", true, true},                   // another workbook
           Case{"<c r=\"A1\"><f>Local</f></c>", false, true},                       // a name the sheet keeps
           Case{"<c r=\"A1\"><f>Elsewhere</f></c>", true, true},                    // a name pointing away
           Case{"<c r=\"A1\" t=\"str\"><f>Other!A1</f><v></v></c>", false, false},  // an empty string is a result
           // A shared formula's followers go with their master, even when the master has a value.
           Case{"<c r=\"A1\"><f t=\"shared\" si=\"0\" ref=\"A1:A2\">Other!B1</f><v>1</v></c>"
                "<c r=\"A2\"><f t=\"shared\" si=\"0\"/></c>",
                true, true},
       }) {
    Open({{"Own", std::string(TINY_WS "<sheetData><row r=\"1\">") + c.cells + "</row></sheetData></worksheet>"},
          {"Other", other}},
         "<definedName name=\"Local\">Own!$B$1</definedName><definedName name=\"Elsewhere\">Other!$A$1</definedName>");
    EXPECT_EQ(NeedsCalculatedResults(*source_, 0, ShownResults::kDroppedFormulas), c.dropped) << c.cells;
    EXPECT_EQ(NeedsCalculatedResults(*source_, 0, ShownResults::kEveryFormula), c.every) << c.cells;
  }
}

TEST_F(CellReaderTest, ADamagedPartFailsAsDamagedWhereverTheReaderStops) {
  const SourceWorkbook& book =
      Open({{"S", TINY_WS "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"2\"><c></x>"}});
  try {
    NeedsCalculatedResults(book, 0, ShownResults::kDroppedFormulas);
    FAIL() << "a damaged part was read";
  } catch (const AutomationError& error) {
    EXPECT_EQ(error.Reason(), ErrorReason::kDamaged);
    EXPECT_EQ(error.Description(),
              "'book.xlsx': sheet 'S': part xl/worksheets/sheet1.xml is not well-formed XML (line 1: mismatched tag)");
  }
  // The damage lies beyond row 1: a reader that stops there has what it needs.
  EXPECT_EQ(ReadCellResults(book, 0, {"A1"}).at("A1").value, "1");
}

// A document type is refused before anything is read, by every reader of the part alike.
TEST_F(CellReaderTest, APartDeclaringADocumentTypeIsRefusedByEveryReader) {
  const SourceWorkbook& book = Open({{"S", "<!DOCTYPE w [<!ENTITY e \"x\">]>" TINY_WS "<sheetData/></worksheet>"}});
  const std::vector<std::function<void()>> readers{
      [&] { ReadCellResults(book, 0, {"A1"}); },
      [&] { ReadCellTexts(book, 0, SheetRange{"S", 1, 1, 1, 1}); },
      [&] { NeedsCalculatedResults(book, 0, ShownResults::kEveryFormula); },
      [&] { book.SheetHasContent(0); }};
  for (std::size_t i = 0; i < readers.size(); ++i) {
    try {
      readers[i]();
      ADD_FAILURE() << "reader " << i << " read the part";
    } catch (const AutomationError& error) {
      EXPECT_EQ(error.Reason(), ErrorReason::kRefused) << i;
      EXPECT_EQ(error.Description(), "'book.xlsx': sheet 'S' is refused: part xl/worksheets/sheet1.xml declares a "
                                     "document type (entities are not allowed)")
          << i;
    }
  }
}

TEST(SharedStringTextTest, RunsWithoutPhoneticGuidesAndBlanksKept) {
  EXPECT_EQ(SharedStringText("<si><r><t xml:space=\"preserve\"> a </t></r><rPh><t>x</t></rPh><r><t>b</t></r></si>"),
            " a b");
  EXPECT_EQ(SharedStringText("<si><t>\n</t></si>"), "\n");
  EXPECT_EQ(SharedStringText("<si><t>broken"), "");
}

}  // namespace
}  // namespace tabrend::spreadsheet
