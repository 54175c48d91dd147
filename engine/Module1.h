// Tabrend's engine module: the inventory behind the window's three lists (sources, their
// workbooks, a workbook's sheets), the sheet choices kept per workbook, the split of one
// workbook into one file per chosen sheet, the output folder of a run, and the window's
// commands that drive them (Separate, the source-list commands, clicks on sources and
// workbooks). It reaches the window only through MainView, and runs on the caller's thread:
// one command at a time, on any one thread. Only StopRequested may be set from another thread
// while a command runs.
//
// Paths use "/". A folder source and TargetFolder carry no trailing "/"; OutputRoot ends
// with one after a successful ChooseOutputFolder.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/ApplicationSession.h"
#include "engine/Automation.h"
#include "engine/MainView.h"
#include "engine/Naming.h"
#include "engine/ParallelSplit.h"
#include "engine/LibreOffice.h"
#include "engine/SheetOutput.h"
#include "engine/SheetTable.h"
#include "spreadsheet/FileStamp.h"

namespace tabrend::desktop {

// A folder source lists at most this many workbooks.
inline constexpr int kMaxListedWorkbooks = SheetTable::kMaxWorkbooks;

// Results of SplitWorkbook.
enum SplitResult : int {
  kSplitDone = 1,     // every chosen sheet written, the application quit
  kSplitFailed = 2,   // an error stopped the split; its description was shown
  kSplitNothing = 3,  // the workbook has no path; nothing was started
  kSplitStopped = 4,  // StopRequested: the sheets before the stop were written, the application quit
};

// The messages the commands show.
inline constexpr char kNoWorkbooksMessage[] = "Please select excel at fast!";
inline constexpr char kFolderMissingMessage[] = "Folder does not exist!";
inline constexpr char kFolderFailedMessage[] = "Forder is failed!";
// Opens the list of sheets written under another name than their own at the end of a run.
inline constexpr char kRenamedOutputsMessage[] =
    "These sheets were written under other names, because an earlier sheet of this run already "
    "had theirs:";
inline constexpr char kOpenFailedMessage[] = "Excel file open failed!";
// Titles of the choosers.
inline constexpr char kAddFileTitle[] = "Select Excel File";
inline constexpr char kAddFolderTitle[] = "Add all excel files in folder";
inline constexpr char kOutputFolderTitle[] = "Please select output folder";

// "Split <folder name> file failed!"
std::string SplitFailedMessage(const std::string& folderName);

// The status line while Separate converts the ticked workbooks LibreOffice must convert.
inline constexpr char kConvertingStatus[] = "Converting workbooks with LibreOffice";
// The status line while a workbook is split: "Splitting <folder name>", followed by
// " (<ordinal> of <total>)" when more than one workbook is ticked.
std::string SplittingStatus(const std::string& folderName, int ordinal, int total);

// What one Separate run did, for the summary at its end.
struct SeparateTally {
  int filesWritten = 0;
  // Sheets of the workbooks split that got no file: unticked, or left out as hidden or blank.
  int sheetsSkipped = 0;
  // Each failed workbook as listed, with the description of what stopped it.
  std::vector<std::pair<std::string, std::string>> failures;
};

// The summary of a finished run: the files written and where, the sheets skipped, the
// workbooks that failed with their reasons, and the sheets written under other names
// (kRenamedOutputsMessage and the lines of `renamed`).
std::string SeparateSummary(const SeparateTally& tally, const std::string& outputRoot,
                            const std::vector<std::string>& renamed);
// The status line a stopped run leaves: "Separate stopped: 3 files written into <root>".
std::string StoppedStatus(int filesWritten, const std::string& outputRoot);

// name with every blank and every "." removed: "My Book 2.1" gives "MyBook21".
std::string RemoveBlanksAndDots(const std::string& name);

// The local date and time of `when` as 14 digits, "yyyymmddhhmmss".
std::string Timestamp(std::time_t when);

class Module1 {
 public:
  using ApplicationSource = tabrend::ApplicationSource;

