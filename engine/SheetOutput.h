// Writing one sheet of an open source workbook into an output workbook file of its own.
// Both programs' splits write every output file through WriteSheetFile.
//
// An output is complete or absent. It is built in a private staging folder beside its final
// name (".tabrend-<pid>-<n>.part", locked while its process lives), then put at the final
// name in one rename. Nothing ever stands at a final name that is not a complete copy of its
// sheet: a kill at any instant leaves the earlier complete file or the new complete one. A
// terminating signal removes the staging folder; one left by SIGKILL is removed by the next
// write into that folder, once its process is gone.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/Automation.h"
#include "engine/OutputFormats.h"

namespace tabrend {

enum class Placement {
  kReplace,     // an existing file of the name is replaced in one step
  kCreateOnly,  // the file is placed only where nothing stands, in one step
};

struct SheetFileResult {
  // What the copy could not keep, one line each.
  std::vector<std::string> losses;
  // False only for kCreateOnly when the name was taken by the time the file was complete
  // (another run wrote it meanwhile): nothing was changed.
  bool placed = false;
  // True when the output waits for its export batch (SheetPlan.h), which places it.
  bool exported = false;
};

// Writes `sheet` into a new workbook of `app`, as that workbook's only sheet named `name`,
// and puts it at folder + "/" + file. The calls are made in the application's order:
// Workbooks.Add, SaveAs (into the staging folder), sheet.Copy(Before := Sheets(1)),
// Sheets(k).Delete for k from Sheets.Count down to 2, Sheets(1).name = name, Save, Close.
// SaveAs names the staged file (SaveMode::kStaged) and Save writes it, so each output is
// written once, into one new file, and renamed once, to its final name.
//
// `folder` is the caller's and taken as it is; `file` is a name the program made from sheet
// and workbook names, and is refused (AutomationError, before anything is written) when it
// holds "\" or a control character or climbs with "..". It may hold "/" to reach an existing
// subfolder. The output gets the source file's permission bits less the umask, as cp gives.
//
// format kCsv saves the new workbook as CSV (SaveAs with xlCSVUTF8): the file holds the
// sheet's cells as text. A format LibreOffice makes (PDF, ODS) throws AutomationError
// before anything is written.
//
// When any step fails, the new workbook is closed (once; a failing Close is never repeated),
// the staging folder goes, and the AutomationError of the failed step is rethrown (other
// exceptions pass through after the same clean-up). Whatever stood at the final name stays.
//
// With `staging`, the output is built in the staging folder it keeps in the final folder
// (made there once the checks above passed) instead of a folder of its own.
class SplitStaging;
SheetFileResult WriteSheetFile(automation::Application& app, automation::Sheet& sheet,
                               const std::string& folder, const std::string& file,
                               const std::string& name, Placement placement = Placement::kReplace,
                               OutputFormat format = OutputFormat::kWorkbook, SplitStaging* staging = nullptr);

// Puts a copy of the finished file `built` (made elsewhere, such as a PDF printed in a
// temporary folder) at folder + "/" + file, complete or not at all: it is copied into a
// staging folder beside the final name and renamed into place, as WriteSheetFile does, with
// `mode` less the umask. `file` is checked as WriteSheetFile checks it. Returns false only
// for kCreateOnly when the name was taken meanwhile; throws AutomationError otherwise.
bool PlaceBuiltFile(const std::string& built, const std::string& folder, const std::string& file,
                    Placement placement, mode_t mode);

// The same write in two steps, for a split that builds outputs on other threads while it
// names and places them in order on its own:
//
// StageSheetFile makes the application's calls of WriteSheetFile (Add to Close) into a new
// file of a staging area, which must lie on the file system of the final folders; the final
// name is not needed yet. A failing step throws as in WriteSheetFile, after the same
// clean-up. The staged output goes with its object unless placed.
//
// PlaceSheetFile then does everything WriteSheetFile does around those calls, in its order:
// the checks of the name, the folder and what stands at the final name, the mode, and the
// one-step placing. When it throws, nothing was changed; the caller may still write the
// sheet with WriteSheetFile, which then fails or succeeds as a sequential write would.
class StagedSheetFile {
 public:
  struct Built;
  explicit StagedSheetFile(std::unique_ptr<Built> built);
  StagedSheetFile(StagedSheetFile&&) noexcept;
  StagedSheetFile& operator=(StagedSheetFile&&) noexcept;
  ~StagedSheetFile();

 private:
  friend SheetFileResult PlaceSheetFile(StagedSheetFile staged, automation::Sheet& sheet,
                                        const std::string& folder, const std::string& file,
                                        Placement placement);
  std::unique_ptr<Built> built_;
};

// A staging folder in parent that outputs are built in one after another, each as a file of
// its own: named, locked, swept and removed on a terminating signal as a single output's
// staging folder is, and made once for them all. Used by one thread at a time. Outputs
// staged in it must be placed or gone before it goes. Throws AutomationError when parent
// takes no folder.
class StagingArea {
 public:
  explicit StagingArea(const std::string& parent);
  ~StagingArea();
  StagingArea(const StagingArea&) = delete;
  StagingArea& operator=(const StagingArea&) = delete;
  const std::string& Path() const { return path_; }
  // A name no output of the area had yet, for outputs staged side by side.
  std::string NewFile();

 private:
  struct Folder;
  std::unique_ptr<Folder> folder_;
  std::string path_;
  unsigned long next_ = 0;
};

// The staging area of the split's own thread: outputs it writes one at a time, each staged
// under its final file name (as the messages of its steps name it), in an area of the final
// folder kept until an output goes to another folder or the object goes.
class SplitStaging {
 public:
  SplitStaging();
  ~SplitStaging();
  SplitStaging(const SplitStaging&) = delete;
  SplitStaging& operator=(const SplitStaging&) = delete;
  // The area in folder; null when none can be made there.
  StagingArea* In(const std::string& folder);

 private:
  std::string folder_;
  std::unique_ptr<StagingArea> area_;
};

StagedSheetFile StageSheetFile(automation::Application& app, automation::Sheet& sheet, StagingArea& area,
                               const std::string& name);

SheetFileResult PlaceSheetFile(StagedSheetFile staged, automation::Sheet& sheet, const std::string& folder,
                               const std::string& file, Placement placement);

// Removes the staging folders in `folder` that a killed run left: only entries named
// ".tabrend-<pid>-<n>.part" that are folders of this user no process holds locked and whose
// process is gone. Called by the first write into each folder; safe to call again.
void RemoveAbandonedStaging(const std::string& folder);

// The mode a new output gets from its source's: the permission bits less the umask.
mode_t OutputMode(mode_t sourceMode);

}  // namespace tabrend
