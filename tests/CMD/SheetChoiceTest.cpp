// The switches that choose what a run writes: "/hidden=0" and "/blank=0" leave sheets out,
// "/list=1" writes nothing and prints the plan, "/format=pdf" prints each sheet through
// LibreOffice. Whole runs in process, on workbooks openpyxl and XlsxWriter made.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>

#include "CMD/Module1.h"
#include "tests/engine/TestWorkbooks.h"

namespace tabrend::cli {
namespace {

namespace fs = std::filesystem;
using test::Listing;
using test::ScopedVariable;
using Names = std::vector<std::string>;

class NoOpener : public FolderOpener {
 public:
  void Open(const std::string&) override {}
};

// Shown and Formula hold values (Formula's formula refers to Shown, unless given one of its
// own), Hidden and Very are hidden and very hidden, Empty holds nothing, Styled only a styled
// empty cell, Note only a comment, Chart only a chart. Formula's formula has no stored
// result: one that refers to another sheet is calculated by LibreOffice, seconds a run.
void MakeMixedWorkbook(const std::string& path, const std::string& formula = "=Shown!A1*2") {
  test::RunPython(R"(import sys, openpyxl
from openpyxl.chart import BarChart, Reference
from openpyxl.comments import Comment
from openpyxl.styles import Font, PatternFill
path, formula = open(sys.argv[1], encoding='utf-8').read().split('\n')[:2]
book = openpyxl.Workbook()
shown = book.active
shown.title = 'Shown'
for row in range(1, 4):
    shown.cell(row, 1, row * 10)
book.create_sheet('Formula')['A1'] = formula
book.create_sheet('Hidden')['A1'] = 'secret'
book['Hidden'].sheet_state = 'hidden'
book.create_sheet('Very')['A1'] = 'more secret'
book['Very'].sheet_state = 'veryHidden'
book.create_sheet('Empty')
styled = book.create_sheet('Styled')
styled['B2'].font = Font(bold=True)
styled['B2'].fill = PatternFill('solid', fgColor='FFFF00')
book.create_sheet('Note')['B2'].comment = Comment('look here', 'me')
chart = BarChart()
chart.add_data(Reference(shown, min_col=1, min_row=1, max_row=3))
book.create_sheet('Chart').add_chart(chart, 'B2')
book.save(path)
)",
                  {path, formula});
}

// Visibility of each sheet of a workbook as openpyxl reads it: "name:state".
Names SheetStates(const std::string& path) {
  std::istringstream lines(test::RunPython(R"(import sys, openpyxl
path = open(sys.argv[1], encoding='utf-8').read().split('\n')[0]
for sheet in openpyxl.load_workbook(path).worksheets:
    print(sheet.title + ':' + sheet.sheet_state)
)",
                                           {path}));
  Names states;
  for (std::string line; std::getline(lines, line);) states.push_back(line);
  return states;
}

class SheetChoiceTest : public testing::Test {
 protected:
  // FormLoad's exit status; out and err keep what it printed.
  int Run(const Names& arguments) {
    out.str({});
    err.str({});
    return FormLoad(arguments, opener, out, err);
  }
  std::string Path(const std::string& relative) const { return dir / relative; }

  test::TempDir dir;
  NoOpener opener;
  std::ostringstream out, err;
};

