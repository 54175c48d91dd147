// The automation objects over the native engine: the operations and effects callers rely
// on, the application's refusals with their numbers and descriptions, and bad input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/Automation.h"
#include "tests/engine/TestWorkbooks.h"

namespace tabrend::automation {
namespace {

using test::MakeWorkbook;
using test::ReadFile;
using test::ReadSheets;
using test::RunPython;
using test::TempDir;

std::unique_ptr<Application> NewApp() { return CreateObject("Excel.Application"); }

// The description of the AutomationError that action throws ("" when it throws none).
template <typename Action>
std::string ErrorOf(Action&& action, long expectedNumber = kApplicationDefined) {
  try {
    action();
  } catch (const AutomationError& error) {
    EXPECT_EQ(error.Number(), expectedNumber) << error.Description();
    return error.Description();
  }
  return "";
}

// The split of one sheet as callers do it: Add, SaveAs, Copy before sheet 1, delete the
// rest, rename, Save, Close.
void WriteOne(Application& app, Sheet& sheet, const std::string& path, const std::string& name) {
  Workbook& book = app.Workbooks().Add();
  book.SaveAs(path);
  sheet.Copy(book.Sheets()(1));
  for (long k = book.Sheets().Count(); k >= 2; --k) book.Sheets()(k).Delete();
  book.Sheets()(1).name(name);
  book.Save();
  book.Close();
}

TEST(ApplicationTest, CreatesByClassNameAndNeverAttaches) {
  auto app = NewApp();
  EXPECT_EQ(app->Version(), "16.0");
  EXPECT_EQ(ErrorOf([] { CreateObject("Word.Application"); }, kCannotCreateObject),
            "ActiveX component can't create object: class 'Word.Application' is not available");
  EXPECT_NE(ErrorOf([] { GetObject("Excel.Application"); }, kCannotCreateObject), "");
}

TEST(ApplicationTest, AddGivesBookWithSheet1AndQuitEndsEverything) {
  auto app = NewApp();
  Workbook& first = app->Workbooks().Add();
  Workbook& second = app->Workbooks().Add();
  EXPECT_EQ(first.Name(), "Book1");
  EXPECT_EQ(second.Name(), "Book2");
  EXPECT_EQ(first.Sheets().Count(), 1);
  EXPECT_EQ(first.Sheets()(1).name(), "Sheet1");
  EXPECT_EQ(ErrorOf([&] { first.Sheets()(2); }, kSubscriptOutOfRange),
            "Subscript out of range: 'Book1' has no sheet 2");
  EXPECT_EQ(app->Workbooks().Count(), 2);
  first.Close();
  EXPECT_EQ(app->Workbooks().Count(), 1);
  EXPECT_EQ(ErrorOf([&] { first.Sheets(); }), "the workbook 'Book1' is closed");
  EXPECT_EQ(ErrorOf([&] { first.Close(); }), "the workbook 'Book1' is closed");
  app->Quit();
  EXPECT_EQ(ErrorOf([&] { app->Workbooks(); }), "the application has quit");
}

TEST(ApplicationTest, WorksheetsCountsWorksheetsOnlyAndSheetsEveryKind) {
  TempDir dir;
  RunPython(R"(import sys, xlsxwriter
path = open(sys.argv[1]).read().split('\n')[0]
book = xlsxwriter.Workbook(path)
data = book.add_worksheet('Data')
data.write_column('A1', [1, 2, 3])
chart = book.add_chartsheet('Chart')
c = book.add_chart({'type': 'line'}); c.add_series({'values': '=Data!$A$1:$A$3'}); chart.set_chart(c)
book.add_worksheet('More')
book.close()
)",
            {dir / "mixed.xlsx"});
  auto app = NewApp();
  Workbook& book = app->Workbooks().Open(dir / "mixed.xlsx");
  EXPECT_EQ(book.Worksheets().Count(), 2);
  EXPECT_EQ(book.Sheets().Count(), 3);
  EXPECT_EQ(book.Worksheets()(2).name(), "More");
  EXPECT_EQ(book.Sheets()(2).name(), "Chart");
  EXPECT_FALSE(book.Sheets()(2).IsWorksheet());
  Workbook& out = app->Workbooks().Add();
  EXPECT_NE(ErrorOf([&] { book.Sheets()(2).Copy(out.Sheets()(1)); }), "");
}

TEST(SheetTest, CopyGoesBeforeAndTakesNumberedNameOnClash) {
  TempDir dir;
  MakeWorkbook(dir / "src.xlsx", {"Sheet1", "A name of exactly thirty-one ch"});
  auto app = NewApp();
  Workbook& src = app->Workbooks().Open(dir / "src.xlsx");
  Workbook& out = app->Workbooks().Add();
  src.Worksheets()(1).Copy(out.Sheets()(1));
  src.Worksheets()(1).Copy(out.Sheets()(1));
  src.Worksheets()(2).Copy(out.Sheets()(3));
  src.Worksheets()(2).Copy(out.Sheets()(1));
  std::vector<std::string> names;
  for (long i = 1; i <= out.Sheets().Count(); ++i) names.push_back(out.Sheets()(i).name());
  EXPECT_EQ(names, (std::vector<std::string>{"A name of exactly thirty-on (2)", "Sheet1 (3)", "Sheet1 (2)",
                                             "A name of exactly thirty-one ch", "Sheet1"}));
}

TEST(SheetTest, DeleteRefusesTheLastVisibleSheet) {
  auto app = NewApp();
  Workbook& book = app->Workbooks().Add();
  Sheet& only = book.Sheets()(1);
  EXPECT_EQ(ErrorOf([&] { only.Delete(); }),
            "'Book1': sheet 'Sheet1' cannot be deleted: a workbook must contain at least one visible worksheet");
  EXPECT_EQ(book.Sheets().Count(), 1);
}

struct NameCase {
  const char* name;
  const char* problem;  // nullptr when accepted
};

void PrintTo(const NameCase& row, std::ostream* out) { *out << '"' << row.name << '"'; }

class SheetNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(SheetNameTest, FollowsTheApplicationsRules) {
  auto app = NewApp();
  Workbook& book = app->Workbooks().Add();
  TempDir dir;
  MakeWorkbook(dir / "two.xlsx", {"Other"});
  book.SaveAs(dir / "book.xlsx");
  Workbook& src = app->Workbooks().Open(dir / "two.xlsx");
  src.Worksheets()(1).Copy(book.Sheets()(1));  // the book now has "Other" and "Sheet1"
  Sheet& sheet = book.Sheets()(2);
  const std::string error = ErrorOf([&] { sheet.name(GetParam().name); });
  if (GetParam().problem == nullptr) {
    EXPECT_EQ(error, "");
    EXPECT_EQ(sheet.name(), GetParam().name);
  } else {
    EXPECT_EQ(error, std::string("'book.xlsx': sheet 'Sheet1' cannot be renamed to '") + GetParam().name + "': " +
                         GetParam().problem);
    EXPECT_EQ(sheet.name(), "Sheet1");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SheetNameTest,
    testing::Values(NameCase{"Report", nullptr}, NameCase{"sheet1", nullptr}, NameCase{"Übersicht 2026", nullptr},
                    NameCase{"1234567890123456789012345678901", nullptr},
                    NameCase{"12345678901234567890123456789012", "a sheet name cannot be longer than 31 characters"},
                    NameCase{"", "a sheet name cannot be empty"},
                    NameCase{"a/b", "a sheet name cannot contain any of : \\ / ? * [ ]"},
                    NameCase{"a\\b", "a sheet name cannot contain any of : \\ / ? * [ ]"},
                    NameCase{"what?", "a sheet name cannot contain any of : \\ / ? * [ ]"},
                    NameCase{"[x]", "a sheet name cannot contain any of : \\ / ? * [ ]"},
                    NameCase{"'quoted", "a sheet name cannot begin or end with an apostrophe"},
                    NameCase{"it's", nullptr}, NameCase{"history", "'History' is reserved by the application"},
                    NameCase{"OTHER", "that name is already taken"}));

TEST(WorkbookTest, SaveAsRefusesUnsafeOrImpossiblePathsAndWritesNothing) {
  TempDir dir;
  MakeWorkbook(dir / "src.xlsx", {"Data"});
  std::filesystem::create_directory(dir / "folder");
  auto app = NewApp();
  Workbook& src = app->Workbooks().Open(dir / "src.xlsx");
  Workbook& book = app->Workbooks().Add();
  EXPECT_EQ(ErrorOf([&] { book.SaveAs(dir / "a\tb.xlsx"); }),
            "'a\tb.xlsx' cannot be saved: the name holds a control character (U+0009)");
  // Characters that disguise a name where it is shown: C1 controls and bidirectional overrides.
  for (const std::string name : {"c1\u0085.xlsx", "c1\u009B[2J.xlsx", "bill\u202Excl.exe.xlsx", "x\u2066y.xlsx"})
    EXPECT_NE(ErrorOf([&] { book.SaveAs(dir / name); }).find("the name holds a control character (U+"), std::string::npos)
        << name;
  EXPECT_EQ(ErrorOf([&] { book.SaveAs(dir / "a\\b.xlsx"); }),
            "'a\\b.xlsx' cannot be saved: a file name cannot hold \"\\\"");
  EXPECT_EQ(ErrorOf([&] { book.SaveAs(dir / "missing/x.xlsx"); }),
            "'x.xlsx' cannot be saved: the folder '" + (dir / "missing") + "' does not exist");
  EXPECT_EQ(ErrorOf([&] { book.SaveAs(dir / "folder"); }),
            "'folder' cannot be saved: '" + (dir / "folder") + "' is a folder");
  EXPECT_EQ(ErrorOf([&] { book.SaveAs(dir / "src.xlsx"); }),
            "'src.xlsx' cannot be saved: it is open as a source workbook, which is never written");
  EXPECT_EQ(ErrorOf([&] { src.Save(); }), "'src.xlsx' is open read-only; save it under another name");
  EXPECT_EQ(ErrorOf([&] { book.Save(); }), "'Book1' has never been saved; use SaveAs first");
  EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"folder", "src.xlsx"}));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "folder"));
  // The folder is the caller's: only the file's own name is the application's to refuse.
  std::filesystem::create_directory(dir / "tab\tand\\slash");
  book.SaveAs(dir / "folder/../tab\tand\\slash/x.xlsx");
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "tab\tand\\slash/x.xlsx"));
}

