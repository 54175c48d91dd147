// The batch: the workbooks of the source, a target folder for each, and the final opening
// of the output root.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "CMD/Module1.h"
#include "engine/Conversion.h"
#include "engine/PathKind.h"
#include "engine/Paths.h"
#include "engine/WorkbookFiles.h"

namespace tabrend::cli {

namespace {

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) {
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text;
}

}  // namespace

std::string GetBaseName(const std::string& path) {
  if (path.empty() || GetPathKind(path) == kPathMissing) return {};
  std::string name = LastComponentOf(path);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

bool Module1::ScanFolder(const std::string& folder) {
  BatchFiles.clear();
  std::vector<std::string> names;
  if (!ListWorkbookFiles(folder, names) || names.size() > kMaxBatchFiles) return false;
  const std::string prefix = FolderWithSlash(folder);
  for (const auto& name : names) BatchFiles.push_back(prefix + name);
  return true;
}

bool Module1::ListBatchFiles(bool folderMode) {
  BatchFiles.clear();
  if (!folderMode) {
    // The source may have gone away since the command line was read.
    if (GetPathKind(SourcePath) != kPathFile) return false;
    BatchFiles = {SourcePath};
    return true;
  }
  if (ScanFolder(SourcePath)) return true;
  if (Verbose) log_ << SourcePath << ": cannot list the folder, or it holds more than " << kMaxBatchFiles << " workbooks\n";
  BatchFiles.clear();
  return false;
}

bool Module1::MakeTargetFolder(const std::string& path, const std::string& target, std::ostream& listOut) {
  // A folder that exists is used as it is, hidden or not. A dry run makes none, but stops
  // where the run could not make one (a missing parent).
  if (ListOnly) {
    listOut << path << '\n';
    std::string folder = target;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (FolderExists(folder) || FolderExists(ParentFolderOf(folder))) return true;
    listOut << "  failed: the folder " << target << " could not be created: its parent folder is missing; "
            << "batch stopped\n";
    return false;
  }
  if (FolderExists(target) || ::mkdir(target.c_str(), kNewFolderMode) == 0) return true;
  const int error = errno;
  if (Verbose) log_ << path << ": cannot create the folder " << target << ": " << std::strerror(error) << "; batch stopped\n";
  return false;
}

bool Module1::FinishPdfReports(std::vector<WorkbookReport>& reports) {
  if (pdfs_.Empty()) return true;
  bool complete = true;
  FinishPdfs(reports);
  for (const WorkbookReport& report : reports) {
    if (report.pendingPdfs == 0) continue;
    if (!report.done) complete = false;
    if (Verbose) Report(report);
  }
  return complete;
}

bool Module1::RunBatch() {
  const bool folderMode = GetPathKind(SourcePath) == kPathFolder;
  bool complete = ListBatchFiles(folderMode);
  // The workbooks LibreOffice must convert first are converted in one start, not one each.
  automation::PrefetchConversions(BatchFiles);
  std::ostream& listOut = ListOut != nullptr ? *ListOut : log_;
  // Reports wait for the PDFs, which are printed at the batch's end.
  std::vector<WorkbookReport> reports;
  std::unique_ptr<SheetBuilds> builds;  // started with the first output folder
  for (const auto& path : BatchFiles) {
    std::string target = OutputRoot;
    const std::string base = GetBaseName(path);
    if (base.empty()) {
      complete = false;
      if (Verbose) log_ << path << ": no workbook name to make its folder from; batch stopped\n";
      break;
    }
    // Two workbooks of one base name (a.xlsx, a.xlsm) get folders of their own: a, a_2.
    std::string renamedFolder;
    if (folderMode) {
      const std::string folder = OutputNames.Claim(OutputRoot, base, "");
      if (folder != base) renamedFolder = "written into the folder " + folder + ": " + base + " holds another workbook of this run";
      target += folder;
    }
    if (!MakeTargetFolder(path, target, listOut)) {
      complete = false;
      break;
    }
    // Workers build workbook outputs ahead; a dry run, CSV and PDF go in order.
    if (builds == nullptr && !ListOnly && FormatRow(Format).writer == OutputWriter::kWorkbook && SplitThreads() > 1)
      builds = StartBuilds(folderMode ? OutputRoot : target);
    WorkbookReport& report = reports.emplace_back();
    report.path = path;
    if (!renamedFolder.empty()) report.renamed.push_back(renamedFolder);
    owner_ = reports.size() - 1;
    try {
      if (!SplitWorkbookFile(path, target, report)) complete = false;
    } catch (const std::exception& failure) {
      // Not an application failure: something the split could not recover from.
      complete = false;
      if (Verbose) log_ << path << ": " << failure.what() << "; batch stopped\n";
      break;
    }
    if (ListOnly && !report.done) listOut << "  failed: " << report.error << '\n';
    if (Verbose && report.pendingPdfs == 0) Report(report);
  }
  Builds = nullptr;
  builds.reset();  // what was built for workbooks the batch did not reach goes
  automation::DiscardPrefetchedConversions();  // those of workbooks the batch did not reach
  if (!FinishPdfReports(reports)) complete = false;

  if (OpenOutput && !ListOnly && FolderExists(OutputRoot)) {  // a dry run shows nothing either
    // The opener takes a relative "-dash" for one of its options; an absolute path never is one.
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(OutputRoot, error);
    opener_.Open(error ? "./" + OutputRoot : absolute.string());
  }
  return complete;
}

void Module1::Report(const WorkbookReport& report) {
  log_ << report.path << ": ";
  if (report.done) {
    log_ << (report.written.empty() ? "wrote nothing" : "wrote " + Joined(report.written));
    if (!report.skipped.empty()) log_ << "; skipped existing " << Joined(report.skipped);
  } else {
    log_ << "failed";
    if (report.errorNumber != 0) log_ << " (error " << report.errorNumber << ")";
    log_ << ": " << report.error;
    if (!report.written.empty()) log_ << "; wrote before that " << Joined(report.written);
  }
  log_ << '\n';
  for (const auto& renamed : report.renamed) log_ << "  " << renamed << '\n';
  for (const auto& loss : report.losses) log_ << "  " << loss << '\n';
}

}  // namespace tabrend::cli