TEST_F(SheetChoiceTest, HiddenAndBlankSheetsAreLeftOutOnlyWhenAsked) {
  MakeMixedWorkbook(Path("Mixed.xlsx"), "=2*2");  // six runs: none needs LibreOffice
  const Names all{"Chart.xlsx", "Empty.xlsx", "Formula.xlsx", "Hidden.xlsx", "Note.xlsx",
                  "Shown.xlsx", "Styled.xlsx", "Very.xlsx"};
  struct Case {
    Names switches;
    Names left;
  };
  for (const Case& c : {Case{{}, {}}, Case{{"/hidden=1", "/blank=1"}, {}},
                        Case{{"/hidden=0"}, {"Hidden.xlsx", "Very.xlsx"}},
                        Case{{"/BLANK=0"}, {"Empty.xlsx", "Styled.xlsx"}},
                        Case{{"/blank=0", "/hidden=0", "/verbose=1"}, {"Empty.xlsx", "Hidden.xlsx", "Styled.xlsx", "Very.xlsx"}}}) {
    fs::remove_all(Path("out"));
    Names arguments{Path("Mixed.xlsx"), Path("out")};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    ASSERT_EQ(Run(arguments), kExitDone) << err.str();
    Names expected;
    for (const auto& name : all)
      if (std::find(c.left.begin(), c.left.end(), name) == c.left.end()) expected.push_back(name);
    EXPECT_EQ(Listing(Path("out")), expected) << testing::PrintToString(c.switches);
  }
  // The report names what was left out, and why.
  EXPECT_NE(err.str().find("; left out Hidden (hidden), Very (hidden), Empty (blank), Styled (blank)\n"),
            std::string::npos) << err.str();
  // Written, a hidden sheet is made visible.
  EXPECT_EQ(SheetStates(Path("out/Shown.xlsx")), Names{"Shown:visible"});
  fs::remove_all(Path("out"));
  ASSERT_EQ(Run({Path("Mixed.xlsx"), Path("out"), "/hidden=1"}), kExitDone);
  EXPECT_EQ(SheetStates(Path("out/Hidden.xlsx")), Names{"Hidden:visible"});
  EXPECT_EQ(SheetStates(Path("out/Very.xlsx")), Names{"Very:visible"});
}

TEST_F(SheetChoiceTest, UnknownValuesOfTheNewSwitchesRejectTheLine) {
  test::MakeWorkbook(Path("Book.xlsx"), {"Jan"});
  for (const std::string bad : {"/hidden=2", "/blank=yes", "/list=", "/format=doc", "/format=xls"}) {
    EXPECT_EQ(Run({Path("Book.xlsx"), Path("out"), bad}), kExitNotAccepted) << bad;
    EXPECT_EQ(err.str(), "tabrendcli: '" + bad + "': unknown value (tabrendcli --help lists the usage)\n");
    EXPECT_FALSE(fs::exists(Path("out"))) << bad;
  }
  // A switch value as the output folder is no folder.
  EXPECT_EQ(Run({Path("Book.xlsx"), "/list=1"}), kExitNotAccepted);
  const std::string usage = Usage();
  for (const char* listed : {"/hidden=0", "/blank=0", "/format=pdf", "/list=1"})
    EXPECT_NE(usage.find(listed), std::string::npos) << listed;
}

TEST_F(SheetChoiceTest, ListPrintsWhatARealRunWritesAndWritesNothing) {
  fs::create_directories(Path("src"));
  fs::create_directories(Path("out/Book"));
  // Sheets "a|b" and "ab" both clean to "ab": the second output of the run takes ab_2.
  test::MakeWorkbook(Path("src/Book.xlsx"), {"a|b", "ab", "Old"});
  test::WriteFile(Path("out/Book/Old.xlsx"), "stays");
  MakeMixedWorkbook(Path("src/Mixed.xlsx"));
  test::TempDir scratch;
  ScopedVariable tmp("TMPDIR", scratch.path().string());
  const std::string out_ = Path("out") + "/";
  const Names arguments{Path("src"), Path("out"), "/list=1", "/overwrite=0", "/hidden=0", "/blank=0"};
  ASSERT_EQ(Run(arguments), kExitDone) << err.str();
  const std::string listed = out.str();
  EXPECT_EQ(listed.substr(0, listed.find("  Formula")),
            Path("src/Book.xlsx") + "\n"
            "  a|b -> " + out_ + "Book/ab.xlsx\n"
            "  ab -> " + out_ + "Book/ab_2.xlsx\n"
            "  Old -> " + out_ + "Book/Old.xlsx: skipped existing\n" +
            Path("src/Mixed.xlsx") + "\n"
            "  Shown -> " + out_ + "Mixed/Shown.xlsx\n");
  EXPECT_NE(listed.find("  Formula -> " + out_ + "Mixed/Formula.xlsx\n    cannot keep: "), std::string::npos) << listed;
  EXPECT_NE(listed.find("  Hidden: not written, hidden\n  Very: not written, hidden\n  Empty: not written, blank\n"
                        "  Styled: not written, blank\n  Note -> " + out_ + "Mixed/Note.xlsx\n  Chart -> " + out_ +
                        "Mixed/Chart.xlsx\n"),
            std::string::npos)
      << listed;
  EXPECT_EQ(err.str(), "");
  // Nothing written: no folder, no file, no scratch copy left.
  EXPECT_EQ(Listing(Path("out")), Names{"Book"});
  EXPECT_EQ(Listing(Path("out/Book")), Names{"Old.xlsx"});
  EXPECT_EQ(Listing(scratch.path()), Names{});

  // The real run writes exactly the paths listed.
  ASSERT_EQ(Run({Path("src"), Path("out"), "/overwrite=0", "/hidden=0", "/blank=0"}), kExitDone);
  EXPECT_EQ(Listing(Path("out/Book")), (Names{"Old.xlsx", "ab.xlsx", "ab_2.xlsx"}));
  EXPECT_EQ(Listing(Path("out/Mixed")), (Names{"Chart.xlsx", "Formula.xlsx", "Note.xlsx", "Shown.xlsx"}));
  EXPECT_EQ(test::ReadFile(Path("out/Book/Old.xlsx")), "stays");
}

