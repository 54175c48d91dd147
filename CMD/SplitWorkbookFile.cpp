// The split of one workbook into one file per worksheet, named by the switches in force.
#include <optional>

#include "CMD/Module1.h"
#include "engine/ApplicationSession.h"
#include "engine/ParallelSplit.h"
#include "engine/PathKind.h"
#include "engine/Paths.h"
#include "engine/SheetOutput.h"

namespace tabrend::cli {

namespace {

// The file name (with extension, no folder) as the file system has it; empty when no
// workbook file stands at path.
std::string ListedName(const std::string& path) {
  return GetPathKind(path) == kPathFile ? FileNameOf(path) : std::string();
}

}  // namespace

bool Module1::SplitWorkbookFile(const std::string& path, const std::string& target,
                                WorkbookReport& report) {
  report.path = path;
  const std::string folder = FolderWithSlash(target);
  report.folder = folder;
  const std::string listed = ListedName(path);
  if (listed.empty()) {
    report.error = "the workbook file does not exist";
    return false;
  }

  // Outside the try: the clean-up's failures belong in the report.
  std::optional<ApplicationSession> session;
  std::optional<std::int32_t> reached;  // RunningNumber as the sheet the split is at left it
  std::optional<std::size_t> at;        // the sheet the split is at, in report.sheets
  try {
    session.emplace(CreateApplication, AttachApplication);
    const std::string extension = OutputExtensionFor(Format, session->App().Version());
    CheckFormatAvailable(Format, path);
    automation::Workbook& source = session->Open(path);
    WorkbookBuilds built(Builds, path, session->App());
    const std::vector<PlannedSheet> plan = PlanSheets(source, listed, folder, extension, report);
    if (ListOnly) {
      ListPlan(session->App(), source, folder, plan, report);
    } else {
      for (std::size_t k = 0; k < plan.size(); ++k) {
        reached = plan[k].runningNumber;
        at = k;
        WritePlannedSheet(session->App(), source, built, target, plan[k], report.sheets[k], report);
      }
      at.reset();
    }
    session->Finish();
  } catch (const automation::AutomationError& failure) {
    // The numbers of the sheets the split never reached were not drawn.
    if (reached) RunningNumber = *reached;
    report.errorNumber = failure.Number();
    report.error = failure.Description();
    if (at) {
      SheetOutcome& failed = report.sheets[*at];
      failed.status = SheetOutcome::Status::kFailed;
      failed.reason = failure.Description();
      for (std::size_t k = *at + 1; k < report.sheets.size(); ++k)
        if (report.sheets[k].status == SheetOutcome::Status::kFailed)
          report.sheets[k].reason = "not written: the split stopped at sheet '" + failed.name + "'";
    }
    // A failing clean-up call adds to the report but cannot stop the batch.
    if (session) {
      const CleanupFailures cleanup = session->Abandon();
      if (cleanup.closing) report.error += "; closing the workbook failed too: " + *cleanup.closing;
      if (cleanup.quitting) report.error += "; quitting the application failed too: " + *cleanup.quitting;
    }
    return false;  // RunningNumber stays: the next workbook's numbers continue from it
  }
  RunningNumber = 0;
  report.done = true;
  return true;
}

void Module1::WritePlannedSheet(automation::Application& app, automation::Workbook& source, WorkbookBuilds& built,
                                const std::string& target, const PlannedSheet& planned, SheetOutcome& outcome,
                                WorkbookReport& report) {
  switch (planned.action) {
    case PlannedSheet::Action::kSkipExisting: report.skipped.push_back(planned.file); return;
    case PlannedSheet::Action::kSkipHidden: report.leftOut.push_back(planned.name + " (hidden)"); return;
    case PlannedSheet::Action::kSkipBlank: report.leftOut.push_back(planned.name + " (blank)"); return;
    case PlannedSheet::Action::kSkipUnticked: return;
    case PlannedSheet::Action::kWrite: break;
  }
  const Placement placement = Overwrite ? Placement::kReplace : Placement::kCreateOnly;
  const SheetFileResult result =
      tabrend::WritePlannedSheet(Format, app, source, planned, target, placement, built, exports_, owner_);
  if (result.exported) {  // placed with the batch's other exports at its end (FinishExports)
    for (const auto& loss : result.losses) {
      report.losses.push_back(planned.file + ": " + loss);
      outcome.losses.push_back(loss);
    }
    ++report.pendingExports;
    outcome.status = SheetOutcome::Status::kPending;
    return;
  }
  if (!result.placed) {  // another run wrote it meanwhile
    report.skipped.push_back(planned.file);
    outcome.status = SheetOutcome::Status::kSkipped;
    outcome.reason = "another run wrote the output file meanwhile";
    return;
  }
  for (const auto& loss : result.losses) report.losses.push_back(planned.file + ": " + loss);
  report.written.push_back(planned.file);
  outcome.losses = result.losses;
  RecordPlaced(outcome);
}

}  // namespace tabrend::cli
