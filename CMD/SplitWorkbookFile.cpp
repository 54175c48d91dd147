// The split of one workbook into one file per worksheet, named by the switches in force.
#include "CMD/Module1.h"
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
  try {
    try {
      app = CreateApplication(kApplicationClass);
    } catch (const automation::AutomationError&) {
      app = AttachApplication(kApplicationClass);
    }
    const std::string extension = OutputExtension(app->Version());
    source = &app->Workbooks().Open(path);
    app->DisplayAlerts(false);  // only now: prompts while opening are the user's to see
    WorkbookBuilds built(Builds, path, *app);
    const long count = source->Worksheets().Count();
    for (long i = 1; i <= count; ++i) {
      automation::Sheet& sheet = source->Worksheets()(i);
      const std::string sheetName = sheet.name();
      // The number is drawn before the existence test, so a skipped sheet still uses one.
      const std::string base = OutputName(listed, sheetName, NameMode, RunningNumber, *Random);
      // Another output of this run holding the name keeps it; this one takes the next free.
      const std::string file = OutputNames.Claim(folder, base, "." + extension);
      if (file != base + "." + extension)
        report.renamed.push_back("sheet '" + sheetName + "' written as " + file + ": " + base + "." +
                                 extension + " is another output of this run");
      if (!Overwrite && FileExists(folder + file)) {
        report.skipped.push_back(file);
        continue;
      }
      const SheetFileResult result = built.Write(
          *app, sheet, i, target, file, sheetName, Overwrite ? Placement::kReplace : Placement::kCreateOnly);
      if (!result.placed) {  // another run wrote it meanwhile
        report.skipped.push_back(file);
        continue;
      }
      for (const auto& loss : result.losses) report.losses.push_back(file + ": " + loss);
      report.written.push_back(file);
    }
    sourceClosed = true;
    source->Close();
    appQuit = true;
    app->Quit();
  } catch (const automation::AutomationError& failure) {
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
