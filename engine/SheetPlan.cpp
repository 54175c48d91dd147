// The plan of each sheet and the one place a planned sheet is written by its format.
#include "engine/SheetPlan.h"

#include "engine/ParallelSplit.h"
#include "engine/PathKind.h"
#include "engine/Paths.h"
#include "engine/LibreOffice.h"

namespace tabrend {

SheetPlanner::SheetPlanner(SheetPlanRules rules, const std::int32_t& runningNumber, RunOutputNames& names)
    : rules_(std::move(rules)), runningNumber_(runningNumber), names_(names) {}

PlannedSheet SheetPlanner::Plan(automation::Sheet& sheet, long position, const std::optional<SheetChoice>& choice) {
  PlannedSheet planned;
  planned.index = position;
  planned.name = choice ? choice->name : sheet.name();
  // Sheets left out draw no number, as a sheet left unticked.
  if (choice && !choice->ticked) {
    planned.action = PlannedSheet::Action::kSkipUnticked;
  } else if (rules_.skipHidden && (planned.visibility = sheet.Visible()) != automation::kSheetVisible) {
    planned.action = PlannedSheet::Action::kSkipHidden;
  } else if (rules_.skipBlank && !sheet.HasContent()) {
    planned.action = PlannedSheet::Action::kSkipBlank;
  } else {
    // The number is drawn before the existence test, so a skipped sheet still uses one.
    const std::string base = rules_.baseName(planned.name);
    planned.named = base + "." + rules_.extension;
    // Another output of this run holding the name keeps it; this one takes the next free.
    planned.file = names_.Claim(rules_.folder, base, "." + rules_.extension);
    if (rules_.skipExisting && FileExists(FolderWithSlash(rules_.folder) + planned.file))
      planned.action = PlannedSheet::Action::kSkipExisting;
  }
  planned.runningNumber = runningNumber_;
  return planned;
}

void CheckFormatAvailable(OutputFormat format, const std::string& path) {
  if (FormatRow(format).writer == OutputWriter::kExport) ExportBatch::CheckAvailable(format, path);
}

SheetFileResult WritePlannedSheet(OutputFormat format, automation::Application& app, automation::Workbook& source,
                                  const PlannedSheet& planned, const std::string& folder, Placement placement,
                                  WorkbookBuilds& built, ExportBatch& exports, std::size_t owner) {
  automation::Sheet& sheet = source.Worksheets()(planned.index);
  switch (FormatRow(format).writer) {
    case OutputWriter::kWorkbook:
      return built.Write(app, sheet, planned.index, folder, planned.file, planned.name, placement);
    case OutputWriter::kCsv:
      return WriteSheetFile(app, sheet, folder, planned.file, planned.name, placement, format);
    case OutputWriter::kExport:
      break;
  }
  SheetFileResult result;
  result.losses = exports.Add(format, app, sheet, folder, planned.file, planned.name, placement, owner);
  result.exported = true;
  return result;
}

}  // namespace tabrend
