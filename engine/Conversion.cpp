// Conversion of .xls, .xlsb and .ods sources into .xlsx packages by LibreOffice headless, and
// calculated copies of .xlsx packages whose formulas were saved without results.
//
// Layout under TMPDIR, one root per process:
//   tabrend-XXXXXX/run-XXXXXX/   one LibreOffice start: profile/, tmp/ (its TMPDIR), in/
//                                 (links to the sources, numbered), out/; removed after it
//   tabrend-XXXXXX/book-XXXXXX/  one converted (or calculated) package, named as its source
// The root goes with its last folder, at exit, and on a terminating signal (TempFolders.h);
// LibreOffice runs as engine/LibreOffice.h starts it.
#include "engine/Conversion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "core/Error.h"
#include "engine/LibreOffice.h"
#include "engine/Paths.h"
#include "engine/TempFolders.h"
#include "spreadsheet/CellReader.h"
#include "spreadsheet/FileFormat.h"
#include "spreadsheet/FileStamp.h"
#include "spreadsheet/SourceWorkbook.h"
#include "spreadsheet/Text.h"

namespace tabrend::automation {

namespace {

using spreadsheet::FileFormat;
using spreadsheet::FileStamp;
using spreadsheet::StampOf;

constexpr char kNotInstalled[] =
    " needs LibreOffice to be opened: install the Debian package libreoffice-calc-nogui";
constexpr std::size_t kMaxWorkbooksPerStart = 100;

// ---- Process-wide state.

// A prefetched result: the package, or the description of why there is none.
struct Kept {
  FileStamp key;
  std::unique_ptr<ConvertedPackage> package;
  std::string error;
  ErrorReason reason = ErrorReason::kLibreOfficeFailed;
};

struct State {
  std::mutex conversions;  // one LibreOffice at a time
  std::mutex kept;  // keptResults, keptCalculations, candidates
  std::map<std::string, Kept> keptResults;
  std::map<std::string, Kept> keptCalculations;  // error: why there is no calculated copy
  std::vector<std::string> candidates;  // workbooks of the run whose calculation may come along
  spreadsheet::ShownResults shown = spreadsheet::ShownResults::kDroppedFormulas;  // by the run's outputs
};

// Never destroyed: packages destroyed by other static objects at exit still find it.
State& Global() {
  static State* const state = new State;
  return *state;
}

// ---- LibreOffice.

bool IsConverted(FileFormat format) {
  return format == FileFormat::kExcel97 || format == FileFormat::kBinaryPackage ||
         format == FileFormat::kOpenDocument;
}

// LibreOffice's own import filter for the format: its type detection, left alone, reads a
// damaged file as text and "converts" it.
const char* ImportFilter(FileFormat format) {
  switch (format) {
    case FileFormat::kExcel97: return "MS Excel 97";
    case FileFormat::kBinaryPackage: return "Calc MS Excel 2007 Binary";
    default: return "calc8";
  }
}

const char* Extension(FileFormat format) {
  switch (format) {
    case FileFormat::kExcel97: return "xls";
    case FileFormat::kBinaryPackage: return "xlsb";
    default: return "ods";
  }
}

std::string KindName(FileFormat format) {
  switch (format) {
    case FileFormat::kExcel97: return "an Excel 97-2003 workbook (.xls)";
    case FileFormat::kBinaryPackage: return "an Excel binary workbook (.xlsb)";
    default: return "an OpenDocument spreadsheet (.ods)";
  }
}

struct Converted {
  std::unique_ptr<ConvertedPackage> package;
  std::string error;     // the whole description, naming the source
  ErrorReason reason = ErrorReason::kLibreOfficeFailed;
  std::string cause;     // what went wrong, as "LibreOffice failed with exit status 1"
  bool decisive = true;  // false: the failure may be another workbook's doing
};

// What one LibreOffice start does to its sources: reads them with filter and writes them as
// .xlsx; a calculation has every formula calculated on loading, as a spreadsheet program
// does for the workbooks saved without results (they ask for it, or their calcId is older).
struct Job {
  FileFormat format;  // of the sources
  const char* filter;
  const char* extension;
  bool calculation = false;
};

Job ConversionJob(FileFormat format) { return {format, ImportFilter(format), Extension(format)}; }

const Job kCalculationJob{FileFormat::kOther, "Calc MS Excel 2007 XML", "xlsx", true};

// A source left unconverted by something other than its own content.
void NotConverted(Converted& result, const std::string& source, const std::string& cause) {
  result.cause = cause;
  result.error = Quoted(source) + " could not be converted: " + cause;
  result.decisive = false;
}

// The number under which source i is linked in and its output comes out: "0001" and so on.
std::string LinkName(std::size_t i) {
  char number[32];
  std::snprintf(number, sizeof number, "%04zu", i + 1);
  return number;
}

// Links each source into folder/in and adds the link to the start's inputs; a source that
// cannot be linked is marked unconverted. Returns which sources were linked.
std::vector<bool> LinkSources(const std::vector<std::string>& sources, const Job& job, const std::string& folder,
                              LibreOfficeStart& start, std::vector<Converted>& results) {
  std::string workingFolder;
  if (char* cwd = ::getcwd(nullptr, 0)) {
    workingFolder = cwd;
    std::free(cwd);
  }
  std::vector<bool> linked(sources.size(), false);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const std::string& source = sources[i];
    const std::string target = !source.empty() && source.front() == '/' ? source : workingFolder + "/" + source;
    const std::string link = "in/" + LinkName(i) + "." + job.extension;
    // LibreOffice reads the source through the link and puts its lock file, if any, here.
    if (::symlink(target.c_str(), (folder + "/" + link).c_str()) != 0) {
      NotConverted(results[i], source, std::strerror(errno));
      continue;
    }
    linked[i] = true;
    start.inputs.push_back(link);
  }
  return linked;
}

// Moves the package LibreOffice wrote for source i, if it wrote one, into a folder of its
// own; false when it wrote none.
bool TakeOutput(const std::string& folder, std::size_t i, const std::string& source, Converted& result) {
  const std::string output = folder + "/out/" + LinkName(i) + ".xlsx";
  struct stat info {};
  if (::lstat(output.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return false;
  std::string problem;
  TempFolder book("book", problem);
  const std::string package = book.Path() + "/" + FileNameOf(source);
  if (!book.Made() || ::rename(output.c_str(), package.c_str()) != 0) {
    NotConverted(result, source, book.Made() ? std::strerror(errno) : problem);
    return true;
  }
  result.package = std::make_unique<ConvertedPackage>(book.HandOver(), package);
  return true;
}

// Why source got no package from a start that ended with outcome; alone: it was the start's
// only workbook, so the failure is its own.
void DescribeFailure(Converted& result, const LibreOfficeOutcome& outcome, const std::string& source, const Job& job,
                     bool alone) {
  const std::string label = Quoted(source);
  result.decisive = alone || outcome.result.outcome == RunResult::kNotStarted;
  result.cause = outcome.problem;
  if (result.cause.empty()) {
    result.decisive = true;
    if (spreadsheet::NeedsPassword(source)) {
      result.cause = "LibreOffice could not read the workbook: it is protected with a password";
      result.reason = ErrorReason::kEncrypted;
      result.error = label + " is protected with a password, so LibreOffice converted nothing: remove "
                             "the password in the spreadsheet program and try again";
    } else {
      result.cause = "LibreOffice could not read the workbook";
      result.reason = ErrorReason::kDamaged;
      result.error = label + " could not be opened: LibreOffice converted nothing, so it is damaged or is not " +
                     (job.calculation ? std::string("a workbook") : KindName(job.format));
    }
  }
  if (result.error.empty()) result.error = label + " could not be converted: " + result.cause;
}

// Converts sources, all of the job's format, in one LibreOffice start.
std::vector<Converted> ConvertGroup(const std::vector<std::string>& sources, const Job& job,
                                    const std::string& program) {
  State& state = Global();
  std::lock_guard running(state.conversions);
  std::vector<Converted> results(sources.size());
  std::string problem;
  TempFolder run("run", problem);
  if (!run.Made()) {
    for (std::size_t i = 0; i < sources.size(); ++i) NotConverted(results[i], sources[i], problem);
    return results;
  }
  const std::string& folder = run.Path();
  ::mkdir((folder + "/in").c_str(), kPrivateFolderMode);
  LibreOfficeStart start;
  start.profile = "profile";
  start.importFilter = job.filter;
  start.convertTo = "xlsx:Calc MS Excel 2007 XML";
  start.calculate = job.calculation;
  const std::vector<bool> linked = LinkSources(sources, job, folder, start, results);
  if (start.inputs.empty()) return results;

  const LibreOfficeOutcome outcome = RunLibreOffice(program, start, folder);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (!linked[i] || TakeOutput(folder, i, sources[i], results[i])) continue;
    DescribeFailure(results[i], outcome, sources[i], job, start.inputs.size() == 1);
  }
  return results;
}

}  // namespace

ConvertedPackage::ConvertedPackage(std::string folder, std::string path)
    : folder_(std::move(folder)), path_(std::move(path)) {}

ConvertedPackage::~ConvertedPackage() { ReleaseFolder(folder_); }

bool NeedsConversion(const std::string& path) { return IsConverted(spreadsheet::DetectFileFormat(path)); }

std::unique_ptr<ConvertedPackage> ConvertForOpening(const std::string& path) {
  const std::string label = Quoted(path);
  const std::optional<FileStamp> key = StampOf(path);
  State& state = Global();
  std::optional<Kept> kept;
  {
    std::lock_guard lock(state.kept);
    const auto found = state.keptResults.find(path);
    if (found != state.keptResults.end()) {
      kept.emplace(std::move(found->second));
      state.keptResults.erase(found);
    }
  }
  if (kept && key && kept->key == *key) {
    if (kept->package) return std::move(kept->package);
    Fail(kept->reason, kept->error);
  }
  kept.reset();  // a result for an older version of the file

  const FileFormat format = spreadsheet::DetectFileFormat(path);
  if (!IsConverted(format)) Fail(ErrorReason::kUnsupported, label + " is not a workbook that LibreOffice converts");
  const std::string program = LibreOfficeProgram();
  if (program.empty()) Fail(ErrorReason::kNeedsLibreOffice, label + kNotInstalled);
  auto results = ConvertGroup({path}, ConversionJob(format), program);
  if (!results[0].package) Fail(results[0].reason, results[0].error);
  return std::move(results[0].package);
}

void PrefetchConversions(const std::vector<std::string>& paths, spreadsheet::ShownResults shown) {
  State& state = Global();
  std::vector<FileFormat> formats;  // of each path, read once: the format is in the package's directory
  formats.reserve(paths.size());
  {
    // Not read now: only a workbook that needs calculating looks at the others.
    std::lock_guard lock(state.kept);
    state.candidates.clear();
    state.shown = shown;
    for (const auto& path : paths) {
      formats.push_back(spreadsheet::DetectFileFormat(path));
      if (!IsConverted(formats.back())) state.candidates.push_back(path);
    }
  }
  const std::string program = LibreOfficeProgram();
  if (program.empty()) return;  // each workbook's Open says what to install
  std::map<FileFormat, std::vector<std::pair<std::string, FileStamp>>> groups;
  std::set<std::string> seen;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    if (!seen.insert(path).second) continue;
    const std::optional<FileStamp> key = StampOf(path);
    if (!key) continue;
    {
      std::lock_guard lock(state.kept);
      const auto found = state.keptResults.find(path);
      if (found != state.keptResults.end() && found->second.key == *key) continue;
    }
    if (IsConverted(formats[i])) groups[formats[i]].emplace_back(path, *key);
  }
  for (const auto& [format, group] : groups) {
    for (std::size_t first = 0; first < group.size(); first += kMaxWorkbooksPerStart) {
      const std::size_t end = std::min(group.size(), first + kMaxWorkbooksPerStart);
      std::vector<std::string> chunk;
      for (std::size_t i = first; i < end; ++i) chunk.push_back(group[i].first);
      auto results = ConvertGroup(chunk, ConversionJob(format), program);
      std::vector<Kept> replaced;  // destroyed outside the lock
      std::lock_guard lock(state.kept);
      for (std::size_t i = 0; i < chunk.size(); ++i) {
        // A failure that may be another workbook's doing is left for the workbook's own Open.
        if (!results[i].package && !results[i].decisive) continue;
        Kept entry{group[first + i].second, std::move(results[i].package), std::move(results[i].error),
                   results[i].reason};
        auto [slot, inserted] = state.keptResults.try_emplace(chunk[i], std::move(entry));
        if (!inserted) {
          replaced.push_back(std::move(slot->second));
          slot->second = std::move(entry);
        }
      }
    }
  }
}

