// The split of one workbook into one file per worksheet, named by the switches in force.
#include <optional>

#include "CMD/Module1.h"
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
  const std::string folder = !target.empty() && target.back() == '/' ? target : target + "/";
  const std::string listed = ListedName(path);
  if (listed.empty()) {
    report.error = "the workbook file does not exist";
    return false;
  }

  std::unique_ptr<automation::Application> app;
  automation::Workbook* source = nullptr;
  // Set before each closing call, so that the clean-up after a failure never repeats one.
  bool sourceClosed = false;
  bool appQuit = false;
  std::optional<std::int32_t> reached;  // RunningNumber as the sheet the split is at left it
  try {
    try {
      app = CreateApplication(kApplicationClass);
    } catch (const automation::AutomationError&) {
      app = AttachApplication(kApplicationClass);
    }
    const std::string extension = Format == OutputFormat::kPdf   ? "pdf"
                                  : Format == OutputFormat::kCsv ? "csv"
                                                                 : OutputExtension(app->Version());
    if (Format == OutputFormat::kPdf) PdfBatch::CheckAvailable(path);
    source = &app->Workbooks().Open(path);
    app->DisplayAlerts(false);  // only now: prompts while opening are the user's to see
    const std::vector<PlannedSheet> plan = PlanSheets(*source, listed, folder, extension, report);
    if (ListOnly) {
      ListPlan(*app, *source, folder, plan, report);
    } else {
      for (const PlannedSheet& planned : plan) {
        reached = planned.runningNumber;
        if (planned.action == PlannedSheet::Action::kSkipExisting) report.skipped.push_back(planned.file);
        if (planned.action != PlannedSheet::Action::kWrite) continue;
        automation::Sheet& sheet = source->Worksheets()(planned.index);
        const Placement placement = Overwrite ? Placement::kReplace : Placement::kCreateOnly;
        if (Format == OutputFormat::kPdf) {
          // Printed with the batch's other sheets at its end (FinishPdfs).
          for (const auto& loss : pdfs_.Add(*app, sheet, target, planned.file, planned.name, placement, owner_))
            report.losses.push_back(planned.file + ": " + loss);
          ++report.pendingPdfs;
          continue;
        }
        if (Format == OutputFormat::kCsv)
          throw automation::AutomationError(automation::kApplicationDefined, "CSV output is not available");
        const SheetFileResult result = WriteSheetFile(*app, sheet, target, planned.file, planned.name, placement);
        if (!result.placed) {  // another run wrote it meanwhile
          report.skipped.push_back(planned.file);
          continue;
        }
        for (const auto& loss : result.losses) report.losses.push_back(planned.file + ": " + loss);
        report.written.push_back(planned.file);
      }
    }
    sourceClosed = true;
    source->Close();
    appQuit = true;
    app->Quit();
  } catch (const automation::AutomationError& failure) {
    // The numbers of the sheets the split never reached were not drawn.
    if (reached) RunningNumber = *reached;
    report.errorNumber = failure.Number();
    report.error = failure.Description();
    // A failing clean-up call adds to the report but cannot stop the batch.
    if (source != nullptr && !sourceClosed) {
      sourceClosed = true;
      try {
        source->Close();
      } catch (const automation::AutomationError& closing) {
        report.error += "; closing the workbook failed too: " + closing.Description();
      }
    }
    if (app != nullptr && !appQuit) {
      appQuit = true;
      try {
        app->Quit();
      } catch (const automation::AutomationError& quitting) {
        report.error += "; quitting the application failed too: " + quitting.Description();
      }
    }
    return false;  // RunningNumber stays: the next workbook's numbers continue from it
  }
  RunningNumber = 0;
  report.done = true;
  return true;
}

}  // namespace tabrend::cli