// A staged file is written once, by Save, straight into its own file: SaveAs only names it.
TEST(WorkbookTest, StagedSaveAsWritesNothingUntilSave) {
  TempDir dir;
  auto app = NewApp();
  Workbook& book = app->Workbooks().Add();
  for (const auto& [file, format] : {std::pair{"a.xlsx", xlOpenXMLWorkbook}, std::pair{"a.csv", xlCSVUTF8}}) {
    book.SaveAs(dir / file, format, SaveMode::kStaged);
    EXPECT_FALSE(std::filesystem::exists(dir / file));
    EXPECT_EQ(book.Name(), file);
    book.Save();
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / file));
  }
  EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"a.csv", "a.xlsx"}));
  EXPECT_EQ(ReadFile(dir / "a.csv"), "\r\n");
}

TEST(WorkbookTest, SplittingNeverTouchesTheSource) {
  TempDir dir;
  MakeWorkbook(dir / "src.xlsx", {"One", "Two"});
  const std::string before = ReadFile(dir / "src.xlsx");
  struct stat statBefore {};
  ::stat((dir / "src.xlsx").c_str(), &statBefore);
  {
    auto app = NewApp();
    Workbook& src = app->Workbooks().Open(dir / "src.xlsx");
    src.Worksheets()(1).name("Renamed");
    WriteOne(*app, src.Worksheets()(1), dir / "one.xlsx", "Renamed");
    WriteOne(*app, src.Worksheets()(2), dir / "two.xlsx", "Two");
    src.Close();
    app->Quit();
  }
  struct stat statAfter {};
  ::stat((dir / "src.xlsx").c_str(), &statAfter);
  EXPECT_EQ(ReadFile(dir / "src.xlsx"), before);
  EXPECT_EQ(statAfter.st_mtim.tv_sec, statBefore.st_mtim.tv_sec);
  EXPECT_EQ(ReadSheets(dir / "one.xlsx"), (std::vector<std::pair<std::string, std::string>>{{"Renamed", "One data"}}));
  EXPECT_EQ(ReadSheets(dir / "two.xlsx"), (std::vector<std::pair<std::string, std::string>>{{"Two", "Two data"}}));
}