void DiscardPrefetchedConversions() {
  State& state = Global();
  std::map<std::string, Kept> dropped, droppedCalculations;
  {
    std::lock_guard lock(state.kept);
    dropped.swap(state.keptResults);
    droppedCalculations.swap(state.keptCalculations);
    state.candidates.clear();
  }
}

namespace {

constexpr char kCalculatorMissing[] =
    "LibreOffice, which would calculate them, is not installed (install the Debian package libreoffice-calc-nogui)";

struct Candidate {
  std::string path;
  FileStamp key;
};

// The workbook at path as a calculation candidate when the run's outputs of its worksheets
// would show a formula saved without a result, or with a placeholder, through its result.
std::optional<Candidate> NeedingCalculation(const std::string& path, spreadsheet::ShownResults shown) {
  const std::optional<FileStamp> key = StampOf(path);
  if (!key) return std::nullopt;
  try {
    const spreadsheet::SourceWorkbook book(path);
    for (std::size_t i = 0; i < book.Sheets().size(); ++i) {
      const auto& sheet = book.Sheets()[i];
      if (sheet.kind == spreadsheet::SheetKind::kWorksheet && !sheet.part.empty() && book.Pkg().Has(sheet.part) &&
          spreadsheet::NeedsCalculatedResults(book, i, shown))
        return Candidate{path, *key};
    }
  } catch (const AutomationError&) {
    // Its own Open or split describes what is wrong with it.
  }
  return std::nullopt;
}

// Calculates group in as few LibreOffice starts as the per-start limit allows, keeping each result for the workbook's calculator; a failure that
// may be another workbook's doing is kept only for `asking`, whose calculator waits for it.
void CalculateGroup(const std::vector<Candidate>& group, const std::string& asking, const std::string& program) {
  State& state = Global();
  for (std::size_t first = 0; first < group.size(); first += kMaxWorkbooksPerStart) {
    const std::size_t end = std::min(group.size(), first + kMaxWorkbooksPerStart);
    std::vector<std::string> chunk;
    for (std::size_t i = first; i < end; ++i) chunk.push_back(group[i].path);
    auto results = ConvertGroup(chunk, kCalculationJob, program);
    std::vector<Kept> replaced;  // destroyed outside the lock
    std::lock_guard lock(state.kept);
    for (std::size_t i = 0; i < chunk.size(); ++i) {
      if (!results[i].package && !results[i].decisive && chunk[i] != asking) continue;
      Kept entry{group[first + i].key, std::move(results[i].package),
                 "they could not be calculated: " + results[i].cause};
      auto [slot, inserted] = state.keptCalculations.try_emplace(chunk[i], std::move(entry));
      if (!inserted) {
        replaced.push_back(std::move(slot->second));
        slot->second = std::move(entry);
      }
    }
  }
}

// The calculated copy of the workbook at path, or why there is none. The first workbook of
// a run that needs one has every other workbook of the run that needs one calculated in the
// same start.
Kept TakeCalculation(const std::string& path) {
  State& state = Global();
  const std::optional<FileStamp> key = StampOf(path);
  const auto take = [&]() -> std::optional<Kept> {
    std::lock_guard lock(state.kept);
    const auto found = state.keptCalculations.find(path);
    if (found == state.keptCalculations.end()) return std::nullopt;
    Kept kept = std::move(found->second);
    state.keptCalculations.erase(found);
    if (!key || !(kept.key == *key)) return std::nullopt;
    return kept;
  };
  if (auto kept = take()) return std::move(*kept);
  const std::string program = LibreOfficeProgram();
  if (program.empty()) return {FileStamp{}, nullptr, kCalculatorMissing};
  if (!key) return {FileStamp{}, nullptr, "they could not be calculated: the workbook can no longer be read"};
  std::vector<std::string> candidates;
  spreadsheet::ShownResults shown;
  {
    std::lock_guard lock(state.kept);
    candidates.swap(state.candidates);
    shown = state.shown;
  }
  std::vector<Candidate> group{{path, *key}};
  for (const auto& candidate : candidates)
    if (candidate != path)
      if (auto needing = NeedingCalculation(candidate, shown)) group.push_back(*needing);
  CalculateGroup(group, path, program);
  if (auto kept = take()) return std::move(*kept);
  return {*key, nullptr, "they could not be calculated: the file changed while LibreOffice read it"};
}

// Results from LibreOffice's calculated copy of the workbook, made on the first request and
// kept, with the reason when there is none, for every later one.
class LibreOfficeCalculator : public spreadsheet::ResultCalculator {
 public:
  explicit LibreOfficeCalculator(std::string path) : path_(std::move(path)) {}

