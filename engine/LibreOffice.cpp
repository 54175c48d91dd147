// LibreOffice headless: finding it, its command line and profile, one start under a time
// limit, and the export batch.
//
// Layout of an export batch's temporary folder (TempFolders.h, "export-XXXXXX"):
// in/0001.xlsx... the sheets' workbooks, out/ LibreOffice's files, profile/ and
// profile-calculated/ its private user profiles, tmp/ its TMPDIR.
#include "engine/LibreOffice.h"

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
#include <map>

#include "core/Error.h"
#include "engine/Paths.h"
#include "spreadsheet/SourceWorkbook.h"

namespace tabrend::automation {

namespace {

constexpr char kInstallHint[] = "install the Debian package libreoffice-calc-nogui";

// The time limit of one start (SetConversionTimeLimit): its own start-up and the first
// workbook, and each workbook more.
std::atomic<long long> gFirstMilliseconds{180000};
std::atomic<long long> gPerMoreMilliseconds{30000};

std::string FileUrl(const std::string& path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("/-._~", c) != nullptr) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    }
  }
  return url;
}

std::string Seconds(std::chrono::milliseconds time) {
  const long long tenths = (time.count() + 50) / 100;
  return tenths % 10 == 0 ? std::to_string(tenths / 10) : std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

// The profile's settings for a start that calculates: every formula is calculated on
// loading, in both the OOXML and the OpenDocument formats.
std::string RecalculationSettings() {
  std::string xcu =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  for (const char* name : {"OOXMLRecalcMode", "ODFRecalcMode"})
    xcu += std::string("<item oor:path=\"/org.openoffice.Office.Calc/Formula/Load\"><prop oor:name=\"") + name +
           "\" oor:op=\"fuse\"><value>0</value></prop></item>\n";
  return xcu + "</oor:items>\n";
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
  if (descriptor < 0) return false;
  const bool written = ::write(descriptor, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  return ::close(descriptor) == 0 && written;
}

// What went wrong in a start of program that ended with outcome under limit; empty when it
// exited with status 0.
std::string RunFailure(const RunResult& outcome, const std::string& program, std::chrono::milliseconds limit) {
  switch (outcome.outcome) {
    case RunResult::kNotStarted:
      return "LibreOffice (" + program + ") could not be started: " + std::strerror(outcome.detail);
    case RunResult::kTimedOut:
      return "LibreOffice did not finish within " + Seconds(limit) + " seconds and was stopped";
    case RunResult::kSignalled:
      return "LibreOffice stopped on signal " + std::to_string(outcome.detail) + " (" + strsignal(outcome.detail) + ")";
    case RunResult::kExited:
      break;
  }
  return outcome.detail == 0 ? std::string() : "LibreOffice failed with exit status " + std::to_string(outcome.detail);
}

}  // namespace

std::string LibreOfficeProgram() {
  const char* variable = std::getenv("PATH");
  const std::string list = variable != nullptr ? variable : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  for (;;) {
    const auto end = std::min(list.find(':', start), list.size());
    std::string folder = end == start ? "." : list.substr(start, end - start);
    if (folder.front() != '/') {  // LibreOffice starts in another working folder
      char* cwd = ::getcwd(nullptr, 0);
      folder = (cwd != nullptr ? std::string(cwd) : std::string()) + "/" + folder;
      std::free(cwd);
    }
    const std::string candidate = folder + "/soffice";
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (end == list.size()) return {};
    start = end + 1;
  }
}

void SetConversionTimeLimit(std::chrono::milliseconds first, std::chrono::milliseconds perMoreWorkbook) {
  gFirstMilliseconds = first.count();
  gPerMoreMilliseconds = perMoreWorkbook.count();
}

std::chrono::milliseconds LibreOfficeTimeLimit(std::size_t workbooks) {
  return std::chrono::milliseconds(gFirstMilliseconds.load()) +
         std::chrono::milliseconds(gPerMoreMilliseconds.load()) * static_cast<long long>(workbooks > 1 ? workbooks - 1 : 0);
}

std::vector<std::string> LibreOfficeCommand(const std::string& program, const LibreOfficeStart& start) {
  std::vector<std::string> arguments{program,          "-env:UserInstallation=" + FileUrl(start.profile),
                                     "--headless",     "--norestore",
                                     "--nolockcheck",  "--nologo",
                                     "--nodefault"};
  if (!start.importFilter.empty()) arguments.push_back("--infilter=" + start.importFilter);
  arguments.insert(arguments.end(), {"--convert-to", start.convertTo, "--outdir", start.outdir});
  arguments.insert(arguments.end(), start.inputs.begin(), start.inputs.end());
  return arguments;
}

LibreOfficeOutcome RunLibreOffice(const std::string& program, const LibreOfficeStart& start,
                                  const std::string& folder) {
  LibreOfficeOutcome outcome;
  const std::string profile = start.profile.front() == '/' ? start.profile : folder + "/" + start.profile;
  for (const std::string& made : {folder + "/tmp", folder + "/" + start.outdir, profile, profile + "/user"})
    ::mkdir(made.c_str(), kPrivateFolderMode);
  if (start.calculate && !WriteWholeFile(profile + "/user/registrymodifications.xcu", RecalculationSettings())) {
    outcome.result = {RunResult::kNotStarted, errno};
    outcome.problem = std::string("LibreOffice's settings could not be written: ") + std::strerror(errno);
    return outcome;
  }
  LibreOfficeStart absolute = start;
  absolute.profile = profile;
  const std::chrono::milliseconds limit = LibreOfficeTimeLimit(start.inputs.size());
  outcome.result = RunChild(LibreOfficeCommand(program, absolute), folder, limit);
  outcome.problem = RunFailure(outcome.result, program, limit);
  return outcome;
}

}  // namespace tabrend::automation

