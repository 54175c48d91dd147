// The run report of "/report=" read back line by line, for a run from a list of workbooks.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "CMD/Module1.h"
#include "tests/engine/TestWorkbooks.h"

namespace tabrend::cli {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

class NoOpener : public FolderOpener {
 public:
  void Open(const std::string&) override {}
};

std::vector<Json> ReportLines(const std::string& path) {
  std::vector<Json> lines;
  std::istringstream text(test::ReadFile(path));
  for (std::string line; std::getline(text, line);) lines.push_back(Json::parse(line));
  return lines;
}

TEST(RunReport, TellsEachSheetAndEachWorkbookThatFailedBeforeItsSheets) {
  test::TempDir dir;
  fs::create_directories(dir.path() / "books");
  fs::create_directories(dir.path() / "lists");
  fs::create_directories(dir.path() / "out/Mixed");
  // Kept is written with a loss (its list of values lives on Other); a file stands at Other's
  // name; Gone is hidden, Empty blank; the application refuses the name History, and the
  // split stops there, before After.
  test::RunPython(R"(import sys, openpyxl
from openpyxl.worksheet.datavalidation import DataValidation
path = open(sys.argv[1], encoding='utf-8').read().split('\n')[0]
book = openpyxl.Workbook()
kept = book.active
kept.title = 'Kept'
kept['A1'] = 'pick'
rule = DataValidation(type='list', formula1='Other!$A$1:$A$2')
kept.add_data_validation(rule)
rule.add('B1')
other = book.create_sheet('Other')
other['A1'], other['A2'] = 1, 2
book.create_sheet('Gone')['A1'] = 'secret'
book['Gone'].sheet_state = 'hidden'
book.create_sheet('Empty')
book.create_sheet('History')['A1'] = 1
book.create_sheet('After')['A1'] = 1
book.save(path)
)",
                  {dir / "books/Mixed.xlsx"});
  test::WriteFile(dir.path() / "out/Mixed/Other.xlsx", "mine");
  test::WriteFile(dir.path() / "books/Broken.xlsx", "not a workbook");
  test::WriteFile(dir.path() / "lists/run.txt", "# the month's books\n../books/Mixed.xlsx\n\n../books/Broken.xlsx\n");

  NoOpener opener;
  std::ostringstream log;
  Module1 module(opener, log);
  const std::string report = dir / "run.jsonl", out = dir / "out/";
  ASSERT_TRUE(module.ParseOptions(std::vector<std::string>{"@" + dir / "lists/run.txt", out, "/overwrite=0",
                                                           "/hidden=0", "/blank=0", "/report=" + report}));
  EXPECT_FALSE(module.RunBatch());

  const std::string mixed = dir / "lists/../books/Mixed.xlsx";
  const auto sheet = [&](long index, const char* name, Json output, const char* status, Json reason,
                         Json losses = Json::array()) {
    return Json{{"record", "sheet"}, {"source", mixed},  {"sheet", name},   {"index", index},
                {"output", output},  {"status", status}, {"reason", reason}, {"losses", losses},
                {"bytes", 0}};
  };
  std::vector<Json> lines = ReportLines(report);
  ASSERT_EQ(lines.size(), 8u) << test::ReadFile(report);
  // A written sheet's size is that of its file.
  EXPECT_EQ(lines[0]["bytes"], fs::file_size(out + "Mixed/Kept.xlsx"));
  lines[0]["bytes"] = 0;
  EXPECT_EQ(lines[0], sheet(1, "Kept", out + "Mixed/Kept.xlsx", "written", nullptr,
                            {"1 validation lists or rule values taken from other sheets now hold the values they "
                             "showed"}));
  EXPECT_EQ(lines[1], sheet(2, "Other", out + "Mixed/Other.xlsx", "skipped", "the output file exists"));
  EXPECT_EQ(lines[2], sheet(3, "Gone", nullptr, "hidden", "hidden"));
  EXPECT_EQ(lines[3], sheet(4, "Empty", nullptr, "blank", "shows nothing"));
  EXPECT_EQ(lines[4], sheet(5, "History", out + "Mixed/History.xlsx", "failed",
                            "'History.xlsx': sheet 'History' cannot be renamed to 'History': 'History' is reserved "
                            "by the application"));
  EXPECT_EQ(lines[5], sheet(6, "After", out + "Mixed/After.xlsx", "failed",
                            "not written: the split stopped at sheet 'History'"));
  EXPECT_EQ(lines[6], (Json{{"record", "workbook"},
                            {"source", dir / "lists/../books/Broken.xlsx"},
                            {"status", "failed"},
                            {"error", 1004},
                            {"reason", "'Broken.xlsx' is not a workbook: no ZIP central directory"}}));
  EXPECT_EQ(lines[7], (Json{{"record", "summary"},
                            {"workbooks", 2},
                            {"failed_workbooks", 2},
                            {"written", 1},
                            {"skipped", 1},
                            {"hidden", 1},
                            {"blank", 1},
                            {"failed", 2},
                            {"listed", 0},
                            {"bytes", fs::file_size(out + "Mixed/Kept.xlsx")},
                            {"stopped", nullptr},
                            {"exit", kExitFailed}}));
  EXPECT_EQ(test::ReadFile(out + "Mixed/Other.xlsx"), "mine");
}

}  // namespace
}  // namespace tabrend::cli