  Results Calculate(const spreadsheet::SourceWorkbook& source, std::size_t sheetIndex,
                    const std::vector<std::string>& cells) override {
    std::lock_guard lock(mutex_);
    if (!tried_) {
      tried_ = true;
      Kept calculated = TakeCalculation(path_);
      problem_ = calculated.error;
      if (calculated.package) {
        try {
          copy_ = std::make_unique<spreadsheet::SourceWorkbook>(calculated.package->Path());
          package_ = std::move(calculated.package);
        } catch (const AutomationError& error) {
          problem_ = "they could not be calculated: LibreOffice's copy cannot be read: " + error.Description();
        }
      }
    }
    Results results;
    if (!copy_) {
      results.problem = problem_;
      return results;
    }
    const std::string& name = source.Sheets()[sheetIndex].name;
    const auto& sheets = copy_->Sheets();
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      if (!spreadsheet::EqualIgnoringCase(sheets[i].name, name) || sheets[i].part.empty()) continue;
      try {
        results.cells = spreadsheet::ReadCellResults(*copy_, i, cells);
        if (results.cells.size() < cells.size()) results.problem = "LibreOffice calculated no result for them";
      } catch (const AutomationError& error) {
        results.problem = "they could not be calculated: LibreOffice's copy cannot be read: " + error.Description();
      }
      return results;
    }
    results.problem = "they could not be calculated: LibreOffice's copy has no sheet '" + name + "'";
    return results;
  }

 private:
  std::mutex mutex_;
  std::string path_;
  bool tried_ = false;
  std::string problem_;
  std::unique_ptr<ConvertedPackage> package_;
  std::unique_ptr<spreadsheet::SourceWorkbook> copy_;  // opened from package_
};

}  // namespace

std::shared_ptr<spreadsheet::ResultCalculator> CalculatorFor(const std::string& path) {
  State& state = Global();
  {
    std::lock_guard lock(state.kept);
    state.candidates.erase(std::remove(state.candidates.begin(), state.candidates.end(), path), state.candidates.end());
  }
  return std::make_shared<LibreOfficeCalculator>(path);
}

}  // namespace tabrend::automation
