// What a run will do with each sheet, decided before anything is written: the plan the split
// follows, the dry run of "/list=1" prints, and the PDFs printed at the batch's end.
#include <optional>
#include <ostream>

#include "CMD/Module1.h"
#include "engine/PathKind.h"
#include "engine/Paths.h"
#include "engine/TempFolders.h"
#include "spreadsheet/Error.h"

namespace tabrend::cli {

std::vector<PlannedSheet> Module1::PlanSheets(automation::Workbook& source, const std::string& listed,
                                              const std::string& folder, const std::string& extension,
                                              WorkbookReport& report) {
  using Status = SheetOutcome::Status;
  std::vector<PlannedSheet> plan;
  report.sheets.clear();
  const long count = source.Worksheets().Count();
  for (long i = 1; i <= count; ++i) {
    automation::Sheet& sheet = source.Worksheets()(i);
    PlannedSheet planned;
    planned.index = i;
    planned.name = sheet.name();
    // Until the sheet is written, it is what a split stopping before it leaves.
    SheetOutcome& outcome = report.sheets.emplace_back(
        SheetOutcome{i, planned.name, "", ListOnly ? Status::kListed : Status::kFailed, "", {}, 0});
    // Sheets set aside draw no number, as a sheet left unticked on the desktop.
    if (const long visible = sheet.Visible(); !WriteHidden && visible != automation::kSheetVisible) {
      planned.action = PlannedSheet::Action::kSkipHidden;
      outcome.status = Status::kHidden;
      outcome.reason = visible == automation::kSheetVeryHidden ? "very hidden" : "hidden";
    } else if (!WriteBlank && !sheet.HasContent()) {
      planned.action = PlannedSheet::Action::kSkipBlank;
      outcome.status = Status::kBlank;
      outcome.reason = "shows nothing";
    } else {
      // The number is drawn before the existence test, so a skipped sheet still uses one.
      const std::string base = OutputName(listed, planned.name, NameMode, RunningNumber, *Random);
      // Another output of this run holding the name keeps it; this one takes the next free.
      planned.file = OutputNames.Claim(folder, base, "." + extension);
      // Named, not written: "/overwrite=0" may still skip it.
      if (planned.file != base + "." + extension)
        report.renamed.push_back("sheet '" + planned.name + "' named " + planned.file + ": " + base + "." +
                                 extension + " is another output of this run");
      outcome.output = folder + planned.file;
      if (!Overwrite && FileExists(outcome.output)) {
        planned.action = PlannedSheet::Action::kSkipExisting;
        outcome.status = Status::kSkipped;
        outcome.reason = "the output file exists";
      } else if (!ListOnly) {
        outcome.reason = "not written: the split stopped before it";
      }
    }
    planned.runningNumber = RunningNumber;
    plan.push_back(std::move(planned));
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
      if (!scratch->Made()) throw automation::AutomationError(automation::kApplicationDefined, problem);
    }
    // Under its own name, which the messages of a failing copy give.
    const SheetFileResult copy = WriteSheetFile(app, source.Worksheets()(planned.index), scratch->Path(),
                                                FileNameOf(planned.file), planned.name);
    for (const auto& loss : copy.losses) out << "    cannot keep: " << loss << '\n';
    report.sheets.at(static_cast<std::size_t>(planned.index - 1)).losses = copy.losses;
  }
}

void Module1::FinishPdfs(std::vector<WorkbookReport>& reports) {
  for (PdfBatch::Outcome& outcome : pdfs_.Finish()) {
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
