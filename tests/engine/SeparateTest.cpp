// The split of a workbook, the names of its files, the run folder and the Separate command,
// through the in-memory window with real workbooks; every output is read back by openpyxl.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "tests/engine/DesktopFixture.h"

namespace tabrend {
namespace {

namespace fs = std::filesystem;
using desktop::kSplitDone;
using desktop::kSplitFailed;
using desktop::kSplitNothing;
using test::DesktopTest;
using test::Sheets;
using Names = std::vector<std::string>;
using Outputs = std::map<std::string, Sheets>;

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm local {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

// --- Names ---------------------------------------------------------------------------------

struct NameCase {
  int mode;  // Combo1's entry; -1 for none
  const char* listed;
  Names sheets;
  Names expected;
};

void PrintTo(const NameCase& row, std::ostream* out) {
  *out << "mode " << row.mode << " of " << row.listed << ", sheets " << testing::PrintToString(row.sheets);
}

class MakeOutputNameTest : public DesktopTest, public testing::WithParamInterface<NameCase> {};

TEST_P(MakeOutputNameTest, NamesByTheComboEntryAndTheListedWorkbook) {
  view_.namingMode = GetParam().mode;
  view_.Add(ListId::kWorkbooks, "first.xlsx");
  view_.Add(ListId::kWorkbooks, GetParam().listed);
  Names names;
  for (const auto& sheet : GetParam().sheets) names.push_back(engine_.MakeOutputName(2, sheet));
  EXPECT_EQ(names, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, MakeOutputNameTest,
    testing::Values(NameCase{0, "sales.xls", {"Sales"}, {"sales_Sales"}},
                    NameCase{0, "Q1.xls", {"Sales"}, {"Sales"}},
                    NameCase{0, "Book.xlsx", {"a:b", "<Total>"}, {"ab", "Total"}},
                    NameCase{1, "Q1.2010.xls", {"Jan"}, {"Q1.2010_Jan"}},
                    NameCase{2, "2.xls", {"a", "b", "c"}, {"1", "2_2", "3"}},
                    NameCase{2, "Report.xlsx", {"a", "b", "c"}, {"1", "2", "3"}},
                    NameCase{-1, "sales.xls", {"Sales"}, {"Sales"}}));

TEST_F(DesktopTest, OutputNameOfAWorkbookPositionWithoutEntryThrows) {
  EXPECT_THROW(engine_.MakeOutputName(1, "Sheet"), automation::AutomationError);
}

class RemoveBlanksAndDotsTest
    : public testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(RemoveBlanksAndDotsTest, DeletesEveryBlankAndDot) {
  EXPECT_EQ(desktop::RemoveBlanksAndDots(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Names, RemoveBlanksAndDotsTest,
                         testing::Values(std::pair{"My Book 2.1", "MyBook21"}, std::pair{".", ""},
                                         std::pair{"", ""}, std::pair{" a. .b ", "ab"},
                                         std::pair{"Sales2009", "Sales2009"}));

TEST(Timestamp, IsTheLocalDateAndTimeIn14Digits) {
  EXPECT_EQ(desktop::Timestamp(LocalTime(2010, 6, 5, 14, 10, 0)), "20100605141000");
  EXPECT_EQ(desktop::Timestamp(LocalTime(1999, 12, 31, 23, 59, 59)), "19991231235959");
}

// --- ChooseOutputFolder --------------------------------------------------------------------

struct FolderCase {
  const char* label;
  std::optional<std::string> answer;  // relative to the temporary folder, as picked
  bool result;
  const char* message;  // "" for none
};

void PrintTo(const FolderCase& row, std::ostream* out) { *out << row.label; }

class ChooseOutputFolderTest : public DesktopTest, public testing::WithParamInterface<FolderCase> {
 protected:
  void SetUp() override {
    fs::create_directory(Path("out"));
    test::WriteFile(Path("out/file.txt"), "");
    fs::create_directory(Path("taken"));
    fs::create_directory(Path("taken/20100605141000"));  // a run started the same second
    engine_.Clock = [] { return LocalTime(2010, 6, 5, 14, 10, 0); };
  }
};

TEST_P(ChooseOutputFolderTest, CreatesTheTimestampedRunFolder) {
  const auto& row = GetParam();
  view_.folderAnswers.push_back(row.answer && !row.answer->empty() ? Path(*row.answer) : row.answer);
  const auto before = test::Tree(dir_.path());

  EXPECT_EQ(engine_.ChooseOutputFolder(), row.result);

  EXPECT_EQ(view_.folderTitles, Names{"Please select output folder"});
  EXPECT_EQ(view_.MessageTexts(), *row.message ? Names{row.message} : Names{});
  for (const auto& message : view_.messages) EXPECT_EQ(message.icon, MessageIcon::kNone);
  if (row.result) {
    EXPECT_EQ(engine_.OutputRoot, Path("out") + "/20100605141000/");
    EXPECT_TRUE(fs::is_directory(engine_.OutputRoot));
    EXPECT_TRUE(fs::is_empty(engine_.OutputRoot));
  } else {
    EXPECT_EQ(test::Tree(dir_.path()), before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ChooseOutputFolderTest,
    testing::Values(FolderCase{"Cancelled", std::nullopt, false, ""},
                    FolderCase{"EmptyPath", "", false, ""},
                    FolderCase{"Folder", "out", true, ""},
                    FolderCase{"TrailingSlashesAllGo", "out///", true, ""},
                    FolderCase{"MissingFolder", "missing", false, "Folder does not exist!"},
                    FolderCase{"File", "out/file.txt", false, "Folder does not exist!"},
                    FolderCase{"RunFolderExistsAlready", "taken", false, "Forder is failed!"}),
    [](const auto& info) { return std::string(info.param.label); });

// --- SplitWorkbook -------------------------------------------------------------------------

class SplitWorkbookTest : public DesktopTest {
 protected:
  void SetUp() override {
    fs::create_directory(Path("src"));
    test::MakeWorkbooks({{Path("src/Book.xlsx"), {"Jan", "Feb", "Mar"}}});
    ClickSource(Path("src"));
    fs::create_directory(Path("out"));
    engine_.TargetFolder = Path("out");
    view_.frames.clear();
  }
  // The sheet list on screen stored for the shown workbook, as Separate does.
  void StoreChoices() { engine_.SaveSheetChoices(); }
  std::vector<int> ProgressValues() const {
    std::vector<int> values;
    for (const auto& frame : view_.frames) values.push_back(frame.progressValue);
    return values;
  }
};

TEST_F(SplitWorkbookTest, WithoutChoicesEveryWorksheetGoesUnderItsOwnName) {
  engine_.RunningNumber = 5;
  EXPECT_EQ(engine_.SplitWorkbook(1), kSplitDone);
  EXPECT_EQ(test::ReadOutputs(Path("out")),
            (Outputs{{"Feb.xlsx", {{"Feb", "Feb data"}}},
                     {"Jan.xlsx", {{"Jan", "Jan data"}}},
                     {"Mar.xlsx", {{"Mar", "Mar data"}}}}));
  ASSERT_FALSE(view_.frames.empty());
  EXPECT_EQ(view_.frames.back().progressMax, 3);
  EXPECT_EQ(view_.progressValue, 0);
  EXPECT_EQ(engine_.RunningNumber, 0);
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(SplitWorkbookTest, ChoicesSkipUntickedSheetsAndNameByTheListedText) {
  view_.SetChecked(ListId::kSheets, 2, false);
  view_.Rename(ListId::kSheets, 3, "Q1 close");
  StoreChoices();
  EXPECT_EQ(engine_.SplitWorkbook(1), kSplitDone);
  EXPECT_EQ(test::ReadOutputs(Path("out")),
            (Outputs{{"Jan.xlsx", {{"Jan", "Jan data"}}}, {"Q1 close.xlsx", {{"Q1 close", "Mar data"}}}}));
  EXPECT_EQ(ProgressValues(), (std::vector<int>{0, 1, 2, 3}));  // the skipped sheet moves it too
  EXPECT_EQ(view_.progressValue, 0);
}

TEST_F(SplitWorkbookTest, WorkbookWithoutPathReturnsNothingToSplitAndStartsNothing) {
  fs::remove(Path("src/Book.xlsx"));
  const int started = applications_;
  view_.progressValue = 2;
  EXPECT_EQ(engine_.SplitWorkbook(1), kSplitNothing);
  EXPECT_EQ(applications_, started);
  EXPECT_TRUE(view_.frames.empty());
  EXPECT_EQ(view_.progressValue, 2);
  EXPECT_TRUE(view_.messages.empty());
}

TEST_F(SplitWorkbookTest, ApplicationIsAttachedToWhenItCannotBeCreated) {
  int attached = 0;
  engine_.CreateApplication = [](const std::string&) -> std::unique_ptr<automation::Application> {
    throw automation::AutomationError(automation::kCannotCreateObject, "cannot create");
  };
  engine_.AttachApplication = [&](const std::string& className) {
    ++attached;
    return automation::CreateObject(className);
  };
  EXPECT_EQ(engine_.SplitWorkbook(1), kSplitDone);
  EXPECT_EQ(attached, 1);
  EXPECT_EQ(test::Listing(Path("out")), (Names{"Feb.xlsx", "Jan.xlsx", "Mar.xlsx"}));

  engine_.AttachApplication = automation::GetObject;  // no running instance either
  EXPECT_EQ(engine_.SplitWorkbook(1), kSplitFailed);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].icon, MessageIcon::kNone);
}

// A listed name for sheet 2 that cannot become its file or its sheet: the workbook fails
// after sheet 1, with the error shown, and nothing is left of sheet 2 anywhere.
struct RefusedNameCase {
  const char* label;
  const char* name;
  const char* description;  // part of the message shown
};

void PrintTo(const RefusedNameCase& row, std::ostream* out) { *out << row.label << " '" << row.name << "'"; }

class RefusedNameTest : public SplitWorkbookTest,
                        public testing::WithParamInterface<RefusedNameCase> {};

TEST_P(RefusedNameTest, FailsTheWorkbookAndWritesNothingForTheSheet) {
  view_.Rename(ListId::kSheets, 2, GetParam().name);
  StoreChoices();
  view_.namingMode = 2;
  const auto sources = test::Listing(Path("src"));

  EXPECT_EQ(engine_.SplitWorkbook(1), kSplitFailed);

  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_NE(view_.messages[0].text.find(GetParam().description), std::string::npos)
      << view_.messages[0].text;
  EXPECT_EQ(view_.messages[0].icon, MessageIcon::kNone);
  EXPECT_EQ(test::ReadOutputs(Path("out")), (Outputs{{"1.xlsx", {{"Jan", "Jan data"}}}}));
  EXPECT_EQ(test::Tree(Path("out")), Names{"1.xlsx"});
  EXPECT_EQ(test::Listing(Path("src")), sources);
  EXPECT_EQ(test::Listing(dir_.path()), (Names{"out", "src"}));
  EXPECT_EQ(view_.progressValue, 1);   // left where the failure stopped it
  EXPECT_EQ(engine_.RunningNumber, 2);  // not reset: the next workbook continues from it
}

INSTANTIATE_TEST_SUITE_P(
    Names, RefusedNameTest,
    testing::Values(RefusedNameCase{"EmptySheetName", "", "sheet name"},
                    RefusedNameCase{"ForbiddenInASheetName", "Q?", "Q?"}),
    [](const auto& info) { return std::string(info.param.label); });

// Names typed with separators must not reach a file outside the workbook's folder.
class SeparatorNameTest : public SplitWorkbookTest,
                          public testing::WithParamInterface<RefusedNameCase> {};

TEST_P(SeparatorNameTest, IsRefusedAsAFileNameBeforeAnythingIsWritten) {
  fs::create_directory(Path("out/sub"));  // a folder the name could otherwise reach
  view_.Rename(ListId::kSheets, 2, GetParam().name);
  StoreChoices();

  EXPECT_EQ(engine_.SplitWorkbook(1), kSplitFailed);

  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_NE(view_.messages[0].text.find(GetParam().description), std::string::npos)
      << view_.messages[0].text;
  EXPECT_EQ(test::Tree(Path("out")), (Names{"Jan.xlsx", "sub/"}));
  EXPECT_EQ(test::Listing(dir_.path()), (Names{"out", "src"}));
  EXPECT_EQ(test::Listing(Path("src")), Names{"Book.xlsx"});
}

INSTANTIATE_TEST_SUITE_P(
    Names, SeparatorNameTest,
    testing::Values(RefusedNameCase{"ClimbsOut", "../../escaped", "cannot hold \"/\""},
                    RefusedNameCase{"IntoASubfolder", "sub/inside", "cannot hold \"/\""},
                    RefusedNameCase{"Backslash", "..\\escaped", "cannot hold \"\\\""}),
    [](const auto& info) { return std::string(info.param.label); });

// --- Separate ------------------------------------------------------------------------------

class SeparateTest : public DesktopTest {
 protected:
  void SetUp() override {
    fs::create_directory(Path("src"));
    fs::create_directory(Path("out"));
    engine_.Clock = [] { return LocalTime(2010, 6, 5, 14, 10, 0); };
  }
  void ExpectAtRest() {
    EXPECT_EQ(view_.status, "");
    EXPECT_EQ(view_.progressValue, 0);
    EXPECT_FALSE(view_.waitPointer);
  }
  std::string RunFolder() const { return Path("out") + "/20100605141000/"; }
  std::vector<std::string> Statuses() const {
    std::vector<std::string> statuses;
    for (const auto& frame : view_.frames) {
      if (statuses.empty() || statuses.back() != frame.status) statuses.push_back(frame.status);
    }
    return statuses;
  }
};

TEST_F(SeparateTest, WithoutWorkbooksAsksNothingAndSaysSo) {
  engine_.Command6_Click();
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, "Please select excel at fast!");
  EXPECT_EQ(view_.messages[0].icon, MessageIcon::kInformation);
  EXPECT_TRUE(view_.folderTitles.empty());
  EXPECT_TRUE(view_.opened.empty());
  ExpectAtRest();
}

TEST_F(SeparateTest, CancelledOutputFolderWritesNothing) {
  test::MakeWorkbooks({{Path("src/a.xlsx"), {"One"}}});
  ClickSource(Path("src"));
  view_.folderAnswers.push_back(std::nullopt);
  view_.status = "left over";
  engine_.Command6_Click();
  EXPECT_TRUE(fs::is_empty(Path("out")));
  EXPECT_TRUE(view_.opened.empty());
  EXPECT_TRUE(view_.messages.empty());
  ExpectAtRest();
}

TEST_F(SeparateTest, NoTickedWorkbookStillMakesAndOpensTheEmptyRunFolder) {
  test::MakeWorkbooks({{Path("src/a.xlsx"), {"One"}}, {Path("src/b.xlsx"), {"Two"}}});
  ClickSource(Path("src"));
  view_.SetChecked(ListId::kWorkbooks, 1, false);
  view_.SetChecked(ListId::kWorkbooks, 2, false);
  view_.folderAnswers.push_back(Path("out"));
  engine_.Command6_Click();
  EXPECT_EQ(test::Tree(Path("out")), Names{"20100605141000/"});
  EXPECT_EQ(view_.opened, Names{RunFolder()});
  ExpectAtRest();
}

TEST_F(SeparateTest, WorkbooksWhoseNamesCleanAlikeGetDigitsOntoThePreviousCandidate) {
  // In name order: "My Book.2009", then "a b", "a.b", "ab", which all clean to the folder
  // name ab.
  test::MakeWorkbooks({{Path("src/a b.xlsx"), {"One"}},
                       {Path("src/ab.xlsx"), {"Three"}},
                       {Path("src/a.b.xlsx"), {"Two"}},
                       {Path("src/My Book.2009.xlsx"), {"Four"}}});
  ClickSource(Path("src"));
  view_.folderAnswers.push_back(Path("out"));
  engine_.Command6_Click();

  EXPECT_EQ(test::ReadOutputs(RunFolder()),
            (Outputs{{"ab/One.xlsx", {{"One", "One data"}}},
                     {"ab1/Two.xlsx", {{"Two", "Two data"}}},
                     {"ab12/Three.xlsx", {{"Three", "Three data"}}},
                     {"MyBook2009/Four.xlsx", {{"Four", "Four data"}}}}));
  EXPECT_EQ(Statuses(), (Names{"Splitting MyBook2009 (1 of 4)", "Splitting ab (2 of 4)", "Splitting ab (3 of 4)",
                               "Splitting ab (4 of 4)"}));
  for (const auto& frame : view_.frames) EXPECT_TRUE(frame.waitPointer);
  EXPECT_EQ(engine_.OutputRoot, RunFolder());
  EXPECT_EQ(engine_.TargetFolder, RunFolder() + "ab12");
  EXPECT_EQ(view_.opened, Names{RunFolder()});
  EXPECT_TRUE(view_.messages.empty());
  ExpectAtRest();
}

// Sheets whose names clean to one file name, one of them renamed so in the sheet list: each
// keeps a file of its own, and the run ends by saying which went where.
TEST_F(SeparateTest, SheetsWhoseNamesCleanAlikeEachKeepAFile) {
  test::MakeWorkbooks({{Path("src/Book.xlsx"), {"a|b", "ab", "a\"b", "a<b", "Other"}}});
  ClickSource(Path("src"));
  view_.Rename(ListId::kSheets, 5, "ab");
  view_.folderAnswers.push_back(Path("out"));
  engine_.Command6_Click();

  EXPECT_EQ(test::ReadOutputs(RunFolder()),
            (Outputs{{"Book/ab.xlsx", {{"a|b", "a|b data"}}},
                     {"Book/ab_2.xlsx", {{"ab", "ab data"}}},
                     {"Book/ab_3.xlsx", {{"a\"b", "a\"b data"}}},
                     {"Book/ab_4.xlsx", {{"a<b", "a<b data"}}},
                     {"Book/ab_5.xlsx", {{"ab", "Other data"}}}}));
  EXPECT_TRUE(view_.messages.empty());
  ASSERT_EQ(view_.summaries.size(), 1u);
  EXPECT_EQ(view_.summaries[0].icon, MessageIcon::kInformation);
  EXPECT_EQ(view_.summaries[0].text, "Separate finished: 5 files written into " + RunFolder() + ".\n" +
                                         desktop::kRenamedOutputsMessage +
                                         "\n'ab' of Book.xlsx: ab_2.xlsx\n'a\"b' of Book.xlsx: ab_3.xlsx"
                                         "\n'a<b' of Book.xlsx: ab_4.xlsx\n'ab' of Book.xlsx: ab_5.xlsx");
  EXPECT_EQ(view_.opened, Names{RunFolder()});
  ExpectAtRest();
}

struct ModeCase {
  int mode;
  Outputs outputs;  // relative to the run folder
};

void PrintTo(const ModeCase& row, std::ostream* out) { *out << "mode " << row.mode; }

class SeparateModeTest : public SeparateTest, public testing::WithParamInterface<ModeCase> {};

TEST_P(SeparateModeTest, WritesEveryTickedWorkbookIntoItsFolderNamedByTheMode) {
  test::MakeWorkbooks({{Path("src/Sales.xlsx"), {"Sales", "Costs"}},
                       {Path("src/Q1.2010.xlsx"), {"Jan", "Feb"}},
                       {Path("src/2.xlsx"), {"a", "b", "c"}},
                       {Path("src/skipped.xlsx"), {"Never"}}});
  ClickSource(Path("src"));
  view_.SetChecked(ListId::kWorkbooks, 4, false);
  view_.namingMode = GetParam().mode;
  view_.folderAnswers.push_back(Path("out"));

  engine_.Command6_Click();

  EXPECT_EQ(test::ReadOutputs(RunFolder()), GetParam().outputs);
  EXPECT_EQ(test::Tree(RunFolder()).size(), GetParam().outputs.size() + 3);  // and 3 folders
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(view_.opened, Names{RunFolder()});
  ExpectAtRest();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SeparateModeTest,
    testing::Values(
        ModeCase{0,
                 {{"2/a.xlsx", {{"a", "a data"}}},
                  {"2/b.xlsx", {{"b", "b data"}}},
                  {"2/c.xlsx", {{"c", "c data"}}},
                  {"Q12010/Jan.xlsx", {{"Jan", "Jan data"}}},
                  {"Q12010/Feb.xlsx", {{"Feb", "Feb data"}}},
                  {"Sales/Sales_Sales.xlsx", {{"Sales", "Sales data"}}},
                  {"Sales/Costs.xlsx", {{"Costs", "Costs data"}}}}},
        ModeCase{1,
                 {{"2/2_a.xlsx", {{"a", "a data"}}},
                  {"2/2_b.xlsx", {{"b", "b data"}}},
                  {"2/2_c.xlsx", {{"c", "c data"}}},
                  {"Q12010/Q1.2010_Jan.xlsx", {{"Jan", "Jan data"}}},
                  {"Q12010/Q1.2010_Feb.xlsx", {{"Feb", "Feb data"}}},
                  {"Sales/Sales_Sales.xlsx", {{"Sales", "Sales data"}}},
                  {"Sales/Sales_Costs.xlsx", {{"Costs", "Costs data"}}}}},
        ModeCase{2,
                 {{"2/1.xlsx", {{"a", "a data"}}},
                  {"2/2_2.xlsx", {{"b", "b data"}}},
                  {"2/3.xlsx", {{"c", "c data"}}},
                  {"Q12010/1.xlsx", {{"Jan", "Jan data"}}},
                  {"Q12010/2.xlsx", {{"Feb", "Feb data"}}},
                  {"Sales/1.xlsx", {{"Sales", "Sales data"}}},
                  {"Sales/2.xlsx", {{"Costs", "Costs data"}}}}}),
    [](const auto& info) { return "Mode" + std::to_string(info.param.mode); });

TEST_F(SeparateTest, FailedWorkbookIsReportedAndTheNextOneIsStillSplit) {
  test::MakeWorkbooks({{Path("src/a.xlsx"), {"One"}}, {Path("src/c.xlsx"), {"Three"}}});
  test::WriteFile(Path("src/b.xlsx"), "not a workbook");
  ClickSource(Path("src"));
  view_.folderAnswers.push_back(Path("out"));
  engine_.Command6_Click();

  ASSERT_EQ(view_.messages.size(), 2u);
  EXPECT_NE(view_.messages[0].text.find("'b.xlsx'"), std::string::npos) << view_.messages[0].text;
  EXPECT_EQ(view_.messages[0].icon, MessageIcon::kNone);
  EXPECT_EQ(view_.messages[1].text, "Split b file failed!");
  EXPECT_EQ(view_.messages[1].icon, MessageIcon::kError);
  EXPECT_EQ(test::Tree(RunFolder()), (Names{"a/", "a/One.xlsx", "b/", "c/", "c/Three.xlsx"}));
  EXPECT_EQ(view_.opened, Names{RunFolder()});
  // One summary at the end, with the failure's reason.
  ASSERT_EQ(view_.summaries.size(), 1u);
  EXPECT_EQ(view_.summaries[0].text, "Separate finished: 2 files written into " + RunFolder() +
                                         ".\n1 workbook failed:\nb.xlsx: " + view_.messages[0].text);
  EXPECT_EQ(view_.summaries[0].icon, MessageIcon::kError);
  ExpectAtRest();
}

TEST_F(SeparateTest, WorkbookFolderThatCannotBeCreatedFailsThatWorkbookOnly) {
  test::MakeWorkbooks({{Path("src/a.xlsx"), {"One"}}, {Path("src/b.xlsx"), {"Two"}}});
  ClickSource(Path("src"));
  view_.folderAnswers.push_back(Path("out"));
  // A file takes the folder's name between the status line and the folder's creation.
  view_.onRepaintNow = [this] {
    if (view_.status == "Splitting a (1 of 2)" && !fs::exists(RunFolder() + "a")) {
      test::WriteFile(RunFolder() + "a", "in the way");
    }
  };
  engine_.Command6_Click();

  ASSERT_EQ(view_.messages.size(), 2u);
  EXPECT_NE(view_.messages[0].text.find("cannot be created"), std::string::npos) << view_.messages[0].text;
  EXPECT_EQ(view_.messages[1].text, "Split a file failed!");
  EXPECT_EQ(view_.messages[1].icon, MessageIcon::kError);
  EXPECT_EQ(test::Tree(RunFolder()), (Names{"a", "b/", "b/Two.xlsx"}));
  EXPECT_EQ(test::ReadFile(RunFolder() + "a"), "in the way");
  EXPECT_EQ(view_.opened, Names{RunFolder()});
  ExpectAtRest();
}

TEST_F(SeparateTest, ChoicesOnScreenAndThoseKeptForOtherWorkbooksAreHonoured) {
  test::MakeWorkbooks({{Path("src/a.xlsx"), {"A1", "A2", "A3"}}, {Path("src/b.xlsx"), {"B1", "B2"}}});
  ClickSource(Path("src"));
  view_.SetChecked(ListId::kSheets, 1, false);   // a: untick A1
  ClickWorkbook(2);                               // a's choices are kept
  view_.Rename(ListId::kSheets, 2, "Second");     // b: on screen only
  view_.folderAnswers.push_back(Path("out"));
  engine_.Command6_Click();

  EXPECT_EQ(test::ReadOutputs(RunFolder()),
            (Outputs{{"a/A2.xlsx", {{"A2", "A2 data"}}},
                     {"a/A3.xlsx", {{"A3", "A3 data"}}},
                     {"b/B1.xlsx", {{"B1", "B1 data"}}},
                     {"b/Second.xlsx", {{"Second", "B2 data"}}}}));
  // The lists are as they were.
  EXPECT_EQ(view_.Texts(ListId::kSheets), (Names{"B1", "Second"}));
  EXPECT_EQ(view_.SelectedIndex(ListId::kWorkbooks), 2);
}

TEST_F(SeparateTest, RunningNumbersContinueAfterAFailedWorkbookAndRestartAfterADoneOne) {
  test::MakeWorkbooks({{Path("src/a.xlsx"), {"S1", "S2", "S3"}},
                       {Path("src/b.xlsx"), {"T1", "T2"}},
                       {Path("src/c.xlsx"), {"U1"}}});
  ClickSource(Path("src"));
  view_.Rename(ListId::kSheets, 2, "");  // no valid sheet name: a fails at its second sheet
  view_.namingMode = 2;
  view_.folderAnswers.push_back(Path("out"));
  engine_.Command6_Click();

  EXPECT_EQ(view_.MessageTexts().back(), "Split a file failed!");
  EXPECT_EQ(test::Tree(RunFolder()),
            (Names{"a/", "a/1.xlsx", "b/", "b/3.xlsx", "b/4.xlsx", "c/", "c/1.xlsx"}));
  EXPECT_EQ(engine_.RunningNumber, 0);
}

// Worker threads change nothing a person sees: one thread and four show the same messages,
// the same status and progress at every repaint, and write the same files, with a workbook
// that cannot be opened and one that fails at its middle sheet among them.
TEST_F(SeparateTest, OneThreadAndFourShowAndWriteTheSame) {
  test::MakeWorkbooks({{Path("src/a.xlsx"), {"S1", "S2", "S3"}}, {Path("src/c.xlsx"), {"T1", "T2", "T3"}}});
  test::WriteFile(Path("src/b.xlsx"), "not a workbook");
  ClickSource(Path("src"));
  view_.Rename(ListId::kSheets, 2, "");  // a fails at S2; S3 is never written
  view_.namingMode = 2;
  const char* const before = std::getenv("TABREND_THREADS");
  const std::string saved = before != nullptr ? before : "";
  auto run = [&](const char* threads, const std::string& out) {
    ::setenv("TABREND_THREADS", threads, 1);
    fs::create_directory(out);
    view_.messages.clear();
    view_.frames.clear();
    view_.progressMax = 100;  // as a new window has it
    view_.folderAnswers.push_back(out);
    engine_.Command6_Click();
    std::vector<std::string> seen = view_.MessageTexts();
    for (const auto& frame : view_.frames)
      seen.push_back(frame.status + " " + std::to_string(frame.progressValue) + "/" + std::to_string(frame.progressMax));
    return std::make_pair(seen, test::ReadOutputs(out + "/20100605141000"));
  };
  const auto one = run("1", Path("one"));
  const auto four = run("4", Path("four"));
  if (before != nullptr) ::setenv("TABREND_THREADS", saved.c_str(), 1);
  else ::unsetenv("TABREND_THREADS");

  EXPECT_EQ(one.first, four.first);
  EXPECT_EQ(one.second, four.second);
  EXPECT_EQ(four.second, (Outputs{{"a/1.xlsx", {{"S1", "S1 data"}}},
                                  {"c/3.xlsx", {{"T1", "T1 data"}}},
                                  {"c/4.xlsx", {{"T2", "T2 data"}}},
                                  {"c/5.xlsx", {{"T3", "T3 data"}}}}));
  EXPECT_EQ(test::Tree(Path("four")), test::Tree(Path("one")));  // no staging folder left
}

// A stop that comes as a workbook begins ends the run there: that workbook gets no folder.
// Nothing is opened or summed up; the status line says what was written.
TEST_F(SeparateTest, StopAsAWorkbookBeginsLeavesItOut) {
  test::MakeWorkbooks({{Path("src/a.xlsx"), {"A1", "A2"}}, {Path("src/b.xlsx"), {"B1"}}});
  ClickSource(Path("src"));
  view_.folderAnswers.push_back(Path("out"));
  view_.onRepaintNow = [this] {
    if (view_.status == "Splitting b (2 of 2)") engine_.StopRequested = true;
  };
  engine_.Command6_Click();
  EXPECT_EQ(test::Tree(RunFolder()), (Names{"a/", "a/A1.xlsx", "a/A2.xlsx"}));
  EXPECT_EQ(view_.status, "Separate stopped: 2 files written into " + RunFolder());
  EXPECT_TRUE(view_.opened.empty());
  EXPECT_TRUE(view_.summaries.empty());
  EXPECT_FALSE(view_.waitPointer);
}

TEST_F(SeparateTest, SecondRunInTheSameSecondFailsAndWritesNothing) {
  test::MakeWorkbooks({{Path("src/a.xlsx"), {"One"}}});
  ClickSource(Path("src"));
  view_.folderAnswers.push_back(Path("out"));
  view_.folderAnswers.push_back(Path("out"));
  engine_.Command6_Click();
  engine_.Command6_Click();
  EXPECT_EQ(view_.MessageTexts(), Names{"Forder is failed!"});
  EXPECT_EQ(test::Tree(Path("out")), (Names{"20100605141000/", "20100605141000/a/",
                                            "20100605141000/a/One.xlsx"}));
  EXPECT_EQ(view_.opened.size(), 1u);
  ExpectAtRest();
}

}  // namespace
}  // namespace tabrend

namespace tabrend {
namespace {

// The Settings menu's choices: hidden and blank sheets left out as if unticked, and PDFs
// printed at the run's end, or the workbook failed when LibreOffice is missing.
TEST_F(SeparateTest, SkippedSheetsAndPdfOutputFollowTheSettingsMenu) {
  test::RunPython(R"(import sys, xlsxwriter
path = open(sys.argv[1], encoding='utf-8').read().split('\n')[0]
book = xlsxwriter.Workbook(path)
book.add_worksheet('Shown').write('A1', 'shown')
hidden = book.add_worksheet('Hidden')
hidden.write('A1', 'hidden')
hidden.hide()
book.add_worksheet('Empty').set_column('A:A', 30)
book.close()
)",
                  {Path("src/Mixed.xlsx")});
  ClickSource(Path("src"));
  engine_.SkipHidden = true;
  engine_.SkipBlank = true;
  engine_.Format = OutputFormat::kPdf;
  view_.folderAnswers.push_back(Path("out"));
  engine_.Command6_Click();
  EXPECT_EQ(test::Tree(Path("out")), (Names{"20100605141000/", "20100605141000/Mixed/", "20100605141000/Mixed/Shown.pdf"}));
  EXPECT_EQ(test::ReadFile(RunFolder() + "Mixed/Shown.pdf").rfind("%PDF-", 0), 0u);
  EXPECT_TRUE(view_.messages.empty());
  ExpectAtRest();

  const char* path = std::getenv("PATH");
  const std::string saved = path != nullptr ? path : "";
  ::setenv("PATH", Path("nowhere").c_str(), 1);
  engine_.Clock = [] { return LocalTime(2010, 6, 5, 14, 11, 0); };
  view_.folderAnswers.push_back(Path("out"));
  engine_.Command6_Click();
  ::setenv("PATH", saved.c_str(), 1);
  ASSERT_EQ(view_.messages.size(), 2u);
  EXPECT_EQ(view_.messages[0].text,
            "'Mixed.xlsx' cannot be written as PDF: PDF output needs LibreOffice, which is not installed (install "
            "the Debian package libreoffice-calc-nogui)");
  EXPECT_EQ(view_.messages[1].text, "Split Mixed file failed!");
  EXPECT_TRUE(fs::is_empty(Path("out/20100605141100/Mixed")));
}

}  // namespace
}  // namespace tabrend