  // The view must outlive the module.
  explicit Module1(MainView& view);

  // --- Source inventory ------------------------------------------------------------------

  // Empties SheetTable and fills the workbook list with the workbooks of source, all ticked:
  // the file's own name for a file source, whatever its extension; for a folder, the names of
  // its workbook files in name order, at most kMaxListedWorkbooks. A missing source lists
  // nothing. Reports nothing; a list cut short by a failure stays as far as it got.
  void ListWorkbooks(const std::string& source);

  // The full path of the workbook selected in the workbook list, or empty text when there is
  // none or it no longer names a file. A file source answers its own path.
  std::string GetSelectedWorkbookPath() const;
  // The same for the workbook at position i (from 1) of the workbook list. Throws
  // AutomationError(kIndexOutOfBounds) for a position without an entry.
  std::string GetWorkbookPath(int i) const;

  // Lists the sheets of the selected workbook in the sheet list and makes it ShownWorkbook.
  // Does nothing when GetSelectedWorkbookPath is empty. With ForceSheetReload false, first
  // stores the list on screen for the previously shown workbook, then shows the selected
  // workbook's stored choices if it holds any. Otherwise opens the workbook and lists every
  // worksheet, ticked, storing the first SheetTable::kMaxSheets. A workbook that cannot be
  // read shows its error description and then kOpenFailedMessage (error icon); the sheet
  // list keeps what was added.
  void ListSheets();

  // Copies the sheet list's names and ticks (the first SheetTable::kMaxSheets entries) into
  // SheetTable under ShownWorkbook.
  void SaveSheetChoices();

  // --- Split -----------------------------------------------------------------------------

  // Writes the chosen sheets of workbook w (position in the workbook list) into TargetFolder,
  // one file each, moving the progress bar. SkipHidden and SkipBlank leave such sheets out
  // as if unticked; Format says what the files are. Exported files (PDF) are only prepared here
  // by FinishExports at the end of the run. A workbook that holds choices writes its ticked
  // sheets under their listed names (sheets beyond SheetTable::kMaxSheets always, under their
  // own names); any other workbook writes every worksheet under its own name. A file is never
  // left half-written, and a file name holding "/" or "\" is refused. On failure the error's
  // description is shown (no icon), what was opened is closed, and kSplitFailed returned.
  // RunningNumber goes back to 0 only when the split is done.
  int SplitWorkbook(int w);

  // The base name of the file that receives sheet sheetName of workbook w, by the naming
  // mode on the window, cleaned (Naming.h). Mode 2 draws the next RunningNumber.
  std::string MakeOutputName(int w, const std::string& sheetName);

  // Exports the files that the run's splits prepared, in one LibreOffice start, and puts them
  // in place. Shows each failure's description and SplitFailedMessage of its workbook's
  // folder name (error icon), once per workbook.
  void FinishExports(const std::map<int, std::string>& folderNames);

  // Asks for a folder and creates the run folder "<folder>/<yyyymmddhhmmss>" in it. True
  // when it was created; OutputRoot then names it, with a final "/". Cancelling or an empty
  // answer ends quietly; a path that is no folder shows kFolderMissingMessage, a run folder
  // that cannot be created kFolderFailedMessage (no icon). Failures of the chooser itself
  // reach the caller.
  bool ChooseOutputFolder();

  // --- Commands of the window --------------------------------------------------------------

