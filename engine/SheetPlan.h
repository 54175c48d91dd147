// What a split does with each worksheet of a workbook, decided before the sheet is written,
// and the writing of a planned sheet in the run's format. Both programs split through these:
// the desktop's Separate plans each sheet as it reaches it, tabrendcli plans a whole workbook
// first (its dry run prints that plan).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/Automation.h"
#include "engine/Naming.h"
#include "engine/OutputFormats.h"
#include "engine/SheetOutput.h"

namespace tabrend {

class ExportBatch;
class WorkbookBuilds;

// One worksheet of a workbook as the split will treat it.
struct PlannedSheet {
  enum class Action {
    kWrite,         // written to file
    kSkipUnticked,  // not ticked in the window's sheet list
    kSkipHidden,    // hidden sheets left out, and this one is hidden or very hidden
    kSkipBlank,     // blank sheets left out, and this one shows nothing
    kSkipExisting,  // existing files left alone ("/overwrite=0"), and file exists
  };
  long index = 0;     // position among the workbook's worksheets, from 1
  std::string name;   // the name the output's sheet gets
  std::string named;  // the output's name alone ("Costs.xlsx"); empty when not named
  std::string file;   // the name it is written under: named, unless another output of the
                      // run holds that (then "Costs_2.xlsx")
  Action action = Action::kWrite;
  long visibility = automation::kSheetVisible;  // the sheet's Visible, read when hidden ones are left out
  // The running number once this sheet is named: where a split that fails at this sheet
  // leaves it, as if the later sheets had never been named.
  std::int32_t runningNumber = 0;
};

// The desktop's choice for one sheet: whether it is ticked and the name it is listed under.
struct SheetChoice {
  bool ticked = true;
  std::string name;
};

// The rules of one workbook's plan.
struct SheetPlanRules {
  // The base name of the output of a sheet of this name, by the program's naming mode; it may
  // draw the next running number.
  std::function<std::string(const std::string& sheetName)> baseName;
  std::string folder;     // where its outputs go
  std::string extension;  // of its outputs, without "."
  bool skipHidden = false;
  bool skipBlank = false;
  bool skipExisting = false;
};

// Plans the sheets of one workbook, one at a time and in order. Sheets left out draw no
// number and claim no name, as an unticked sheet; a sheet whose existing file is left alone
// does both. runningNumber is the counter baseName draws from, names the names the run gave
// out; both must outlive the planner.
class SheetPlanner {
 public:
  SheetPlanner(SheetPlanRules rules, const std::int32_t& runningNumber, RunOutputNames& names);

  // The plan of worksheet position (from 1); choice, when given, decides whether it is
  // written and under which sheet name (else every sheet is, under its own).
  PlannedSheet Plan(automation::Sheet& sheet, long position, const std::optional<SheetChoice>& choice = {});

 private:
  SheetPlanRules rules_;
  const std::int32_t& runningNumber_;
  RunOutputNames& names_;
};

// Throws AutomationError before anything of the workbook at path is written when its outputs
// in format cannot be made at all (LibreOffice missing for an exported format).
void CheckFormatAvailable(OutputFormat format, const std::string& path);

// Writes a planned sheet (action kWrite) of source in format into folder: as a workbook
// (through built, which holds what a worker made of it), as CSV text, or, for an exported
// format, as a workbook that exports prints at its end (result.exported; owner tells the
// caller's workbook apart in its outcomes). Throws AutomationError as WriteSheetFile does.
SheetFileResult WritePlannedSheet(OutputFormat format, automation::Application& app, automation::Workbook& source,
                                  const PlannedSheet& planned, const std::string& folder, Placement placement,
                                  WorkbookBuilds& built, ExportBatch& exports, std::size_t owner);

}  // namespace tabrend
