// What a run will do with each sheet, decided before anything is written: the plan the split
// follows, the dry run of "/list=1" prints, and the files exported at the batch's end.
#include <optional>
#include <ostream>

#include "CMD/Module1.h"
#include "core/Error.h"
#include "engine/PathKind.h"
#include "engine/Paths.h"
#include "engine/TempFolders.h"

namespace tabrend::cli {

std::vector<PlannedSheet> Module1::PlanSheets(automation::Workbook& source, const std::string& listed,
                                              const std::string& folder, const std::string& extension,
                                              WorkbookReport& report) {
  using Status = SheetOutcome::Status;
  SheetPlanRules rules;
  rules.baseName = [&](const std::string& name) { return OutputName(listed, name, NameMode, RunningNumber, *Random); };
  rules.folder = folder;
  rules.extension = extension;
  rules.skipHidden = !WriteHidden;
  rules.skipBlank = !WriteBlank;
  rules.skipExisting = !Overwrite;
  SheetPlanner planner(rules, RunningNumber, OutputNames);
  std::vector<PlannedSheet> plan;
  report.sheets.clear();
  const long count = source.Worksheets().Count();
  for (long i = 1; i <= count; ++i) {
    const PlannedSheet& planned = plan.emplace_back(planner.Plan(source.Worksheets()(i), i));
    // Until the sheet is written, it is what a split stopping before it leaves.
    SheetOutcome& outcome = report.sheets.emplace_back(
        SheetOutcome{i, planned.name, "", ListOnly ? Status::kListed : Status::kFailed, "", {}, 0});
    switch (planned.action) {
      case PlannedSheet::Action::kSkipHidden:
        outcome.status = Status::kHidden;
        outcome.reason = planned.visibility == automation::kSheetVeryHidden ? "very hidden" : "hidden";
        continue;
      case PlannedSheet::Action::kSkipBlank:
        outcome.status = Status::kBlank;
        outcome.reason = "shows nothing";
        continue;
      case PlannedSheet::Action::kSkipUnticked:
        continue;
      case PlannedSheet::Action::kSkipExisting:
        outcome.status = Status::kSkipped;
        outcome.reason = "the output file exists";
        break;
      case PlannedSheet::Action::kWrite:
        if (!ListOnly) outcome.reason = "not written: the split stopped before it";
        break;
    }
    outcome.output = folder + planned.file;
    if (planned.file != planned.named)
      report.renamed.push_back("sheet '" + planned.name + "' named " + planned.file + ": " + planned.named +
                               " is another output of this run");
  }
  return plan;
}

void Module1::ListPlan(automation::Application& app, automation::Workbook& source, const std::string& folder,
                       const std::vector<PlannedSheet>& plan, WorkbookReport& report) {
  std::ostream& out = ListOut != nullptr ? *ListOut : log_;
  // The copies are made where nobody looks, for their loss reports only, and removed.
  std::optional<TempFolder> scratch;
  for (const PlannedSheet& planned : plan) {
    switch (planned.action) {
      case PlannedSheet::Action::kSkipUnticked:
        continue;
      case PlannedSheet::Action::kSkipHidden:
        out << "  " << planned.name << ": not written, hidden\n";
        continue;
      case PlannedSheet::Action::kSkipBlank:
        out << "  " << planned.name << ": not written, blank\n";
        continue;
      case PlannedSheet::Action::kSkipExisting:
        out << "  " << planned.name << " -> " << folder << planned.file << ": skipped existing\n";
        report.skipped.push_back(planned.file);
        continue;
      case PlannedSheet::Action::kWrite:
        break;
    }
    out << "  " << planned.name << " -> " << folder << planned.file << '\n';
    report.written.push_back(planned.file);
    if (!scratch) {
      std::string problem;
      scratch.emplace("list", problem);
      if (!scratch->Made()) Fail(ErrorReason::kNotWritten, problem);
    }
    // Under its own name, which the messages of a failing copy give.
    const SheetFileResult copy = WriteSheetFile(app, source.Worksheets()(planned.index), scratch->Path(),
                                                FileNameOf(planned.file), planned.name);
    for (const auto& loss : copy.losses) out << "    cannot keep: " << loss << '\n';
    report.sheets.at(static_cast<std::size_t>(planned.index - 1)).losses = copy.losses;
  }
}

void Module1::FinishExports(std::vector<WorkbookReport>& reports) {
  for (ExportBatch::Outcome& outcome : exports_.Finish()) {
    WorkbookReport& report = reports.at(outcome.owner);
    for (SheetOutcome& sheet : report.sheets) {
      if (sheet.output != report.folder + outcome.file) continue;
      if (outcome.placed) {
        RecordPlaced(sheet);
      } else if (outcome.error.empty()) {
        sheet.status = SheetOutcome::Status::kSkipped;
        sheet.reason = "another run wrote the output file meanwhile";
      } else {
        sheet.status = SheetOutcome::Status::kFailed;
        sheet.reason = outcome.error;
      }
    }
    if (outcome.placed) {
      report.written.push_back(outcome.file);
    } else if (outcome.error.empty()) {
      report.skipped.push_back(outcome.file);  // another run wrote it meanwhile
    } else if (report.done) {
      report.done = false;
      report.errorNumber = automation::kApplicationDefined;
      report.error = std::move(outcome.error);
    } else {
      report.error += "; " + outcome.error;
    }
  }
}

}  // namespace tabrend::cli
