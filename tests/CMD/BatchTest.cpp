// Whole runs in process, on real workbooks in temporary folders, through the real engine.
#include <gtest/gtest.h>

#include <sstream>

#include "CMD/Module1.h"
#include "tests/engine/LoggedAutomation.h"
#include "tests/engine/TestWorkbooks.h"

namespace tabrend::cli {
namespace {

namespace fs = std::filesystem;
using test::Listing;
using test::MakeWorkbook;
using test::ReadSheets;
using Names = std::vector<std::string>;
using Sheets = std::vector<std::pair<std::string, std::string>>;

class RecordingOpener : public FolderOpener {
 public:
  void Open(const std::string& folder) override { opened.push_back(folder); }
  Names opened;
};

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

class BatchTest : public testing::Test {
 protected:
  // The exit status FormLoad would give; the calls go through a logging wrapper of the
  // real application, failing the calls in log.failures.
  int Run(const std::string& tail) {
    Module1 module(opener, log);
    module.CreateApplication = [this](const std::string& className) {
      return std::make_unique<test::LoggedApplication>(automation::CreateObject(className),
                                                       calls);
    };
    if (!module.ParseOptions(tail)) return kExitNotAccepted;
    return module.RunBatch() ? kExitDone : kExitFailed;
  }
  std::string Path(const std::string& relative) const { return dir / relative; }

