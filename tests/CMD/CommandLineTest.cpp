// The command line: tokens, switches, the rebuilt tail, base names and the folder listing.
#include <gtest/gtest.h>

#include <sstream>

#include "CMD/Module1.h"
#include "tests/engine/TestWorkbooks.h"

namespace tabrend::cli {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using Tokens = std::vector<std::string>;

class NoOpener : public FolderOpener {
 public:
  void Open(const std::string& folder) override { ADD_FAILURE() << "opened " << folder; }
};

struct SplitCase {
  const char* line;
  Tokens tokens;
  friend void PrintTo(const SplitCase& row, std::ostream* os) {
    *os << test::Printable(row.line);
  }
};

class SplitCommandLineTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, CutsAtBlanksOutsideQuotes) {
  NoOpener opener;
  std::ostringstream log;
  Module1 module(opener, log);
  EXPECT_TRUE(module.SplitCommandLine(GetParam().line));
  EXPECT_EQ(module.Args, GetParam().tokens);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitCommandLineTest,
    testing::Values(
        SplitCase{"a b c", {"a", "b", "c"}},
        SplitCase{"   a    b  ", {"a", "b"}},
        SplitCase{"", {}},
        SplitCase{"\"My Folder/Q1 2010.xlsx\" Out", {"My Folder/Q1 2010.xlsx", "Out"}},
        SplitCase{"a\"b c\"d", {"ab cd"}},  // a quote inside a token works the same
        SplitCase{"\"unclosed a  b", {"unclosed a  b"}},
        SplitCase{"src \"\" out", {"src", "out"}},  // an empty quoted string holds no place
        SplitCase{"\"a\" \"b c\" \"d\"", {"a", "b c", "d"}},
        SplitCase{"\"\"\"a b\" c", {"a b", "c"}},  // the third quote opens again
        SplitCase{"a\tb c", {"a\tb", "c"}},        // only the blank separates
        SplitCase{"x!@@#!$%@#%$#@^y z", {"x y", "z"}},
        SplitCase{"/Src/Mixed Case /NAME=2", {"/Src/Mixed", "Case", "/NAME=2"}}));

TEST(SplitCommandLine, TakesAHundredAndOneTokensButNotOneMore) {
  NoOpener opener;
  std::ostringstream log;
  std::string line;
  for (int i = 0; i < 101; ++i) line += "t" + std::to_string(i) + " ";
  Module1 accepted(opener, log);
  EXPECT_TRUE(accepted.SplitCommandLine(line));
  EXPECT_EQ(accepted.Args.size(), 101u);

  Module1 refused(opener, log);
  EXPECT_FALSE(refused.SplitCommandLine(line + "extra"));
  EXPECT_EQ(refused.Args.size(), 101u);
  EXPECT_EQ(refused.Args.back(), "t100");
}

struct OptionsCase {
  const char* tail;  // {src} stands for an existing workbook, {dir} for an existing folder
  bool accepted;
  NameMode mode = NameMode::kSheetName;
  bool overwrite = true;
  bool open = false;
  bool verbose = false;
  const char* outputRoot = "Out/";
  OutputFormat format = OutputFormat::kWorkbook;
  friend void PrintTo(const OptionsCase& row, std::ostream* os) {
    *os << test::Printable(row.tail);
  }
};

class ParseOptionsTest : public testing::TestWithParam<OptionsCase> {};

TEST_P(ParseOptionsTest, ReadsSourceOutputRootAndSwitches) {
  TempDir dir;
  test::WriteFile(dir.path() / "Book 1.xlsx", "x");
  std::string tail = GetParam().tail;
  const std::pair<std::string, std::string> fields[] = {
      {"{src}", "\"" + dir / "Book 1.xlsx" + "\""}, {"{dir}", dir.path().string()}};
  for (const auto& [field, value] : fields) {
    for (auto at = tail.find(field); at != std::string::npos; at = tail.find(field)) {
      tail.replace(at, field.size(), value);
    }
  }
  NoOpener opener;
  std::ostringstream log;
  Module1 module(opener, log);
  ASSERT_EQ(module.ParseOptions(tail), GetParam().accepted) << tail;
  if (!GetParam().accepted) return;
  EXPECT_EQ(module.NameMode, GetParam().mode);
  EXPECT_EQ(module.Overwrite, GetParam().overwrite);
  EXPECT_EQ(module.OpenOutput, GetParam().open);
  EXPECT_EQ(module.Verbose, GetParam().verbose);
  EXPECT_EQ(module.OutputRoot, GetParam().outputRoot);
  EXPECT_EQ(module.Format, GetParam().format);
}