TEST_F(SheetChoiceTest, ListFailsWhereTheRunWouldFail) {
  test::WriteFile(Path("Broken.xlsx"), "not a workbook");
  EXPECT_EQ(Run({Path("Broken.xlsx"), Path("out"), "/list=1"}), kExitFailed);
  EXPECT_EQ(out.str().rfind(Path("Broken.xlsx") + "\n  failed: ", 0), 0u) << out.str();
  EXPECT_FALSE(fs::exists(Path("out")));
  // A folder source whose output root is missing stops, as the run would.
  fs::create_directories(Path("src"));
  test::MakeWorkbook(Path("src/Book.xlsx"), {"Jan"});
  EXPECT_EQ(Run({Path("src"), Path("out"), "/list=1"}), kExitFailed);
  EXPECT_EQ(out.str(), Path("src/Book.xlsx") + "\n  failed: the output folder " + Path("out") +
                           "/ does not exist, and a folder source needs one; batch stopped\n");
  EXPECT_FALSE(fs::exists(Path("out")));
}

// A sheet part that cannot be read is damage, not a blank sheet: leaving blank sheets out
// must not turn it into a run that succeeds having written nothing.
TEST_F(SheetChoiceTest, ASheetThatCannotBeReadFailsTheRunWhenBlankSheetsAreLeftOut) {
  test::MakeWorkbook(Path("Book.xlsx"), {"Bad"});
  test::RunPython(R"(import sys, zipfile
path = open(sys.argv[1], encoding='utf-8').read().split('\n')[0]
parts = {i.filename: zipfile.ZipFile(path).read(i) for i in zipfile.ZipFile(path).infolist()}
parts['xl/worksheets/sheet1.xml'] = (b'<?xml version="1.0"?><!DOCTYPE w [<!ENTITY e "x">]>'
    b'<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData/></worksheet>')
with zipfile.ZipFile(path, 'w') as z:
    for name, data in parts.items(): z.writestr(name, data)
)",
                  {Path("Book.xlsx")});
  const std::string refused = "sheet 'Bad' is refused: part xl/worksheets/sheet1.xml declares a document type";
  for (const Names& switches : {Names{"/blank=0", "/verbose=1"}, Names{"/blank=0", "/list=1"}, Names{"/verbose=1"}}) {
    Names arguments{Path("Book.xlsx"), Path("out")};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    EXPECT_EQ(Run(arguments), kExitFailed) << testing::PrintToString(switches);
    EXPECT_NE((out.str() + err.str()).find(refused), std::string::npos) << out.str() << err.str();
    EXPECT_EQ(out.str().find("blank"), std::string::npos) << out.str();
    EXPECT_TRUE(!fs::exists(Path("out")) || Listing(Path("out")).empty()) << testing::PrintToString(switches);
  }
}

// Page width and height of each page, as pdfinfo reports them ("842x595").
Names PageSizes(const std::string& pdf) {
  const std::string command = "pdfinfo -f 1 -l 99 '" + pdf + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  Names sizes;
  char line[512];
  while (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) {
    double width = 0, height = 0;
    int page = 0;
    if (std::sscanf(line, "Page %d size: %lf x %lf", &page, &width, &height) == 3)
      sizes.push_back(std::to_string(static_cast<int>(width + 0.5)) + "x" + std::to_string(static_cast<int>(height + 0.5)));
  }
  if (pipe != nullptr) ::pclose(pipe);
  return sizes;
}

