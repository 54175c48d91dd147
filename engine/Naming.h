// Output file naming that both programs share: the extension from the application's
// version, the workbook name of a listed file name, the three naming modes and the cleaning
// of a base name.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

namespace tabrend {

// GetMajorVersion("16.0") is "16"; GetMajorVersion("12.0.6425") is "12.0": the text before
// its last ".". A text without "." comes back unchanged.
std::string GetMajorVersion(const std::string& text);

// The leading decimal number of text ("12", "11.6", "14abc"), rounded to the nearest whole
// number with halves going to the even neighbour, as the original platform's conversion
// does; 0 when text does not begin with a digit.
long LeadingWholeNumber(const std::string& text);

// "xls" when the major version of the application's version text is below 12, else "xlsx".
// A version text that does not begin with a number counts as version 0.
std::string OutputExtension(const std::string& versionText);

// The workbook name W of a listed file name: the name cut before its last "." (a name
// without "." stays whole). Trailing blanks stay: "Book .xls" gives "Book ".
std::string WorkbookName(const std::string& listedName);

// Uniform draws in [0, 1) for the random parts of a cleaned name. Injected so that tests
// can pin the numbers.
class RandomSource {
 public:
  virtual ~RandomSource() = default;
  virtual double Uniform() = 0;
};

// The program's own source: a generator seeded once from the system's entropy source.
// (The original reseeded from a timer before every draw, which made draws within one timer
// tick repeat; nothing relies on that.)
std::unique_ptr<RandomSource> MakeSystemRandomSource();

// The characters deleted from every output base name. "/" and "\" are not among them: the
// application refuses a file name holding them, which fails the workbook.
inline constexpr char kForbiddenChars[] = ":\"<>|";

// Cleans base name B into the name written to disk:
// every ":", double quote, "<", ">" and "|" is deleted; a result that begins with a blank or
// is empty becomes a random number from 1 to 1000000; a result that differs from B and is
// shorter than 2 characters (UTF-16 units, as the application counts) gets a random number from
// 1 to 100 appended. Never throws.
std::string CleanOutputName(const std::string& base, RandomSource& random);

// How output files are named. The values are those of the "/name=" switches.
enum class NameMode : int {
  kSheetName = 1,         // N; W_N when N equals W ignoring letter case (any script)
  kWorkbookAndSheet = 2,  // W_N
  kRunningNumber = 3,     // 1, 2, 3...; W_k when W is exactly the number k
  // The desktop program's naming with no mode chosen: N as it is, never compared with W.
  kSheetNameAsIs = 0,
};

// The base name B before cleaning. kRunningNumber adds 1 to runningNumber first; the caller
// owns the counter and resets it when a workbook's split completes.
std::string RawOutputName(const std::string& listedName, const std::string& sheetName,
                          NameMode mode, std::int32_t& runningNumber);

// The cleaned base name (without "." and extension) of the output file that receives sheet
// sheetName of the workbook whose listed file name is listedName.
std::string OutputName(const std::string& listedName, const std::string& sheetName,
                       NameMode mode, std::int32_t& runningNumber, RandomSource& random);

// The output names one run has given out in each folder, so that no output of a run lands on
// another output of the same run. Files that stood there before the run are not its concern.
class RunOutputNames {
 public:
  // name + extension (extension with its "." or empty for a folder) when the run has not
  // given that out in folder yet; else the first of name_2, name_3, ... that is free. The
  // result is given out from then on.
  std::string Claim(const std::string& folder, const std::string& name, const std::string& extension);

 private:
  std::set<std::string> given_;  // folder + "/" + name
};

}  // namespace tabrend
