// Sheets into PDF files: single-sheet workbooks printed by LibreOffice headless in one start.
//
// Layout of the temporary folder (TMPDIR/tabrend-pdf-XXXXXX): in/0001.xlsx... the sheets'
// workbooks, out/ LibreOffice's PDFs, profile/ its private user profile, tmp/ its TMPDIR.
#include "engine/PdfExport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/Error.h"
#include "engine/LibreOffice.h"
#include "engine/Paths.h"
#include "spreadsheet/SourceWorkbook.h"

namespace tabrend {

using automation::AutomationError;

namespace {

constexpr char kNeedsLibreOffice[] =
    " cannot be written as PDF: PDF output needs LibreOffice, which is not installed (install the Debian "
    "package libreoffice-calc-nogui)";

std::string Numbered(std::size_t i, const char* extension) {
  char name[32];
  std::snprintf(name, sizeof name, "%04zu.%s", i + 1, extension);
  return name;
}

}  // namespace

PdfBatch::PdfBatch() = default;

PdfBatch::~PdfBatch() {
  if (!scratch_.empty()) RemoveTree(scratch_.c_str());
}

void PdfBatch::CheckAvailable(const std::string& workbook) {
  if (automation::LibreOfficeProgram().empty())
    Fail(ErrorReason::kNeedsLibreOffice, Quoted(workbook) + kNeedsLibreOffice);
}

std::string PdfBatch::Scratch() {
  if (!scratch_.empty()) return scratch_;
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tabrend-pdf-XXXXXX";
  const CleanupSignalsHeld held;  // made and registered with no signal in between
  if (::mkdtemp(pattern.data()) == nullptr)
    Fail(ErrorReason::kNotWritten, "no temporary folder for the PDF output can be created in '" +
                                       ParentFolderOf(pattern) + "': " + std::strerror(errno));
  onSignal_ = std::make_unique<RemovedOnSignal>(pattern);
  for (const char* sub : {"/in", "/out", "/tmp", "/profile"}) ::mkdir((pattern + sub).c_str(), 0700);
  scratch_ = pattern;
  return scratch_;
}

std::vector<std::string> PdfBatch::Add(automation::Application& app, automation::Sheet& sheet,
                                       const std::string& folder, const std::string& file, const std::string& name,
                                       Placement placement, std::size_t owner) {
  const std::string input = Numbered(items_.size(), "xlsx");
  const std::string scratch = Scratch();
  SheetFileResult written = WriteSheetFile(app, sheet, scratch + "/in", input, name);
  struct stat source {};
  const mode_t mode = ::stat(sheet.Parent().FullName().c_str(), &source) == 0 ? source.st_mode : 0644;
  // A workbook that stores placeholders for its results is printed as it shows once opened:
  // calculated.
  const bool calculate = spreadsheet::SourceWorkbook(scratch + "/in/" + input).ResultsArePlaceholders();
  items_.push_back({owner, folder, file, input, placement, mode, calculate});
  return std::move(written.losses);
}

std::string PdfBatch::Print(bool calculated) {
  const std::string program = automation::LibreOfficeProgram();
  if (program.empty())
    return "LibreOffice, which prints it, is not installed (install the Debian package libreoffice-calc-nogui)";
  const std::string profile = scratch_ + (calculated ? "/profile-calculated" : "/profile");
  if (calculated && !automation::WriteRecalculatingProfile(profile))
    return std::string("LibreOffice's settings could not be written: ") + std::strerror(errno);
  std::vector<std::string> arguments{program,
                                     "-env:UserInstallation=" + automation::LibreOfficeFileUrl(profile),
                                     "--headless",
                                     "--norestore",
                                     "--nolockcheck",
                                     "--nologo",
                                     "--nodefault",
                                     "--convert-to",
                                     "pdf:calc_pdf_Export",
                                     "--outdir",
                                     "out"};
  std::size_t count = 0;
  for (const Item& item : items_) {
    if (item.calculate != calculated) continue;
    arguments.push_back("in/" + item.input);
    ++count;
  }
  if (count == 0) return {};
  return automation::RunLibreOfficeIn(arguments, scratch_, automation::LibreOfficeTimeLimit(count));
}

std::vector<PdfBatch::Outcome> PdfBatch::Finish() {
  std::vector<Outcome> outcomes;
  if (items_.empty()) return outcomes;
  // One start prints them as they store their results, one more those it must calculate.
  const std::string problems[2] = {Print(false), Print(true)};
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const Item& item = items_[i];
    const std::string& problem = problems[item.calculate ? 1 : 0];
    Outcome outcome;
    outcome.owner = item.owner;
    outcome.folder = item.folder;
    outcome.file = item.file;
    const std::string printed = scratch_ + "/out/" + Numbered(i, "pdf");
    struct stat info {};
    if (::lstat(printed.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
      try {
        outcome.placed = PlaceBuiltFile(printed, item.folder, item.file, item.placement, item.mode);
      } catch (const AutomationError& failure) {
        outcome.error = failure.Description();
      }
    } else {
      outcome.error = Quoted(item.file) + " could not be printed to PDF: " +
                      (problem.empty() ? std::string("LibreOffice printed nothing") : problem);
    }
    outcomes.push_back(std::move(outcome));
  }
  Discard();
  return outcomes;
}

void PdfBatch::Discard() {
  items_.clear();
  onSignal_.reset();
  if (!scratch_.empty()) RemoveTree(scratch_.c_str());
  scratch_.clear();
}

}  // namespace tabrend
