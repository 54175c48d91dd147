// Writing one sheet of an open source workbook into an output workbook file of its own.
// Both programs' splits write every output file through WriteSheetFile.
#pragma once

#include <string>
#include <vector>

#include "engine/Automation.h"

namespace tabrend {

// Writes `sheet` into a new workbook of `app` saved at `path`, as that workbook's only sheet,
// named `name`. The calls are made in the application's order: Workbooks.Add, SaveAs(path),
// sheet.Copy(Before := Sheets(1)), Sheets(k).Delete for k from Sheets.Count down to 2,
// Sheets(1).name = name, Save, Close.
//
// All or nothing: when any step fails, the new workbook is closed (once; a failing Close is
// never repeated), whatever the write left at `path` is removed, and a file that was at `path`
// before is put back unchanged; then the AutomationError of the failed step is rethrown
// (other exceptions pass through after the same clean-up). An existing file is only ever
// replaced by a complete new one. While the write runs the earlier file is kept under a
// hidden name (".tabrend-<pid>-<n>.old") in the same folder, removed once the write is done.
//
// Returns the loss report of the saved workbook: what the copy could not keep, one line each.
// Throws AutomationError (kApplicationDefined) when an existing file at `path` cannot be set
// aside, before anything is written.
std::vector<std::string> WriteSheetFile(automation::Application& app, automation::Sheet& sheet,
                                        const std::string& path, const std::string& name);

}  // namespace tabrend
