// Output file naming: extension by version, workbook name, cleaning, the naming modes.
#include "engine/Naming.h"

#include <gtest/gtest.h>

#include "tests/engine/TestWorkbooks.h"

#include <deque>

namespace tabrend {
namespace {

// Hands out the given draws in order; a test that draws more than it scripted fails.
class ScriptedRandom : public RandomSource {
 public:
  explicit ScriptedRandom(std::deque<double> draws) : draws_(std::move(draws)) {}
  double Uniform() override {
    if (draws_.empty()) {
      ADD_FAILURE() << "unexpected random draw";
      return 0.0;
    }
    const double r = draws_.front();
    draws_.pop_front();
    return r;
  }
  std::size_t Left() const { return draws_.size(); }

 private:
  std::deque<double> draws_;
};

struct VersionCase {
  const char* version;
  const char* extension;
  friend void PrintTo(const VersionCase& row, std::ostream* os) {
    *os << test::Printable(row.version);
  }
};

class OutputExtensionTest : public testing::TestWithParam<VersionCase> {};

TEST_P(OutputExtensionTest, MajorVersionBelowTwelveGivesXls) {
  EXPECT_EQ(OutputExtension(GetParam().version), GetParam().extension) << GetParam().version;
}

INSTANTIATE_TEST_SUITE_P(Versions, OutputExtensionTest,
                         testing::Values(VersionCase{"11.0", "xls"}, VersionCase{"12.0", "xlsx"},
                                         VersionCase{"14.0", "xlsx"}, VersionCase{"16.0", "xlsx"},
                                         VersionCase{"9", "xls"}, VersionCase{"12", "xlsx"},
                                         // "11.5" rounds to 12; "11.4" to 11
                                         VersionCase{"11.5.1", "xlsx"},
                                         VersionCase{"11.4.9", "xls"},
                                         VersionCase{"100.0", "xlsx"},
                                         VersionCase{"v16.0", "xls"}, VersionCase{"", "xls"},
                                         VersionCase{".", "xls"}));

TEST(GetMajorVersion, CutsBeforeTheLastDot) {
  EXPECT_EQ(GetMajorVersion("16.0"), "16");
  EXPECT_EQ(GetMajorVersion("12.0.6425"), "12.0");
  EXPECT_EQ(GetMajorVersion("16"), "16");
  EXPECT_EQ(GetMajorVersion(""), "");
}

TEST(WorkbookName, CutsBeforeTheLastDotAndKeepsBlanks) {
  EXPECT_EQ(WorkbookName("Q1.2010.xls"), "Q1.2010");
  EXPECT_EQ(WorkbookName("Book .xls"), "Book ");
  EXPECT_EQ(WorkbookName("README"), "README");
  EXPECT_EQ(WorkbookName(".xlsx"), "");
}

struct CleanCase {
  const char* base;
  std::deque<double> draws;
  const char* cleaned;
  friend void PrintTo(const CleanCase& row, std::ostream* os) {
    *os << test::Printable(row.base);
  }
};

class CleanOutputNameTest : public testing::TestWithParam<CleanCase> {};

TEST_P(CleanOutputNameTest, DeletesForbiddenCharactersAndReplacesWhatIsLeftUnusable) {
  ScriptedRandom random(GetParam().draws);
  EXPECT_EQ(CleanOutputName(GetParam().base, random), GetParam().cleaned);
  EXPECT_EQ(random.Left(), 0u) << "fewer draws than expected";
}

INSTANTIATE_TEST_SUITE_P(
    Names, CleanOutputNameTest,
    testing::Values(
        CleanCase{"Sales", {}, "Sales"},
        CleanCase{"a:b", {}, "ab"},
        CleanCase{"<Total>", {}, "Total"},
        CleanCase{"\"q\"|a|b:c<d>e", {}, "qabcde"},
        // "/", "\", "?" and "*" are the application's to refuse, not ours to delete.
        CleanCase{"a/b\\c?d*", {}, "a/b\\c?d*"},
        // a name left shorter than 2 characters by the cleaning gets 1..100 appended
        CleanCase{"x|", {0.41}, "x42"},
        CleanCase{"x", {}, "x"},
        CleanCase{"é|", {0.0}, "é1"},  // one character
        CleanCase{"😀|", {}, "😀"},    // two UTF-16 units, as the application counts
        // nothing left, or a leading blank: a number from 1 to 1000000 instead
        CleanCase{" Budget", {0.5}, "500001"},
        CleanCase{":\"<>|", {0.999999999}, "1000000"},
        // a one-digit random number differs from the name and is short: 1..100 appended
        CleanCase{"::", {0.0, 0.999999}, "1100"},
        CleanCase{"", {0.0000031, 0.0}, "41"},
        CleanCase{"a b", {}, "a b"},
        CleanCase{": x", {0.25}, "250001"}));  // the blank is first only after cleaning

struct NameCase {
  const char* listed;
  const char* sheet;
  NameMode mode;
  std::int32_t numberBefore;
  const char* expected;
  std::int32_t numberAfter;
  friend void PrintTo(const NameCase& row, std::ostream* os) {
    *os << test::Printable(row.expected);
  }
};

class OutputNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(OutputNameTest, NamesByMode) {
  const NameCase& row = GetParam();
  ScriptedRandom random({});
  std::int32_t number = row.numberBefore;
  EXPECT_EQ(OutputName(row.listed, row.sheet, row.mode, number, random), row.expected);
  EXPECT_EQ(number, row.numberAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, OutputNameTest,
    testing::Values(
        NameCase{"Q1.xls", "Sales", NameMode::kSheetName, 0, "Sales", 0},
        NameCase{"Sales.xls", "SALES", NameMode::kSheetName, 0, "Sales_SALES", 0},
        NameCase{"sales.xlsx", "Sales", NameMode::kSheetName, 0, "sales_Sales", 0},
        // letter case is ignored beyond ASCII too
        NameCase{"Отчёт.xlsx", "ОТЧЁТ", NameMode::kSheetName, 0, "Отчёт_ОТЧЁТ", 0},
        NameCase{"Book .xlsx", "Book", NameMode::kSheetName, 0, "Book", 0},
        NameCase{"Q:1.xlsx", "q:1", NameMode::kSheetName, 0, "Q1_q1", 0},
        NameCase{"Q1.2010.xls", "Jan", NameMode::kWorkbookAndSheet, 0, "Q1.2010_Jan", 0},
        NameCase{"Book .xls", "Data", NameMode::kWorkbookAndSheet, 0, "Book _Data", 0},
        NameCase{"Report.xlsx", "Any", NameMode::kRunningNumber, 0, "1", 1},
        NameCase{"2.xls", "Any", NameMode::kRunningNumber, 1, "2_2", 2},
        NameCase{"02.xls", "Any", NameMode::kRunningNumber, 1, "2", 2},
        NameCase{"Report.xlsx", "Any", NameMode::kRunningNumber, 41, "42", 42},
        NameCase{"Sales.xls", "Sales", NameMode::kSheetNameAsIs, 0, "Sales", 0}));

TEST(OutputName, NumbersInOneWorkbookCountUpFromTheCallersCounter) {
  ScriptedRandom random({});
  std::int32_t number = 0;
  std::vector<std::string> names;
  for (const char* sheet : {"a", "b", "c"}) {
    names.push_back(OutputName("2.xls", sheet, NameMode::kRunningNumber, number, random));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"1", "2_2", "3"}));
}

}  // namespace
}  // namespace tabrend