TEST(WorkbookTest, RenameRewritesEveryReferenceToTheSheet) {
  TempDir dir;
  RunPython(R"(import sys, xlsxwriter
path = open(sys.argv[1]).read().split('\n')[0]
book = xlsxwriter.Workbook(path)
book.calc_on_load = False  # the results stand, as a spreadsheet program saves them
data = book.add_worksheet('Data')
other = book.add_worksheet('Other')
data.write('A1', 5)
data.write_formula('B1', '=Data!A1*2', None, 10)
data.write_formula('C1', "='Other'!A1", None, 'elsewhere')
data.write_url('D1', "internal:'Data'!A1", string='to self')
data.write_url('E1', "internal:Other!A1", string='to other')
data.data_validation('F1', {'validate': 'list', 'source': '=Data!$A$1:$A$3'})
data.data_validation('G1', {'validate': 'list', 'source': '=Other!$A$1:$A$3'})
data.conditional_format('A1:A5', {'type': 'formula', 'criteria': '=Data!$A$1>3', 'format': book.add_format({'bold': 1})})
other.write('A1', 'elsewhere')
book.define_name('Total', '=Data!$A$1')
book.define_name('Data!Local', '=Data!$B$1')
book.define_name('Outside', '=Other!$A$1')
book.close()
)",
            {dir / "refs.xlsx"});
  auto app = NewApp();
  Workbook& src = app->Workbooks().Open(dir / "refs.xlsx");
  Workbook& out = app->Workbooks().Add();
  out.SaveAs(dir / "out.xlsx");
  src.Worksheets()(1).Copy(out.Sheets()(1));
  out.Sheets()(2).Delete();
  out.Sheets()(1).name("My Report");
  out.Save();
  const std::vector<std::string> report = out.LossReport();
  out.Close();
  const std::string seen = RunPython(R"(import sys, openpyxl
path = open(sys.argv[1]).read().split('\n')[0]
book = openpyxl.load_workbook(path)
sheet = book.active
print(sheet.title, sheet['B1'].value, sheet['C1'].value, sheet['D1'].hyperlink.location, sheet['E1'].hyperlink)
print(sorted((n.name, n.attr_text, n.localSheetId) for n in book.defined_names.definedName))
print([dv.formula1 for dv in sheet.data_validations.dataValidation])
print([r.formula for cf in sheet.conditional_formatting for r in cf.rules])
)",
                                     {dir / "out.xlsx"});
  EXPECT_EQ(seen,
            "My Report ='My Report'!A1*2 elsewhere 'My Report'!A1 None\n"
            "[('Local', \"'My Report'!$B$1\", 0), ('Total', \"'My Report'!$A$1\", None)]\n"
            "[\"'My Report'!$A$1:$A$3\", '\"elsewhere\"']\n"
            "[[\"'My Report'!$A$1>3\"]]\n");
  EXPECT_EQ(report, (std::vector<std::string>{
                        "1 defined names referring to other sheets or workbooks were left out",
                        "1 formulas referring to other sheets, other workbooks or missing names were replaced by "
                        "their values",
                        "1 links to other sheets were removed",
                        "1 validation lists or rule values taken from other sheets now hold the values they showed"}));
}