TEST_F(SheetChoiceTest, PdfGivesOnePdfPerSheetInItsOwnOrientationFromOneLibreOfficeStart) {
  fs::create_directories(Path("src"));
  for (const char* book : {"One", "Two"}) {
    test::RunPython(R"(import sys, xlsxwriter
path = open(sys.argv[1], encoding='utf-8').read().split('\n')[0]
book = xlsxwriter.Workbook(path)
wide = book.add_worksheet('Wide')
wide.set_landscape()
wide.set_paper(9)
wide.write('A1', 'landscape')
tall = book.add_worksheet('Tall')
tall.set_portrait()
tall.set_paper(9)
tall.write('A1', 'portrait')
book.close()
)",
                    {Path(std::string("src/") + book + ".xlsx")});
  }
  // A LibreOffice that counts its starts, then does the work.
  fs::create_directories(Path("bin"));
  test::WriteFile(Path("bin/soffice"), "#!/bin/sh\necho start >> '" + Path("starts") + "'\nexec /usr/bin/soffice \"$@\"\n");
  fs::permissions(Path("bin/soffice"), fs::perms::owner_all);
  ScopedVariable path("PATH", Path("bin") + ":/usr/bin:/bin");
  fs::create_directories(Path("out"));
  ASSERT_EQ(Run({Path("src"), Path("out"), "/format=pdf"}), kExitDone) << err.str();
  EXPECT_EQ(test::ReadFile(Path("starts")), "start\n");
  for (const char* book : {"One", "Two"}) {
    const std::string folder = Path("out/") + book;
    EXPECT_EQ(Listing(folder), (Names{"Tall.pdf", "Wide.pdf"}));
    EXPECT_EQ(PageSizes(folder + "/Wide.pdf"), Names{"842x595"});
    EXPECT_EQ(PageSizes(folder + "/Tall.pdf"), Names{"595x842"});
  }
}

// ODS is a row of the formats table like PDF: LibreOffice converts each sheet's workbook at
// the batch's end, and LibreOffice reads each file back with that sheet's values.
TEST_F(SheetChoiceTest, OdsGivesEachSheetAsAnOpenDocumentSpreadsheetWithItsValues) {
  test::MakeWorkbook(Path("Book.xlsx"), {"Jan", "Feb"});
  fs::create_directories(Path("out"));
  ASSERT_EQ(Run({Path("Book.xlsx"), Path("out"), "/format=ods"}), kExitDone) << err.str();
  ASSERT_EQ(Listing(Path("out")), (Names{"Feb.ods", "Jan.ods"}));
  EXPECT_EQ(test::RunPython(R"(import sys
sys.path.insert(0, ')" TABREND_SOURCE_DIR R"(/tests/tools')
from lo_cells import lo_cells
paths = open(sys.argv[1], encoding='utf-8').read().split('\n')[:-1]
for path, result in lo_cells(paths).items():
    print(path.rsplit('/', 1)[1], result.error, sorted((sheet, sorted(cells.items())) for sheet, cells in result.sheets.items()))
)",
                            {Path("out/Feb.ods"), Path("out/Jan.ods")}),
            "Feb.ods None [('Feb', [((0, 0), 'Feb data')])]\nJan.ods None [('Jan', [((0, 0), 'Jan data')])]\n");
}

TEST_F(SheetChoiceTest, PdfWithoutLibreOfficeFailsEachWorkbookAndWritesNoPdf) {
  fs::create_directories(Path("src"));
  test::MakeWorkbook(Path("src/A.xlsx"), {"Jan"});
  test::MakeWorkbook(Path("src/B.xlsx"), {"Feb"});
  ScopedVariable path("PATH", Path("nowhere"));
  fs::create_directories(Path("out"));
  ASSERT_EQ(Run({Path("src"), Path("out"), "/format=pdf", "/verbose=1"}), kExitFailed);
  const std::string needs =
      ".xlsx' cannot be written as PDF: PDF output needs LibreOffice, which is not installed (install the Debian "
      "package libreoffice-calc-nogui)\n";
  for (const char* book : {"A", "B"})
    EXPECT_NE(err.str().find(Path(std::string("src/") + book + ".xlsx") + ": failed (error 1004): '" + book + needs),
              std::string::npos)
        << err.str();
  EXPECT_EQ(Listing(Path("out/A")), Names{});
  EXPECT_EQ(Listing(Path("out/B")), Names{});
}

}  // namespace
}  // namespace tabrend::cli
