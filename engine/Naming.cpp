// Output file naming: extension, workbook name, naming modes and base-name cleaning.
#include "engine/Naming.h"

#include <cmath>
#include <cstdlib>
#include <random>
#include <string_view>

#include "engine/Paths.h"
#include "spreadsheet/Text.h"

namespace tabrend {

namespace {

std::string DrawNumberText(RandomSource& random, double scale) {
  double r = random.Uniform();
  if (!(r >= 0.0) || r >= 1.0) r = 0.0;  // a source outside [0, 1) must not give 0 or scale+1
  return std::to_string(static_cast<long>(r * scale + 1.0));
}

}  // namespace

std::string GetMajorVersion(const std::string& text) {
  const auto dot = text.rfind('.');
  return dot == std::string::npos ? text : text.substr(0, dot);
}

long LeadingWholeNumber(const std::string& text) {
  std::size_t end = 0;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  if (end == 0) return 0;
  if (end < text.size() && text[end] == '.') {
    ++end;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  }
  const double value = std::strtod(text.substr(0, end).c_str(), nullptr);
  return static_cast<long>(std::nearbyint(value));  // default rounding: halves to even
}

// The first application version (12, Excel 2007) that writes .xlsx.
constexpr long kFirstXlsxVersion = 12;
// The ranges of the random numbers that stand in for a name cleaned away entirely, and that
// lengthen one left with a single character.
constexpr double kEmptyNameNumberRange = 1000000.0;
constexpr double kShortNameNumberRange = 100.0;

std::string OutputExtension(const std::string& versionText) {
  return LeadingWholeNumber(GetMajorVersion(versionText)) < kFirstXlsxVersion ? "xls" : "xlsx";
}

std::string WorkbookName(const std::string& listedName) {
  const auto dot = listedName.rfind('.');
  return dot == std::string::npos ? listedName : listedName.substr(0, dot);
}

namespace {

class SystemRandomSource : public RandomSource {
 public:
  SystemRandomSource() : engine_(std::random_device{}()) {}
  double Uniform() override { return std::uniform_real_distribution<double>(0.0, 1.0)(engine_); }

 private:
  std::mt19937_64 engine_;
};

}  // namespace

std::unique_ptr<RandomSource> MakeSystemRandomSource() {
  return std::make_unique<SystemRandomSource>();
}

std::string CleanOutputName(const std::string& base, RandomSource& random) {
  std::string result;
  result.reserve(base.size());
  for (const char c : base) {
    if (std::string_view(kForbiddenChars).find(c) == std::string_view::npos) result.push_back(c);
  }
  if (!result.empty() && result.front() == ' ') result.clear();  // dropped, not trimmed
  if (result.empty()) result = DrawNumberText(random, kEmptyNameNumberRange);
  if (result != base && spreadsheet::CharacterCount(result) < 2) {
    result += DrawNumberText(random, kShortNameNumberRange);
  }
  return result;
}

std::string RawOutputName(const std::string& listedName, const std::string& sheetName,
                          NameMode mode, std::int32_t& runningNumber) {
  const std::string workbook = WorkbookName(listedName);
  switch (mode) {
    case NameMode::kSheetName:
      return spreadsheet::EqualIgnoringCase(sheetName, workbook) ? workbook + "_" + sheetName
                                                                 : sheetName;
    case NameMode::kWorkbookAndSheet:
      return workbook + "_" + sheetName;
    case NameMode::kRunningNumber: {
      ++runningNumber;
      const std::string number = std::to_string(runningNumber);
      return workbook == number ? workbook + "_" + number : number;
    }
    case NameMode::kSheetNameAsIs:
      break;
  }
  return sheetName;
}

std::string OutputName(const std::string& listedName, const std::string& sheetName,
                       NameMode mode, std::int32_t& runningNumber, RandomSource& random) {
  return CleanOutputName(RawOutputName(listedName, sheetName, mode, runningNumber), random);
}

std::string RunOutputNames::Claim(const std::string& folder, const std::string& name,
                                  const std::string& extension) {
  const std::string prefix = FolderWithSlash(folder);
  std::string candidate = name + extension;
  for (int n = 2; !given_.insert(prefix + candidate).second; ++n)
    candidate = name + "_" + std::to_string(n) + extension;
  return candidate;
}

}  // namespace tabrend