// A name comes along when everything it uses does, through any chain of names; a sheet's own
// name shadows the workbook's of the same name for that sheet; a constant comes only when used.
TEST(WorkbookTest, NamesComeAlongWhenEverythingTheyUseDoes) {
  TempDir dir;
  RunPython(R"(import sys, xlsxwriter
path = open(sys.argv[1]).read().split('\n')[0]
book = xlsxwriter.Workbook(path)
data = book.add_worksheet('Data'); other = book.add_worksheet('Other')
book.define_name('Bad_0', '=Other!$A$1')
book.define_name('Good_0', '=Data!$A$1')
for i in range(1, 30):
    book.define_name(f'Bad_{i}', f'=Bad_{i-1}+1')
    book.define_name(f'Good_{i}', f'=Good_{i-1}+1')
book.define_name('Mixed', '=Good_29+Bad_29')
book.define_name('Shadowed', '=Other!$B$1')
book.define_name('Data!Shadowed', '=Data!$B$1')
book.define_name('UsesShadowed', '=Shadowed*2')
book.define_name('Data!LocalUse', '=Shadowed*3')
book.define_name('Rate', '=0.19')
book.define_name('Unused', '="SECRET"')
data.write_formula('A2', '=Rate*2', None, 0.38)
book.close()
)",
            {dir / "names.xlsx"});
  auto app = NewApp();
  Workbook& src = app->Workbooks().Open(dir / "names.xlsx");
  Workbook& out = app->Workbooks().Add();
  out.SaveAs(dir / "out.xlsx");
  src.Worksheets()(1).Copy(out.Sheets()(1));
  out.Sheets()(2).Delete();
  out.Save();
  app->Quit();
  const std::string seen = RunPython(R"(import sys, openpyxl
path = open(sys.argv[1]).read().split('\n')[0]
book = openpyxl.load_workbook(path)
names = sorted((n.name, n.localSheetId) for n in book.defined_names.definedName)
print(len([n for n in names if n[0].startswith('Good_')]), [n for n in names if not n[0].startswith('Good_')])
)",
                                     {dir / "out.xlsx"});
  EXPECT_EQ(seen, "30 [('LocalUse', 0), ('Rate', None), ('Shadowed', 0)]\n");
}

