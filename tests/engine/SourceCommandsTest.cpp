// The source-list commands and browsing: what each leaves in the three lists, and when the
// sheet choices survive and when they are discarded.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/engine/DesktopFixture.h"

namespace tabrend {
namespace {

namespace fs = std::filesystem;
using test::DesktopTest;
using Names = std::vector<std::string>;
using Ticks = std::vector<bool>;

// Two folder sources and a file source, each with workbooks of their own sheets.
class SourcesTest : public DesktopTest {
 protected:
  void SetUp() override {
    fs::create_directory(Path("one"));
    fs::create_directory(Path("two"));
    fs::create_directory(Path("empty"));
    test::MakeWorkbooks({{Path("one/a.xlsx"), {"A1", "A2", "A3"}},
                         {Path("one/b.xlsx"), {"B1", "B2"}},
                         {Path("two/c.xlsx"), {"C1"}},
                         {Path("single.xlsx"), {"S1", "S2"}}});
  }
  void AddFolder(const std::string& path) {
    view_.folderAnswers.push_back(path);
    engine_.Command5_Click();
  }
  void AddFile(const std::string& path) {
    view_.fileAnswers.push_back(path);
    engine_.Command1_Click();
  }
  void SelectSource(int i) {
    view_.Select(ListId::kSources, i);
    engine_.ListView1_ItemClick();
  }
  void Untick(int sheet) { view_.SetChecked(ListId::kSheets, sheet, false); }
};

TEST_F(SourcesTest, AddFileListsItsOneWorkbookAndItsSheetsAllTicked) {
  AddFile(Path("single.xlsx"));
  EXPECT_EQ(view_.fileTitles, Names{"Select Excel File"});
  EXPECT_EQ(view_.Texts(ListId::kSources), Names{Path("single.xlsx")});
  EXPECT_EQ(view_.Icons(ListId::kSources), std::vector<int>{kIconWorkbookFile});
  EXPECT_EQ(view_.SelectedIndex(ListId::kSources), 1);
  EXPECT_EQ(view_.lists[0].scrolledTo, 1);
  EXPECT_EQ(view_.Texts(ListId::kWorkbooks), Names{"single.xlsx"});
  EXPECT_EQ(view_.Ticks(ListId::kWorkbooks), Ticks{true});
  EXPECT_EQ(view_.Texts(ListId::kSheets), (Names{"S1", "S2"}));
  EXPECT_EQ(view_.Ticks(ListId::kSheets), (Ticks{true, true}));
  EXPECT_FALSE(view_.waitPointer);
}

TEST_F(SourcesTest, AddFolderAppendsItSelectedAndListsItsFirstWorkbook) {
  AddFile(Path("single.xlsx"));
  AddFolder(Path("one"));
  EXPECT_EQ(view_.folderTitles, Names{"Add all excel files in folder"});
  EXPECT_EQ(view_.Texts(ListId::kSources), (Names{Path("single.xlsx"), Path("one")}));
  EXPECT_EQ(view_.Icons(ListId::kSources), (std::vector<int>{kIconWorkbookFile, kIconFolder}));
  EXPECT_EQ(view_.SelectedIndex(ListId::kSources), 2);
  EXPECT_EQ(view_.lists[0].scrolledTo, 2);
  EXPECT_EQ(view_.Texts(ListId::kWorkbooks), (Names{"a.xlsx", "b.xlsx"}));
  EXPECT_EQ(view_.Texts(ListId::kSheets), (Names{"A1", "A2", "A3"}));
  EXPECT_EQ(engine_.ShownWorkbook, 1);
  EXPECT_FALSE(view_.waitPointer);
}

TEST_F(SourcesTest, CancelledOrEmptyAnswersChangeNothing) {
  AddFolder(Path("one"));
  view_.fileAnswers.push_back(std::nullopt);
  engine_.Command1_Click();
  view_.folderAnswers.push_back(std::nullopt);
  engine_.Command5_Click();
  AddFolder("");
  EXPECT_EQ(view_.Texts(ListId::kSources), Names{Path("one")});
  EXPECT_EQ(view_.Texts(ListId::kSheets), (Names{"A1", "A2", "A3"}));
}

TEST_F(SourcesTest, SamePathTwiceGivesTwoEntries) {
  AddFile(Path("single.xlsx"));
  AddFile(Path("single.xlsx"));
  EXPECT_EQ(view_.Texts(ListId::kSources), (Names{Path("single.xlsx"), Path("single.xlsx")}));
}

TEST_F(SourcesTest, FolderWithoutWorkbooksEmptiesTheWorkbooksButNotTheSheets) {
  AddFolder(Path("one"));
  AddFolder(Path("empty"));
  EXPECT_EQ(view_.Count(ListId::kWorkbooks), 0);
  EXPECT_EQ(view_.Texts(ListId::kSheets), (Names{"A1", "A2", "A3"}));
}

// Remove File with n entries and entry k selected.
struct RemoveCase {
  int selected;
  Names left;        // sources left, by folder name
  int newSelection;  // 0: none
  Names workbooks;   // of the newly selected source
};

void PrintTo(const RemoveCase& row, std::ostream* out) { *out << "selected " << row.selected; }

class RemoveTest : public SourcesTest, public testing::WithParamInterface<RemoveCase> {};

TEST_P(RemoveTest, SelectsTheEntryBeforeAndListsIt) {
  AddFolder(Path("one"));
  AddFolder(Path("two"));
  AddFile(Path("single.xlsx"));
  view_.Select(ListId::kSources, GetParam().selected);
  engine_.Command2_Click();
  Names left;
  for (const auto& text : view_.Texts(ListId::kSources)) left.push_back(fs::path(text).filename());
  EXPECT_EQ(left, GetParam().left);
  EXPECT_EQ(view_.SelectedIndex(ListId::kSources), GetParam().newSelection);
  EXPECT_EQ(view_.Texts(ListId::kWorkbooks), GetParam().workbooks);
  EXPECT_FALSE(view_.waitPointer);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, RemoveTest,
    testing::Values(RemoveCase{1, {"two", "single.xlsx"}, 1, {"c.xlsx"}},
                    RemoveCase{2, {"one", "single.xlsx"}, 1, {"a.xlsx", "b.xlsx"}},
                    RemoveCase{3, {"one", "two"}, 2, {"c.xlsx"}}));

TEST_F(SourcesTest, RemovingTheOnlyEntryEmptiesEverything) {
  AddFolder(Path("one"));
  engine_.Command2_Click();
  EXPECT_EQ(view_.Count(ListId::kSources), 0);
  EXPECT_EQ(view_.Count(ListId::kWorkbooks), 0);
  EXPECT_EQ(view_.Count(ListId::kSheets), 0);
  EXPECT_FALSE(engine_.SheetTable.HoldsChoices(1));
  engine_.Command2_Click();  // nothing left to remove
  engine_.RemoveAll_Click();
  EXPECT_EQ(view_.Count(ListId::kSources), 0);
}

TEST_F(SourcesTest, RemoveWithoutSelectionAndRemoveAll) {
  AddFolder(Path("one"));
  AddFolder(Path("two"));
  view_.lists[0].selected = 0;
  engine_.Command2_Click();
  EXPECT_EQ(view_.Count(ListId::kSources), 2);

  engine_.RemoveAll_Click();
  EXPECT_EQ(view_.Count(ListId::kSources), 0);
  EXPECT_EQ(view_.Count(ListId::kWorkbooks), 0);
  EXPECT_EQ(view_.Count(ListId::kSheets), 0);
  EXPECT_FALSE(engine_.SheetTable.HoldsChoices(1));
  EXPECT_TRUE(view_.messages.empty());
}

// The arrows on entries p, q, r (icons 1, 2, 3) with one selected.
struct MoveCase {
  bool up;
  int selected;
  Names order;
  int newSelection;
};

// Names the case in the test list ("up_3"), rather than its raw bytes.
void PrintTo(const MoveCase& move, std::ostream* out) { *out << (move.up ? "up_" : "down_") << move.selected; }

class MoveTest : public DesktopTest, public testing::WithParamInterface<MoveCase> {};

TEST_P(MoveTest, MovesTheSelectedEntryWithItsIcon) {
  view_.Add(ListId::kSources, "p", kIconWorkbookFile);
  view_.Add(ListId::kSources, "q", kIconFolder);
  view_.Add(ListId::kSources, "r", kIconMissingPath);
  view_.Add(ListId::kWorkbooks, "untouched.xlsx");
  view_.lists[0].selected = GetParam().selected;
  GetParam().up ? engine_.Command3_Click() : engine_.Command4_Click();
  EXPECT_EQ(view_.Texts(ListId::kSources), GetParam().order);
  const std::map<std::string, int> icons{{"p", 1}, {"q", 2}, {"r", 3}};
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(view_.Icon(ListId::kSources, i), icons.at(view_.Text(ListId::kSources, i)));
  EXPECT_EQ(view_.SelectedIndex(ListId::kSources), GetParam().newSelection);
  EXPECT_EQ(view_.Texts(ListId::kWorkbooks), Names{"untouched.xlsx"});
  EXPECT_EQ(applications_, 0);
}

INSTANTIATE_TEST_SUITE_P(Arrows, MoveTest,
                         testing::Values(MoveCase{true, 3, {"p", "r", "q"}, 2},
                                         MoveCase{true, 2, {"q", "p", "r"}, 1},
                                         MoveCase{true, 1, {"p", "q", "r"}, 1},
                                         MoveCase{true, 0, {"p", "q", "r"}, 0},
                                         MoveCase{false, 1, {"q", "p", "r"}, 2},
                                         MoveCase{false, 2, {"p", "r", "q"}, 3},
                                         MoveCase{false, 3, {"p", "q", "r"}, 3},
                                         MoveCase{false, 0, {"p", "q", "r"}, 0}));

// --- Browsing ------------------------------------------------------------------------------

TEST_F(SourcesTest, SourceClickListsItsWorkbooksAndTheFirstOnesSheetsAllTicked) {
  AddFolder(Path("one"));
  AddFolder(Path("two"));
  view_.SetChecked(ListId::kWorkbooks, 1, false);
  SelectSource(1);
  EXPECT_EQ(view_.Texts(ListId::kWorkbooks), (Names{"a.xlsx", "b.xlsx"}));
  EXPECT_EQ(view_.Ticks(ListId::kWorkbooks), (Ticks{true, true}));
  EXPECT_EQ(view_.Texts(ListId::kSheets), (Names{"A1", "A2", "A3"}));
  EXPECT_EQ(view_.Ticks(ListId::kSheets), (Ticks{true, true, true}));
  EXPECT_FALSE(engine_.SheetTable.HoldsChoices(1));  // nothing kept by a source click
  EXPECT_FALSE(view_.waitPointer);
}

TEST_F(SourcesTest, ChoicesSurviveMovingBetweenWorkbooksWithoutReopeningThem) {
  AddFolder(Path("one"));
  SelectSource(1);
  Untick(2);
  view_.Rename(ListId::kSheets, 3, "Third");
  ClickWorkbook(2);
  EXPECT_EQ(view_.Texts(ListId::kSheets), (Names{"B1", "B2"}));
  Untick(1);
  const int started = applications_;
  ClickWorkbook(1);
  EXPECT_EQ(applications_, started);  // shown from the kept choices
  EXPECT_EQ(view_.Texts(ListId::kSheets), (Names{"A1", "A2", "Third"}));
  EXPECT_EQ(view_.Ticks(ListId::kSheets), (Ticks{true, false, true}));
  ClickWorkbook(2);
  EXPECT_EQ(view_.Ticks(ListId::kSheets), (Ticks{false, true}));
  EXPECT_TRUE(engine_.ForceSheetReload);
  EXPECT_FALSE(view_.waitPointer);
}

TEST_F(SourcesTest, ClickingTheShownWorkbookAfterASourceClickReadsItAgain) {
  AddFolder(Path("one"));
  SelectSource(1);
  Untick(2);
  ClickWorkbook(1);
  EXPECT_EQ(view_.Ticks(ListId::kSheets), (Ticks{true, true, true}));
}

TEST_F(SourcesTest, ClickingTheShownWorkbookAfterAnAddKeepsItsTicks) {
  AddFolder(Path("one"));
  Untick(2);
  ClickWorkbook(1);
  EXPECT_EQ(view_.Ticks(ListId::kSheets), (Ticks{true, false, true}));
}

TEST_F(SourcesTest, ClickingTheShownWorkbookAfterARemoveKeepsItsTicks) {
  AddFolder(Path("one"));
  AddFolder(Path("two"));
  engine_.Command2_Click();  // "one" is listed again
  Untick(3);
  ClickWorkbook(1);
  EXPECT_EQ(view_.Ticks(ListId::kSheets), (Ticks{true, true, false}));
}

TEST_F(SourcesTest, AnotherSourceDiscardsTheChoices) {
  AddFolder(Path("one"));
  AddFolder(Path("two"));
  SelectSource(1);
  Untick(1);
  ClickWorkbook(2);  // a's choices kept
  SelectSource(2);
  SelectSource(1);
  EXPECT_EQ(view_.Ticks(ListId::kSheets), (Ticks{true, true, true}));
  ClickWorkbook(2);
  ClickWorkbook(1);
  EXPECT_EQ(view_.Ticks(ListId::kSheets), (Ticks{true, true, true}));
}

TEST_F(SourcesTest, SourceClickOnAnEmptyListDoesNothing) {
  view_.Add(ListId::kWorkbooks, "stays.xlsx");
  engine_.ListView1_ItemClick();
  EXPECT_EQ(view_.Texts(ListId::kWorkbooks), Names{"stays.xlsx"});
}

}  // namespace
}  // namespace tabrend
