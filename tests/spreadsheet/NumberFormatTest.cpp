// Number format codes against the text LibreOffice's CSV export ("as shown", en-US) gives
// for the same code and value.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "spreadsheet/NumberFormat.h"

namespace tabrend::spreadsheet {
namespace {

struct Shown {
  const char* code;
  double value;
  const char* text;
  bool date1904 = false;
};

// Each row was checked against LibreOffice 7.4.
const Shown kTable[] = {
    // General: 15 significant digits, whole numbers in full below 2^53, scientific beyond.
    {"General", 1, "1"},
    {"General", 0.1 + 0.2, "0.3"},
    {"General", 1.0 / 3, "0.333333333333333"},
    {"General", 100.0 / 7, "14.2857142857143"},
    {"General", -0.000123, "-0.000123"},
    {"General", 123456789.123456789, "123456789.123457"},
    {"General", 1234567890123456, "1234567890123456"},
    {"General", 9007199254740992, "9.00719925474099E+015"},
    {"General", 123456789012345678.0, "1.23456789012346E+017"},
    {"General", -1e16, "-1E+016"},
    {"General", 1e21, "1E+021"},
    {"General", 1e-10, "1E-10"},
    {"General", 1.5e-9, "0.0000000015"},
    {"General", 1.23456789e-8, "0.0000000123456789"},
    {"General", 1.23456789012345e-9, "1.23456789012345E-09"},
    {"General", 1.5e-15, "1.5E-15"},
    {"", 0, "0"},
    // Built-in codes as ids 1..49 read.
    {"0", -1234.5678, "-1235"},
    {"0.00", 0.5, "0.50"},
    {"#,##0", 45000.75, "45,001"},
    {"#,##0.00", -1234.5678, "-1,234.57"},
    {"\"$\"#,##0_);(\"$\"#,##0)", -1234.5678, "($1,235)"},
    {"\"$\"#,##0.00_);(\"$\"#,##0.00)", 45000.75, "$45,000.75 "},
    {"0%", 0.5, "50%"},
    {"0.00%", -1234.5678, "-123456.78%"},
    {"0.0%", 0.256, "25.6%"},
    {"0.00E+00", 45000.75, "4.50E+04"},
    {"0.00E+00", 0.5, "5.00E-01"},
    {"##0.0E+0", 45000.75, "45.0E+3"},
    {"##0.0E+0", -1234.5678, "-1.2E+3"},
    {"##0.0E+0", 0.5, "500.0E-3"},
    {"# ?/?", 45000.75, "45000 3/4"},
    {"# ?/?", 0.5, " 1/2"},
    {"# ?/?", 1.5, "1 1/2"},
    {"# ?\?/??", -1234.5678, "-1234 46/81"},
    {"# ?\?/??", 0.5, "  1/2 "},
    {"m/d/yyyy", 45000.75, "3/15/2023"},
    {"m/d/yyyy", -1234.5678, "8/12/1896"},
    {"m/d/yyyy", 0.5, "12/30/1899"},
    {"d-mmm-yy", 45000.75, "15-Mar-23"},
    {"d-mmm", 45000.75, "15-Mar"},
    {"mmm-yy", -1234.5678, "Aug-96"},
    {"h:mm AM/PM", 45000.75, "6:00 PM"},
    {"h:mm:ss AM/PM", -1234.5678, "10:22:22 AM"},
    {"h:mm AM/PM", 0.5, "12:00 PM"},
    {"hh:mm", 45000.75, "18:00"},
    {"hh:mm:ss", -1234.5678, "10:22:22"},
    {"m/d/yyyy hh:mm", 45000.75, "3/15/2023 18:00"},
    {"#,##0_);(#,##0)", -1234.5678, "(1,235)"},
    {"#,##0.00_);(#,##0.00)", 0.5, "0.50 "},
    {"_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)", 45000.75, " 45,001 "},
    {"_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)", -1234.5678, " $(1,235)"},
    {"_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)", 0.5, " 0.50 "},
    {"mm:ss", 45000.75, "00:00"},
    {"mm:ss", -1234.5678, "22:22"},
    {"[h]:mm:ss", 45000.75, "1080018:00:00"},
    {"[h]:mm:ss", -1234.5678, "-29629:37:38"},
    {"mm:ss.0", -1234.5678, "22:22.1"},
    {"@", 0.5, "0.5"},
    // Custom codes: sections, conditions, colours, literals, escapes, dates.
    {"0;[Red](0)", -5, "(5)"},
    {"0;-0;\"zero\"", 0, "zero"},
    {"[>50]\"big\";\"small\"", 100, "big"},
    {"[>50]\"big\";\"small\"", 7, "small"},
    {"\"$\"#,##0.00_);(\"$\"#,##0.00)", 12.5, "$12.50 "},
    {"yyyy-mm-dd hh:mm:ss", 45000.75, "2023-03-15 18:00:00"},
    {"dddd, mmmm d, yyyy", 45000, "Wednesday, March 15, 2023"},
    {"mmm", 3, "Jan"},
    {"[$€-407] #,##0.00", 1234.5, "€ 1,234.50"},
    {"0.00\\ \"kg\"", 2.5, "2.50 kg"},
    {"#.##", 5, "5"},
    {"000-000", 12345, "012-345"},
    {"#,##0,\"K\"", 1234567, "1,235K"},
    {"m/d/yyyy h:mm", 42124, "4/30/2015 0:00"},
    {"_-* #,##0\\ _€_-;\\-* #,##0\\ _€_-", 123456789, " 123,456,789    "},
    {"0_W_m", 7, "7      "},
    {"[$-F400]h:mm:ss\\ AM/PM", 0.563139, "01:30:55 PM"},
    {"[$-F800]dddd\\,\\ mmmm\\ dd\\,\\ yyyy", 45000, "Wednesday, March 15, 2023"},
    {"\"P\" #,##0.00; \"N\" #,##0.00;0;@", -1.2, "N 1.20"},
    // The 1904 date system counts from 1904-01-01.
    {"m/d/yyyy", 0, "1/1/1904", true},
    {"yyyy-mm-dd", 43538, "2023-03-15", true},
};

TEST(NumberFormat, ShowsEachCodeAndValueAsLibreOfficeDoes) {
  for (const Shown& row : kTable) {
    SCOPED_TRACE(std::string("code ") + row.code + ", value " + std::to_string(row.value));
    EXPECT_EQ(FormatNumber(row.code, row.value, row.date1904), row.text);
  }
  // Text goes through the text section, or stays as it is.
  EXPECT_EQ(NumberFormat("0;-0;0;\"<\"@\">\"").FormatText("pears"), "<pears>");
  EXPECT_EQ(NumberFormat("0.00").FormatText("pears"), "pears");
  EXPECT_EQ(BuiltInNumberFormat(14), "m/d/yyyy");
  EXPECT_EQ(BuiltInNumberFormat(23), "General");
}

// The common codes and General have a path of their own that reads the digits a cell's text
// writes. It must give the general path's text for every value: a code with an empty literal
// added shows the same text but takes the general path, from the double alone.
TEST(NumberFormat, CommonCodesShowWhatTheGeneralPathShows) {
  std::vector<std::string> texts = {"0",     "-0",     "0.5",   "-0.5",   "2.675", "1.005",  "-0.005", "0.0049",
                                    "999.995", "0.125", "1234.5", "99999.5", "-0.0000001", "100", "000123.4500",
                                    "123456789012345", "0.000000000000001234", "98765.4321098765", "1e5", "-2.5E-3"};
  std::mt19937_64 random(29);
  for (int i = 0; i < 4000; ++i) {
    std::string text = random() % 2 ? "-" : "";
    const int whole = static_cast<int>(random() % 10), places = static_cast<int>(random() % 12);
    for (int d = 0; d < whole; ++d) text += static_cast<char>('0' + random() % 10);
    if (whole == 0) text += '0';
    if (places > 0) text += '.';
    for (int d = 0; d < places; ++d) text += random() % 4 == 0 ? '5' : static_cast<char>('0' + random() % 10);
    texts.push_back(text);
  }
  for (const char* code : {"0", "0.00", "#,##0", "#,##0.00", "0%", "0.00%", "#,##0.000", "0.0"}) {
    const NumberFormat fast(code), general(std::string(code) + "\"\"");
    for (const std::string& text : texts) {
      WrittenNumber number;
      ASSERT_TRUE(ReadWrittenNumber(text, number)) << text;
      std::string shown;
      fast.Append(shown, number);
      ASSERT_EQ(shown, general.Format(number.value)) << code << " " << text;
      if (code[0] != '0' || code[1] != '\0') continue;
      shown.clear();
      AppendGeneral(shown, number);
      ASSERT_EQ(shown, FormatGeneral(number.value)) << text;
    }
  }
}

}  // namespace
}  // namespace tabrend::spreadsheet