// Bad input: each gets its own description, and nothing is written.
struct BadInput {
  const char* name;
  const char* python;  // writes sys.argv path
  const char* error;   // exact description, "{}" standing for the file name
  bool failsAtOpen;
};

void PrintTo(const BadInput& row, std::ostream* out) { *out << row.name; }

class BadInputTest : public testing::TestWithParam<BadInput> {};

TEST_P(BadInputTest, FailsWithItsDescriptionAndLeavesNothing) {
  TempDir dir;
  const std::string file = std::string(GetParam().name) + ".xlsx";
  RunPython(std::string("import sys, zipfile\npath = open(sys.argv[1]).read().split('\\n')[0]\n") + GetParam().python,
            {dir / file});
  std::string expected = GetParam().error;
  expected.replace(expected.find("{}"), 2, "'" + file + "'");
  std::filesystem::create_directory(dir / "out");
  auto app = NewApp();
  const std::string error = ErrorOf([&] {
    Workbook& src = app->Workbooks().Open(dir / file);
    if (GetParam().failsAtOpen) return;
    WriteOne(*app, src.Worksheets()(1), dir / "out/x.xlsx", "x");
  });
  EXPECT_EQ(error, expected);
  if (GetParam().failsAtOpen) {
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "out"));
  } else {
    // The failed Save leaves the file SaveAs wrote, whole, and nothing beside it.
    EXPECT_EQ(test::Listing(dir.path() / "out"), std::vector<std::string>{"x.xlsx"});
    EXPECT_EQ(ReadSheets(dir / "out/x.xlsx"), (std::vector<std::pair<std::string, std::string>>{{"Sheet1", ""}}));
  }
}

