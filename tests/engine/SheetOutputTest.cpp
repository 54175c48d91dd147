// Writing one sheet into its own file: the call order, the single named sheet, and that a
// failure at any step leaves the output name as it was.
#include "engine/SheetOutput.h"

#include <gtest/gtest.h>

#include "tests/engine/LoggedAutomation.h"
#include "tests/engine/TestWorkbooks.h"

namespace tabrend {
namespace {

using test::CallLog;
using test::Listing;
using test::LoggedApplication;
using test::ReadSheets;
using test::TempDir;
namespace fs = std::filesystem;
using Sheets = std::vector<std::pair<std::string, std::string>>;

class SheetOutputTest : public testing::Test {
 protected:
  void SetUp() override {
    source_ = dir_ / "Source.xlsx";
    test::MakeWorkbook(source_, {"Jan", "Sheet1", "Mar"});
    fs::create_directory(dir_.path() / "out");
    app_ = std::make_unique<LoggedApplication>(
        automation::CreateObject("Excel.Application"), log_);
    book_ = &app_->Workbooks().Open(source_);
    app_->DisplayAlerts(false);
    log_.calls.clear();
  }
  void TearDown() override { app_->Quit(); }

  std::string Out(const std::string& name) const { return dir_ / ("out/" + name); }
  std::string OutDir() const { return dir_ / "out"; }

  TempDir dir_;
  std::string source_;
  CallLog log_;
  std::unique_ptr<LoggedApplication> app_;
  automation::Workbook* book_ = nullptr;
};

TEST_F(SheetOutputTest, WritesTheSheetAloneUnderItsNameInTheApplicationsOrder) {
  const auto result = WriteSheetFile(*app_, book_->Worksheets()(3), OutDir(), "March.xlsx", "March");
  EXPECT_TRUE(result.losses.empty());
  EXPECT_TRUE(result.placed);
  EXPECT_EQ(log_.calls, (std::vector<std::string>{"Add", "SaveAs March.xlsx", "Copy",
                                                 "Sheets.Count", "Delete Sheet1", "name= March",
                                                 "Save", "Close March.xlsx"}));
  EXPECT_EQ(ReadSheets(Out("March.xlsx")), (Sheets{{"March", "Mar data"}}));
  EXPECT_EQ(Listing(dir_.path() / "out"), (std::vector<std::string>{"March.xlsx"}));
}

TEST_F(SheetOutputTest, SheetNamedLikeTheNewWorkbooksDefaultSheetKeepsItsName) {
  WriteSheetFile(*app_, book_->Worksheets()(2), OutDir(), "Sheet1.xlsx", "Sheet1");
  EXPECT_EQ(ReadSheets(Out("Sheet1.xlsx")), (Sheets{{"Sheet1", "Sheet1 data"}}));
}

TEST_F(SheetOutputTest, ReplacesAnExistingFileWithTheNewOne) {
  test::MakeWorkbook(Out("Jan.xlsx"), {"Old", "Older"});
  WriteSheetFile(*app_, book_->Worksheets()(1), OutDir(), "Jan.xlsx", "Jan");
  EXPECT_EQ(ReadSheets(Out("Jan.xlsx")), (Sheets{{"Jan", "Jan data"}}));
  EXPECT_EQ(Listing(dir_.path() / "out"), (std::vector<std::string>{"Jan.xlsx"}));
}

// Each step of the write fails in turn, with and without a file already at the output name.
struct FailureCase {
  const char* step;
  bool existing;
  friend void PrintTo(const FailureCase& row, std::ostream* os) {
    *os << test::Printable(row.step);
  }
};

class SheetOutputFailureTest : public SheetOutputTest,
                               public testing::WithParamInterface<FailureCase> {};

TEST_P(SheetOutputFailureTest, LeavesTheOutputNameAsItWasAndClosesTheNewWorkbookOnce) {
  const std::string before = "earlier contents";
  if (GetParam().existing) test::WriteFile(Out("Jan.xlsx"), before);
  log_.failures = {{GetParam().step, 1}};

  try {
    WriteSheetFile(*app_, book_->Worksheets()(1), OutDir(), "Jan.xlsx", "Jan");
    FAIL() << "no failure";
  } catch (const automation::AutomationError& error) {
    // The step's own error comes out, not one from the clean-up.
    EXPECT_EQ(error.Description().rfind(std::string("injected failure of ") + GetParam().step, 0),
              0u)
        << error.Description();
  }

  if (GetParam().existing) {
    EXPECT_EQ(Listing(dir_.path() / "out"), (std::vector<std::string>{"Jan.xlsx"}));
    EXPECT_EQ(test::ReadFile(Out("Jan.xlsx")), before);
  } else {
    EXPECT_TRUE(Listing(dir_.path() / "out").empty());
  }
  if (std::string(GetParam().step) != "Add") {
    EXPECT_LE(log_.Count("Close Book1") + log_.Count("Close Jan.xlsx"), 1);
    EXPECT_EQ(log_.calls.back().rfind("Close", 0), 0u) << "the new workbook was left open";
  }
  // The source workbook is still usable: the failure did not close it.
  EXPECT_EQ(book_->Worksheets()(1).name(), "Jan");
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SheetOutputFailureTest,
    testing::Values(FailureCase{"Add", false}, FailureCase{"SaveAs", false},
                    FailureCase{"Copy", false}, FailureCase{"Delete", false},
                    FailureCase{"name=", false}, FailureCase{"Save", false},
                    FailureCase{"Close", false}, FailureCase{"SaveAs", true},
                    FailureCase{"Copy", true}, FailureCase{"name=", true},
                    FailureCase{"Save", true}, FailureCase{"Close", true}),
    [](const testing::TestParamInfo<FailureCase>& info) {
      std::string name = info.param.step;
      if (name == "name=") name = "NamePut";
      return name + (info.param.existing ? "_OverExistingFile" : "_NewFile");
    });

TEST_F(SheetOutputTest, OutputNameTakenByAFolderFailsAndLeavesTheFolder) {
  fs::create_directory(Out("Jan.xlsx"));
  EXPECT_THROW(WriteSheetFile(*app_, book_->Worksheets()(1), OutDir(), "Jan.xlsx", "Jan"),
               automation::AutomationError);
  EXPECT_TRUE(fs::is_directory(Out("Jan.xlsx")));
  EXPECT_EQ(Listing(dir_.path() / "out"), (std::vector<std::string>{"Jan.xlsx"}));
}

}  // namespace
}  // namespace tabrend