namespace tabrend {

using automation::AutomationError;

namespace {

std::string Numbered(std::size_t i, std::string_view extension) {
  char name[32];
  std::snprintf(name, sizeof name, "%04zu.", i + 1);
  return name + std::string(extension);
}

}  // namespace

ExportBatch::ExportBatch() = default;
ExportBatch::~ExportBatch() = default;

void ExportBatch::CheckAvailable(OutputFormat format, const std::string& workbook) {
  if (!automation::LibreOfficeProgram().empty()) return;
  const std::string kind(FormatRow(format).kindName);
  Fail(ErrorReason::kNeedsLibreOffice, Quoted(workbook) + " cannot be written as " + kind + ": " + kind +
                                           " output needs LibreOffice, which is not installed (" +
                                           automation::kInstallHint + ")");
}

std::string ExportBatch::Scratch() {
  if (!scratch_) {
    std::string problem;
    scratch_.emplace("export", problem);
    if (!scratch_->Made()) {
      scratch_.reset();
      Fail(ErrorReason::kNotWritten, problem);
    }
    ::mkdir((scratch_->Path() + "/in").c_str(), kPrivateFolderMode);
  }
  return scratch_->Path();
}

std::vector<std::string> ExportBatch::Add(OutputFormat format, automation::Application& app,
                                          automation::Sheet& sheet, const std::string& folder,
                                          const std::string& file, const std::string& name, Placement placement,
                                          std::size_t owner) {
  const std::string input = Numbered(items_.size(), "xlsx");
  const std::string scratch = Scratch();
  SheetFileResult written = WriteSheetFile(app, sheet, scratch + "/in", input, name);
  struct stat source {};
  const mode_t mode = ::stat(sheet.Parent().FullName().c_str(), &source) == 0 ? source.st_mode : 0644;
  // A workbook that stores placeholders for its results is converted as it shows once
  // opened: calculated.
  const bool calculate = spreadsheet::SourceWorkbook(scratch + "/in/" + input).ResultsArePlaceholders();
  items_.push_back({format, owner, folder, file, input, placement, mode, calculate});
  return std::move(written.losses);
}

std::string ExportBatch::Convert(OutputFormat format, bool calculated) {
  automation::LibreOfficeStart start;
  start.profile = calculated ? "profile-calculated" : "profile";
  start.convertTo = FormatRow(format).exportFilter;
  start.calculate = calculated;
  for (const Item& item : items_)
    if (item.format == format && item.calculate == calculated) start.inputs.push_back("in/" + item.input);
  if (start.inputs.empty()) return {};
  const std::string program = automation::LibreOfficeProgram();
  if (program.empty())
    return "LibreOffice, which " + std::string(FormatRow(format).exportVerb) + "s it, is not installed (" +
           automation::kInstallHint + ")";
  return automation::RunLibreOffice(program, start, scratch_->Path()).problem;
}

std::vector<ExportBatch::Outcome> ExportBatch::Finish() {
  std::vector<Outcome> outcomes;
  if (items_.empty()) return outcomes;
  // One start per format converts them as they store their results, one more those it must
  // calculate.
  std::map<std::pair<OutputFormat, bool>, std::string> problems;
  for (const Item& item : items_)
    if (!problems.count({item.format, item.calculate}))
      problems[{item.format, item.calculate}] = Convert(item.format, item.calculate);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const Item& item = items_[i];
    const OutputFormatRow& row = FormatRow(item.format);
    const std::string& problem = problems[{item.format, item.calculate}];
    Outcome outcome;
    outcome.owner = item.owner;
    outcome.folder = item.folder;
    outcome.file = item.file;
    const std::string made = scratch_->Path() + "/out/" + Numbered(i, row.extension);
    struct stat info {};
    if (::lstat(made.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
      try {
        outcome.placed = PlaceBuiltFile(made, item.folder, item.file, item.placement, item.mode);
      } catch (const AutomationError& failure) {
        outcome.error = failure.Description();
      }
    } else {
      const std::string verb = std::string(row.exportVerb) + "ed";
      outcome.error = Quoted(item.file) + " could not be " + verb + " to " + std::string(row.kindName) + ": " +
                      (problem.empty() ? "LibreOffice " + verb + " nothing" : problem);
    }
    outcomes.push_back(std::move(outcome));
  }
  Discard();
  return outcomes;
}

void ExportBatch::Discard() {
  items_.clear();
  scratch_.reset();
}

}  // namespace tabrend