#define MINIMAL_PACKAGE                                                                                           \
  "def package(parts):\n"                                                                                         \
  "    z = zipfile.ZipFile(path, 'w')\n"                                                                        \
  "    base = {'[Content_Types].xml': '<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">" \
  "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"        \
  "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"                                                 \
  "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/></Types>'," \
  " '_rels/.rels': '<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"       \
  "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>'," \
  " 'xl/_rels/workbook.xml.rels': '<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" \
  "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>'," \
  " 'xl/workbook.xml': '<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">" \
  "<sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>'," \
  " 'xl/worksheets/sheet1.xml': '<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData/></worksheet>'}\n" \
  "    base.update(parts)\n"                                                                                      \
  "    for name, data in base.items():\n"                                                                       \
  "        if data is not None: z.writestr(name, data)\n"                                                         \
  "    z.close()\n"

INSTANTIATE_TEST_SUITE_P(
    Packages, BadInputTest,
    testing::Values(
        BadInput{"text", "open(path, 'w').write('just text, not a workbook')\n",
                 "{} is not a workbook: no ZIP central directory", true},
        BadInput{"empty", "open(path, 'w').close()\n", "{} is not a workbook: the file is empty", true},
        BadInput{"truncated", MINIMAL_PACKAGE "package({})\ndata = open(path, 'rb').read()\nopen(path, 'wb').write(data[:len(data) // 2])\n",
                 "{} is damaged or truncated: no ZIP central directory", true},
        BadInput{"encrypted", "open(path, 'wb').write(b'\\xd0\\xcf\\x11\\xe0\\xa1\\xb1\\x1a\\xe1' + b'\\0' * 504 + 'EncryptedPackage'.encode('utf-16-le'))\n",
                 "{} is encrypted with a password; remove the password in the spreadsheet program and try again", true},
        BadInput{"legacy", "open(path, 'wb').write(b'\\xd0\\xcf\\x11\\xe0\\xa1\\xb1\\x1a\\xe1' + b'\\0' * 504 + 'Workbook'.encode('utf-16-le'))\n",
                 "{} could not be opened: LibreOffice converted nothing, so it is damaged or is not an Excel 97-2003 "
                 "workbook (.xls)", true},
        BadInput{"no_content_types", MINIMAL_PACKAGE "package({'[Content_Types].xml': None})\n",
                 "{} is not a workbook: it has no [Content_Types].xml part", true},
        BadInput{"document", MINIMAL_PACKAGE "package({'xl/workbook.xml': None, '_rels/.rels': '<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"/>'})\n",
                 "{} is not a workbook: it has no main document part", true},
        BadInput{"billion_laughs", MINIMAL_PACKAGE "package({'xl/workbook.xml': '<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 \"&lol;&lol;&lol;\">]><workbook>&lol2;</workbook>'})\n",
                 "{} is refused: part xl/workbook.xml declares a document type (entities are not allowed)", true},
        BadInput{"external_entity", MINIMAL_PACKAGE "package({'xl/worksheets/sheet1.xml': '<?xml version=\"1.0\"?><!DOCTYPE w [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>&e;</t></is></c></row></sheetData></worksheet>'})\n",
                 "{}: sheet 'S' is refused: part xl/worksheets/sheet1.xml declares a document type (entities are not "
                 "allowed)", false},
        BadInput{"bad_sheet_xml", MINIMAL_PACKAGE "package({'xl/worksheets/sheet1.xml': '<worksheet><sheetData><row></sheetData></worksheet>'})\n",
                 "{}: sheet 'S': part xl/worksheets/sheet1.xml is not well-formed XML (line 1: mismatched tag)", false},
        BadInput{"missing_string", MINIMAL_PACKAGE "package({'xl/worksheets/sheet1.xml': '<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row r=\"1\"><c r=\"B7\" t=\"s\"><v>3</v></c></row></sheetData></worksheet>'})\n",
                 "{}: sheet 'S': cell B7 refers to shared string 3, which does not exist", false},
        BadInput{"zip_bomb", MINIMAL_PACKAGE "z = zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED)\nz.writestr('big.bin', b'\\0' * (64 << 20))\nz.close()\n",
                 "{} is refused: part big.bin decompresses more than 1000 times its stored size (a ZIP bomb)", true}),
    [](const testing::TestParamInfo<BadInput>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tabrend::automation
