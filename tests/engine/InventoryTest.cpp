// The source inventory: which workbooks a source lists, which path a listed workbook has, the
// sheets of a workbook, and the sheet choices kept per workbook.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/engine/DesktopFixture.h"

namespace tabrend {
namespace {

namespace fs = std::filesystem;
using test::DesktopTest;
using Names = std::vector<std::string>;

// --- ListWorkbooks -------------------------------------------------------------------------

struct ListingCase {
  const char* label;
  Names files;    // empty files made in the folder; a trailing "/" makes a folder
  const char* source;  // relative to the temporary folder
  Names listed;
};

void PrintTo(const ListingCase& row, std::ostream* out) { *out << row.label; }

class ListWorkbooksTest : public DesktopTest, public testing::WithParamInterface<ListingCase> {};

TEST_P(ListWorkbooksTest, ListsTheSourcesWorkbooksAllTickedTheFirstSelected) {
  fs::create_directory(Path("src"));
  for (const auto& name : GetParam().files) {
    if (name.back() == '/') {
      fs::create_directory(Path("src/" + name));
    } else {
      test::WriteFile(Path("src/" + name), "");
    }
  }
  engine_.SheetTable.Store(1, 1, "Kept from before", true);

  engine_.ListWorkbooks(Path(GetParam().source));

  EXPECT_EQ(view_.Texts(ListId::kWorkbooks), GetParam().listed);
  EXPECT_EQ(view_.Ticks(ListId::kWorkbooks), std::vector<bool>(GetParam().listed.size(), true));
  EXPECT_EQ(view_.SelectedIndex(ListId::kWorkbooks), GetParam().listed.empty() ? 0 : 1);
  EXPECT_FALSE(engine_.SheetTable.HoldsChoices(1));
  EXPECT_EQ(applications_, 0);  // listing workbooks opens none of them
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ListWorkbooksTest,
    testing::Values(
        ListingCase{"ExtensionsBeginningWithXlsInAnyCaseInNameOrder",
                    {"b.xlsx", "a.XLS", "c.xlsm", "d.Xlsb", "e.txt", "f.xl", "g.xlsx.bak",
                     ".hidden.xlsx", "folder.xlsx/", "noextension"},
                    "src",
                    {"a.XLS", "b.xlsx", "c.xlsm", "d.Xlsb"}},
        ListingCase{"FolderWithoutWorkbooks", {"notes.txt", "sub/"}, "src", {}},
        ListingCase{"EmptyFolder", {}, "src", {}},
        ListingCase{"FileSourceWhateverItsExtension", {"notes.txt"}, "src/notes.txt", {"notes.txt"}},
        ListingCase{"MissingSource", {}, "gone", {}},
        ListingCase{"HiddenFileSourceCountsAsMissing", {".book.xlsx"}, "src/.book.xlsx", {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(DesktopTest, FolderWithMoreWorkbooksThanTheLimitListsTheFirstInNameOrder) {
  fs::create_directory(Path("many"));
  for (int i = 600; i >= 1; --i) {
    char name[32];
    std::snprintf(name, sizeof name, "book%03d.xlsx", i);
    test::WriteFile(Path("many/") + name, "");
  }
  engine_.ListWorkbooks(Path("many"));
  ASSERT_EQ(view_.Count(ListId::kWorkbooks), 500);
  EXPECT_EQ(view_.Text(ListId::kWorkbooks, 1), "book001.xlsx");
  EXPECT_EQ(view_.Text(ListId::kWorkbooks, 500), "book500.xlsx");
}

// --- GetSelectedWorkbookPath, GetWorkbookPath ----------------------------------------------

struct PathCase {
  const char* label;
  const char* source;   // relative; "" for no source entry at all
  Names workbooks;      // entries of the workbook list, the first selected
  const char* expected; // relative; "" for empty text
};

void PrintTo(const PathCase& row, std::ostream* out) { *out << row.label; }

class WorkbookPathTest : public DesktopTest, public testing::WithParamInterface<PathCase> {};

TEST_P(WorkbookPathTest, ResolvesTheSourceAndTheListedName) {
  fs::create_directory(Path("src"));
  test::WriteFile(Path("src/a.xlsx"), "");
  test::WriteFile(Path("src/b.xlsx"), "");
  fs::create_directory(Path("src/dir.xlsx"));
  if (*GetParam().source) view_.Add(ListId::kSources, Path(GetParam().source));
  for (const auto& name : GetParam().workbooks) view_.Add(ListId::kWorkbooks, name);
  const std::string expected = *GetParam().expected ? Path(GetParam().expected) : "";

  EXPECT_EQ(engine_.GetSelectedWorkbookPath(), expected);
  if (!GetParam().workbooks.empty()) {
    EXPECT_EQ(engine_.GetWorkbookPath(1), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, WorkbookPathTest,
    testing::Values(PathCase{"FolderAndListedFile", "src", {"a.xlsx"}, "src/a.xlsx"},
                    PathCase{"FileSourceWhateverIsListed", "src/a.xlsx", {"other.xlsx"}, "src/a.xlsx"},
                    PathCase{"FileSourceWithEmptyWorkbookList", "src/a.xlsx", {}, "src/a.xlsx"},
                    PathCase{"ListedFileGoneSinceListing", "src", {"gone.xlsx"}, ""},
                    PathCase{"ListedNameIsAFolder", "src", {"dir.xlsx"}, ""},
                    PathCase{"FolderWithEmptyWorkbookList", "src", {}, ""},
                    PathCase{"MissingSource", "nowhere", {"a.xlsx"}, ""},
                    PathCase{"NoSourceEntry", "", {"a.xlsx"}, ""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(DesktopTest, WorkbookPathOfEachPositionOfAFolderAndOfAFileSource) {
  fs::create_directory(Path("src"));
  test::WriteFile(Path("src/a.xlsx"), "");
  test::WriteFile(Path("src/b.xlsx"), "");
  view_.Add(ListId::kSources, Path("src"));
  engine_.ListWorkbooks(Path("src"));
  EXPECT_EQ(engine_.GetWorkbookPath(2), Path("src/b.xlsx"));
  EXPECT_THROW(engine_.GetWorkbookPath(3), automation::AutomationError);

  view_.Clear(ListId::kSources);
  view_.Add(ListId::kSources, Path("src/a.xlsx"));
  EXPECT_EQ(engine_.GetWorkbookPath(2), Path("src/a.xlsx"));
}

// --- ListSheets, SaveSheetChoices ----------------------------------------------------------

TEST_F(DesktopTest, ListSheetsReadsEveryWorksheetTickedAndStoresThem) {
  test::MakeWorkbooks({{Path("Q1.xlsx"), {"Jan", "Feb", "Mar"}}});
  view_.Add(ListId::kSources, Path("Q1.xlsx"));
  engine_.ListWorkbooks(Path("Q1.xlsx"));
  engine_.ListSheets();

  EXPECT_EQ(view_.Texts(ListId::kSheets), (Names{"Jan", "Feb", "Mar"}));
  EXPECT_EQ(view_.Ticks(ListId::kSheets), std::vector<bool>(3, true));
  EXPECT_EQ(engine_.ShownWorkbook, 1);
  EXPECT_EQ(engine_.SheetTable.Name(1, 3), "Mar");
  EXPECT_TRUE(engine_.SheetTable.Ticked(1, 3));
  EXPECT_EQ(applications_, 1);
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(DesktopTest, ListSheetsWithoutASelectedWorkbookLeavesTheSheetListAsItWas) {
  view_.Add(ListId::kSheets, "Shown before");
  view_.Add(ListId::kSources, Path("missing.xlsx"));
  engine_.ListSheets();
  EXPECT_EQ(view_.Texts(ListId::kSheets), Names{"Shown before"});
  EXPECT_EQ(applications_, 0);
}

TEST_F(DesktopTest, UnreadableWorkbookShowsItsErrorThenTheOpenFailureAndListsNothing) {
  test::WriteFile(Path("broken.xlsx"), "not a workbook");
  view_.Add(ListId::kSources, Path("broken.xlsx"));
  engine_.ListWorkbooks(Path("broken.xlsx"));
  view_.Add(ListId::kSheets, "Shown before");
  engine_.ListSheets();

  ASSERT_EQ(view_.messages.size(), 2u);
  EXPECT_NE(view_.messages[0].text.find("'broken.xlsx'"), std::string::npos) << view_.messages[0].text;
  EXPECT_EQ(view_.messages[0].icon, MessageIcon::kError);
  EXPECT_EQ(view_.messages[1].text, "Excel file open failed!");
  EXPECT_EQ(view_.messages[1].icon, MessageIcon::kError);
  EXPECT_EQ(view_.Count(ListId::kSheets), 0);
  EXPECT_EQ(engine_.ShownWorkbook, 1);
}

TEST_F(DesktopTest, ApplicationThatCannotBeStartedIsAnOpenFailure) {
  test::MakeWorkbooks({{Path("Q1.xlsx"), {"Jan"}}});
  engine_.CreateApplication = [](const std::string&) -> std::unique_ptr<automation::Application> {
    throw automation::AutomationError(automation::kCannotCreateObject, "ActiveX component can't create object");
  };
  view_.Add(ListId::kSources, Path("Q1.xlsx"));
  engine_.ListWorkbooks(Path("Q1.xlsx"));
  engine_.ListSheets();
  EXPECT_EQ(view_.MessageTexts(),
            (Names{"ActiveX component can't create object", "Excel file open failed!"}));
}

TEST_F(DesktopTest, SaveSheetChoicesStoresAtMostTheFirst5000Entries) {
  engine_.ShownWorkbook = 7;
  for (int i = 1; i <= 6000; ++i) {
    view_.Add(ListId::kSheets, "S" + std::to_string(i));
    view_.SetChecked(ListId::kSheets, i, i % 2 == 0);
  }
  engine_.SaveSheetChoices();
  EXPECT_EQ(engine_.SheetTable.Name(7, 5000), "S5000");
  EXPECT_TRUE(engine_.SheetTable.Ticked(7, 5000));
  EXPECT_FALSE(engine_.SheetTable.Ticked(7, 4999));
  EXPECT_THROW(engine_.SheetTable.Name(7, 5001), automation::AutomationError);
  EXPECT_TRUE(engine_.SheetTable.HoldsChoices(7));
  EXPECT_FALSE(engine_.SheetTable.HoldsChoices(6));
}

// --- SheetTable ----------------------------------------------------------------------------

TEST(SheetTable, EntriesStartEmptyAndHoldTheirBounds) {
  SheetTable table;
  EXPECT_EQ(table.Name(500, 5000), "");
  EXPECT_FALSE(table.Ticked(0, 0));
  table.Store(500, 5000, "Last", true);
  EXPECT_EQ(table.Name(500, 5000), "Last");
  EXPECT_EQ(table.Name(500, 4999), "");
  EXPECT_FALSE(table.HoldsChoices(500));  // only sheet 1's name says so
  table.Store(3, 1, "", true);
  EXPECT_FALSE(table.HoldsChoices(3));
  for (const auto& [w, s] : std::vector<std::pair<int, int>>{{-1, 1}, {501, 1}, {1, -1}, {1, 5001}}) {
    try {
      table.Store(w, s, "x", true);
      ADD_FAILURE() << w << ", " << s << " was stored";
    } catch (const automation::AutomationError& error) {
      EXPECT_EQ(error.Number(), automation::kSubscriptOutOfRange);
    }
  }
  table.Clear();
  EXPECT_EQ(table.Name(500, 5000), "");
}

}  // namespace
}  // namespace tabrend