  test::TempDir dir;
  RecordingOpener opener;
  std::ostringstream log;
  test::CallLog calls;
};

TEST_F(BatchTest, FileSourceWritesEachSheetAloneIntoTheOutputRootItCreates) {
  fs::create_directory(Path("Src Dir"));
  MakeWorkbook(Path("Src Dir/Book.xlsx"), {"Jan", "Feb", "BOOK"});
  EXPECT_EQ(Run(Quoted(Path("Src Dir/Book.xlsx")) + " " + Quoted(Path("Out Put"))), kExitDone);
  // The typed case of both paths is kept.
  EXPECT_EQ(Listing(Path("Out Put")), (Names{"Book_BOOK.xlsx", "Feb.xlsx", "Jan.xlsx"}));
  EXPECT_EQ(ReadSheets(Path("Out Put/Jan.xlsx")), (Sheets{{"Jan", "Jan data"}}));
  EXPECT_EQ(ReadSheets(Path("Out Put/Feb.xlsx")), (Sheets{{"Feb", "Feb data"}}));
  EXPECT_EQ(ReadSheets(Path("Out Put/Book_BOOK.xlsx")), (Sheets{{"BOOK", "BOOK data"}}));
  EXPECT_TRUE(opener.opened.empty());
  EXPECT_EQ(log.str(), "");
}

struct ModeCase {
  const char* switches;
  Names files;
  friend void PrintTo(const ModeCase& row, std::ostream* os) {
    *os << test::Printable(row.switches);
  }
};

class NamingSwitchTest : public BatchTest, public testing::WithParamInterface<ModeCase> {};

TEST_P(NamingSwitchTest, NamesTheOutputFiles) {
  MakeWorkbook(Path("2.xlsx"), {"<ab>", "Sheet", "x|"});
  fs::create_directory(Path("out"));
  EXPECT_EQ(Run(Path("2.xlsx") + " " + Path("out") + " " + GetParam().switches), kExitDone);
  Names files = Listing(Path("out"));
  for (auto& file : files) {
    // x followed by 1 to 100
    const std::string digits = file.substr(1, file.size() - 6);
    if (file.starts_with("x") && file.ends_with(".xlsx") && !digits.empty() &&
        digits.find_first_not_of("0123456789") == std::string::npos) {
      file = "x<n>.xlsx";
    }
  }
  EXPECT_EQ(files, GetParam().files);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, NamingSwitchTest,
    testing::Values(ModeCase{"", {"Sheet.xlsx", "ab.xlsx", "x<n>.xlsx"}},
                    ModeCase{"/name=2", {"2_Sheet.xlsx", "2_ab.xlsx", "2_x.xlsx"}},
                    ModeCase{"/NAME=3", {"1.xlsx", "2_2.xlsx", "3.xlsx"}},
                    ModeCase{"/name=3 /name=1 /name=2",
                             {"2_Sheet.xlsx", "2_ab.xlsx", "2_x.xlsx"}}));

TEST_F(BatchTest, OverwriteOffSkipsExistingFilesAfterDrawingTheirNumber) {
  MakeWorkbook(Path("Book.xlsx"), {"a", "b", "c"});
  fs::create_directory(Path("out"));
  test::WriteFile(Path("out/1.xlsx"), "mine");
  fs::create_directory(Path("out/3.xlsx"));  // a folder is not an existing file: not skipped
  EXPECT_EQ(Run(Path("Book.xlsx") + " " + Path("out") + " /name=3 /overwrite=0"), kExitFailed);
  EXPECT_EQ(test::ReadFile(Path("out/1.xlsx")), "mine");
  EXPECT_EQ(ReadSheets(Path("out/2.xlsx")), (Sheets{{"b", "b data"}}));

  fs::remove(Path("out/3.xlsx"));
  EXPECT_EQ(Run(Path("Book.xlsx") + " " + Path("out") + " /name=3 /overwrite=0"), kExitDone);
  EXPECT_EQ(test::ReadFile(Path("out/1.xlsx")), "mine");
  EXPECT_EQ(ReadSheets(Path("out/3.xlsx")), (Sheets{{"c", "c data"}}));

  EXPECT_EQ(Run(Path("Book.xlsx") + " " + Path("out") + " /name=3"), kExitDone);
  EXPECT_EQ(ReadSheets(Path("out/1.xlsx")), (Sheets{{"a", "a data"}}));
  EXPECT_EQ(Listing(Path("out")), (Names{"1.xlsx", "2.xlsx", "3.xlsx"}));
}

TEST_F(BatchTest, FolderSourceGivesEachWorkbookASubfolderAndReusesAnExistingOne) {
  fs::create_directories(Path("src/sub"));
  MakeWorkbook(Path("src/my.data.xlsx"), {"A"});
  MakeWorkbook(Path("src/Book .xlsx"), {"Data"});
  MakeWorkbook(Path("src/sub/deeper.xlsx"), {"Never"});  // subfolders are not searched
  test::WriteFile(Path("src/notes.txt"), "not a workbook");
  test::WriteFile(Path("src/~$my.data.xlsx"), "\x07someone");  // Excel's lock file: passed over
  fs::create_directories(Path("Out/my.data"));
  test::WriteFile(Path("Out/my.data/keep.txt"), "kept");

  EXPECT_EQ(Run(Path("src") + " " + Path("Out") + " /name=2 /open=1"), kExitDone);
  EXPECT_EQ(Listing(Path("Out")), (Names{"Book", "my.data"}));
  EXPECT_EQ(Listing(Path("Out/Book")), (Names{"Book _Data.xlsx"}));  // the name keeps its blank
  EXPECT_EQ(Listing(Path("Out/my.data")), (Names{"keep.txt", "my.data_A.xlsx"}));
  EXPECT_EQ(opener.opened, (Names{Path("Out") + "/"}));
}

TEST_F(BatchTest, MissingOutputRootStopsAFolderRunButIsCreatedForAFileRun) {
  fs::create_directory(Path("src"));
  MakeWorkbook(Path("src/a.xlsx"), {"Data"});
  EXPECT_EQ(Run(Path("src") + " " + Path("Missing") + " /open=1"), kExitFailed);
  EXPECT_FALSE(fs::exists(Path("Missing")));
  EXPECT_TRUE(opener.opened.empty());  // nothing to open

  EXPECT_EQ(Run(Path("src/a.xlsx") + " " + Path("No/Parent")), kExitFailed);
  EXPECT_FALSE(fs::exists(Path("No")));

  EXPECT_EQ(Run(Path("src/a.xlsx") + " " + Path("Made") + " /open=1"), kExitDone);
  EXPECT_EQ(Listing(Path("Made")), (Names{"Data.xlsx"}));
  EXPECT_EQ(opener.opened, (Names{Path("Made") + "/"}));
}

TEST_F(BatchTest, OutputRootOfAFolderWithoutWorkbooksIsStillOpened) {
  fs::create_directories(Path("empty"));
  fs::create_directories(Path("out"));
  EXPECT_EQ(Run(Path("empty") + " " + Path("out") + " /open=1 /verbose=1"), kExitDone);
  EXPECT_EQ(opener.opened, (Names{Path("out") + "/"}));
  EXPECT_EQ(log.str(), Path("empty") + ": the folder holds no workbook (no file whose extension begins with \"xls\")\n");
  EXPECT_EQ(Run(Path("missing") + " " + Path("out") + " /open=1"), kExitNotAccepted);
  EXPECT_EQ(opener.opened.size(), 1u);
}

// Anyone who can write into a shared output folder can put a symbolic link where a workbook's
// folder goes: the run refuses it and writes nothing where it points, dry or not.
TEST_F(BatchTest, AWorkbookFolderThatIsASymbolicLinkIsRefused) {
  fs::create_directories(Path("src"));
  MakeWorkbook(Path("src/a.xlsx"), {"Data"});
  fs::create_directories(Path("out"));
  fs::create_directories(Path("elsewhere"));
  fs::create_directory_symlink(Path("elsewhere"), Path("out/a"));
  const std::string refused = Path("src/a.xlsx") + ": cannot use the folder " + Path("out/a") +
                              ": it is a symbolic link, and a workbook's outputs go only into a folder of the output "
                              "folder itself; batch stopped\n";
  EXPECT_EQ(Run(Path("src") + " " + Path("out")), kExitFailed);
  EXPECT_EQ(log.str(), refused);
  EXPECT_EQ(Run(Path("src") + " " + Path("out") + " /list=1"), kExitFailed);
  EXPECT_NE(log.str().find("\n  failed: cannot use the folder " + Path("out/a") + ": it is a symbolic link"),
            std::string::npos) << log.str();
  // A link to where nothing stands yet is refused as well, and nothing is made there.
  fs::remove(Path("out/a"));
  fs::create_directory_symlink(Path("elsewhere/new"), Path("out/a"));
  EXPECT_EQ(Run(Path("src") + " " + Path("out")), kExitFailed);
  EXPECT_EQ(Listing(Path("elsewhere")), Names{});
}

TEST_F(BatchTest, NumbersRestartAfterACompletedWorkbookAndContinueAfterAFailedOne) {
  fs::create_directory(Path("src"));
  MakeWorkbook(Path("src/a.xlsx"), {"x", "y", "z"});
  MakeWorkbook(Path("src/b.xlsx"), {"p", "q"});
  MakeWorkbook(Path("src/c.xlsx"), {"r"});
  fs::create_directories(Path("out/a/2.xlsx"));  // a's second sheet cannot be saved
  EXPECT_EQ(Run(Path("src") + " " + Path("out") + " /name=3 /verbose=1"), kExitFailed);
  EXPECT_EQ(Listing(Path("out/a")), (Names{"1.xlsx", "2.xlsx"}));
  EXPECT_TRUE(fs::is_directory(Path("out/a/2.xlsx")));
  EXPECT_EQ(Listing(Path("out/b")), (Names{"3.xlsx", "4.xlsx"}));
  EXPECT_EQ(Listing(Path("out/c")), (Names{"1.xlsx"}));
  const std::string report = log.str();
  EXPECT_NE(report.find(Path("src/a.xlsx") + ": failed (error "), std::string::npos) << report;
  EXPECT_NE(report.find(Path("src/b.xlsx") + ": wrote 3.xlsx, 4.xlsx\n"), std::string::npos)
      << report;
}

TEST_F(BatchTest, SheetNameTheApplicationRefusesLeavesNoFileAndTheEarlierOneStaysWhole) {
  // "History" is reserved: the copy is made and saved, then naming it fails.
  MakeWorkbook(Path("Book.xlsx"), {"Jan", "History", "Mar"});
  fs::create_directory(Path("out"));
  test::WriteFile(Path("out/History.xlsx"), "earlier History");
  EXPECT_EQ(Run(Path("Book.xlsx") + " " + Path("out")), kExitFailed);
  EXPECT_EQ(Listing(Path("out")), (Names{"History.xlsx", "Jan.xlsx"}));
  EXPECT_EQ(test::ReadFile(Path("out/History.xlsx")), "earlier History");

  fs::remove(Path("out/History.xlsx"));
  EXPECT_EQ(Run(Path("Book.xlsx") + " " + Path("out")), kExitFailed);
  EXPECT_EQ(Listing(Path("out")), (Names{"Jan.xlsx"}));

  // The failure names the output it was making, however long its name, and so does a dry run.
  const std::string longName(230, 'w');
  fs::copy_file(Path("Book.xlsx"), Path(longName + ".xlsx"));
  const std::string refused = "'" + longName + "_History.xlsx': sheet 'History' cannot be renamed";
  for (const char* list : {"", " /list=1"}) {
    log.str({});
    EXPECT_EQ(Run(Path(longName + ".xlsx") + " " + Path("out") + " /name=2" + list), kExitFailed);
    EXPECT_NE(log.str().find(refused), std::string::npos) << log.str();
  }
}

TEST_F(BatchTest, OutputNameHoldingABackslashIsRefusedAndNothingIsWritten) {
  MakeWorkbook(Path("a\\b.xlsx"), {"S"});
  fs::create_directory(Path("out"));
  EXPECT_EQ(Run(Quoted(Path("a\\b.xlsx")) + " " + Path("out") + " /name=2"), kExitFailed);
  EXPECT_TRUE(Listing(Path("out")).empty());
  EXPECT_EQ(Listing(dir.path()), (Names{"a\\b.xlsx", "out"}));
}

TEST_F(BatchTest, HiddenNamesAreOrdinaryOutputs) {
  MakeWorkbook(Path("Book.xlsx"), {".dot", "b"});
  fs::create_directory(Path(".out"));
  test::WriteFile(Path(".out/.dot.xlsx"), "mine");
  EXPECT_EQ(Run(Path("Book.xlsx") + " " + Path(".out") + " /overwrite=0 /open=1"), kExitDone);
  EXPECT_EQ(test::ReadFile(Path(".out/.dot.xlsx")), "mine");
  EXPECT_EQ(Listing(Path(".out")), (Names{".dot.xlsx", "b.xlsx"}));
  EXPECT_EQ(opener.opened, (Names{Path(".out") + "/"}));
}

TEST_F(BatchTest, FailingCleanUpNeverClosesTwiceAndTheBatchGoesOn) {
  fs::create_directory(Path("src"));
  MakeWorkbook(Path("src/a.xlsx"), {"x", "y"});
  MakeWorkbook(Path("src/b.xlsx"), {"z"});
  fs::create_directory(Path("out"));
  // a's second sheet fails, then closing a fails as well.
  calls.failures = {{"Copy", 2}, {"Close a.xlsx", 1}};
  EXPECT_EQ(Run(Path("src") + " " + Path("out") + " /verbose=1"), kExitFailed);
  EXPECT_EQ(calls.Count("Close a.xlsx"), 1);
  EXPECT_EQ(calls.Count("Close y.xlsx"), 1);
  EXPECT_EQ(calls.Count("Quit"), 2);  // one application per workbook, each quit once
  EXPECT_EQ(Listing(Path("out/a")), (Names{"x.xlsx"}));
  EXPECT_EQ(Listing(Path("out/b")), (Names{"z.xlsx"}));
  EXPECT_NE(log.str().find(Path("src/a.xlsx") +
                           ": failed (error 1004): injected failure of Copy; closing the "
                           "workbook failed too: injected failure of Close a.xlsx; wrote before "
                           "that x.xlsx\n"),
            std::string::npos)
      << log.str();
}

TEST_F(BatchTest, RealWorldWorkbookSplitsIntoOneFilePerWorksheet) {
  const fs::path original =
      fs::path(TABREND_CORPUS_DIR) / "closedxml/Examples/Misc/AddingDataSet.xlsx";
  if (!fs::exists(original)) GTEST_SKIP() << original << " is not in the corpus";
  fs::copy_file(original, Path("AddingDataSet.xlsx"));
  fs::create_directory(Path("out"));
  ASSERT_EQ(Run(Path("AddingDataSet.xlsx") + " " + Path("out") + " /name=2"), kExitDone);
  const auto sourceSheets = ReadSheets(Path("AddingDataSet.xlsx"));
  Names expected;
  for (const auto& [name, a1] : sourceSheets) {
    expected.push_back("AddingDataSet_" + name + ".xlsx");
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Listing(Path("out")), expected);
  for (const auto& [name, a1] : sourceSheets) {
    EXPECT_EQ(ReadSheets(Path("out/AddingDataSet_" + name + ".xlsx")), (Sheets{{name, a1}}));
  }
}

}  // namespace
}  // namespace tabrend::cli