  // Separate (Command6, menu Separate): every ticked workbook into a fresh folder of its own
  // under a new run folder, then the run folder opened and the run summed up (ShowSummary).
  // The workbooks LibreOffice must convert are converted first, in one start. The progress
  // bar is at rest and the normal pointer back whenever it returns, and so is the status
  // line, unless StopRequested ended the run: then the status says what was written, and
  // nothing is opened or summed up.
  void Command6_Click();
  // Add Excel (Command1, menu AddExcel) and Add Folder (Command5, menu AddFolder): add the
  // chosen source at the end of the source list, select it, list its workbooks and the
  // sheets of its first workbook.
  void Command1_Click();
  void Command5_Click();
  // Remove File (Command2, menu RemoveItem): removes the selected source and lists the one
  // before it (or the new first one).
  void Command2_Click();
  // Remove All Items (menu RemoveAll).
  void RemoveAll_Click();
  // The arrows: move the selected source up (Command3) or down (Command4), icon and all.
  void Command3_Click();
  void Command4_Click();
  // A source was clicked: list its workbooks and the sheets of the first one; no sheet
  // choices are kept.
  void ListView1_ItemClick();
  // A workbook was clicked: keep the shown workbook's choices, show the clicked one's.
  void ListView2_ItemClick();
  // Files and folders dropped on the window: each existing one is added at the end of the
  // source list as Add Excel or Add Folder adds it (a folder with icon 2, any file with icon
  // 1); the last one added is selected, and its workbooks and first workbook's sheets listed.
  void AddSources(const std::vector<std::string>& paths);

  // --- Module state ------------------------------------------------------------------------

  tabrend::SheetTable SheetTable;
  // True when ListSheets must read the sheets afresh from the workbook. False until the
  // window's start-up sets it; only a workbook click clears it, for the length of its own
  // ListSheets call.
  bool ForceSheetReload = false;
  // Position in the workbook list of the workbook whose sheets the sheet list shows.
  int ShownWorkbook = 0;
  std::string OutputRoot;
  std::string TargetFolder;
  std::int32_t RunningNumber = 0;
  // The file names this Separate run gave out, and the sheets that could not have their own
  // because another output of the run held it ("'a<b' of Book.xlsx: ab_2.xlsx").
  RunOutputNames OutputNames;
  std::vector<std::string> RenamedOutputs;
  // The Settings menu's choices: leave hidden (and very hidden) sheets out, leave sheets
  // that show nothing out, and what the output files are.
  bool SkipHidden = false;
  bool SkipBlank = false;
  OutputFormat Format = OutputFormat::kWorkbook;
  ExportBatch Exports;
  // The outputs worker threads build ahead during Separate; null otherwise, and with one
  // thread (TABREND_THREADS=1), when every output is written in order on the caller's thread.
  SheetBuilds* Builds = nullptr;
  // Set from any thread to stop Separate after the sheet being written, so that every
  // output is complete or absent; a workbook folder the stop left empty is removed. Separate
  // clears it when it starts.
  std::atomic<bool> StopRequested{false};
  // What the current or last Separate run wrote, skipped and failed.
  SeparateTally Tally;

  // Replaceable in tests: the random parts of cleaned names, how the application is created
  // and, failing that (SplitWorkbook only), attached to, and the clock of the run folder.
  std::unique_ptr<RandomSource> Random;
  ApplicationSource CreateApplication;
  ApplicationSource AttachApplication;
  std::function<std::time_t()> Clock;

 private:
  // Creates the folder of workbook w; false (with the reason shown and tallied) when it
  // cannot be made.
  bool MakeTargetFolder(int w);
  // Starts the workers over the ticked workbooks and their stored choices, staging in
  // OutputRoot, and sets Builds; null with one thread.
  std::unique_ptr<SheetBuilds> StartBuilds();
  // The ticked workbooks that still name a file, in list order: position and path.
  std::vector<std::pair<int, std::string>> TickedWorkbooks() const;
  // The sheet names of a workbook LibreOffice converted for a listing, by its file stamp: a
  // second listing of the unchanged file converts nothing.
  struct ConvertedListing {
    spreadsheet::FileStamp stamp;
    std::vector<std::string> names;
  };
  std::map<std::string, ConvertedListing> convertedListings_;

  MainView& view_;
};

}  // namespace tabrend::desktop
