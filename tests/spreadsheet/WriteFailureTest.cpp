// Write errors of an output: a scratch device that fails at its N-th write (or flush), for
// every N in turn, must make WriteWorkbook throw the error of what it was writing and leave
// no output file and no scratch file behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "core/Error.h"
#include "spreadsheet/WorkbookWriter.h"
#include "tests/engine/TestWorkbooks.h"
#include "tests/spreadsheet/TinyPackage.h"

namespace tabrend::spreadsheet {
namespace {

class FailingScratch : public ScratchFile {
 public:
  FailingScratch(int& operations, int failAt) : operations_(operations), failAt_(failAt) {}
  bool Write(std::string_view bytes) override { return ++operations_ != failAt_ && ScratchFile::Write(bytes); }
  bool Finish() override { return ++operations_ != failAt_ && ScratchFile::Finish(); }

 private:
  int& operations_;
  int failAt_;
};

// TMPDIR pointed at a folder of the test's own while it runs.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& folder) {
    if (const char* before = std::getenv("TMPDIR")) before_ = before;
    test::fs::create_directory(folder);
    ::setenv("TMPDIR", folder.c_str(), 1);
  }
  ~ScratchFolder() {
    if (before_) ::setenv("TMPDIR", before_->c_str(), 1);
    else ::unsetenv("TMPDIR");
  }

 private:
  std::optional<std::string> before_;
};

TEST(WriteFailureTest, EveryFailedWriteIsReportedAndLeavesNothing) {
  test::TempDir dir;
  const ScratchFolder scratch(dir / "scratch");
  // A sheet whose copy is written in several pieces, another, and a string table.
  std::string rows;
  for (int row = 1; row <= 40'000; ++row)
    rows += "<row r=\"" + std::to_string(row) + "\"><c r=\"A" + std::to_string(row) + "\" t=\"s\"><v>" +
            std::to_string(row % 3) + "</v></c></row>";
  test::TinyPackage package;
  package.sheets = {{"Big", TINY_WS "<sheetData>" + rows + "</sheetData></worksheet>"},
                    {"Small", TINY_WS "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData></worksheet>"}};
  package.Write(dir / "in.xlsx");
  const SourceWorkbook source(dir / "in.xlsx");
  const std::vector<OutputSheet> sheets = {{"Big", &source, 0}, {"Small", &source, 1}};
  const std::string output = dir / "out.xlsx";
  std::set<std::string> messages;
  int failAt = 1;
  for (;; ++failAt) {
    int operations = 0;
    const ScratchFactory failing = [&] { return std::make_unique<FailingScratch>(operations, failAt); };
    try {
      WriteWorkbook(sheets, 0, output, failing);
      EXPECT_LT(operations, failAt);
      break;
    } catch (const AutomationError& error) {
      messages.insert(error.Description());
      EXPECT_EQ(error.Number(), kApplicationDefined);
    }
    EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"in.xlsx", "scratch"})) << "failing at " << failAt;
    EXPECT_EQ(test::Listing(dir / "scratch"), std::vector<std::string>{}) << "failing at " << failAt;
  }
  EXPECT_GT(failAt, 6);  // more than one piece of the big sheet, and every flush
  EXPECT_EQ(messages, (std::set<std::string>{
                          "'in.xlsx': sheet 'Big': the copy could not be written to a temporary file",
                          "'in.xlsx': sheet 'Small': the copy could not be written to a temporary file",
                          "the shared strings of the copy could not be written to a temporary file (is the temporary "
                          "folder full?)"}));
  EXPECT_TRUE(test::fs::exists(output));
}

}  // namespace
}  // namespace tabrend::spreadsheet