const std::string kTwelveFillers = " x x x x x x x x x x x x";

INSTANTIATE_TEST_SUITE_P(
    Tails, ParseOptionsTest,
    testing::Values(
        OptionsCase{"", false},
        OptionsCase{"   ", false},
        OptionsCase{"{src}", false},  // no output root: nothing runs
        OptionsCase{"{src} \"\"", false},
        OptionsCase{"{src}/missing Out", false},
        OptionsCase{"/name=2 {src} Out", false},  // a switch first is taken as the source
        OptionsCase{"{src} Out", true},
        OptionsCase{"{dir} Out/", true},
        OptionsCase{"{src} Out /NAME=2", true, NameMode::kWorkbookAndSheet},
        OptionsCase{"{src} Out /name=3 /name=2", true, NameMode::kWorkbookAndSheet},
        OptionsCase{"{src} Out /name=2 /name=3", true, NameMode::kRunningNumber},
        OptionsCase{"{src} Out /name = 2", true},
        OptionsCase{"{src} Out /name=4 name=2 /name=2x", true},
        OptionsCase{"{src} Out /overwrite=0 /overwrite=1", true, NameMode::kSheetName, false},
        OptionsCase{"{src} Out /Overwrite=1 /OVERWRITE=0", true, NameMode::kSheetName, false},
        OptionsCase{"{src} Out /open=1 /open=0", true, NameMode::kSheetName, true, true},
        OptionsCase{"{src} Out /open=0 /Open=1 /verbose=1", true, NameMode::kSheetName, true,
                    true, true},
        // a switch in token 14 counts, one in token 15 does not
        OptionsCase{"{src} Out x x x x x x x x x x x /name=3", true, NameMode::kRunningNumber},
        OptionsCase{"{src} Out x x x x x x x x x x x x /name=3", true},
        OptionsCase{"{src} \"Out Put\" /name=2", true, NameMode::kWorkbookAndSheet, true, false,
                    false, "Out Put/"},
        OptionsCase{"{src} Out /FORMAT=CSV", true, NameMode::kSheetName, true, false, false, "Out/",
                    OutputFormat::kCsv},
        OptionsCase{"{src} Out /format=csv /format=pdf", true, NameMode::kSheetName, true, false, false, "Out/",
                    OutputFormat::kPdf},
        OptionsCase{"{src} Out /format=pdf /format=xlsx", true},
        OptionsCase{"{src} Out /format=txt", false},
        OptionsCase{"{src} Out /format=", false}));

TEST(GetBaseName, CutsTheLastExtensionAndTrailingBlanks) {
  TempDir dir;
  for (const char* name : {"my.data.xls", "Book .xlsx", "NoDot", " .xlsx"}) {
    test::WriteFile(dir.path() / name, "x");
  }
  EXPECT_EQ(GetBaseName(dir / "my.data.xls"), "my.data");
  EXPECT_EQ(GetBaseName(dir / "Book .xlsx"), "Book");
  EXPECT_EQ(GetBaseName(dir / "NoDot"), "NoDot");
  EXPECT_EQ(GetBaseName(dir / " .xlsx"), "");
  EXPECT_EQ(GetBaseName(dir / "missing.xlsx"), "");
  EXPECT_EQ(GetBaseName(""), "");
}

TEST(ScanFolder, TakesOrdinaryVisibleFilesWhoseExtensionBeginsWithXlsInNameOrderButNoLockFile) {
  TempDir dir;
  for (const char* name : {"b.xlsx", "A.XLS", "c.xlsm", "d.Xlsb", "e.txt", ".hidden.xlsx",
                           "f.xls.bak", "g.xl", "xls", "h.xlsx~", "~$b.xlsx"}) {
    test::WriteFile(dir.path() / name, "x");
  }
  fs::create_directory(dir.path() / "folder.xlsx");
  NoOpener opener;
  std::ostringstream log;
  Module1 module(opener, log);
  ASSERT_TRUE(module.ScanFolder(dir.path().string()));
  const std::string prefix = dir.path().string() + "/";
  EXPECT_EQ(module.BatchFiles, (Tokens{prefix + "A.XLS", prefix + "b.xlsx", prefix + "c.xlsm",
                                       prefix + "d.Xlsb", prefix + "h.xlsx~"}));
  EXPECT_TRUE(module.ScanFolder(prefix));  // a trailing "/" gives the same paths
  EXPECT_EQ(module.BatchFiles.front(), prefix + "A.XLS");
  EXPECT_FALSE(module.ScanFolder(dir / "missing"));
}

}  // namespace
}  // namespace tabrend::cli
