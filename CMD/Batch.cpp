// The batch: the workbooks of the source, a target folder for each, and the final opening
// of the output root.
#include <sys/stat.h>
#include <unistd.h>

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

// Why a list's entry cannot be split; empty when it can.
std::string UnfitListEntry(const std::string& path, const std::string& base) {
  switch (GetPathKind(path)) {
    case kPathMissing:
      return "no such workbook file";
    case kPathFolder:
      return "a folder, not a workbook file";
    default:
      return base.empty() ? "no workbook name to make its folder from" : "";
  }
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

bool Module1::OpenReport(std::string& error) {
  return ReportPath.empty() || runReport_.IsOpen() || runReport_.Open(ReportPath, error);
}

std::string Module1::ListBatchFiles(bool folderMode) {
  BatchFiles.clear();
  if (ListSource) {
    if (ReadListFile()) return {};
    BatchFiles.clear();
    return SourcePath.substr(1) + ": cannot read the list";
  }
  if (!folderMode) {
    // The source may have gone away since the command line was read.
    if (GetPathKind(SourcePath) == kPathFile) BatchFiles = {SourcePath};
    return BatchFiles.empty() ? SourcePath + ": the workbook file is gone" : std::string();
  }
  if (ScanFolder(SourcePath)) return {};
  BatchFiles.clear();
  return SourcePath + ": cannot list the folder, or it holds more than " + std::to_string(kMaxBatchFiles) +
         " workbooks";
}

namespace {

// Why a workbook's folder cannot take its outputs once it stands; "" when it can. In a
// folder run the program picks the folder inside the output root, where anyone who can write
// there could have put a symbolic link under its name to take the outputs anywhere.
std::string TargetFolderProblem(const std::string& target, bool pickedInRoot) {
  struct stat info {};
  if (::lstat(target.c_str(), &info) != 0) return std::strerror(errno);
  if (pickedInRoot && S_ISLNK(info.st_mode))
    return "it is a symbolic link, and a workbook's outputs go only into a folder of the output folder itself";
  return FolderExists(target) ? std::string() : std::strerror(EEXIST);
}

}  // namespace

bool Module1::MakeTargetFolder(const std::string& path, const std::string& target, bool pickedInRoot,
                               std::ostream& listOut, std::string& failure) {
  std::string folder = target;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string problem;
  if (ListOnly) {
    // A dry run makes no folder, but stops where the run would stop.
    listOut << path << '\n';
    if (::access(folder.c_str(), F_OK) != 0) {
      if (!FolderExists(ParentFolderOf(folder))) problem = std::strerror(ENOENT);
    } else {
      problem = TargetFolderProblem(folder, pickedInRoot);
    }
  } else if (::mkdir(folder.c_str(), kNewFolderMode) == 0 || errno == EEXIST) {
    // Made now, there before, or made this instant by another run into the same folder: all
    // the same once it is a folder. A folder that exists is used as it is, hidden or not.
    problem = TargetFolderProblem(folder, pickedInRoot);
  } else {
    problem = std::strerror(errno);
  }
  if (problem.empty()) {
    // Even a run that writes nothing there ("/overwrite=0" finding every file) clears what a
    // killed run left.
    if (!ListOnly) RemoveAbandonedStaging(folder);
    return true;
  }
  failure = pickedInRoot && !FolderExists(OutputRoot)
                ? "the output folder " + OutputRoot + " does not exist, and a folder source needs one"
                : "cannot use the folder " + target + ": " + problem;
  if (ListOnly) listOut << "  failed: " << failure << "; batch stopped\n";
  return false;
}

bool Module1::FinishExportReports(std::vector<WorkbookReport>& reports) {
  if (exports_.Empty()) return true;
  bool complete = true;
  FinishExports(reports);
  for (const WorkbookReport& report : reports) {
    if (report.pendingExports == 0) continue;
    if (!report.done) complete = false;
    Finished(report);
  }
  return complete;
}

void Module1::Finished(const WorkbookReport& report) {
  Report(report);
  runReport_.Workbook(report.path, report.sheets, !report.done, report.errorNumber, report.error);
}

bool Module1::RunBatch() {
  if (std::string error; !OpenReport(error)) {
    log_ << "tabrendcli: cannot write the report '" << ReportPath << "': " << error << '\n';
    return false;
  }
  // A list gives each workbook a folder, as a folder does.
  const bool folderMode = ListSource || GetPathKind(SourcePath) == kPathFolder;
  // Why the batch stopped early, when it did.
  std::string stopped = ListBatchFiles(folderMode);
  bool complete = stopped.empty();
  if (!complete) log_ << stopped << '\n';
  if (Verbose && complete && BatchFiles.empty() && !ListSource)
    log_ << SourcePath << ": the folder holds no workbook (no file whose extension begins with \"xls\")\n";
  // The workbooks LibreOffice must convert first are converted in one start, not one each;
  // so are those it must calculate, once the first needs it.
  automation::PrefetchConversions(BatchFiles, FormatRow(Format).shown);
  std::ostream& listOut = ListOut != nullptr ? *ListOut : log_;
  // Reports wait for the exported files (PDF), which LibreOffice makes at the batch's end.
  std::vector<WorkbookReport> reports;
  std::unique_ptr<SheetBuilds> builds;  // started with the first output folder
  for (const auto& path : BatchFiles) {
    std::string target = OutputRoot;
    // A list names each workbook itself: one that is not there fails alone.
    const std::string base = GetBaseName(path);
    if (const std::string unfit = ListSource ? UnfitListEntry(path, base) : ""; !unfit.empty()) {
      complete = false;
      WorkbookReport& report = reports.emplace_back();
      report.path = path;
      report.error = unfit;
      Finished(report);
      continue;
    }
    if (base.empty()) {
      complete = false;
      stopped = path + ": no workbook name to make its folder from";
      log_ << stopped << "; batch stopped\n";
      runReport_.Workbook(path, {}, true, 0, "no workbook name to make its folder from; batch stopped");
      break;
    }
    // Two workbooks of one base name (a.xlsx, a.xlsm) get folders of their own: a, a_2.
    std::string renamedFolder;
    if (folderMode) {
      const std::string folder = OutputNames.Claim(OutputRoot, base, "");
      if (folder != base) renamedFolder = "written into the folder " + folder + ": " + base + " holds another workbook of this run";
      target += folder;
    }
    if (std::string failure; !MakeTargetFolder(path, target, folderMode, listOut, failure)) {
      complete = false;
      stopped = path + ": " + failure;
      log_ << stopped << "; batch stopped\n";
      runReport_.Workbook(path, {}, true, 0, failure + "; batch stopped");
      break;
    }
    // Workers build workbook outputs ahead; a dry run and the other formats go in order.
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
      stopped = path + ": " + failure.what();
      log_ << stopped << "; batch stopped\n";
      runReport_.Workbook(path, report.sheets, true, 0, failure.what() + std::string("; batch stopped"));
      break;
    }
    if (ListOnly && !report.done) listOut << "  failed: " << report.error << '\n';
    if (report.pendingExports == 0) Finished(report);
  }
  Builds = nullptr;
  builds.reset();  // what was built for workbooks the batch did not reach goes
  automation::DiscardPrefetchedConversions();  // those of workbooks the batch did not reach
  if (!FinishExportReports(reports)) complete = false;
  runReport_.Summary(complete ? kExitDone : kExitFailed, stopped);
  if (!runReport_.Intact()) {
    complete = false;
    log_ << "tabrendcli: the report '" << ReportPath << "' could not be written whole\n";
  }

  if (OpenOutput && !ListOnly && FolderExists(OutputRoot)) {  // a dry run shows nothing either
    // The opener takes a relative "-dash" for one of its options; an absolute path never is one.
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(OutputRoot, error);
    opener_.Open(error ? "./" + OutputRoot : absolute.string());
  }
  return complete;
}

void Module1::Report(const WorkbookReport& report) {
  // Without "/verbose=1" only a failure is told, in its one line.
  if (report.done && !Verbose) return;
  log_ << report.path << ": ";
  if (report.done) {
    log_ << (report.written.empty() ? "wrote nothing" : "wrote " + Joined(report.written));
    if (!report.skipped.empty()) log_ << "; skipped existing " << Joined(report.skipped);
    if (!report.leftOut.empty()) log_ << "; left out " << Joined(report.leftOut);
  } else {
    log_ << "failed";
    if (report.errorNumber != 0) log_ << " (error " << report.errorNumber << ")";
    log_ << ": " << report.error;
    if (!report.written.empty()) log_ << "; wrote before that " << Joined(report.written);
  }
  log_ << '\n';
  if (!Verbose) return;
  for (const auto& renamed : report.renamed) log_ << "  " << renamed << '\n';
  for (const auto& loss : report.losses) log_ << "  " << loss << '\n';
}

}  // namespace tabrend::cli
