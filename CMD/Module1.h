// tabrendcli's run: the command line, the option state, the batch of workbooks and the
// split of each one. One Module1 is one run.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "CMD/FolderOpener.h"
#include "CMD/RunReport.h"
#include "engine/ApplicationSession.h"
#include "engine/Automation.h"
#include "engine/Naming.h"
#include "engine/ParallelSplit.h"
#include "engine/LibreOffice.h"
#include "engine/SheetOutput.h"
#include "engine/SheetPlan.h"

namespace tabrend::cli {

// At most this many command-line tokens are taken; one more and the run is abandoned.
inline constexpr std::size_t kMaxArgs = 101;
// Switches are looked for in tokens 3 to 14 only (slots 2 to 13).
inline constexpr std::size_t kFirstSwitchSlot = 2;
inline constexpr std::size_t kSwitchSlotEnd = 14;
// At most this many workbooks are taken from a source folder; more and none is split.
inline constexpr std::size_t kMaxBatchFiles = 10001;
// Stands in for a quoted blank while the line is cut at blanks. Typed on the command line it
// becomes a blank too.
inline constexpr char kBlankPlaceholder[] = "!@@#!$%@#%$#@^";

// Exit statuses.
enum ExitStatus : int {
  kExitDone = 0,        // every workbook of the batch was split (skipped sheets count as done)
  kExitFailed = 1,      // a workbook failed, or the batch stopped early
  kExitNotAccepted = 2, // the command line was not accepted; nothing was done
};

// What became of one workbook, for "/verbose=1".
struct WorkbookReport {
  std::string path;
  std::vector<std::string> written;  // output file names, in the order written
  std::vector<std::string> skipped;  // existing output files left alone ("/overwrite=0")
  std::vector<std::string> leftOut;  // "Notes (hidden)": sheets "/hidden=0" or "/blank=0" left out
  std::vector<std::string> losses;   // "file: what the copy could not keep"
  std::vector<std::string> renamed;  // sheets written under another name than their own
  bool done = false;
  std::string folder;  // the target folder, ending in "/"
  std::vector<SheetOutcome> sheets;  // each worksheet's outcome, for the run report
  // How many exported files (PDF) of the workbook wait for the batch's end, when LibreOffice makes them.
  std::size_t pendingExports = 0;
  long errorNumber = 0;
  std::string error;  // the failure's description; empty when done
};

// One worksheet of a workbook as the run will treat it, decided before anything is written.
using tabrend::PlannedSheet;

class Module1 {
 public:
  using ApplicationSource = tabrend::ApplicationSource;

  // opener shows the output root for "/open=1"; log receives the "/verbose=1" lines.
  // Both must outlive the run.
  Module1(FolderOpener& opener, std::ostream& log);

  // Cuts the command-line tail into Args. Blanks between a pair of double quotes stay in
  // their token, quotes are removed, empty tokens are dropped; tokens keep their letter case.
  // Returns false when the line holds more than kMaxArgs tokens (Args keeps the first ones).
  bool SplitCommandLine(const std::string& line);

  // Sets the switch defaults, cuts the tail and reads source, output root and switches.
  // True when a batch may run: the line was accepted, the source is a file or folder, and
  // an output root was given.
  bool ParseOptions(const std::string& tail);
  // The same for arguments the shell has already cut: each is taken as it is (empty ones
  // are dropped, as an empty quoted string holds no place on a line).
  bool ParseOptions(const std::vector<std::string>& arguments);

  // Splits every workbook of the source. True when every workbook was split; false when one
  // failed or the batch stopped early (folder unlisted, folder not created, failure escaped).
  // Opens the output root when asked and it exists, however the batch went.
  bool RunBatch();

  // Opens the "/report=" file, unless it is open or none was asked for. False, with the reason
  // in error, when it cannot be written; RunBatch then does nothing.
  bool OpenReport(std::string& error);

  // Fills BatchFiles with the folder's ordinary, non-hidden files whose extension begins
  // with "xls" in any letter case, in name order. False when the folder cannot be listed or
  // holds more than kMaxBatchFiles such files.
  bool ScanFolder(const std::string& folder);

  // Splits one workbook into target, one file per worksheet, as NameMode and Overwrite say.
  // True when the workbook was processed to its end; false when the file does not exist or
  // the application failed (report.error says how). Resets RunningNumber on success only.
  bool SplitWorkbookFile(const std::string& path, const std::string& target,
                         WorkbookReport& report);

  // The output of each worksheet of source, in order, as the switches in force decide: names
  // drawn (RunningNumber and OutputNames move as a split would move them), hidden and blank
  // sheets set aside, existing files tested. Outputs named otherwise than they would be
  // alone are noted in report.renamed, and each sheet's outcome so far in report.sheets.
  // Writes nothing.
  std::vector<PlannedSheet> PlanSheets(automation::Workbook& source, const std::string& listed,
                                       const std::string& folder, const std::string& extension,
                                       WorkbookReport& report);

  // Program-wide state of the run.
  std::vector<std::string> Args;
  std::string SourcePath;
  std::string OutputRoot;  // ends in "/" once ParseOptions accepted the line
  tabrend::NameMode NameMode = tabrend::NameMode::kSheetName;
  bool Overwrite = true;
  bool OpenOutput = false;
  bool Verbose = false;
  bool WriteHidden = true;  // "/hidden=0": hidden and very hidden sheets are not written
  bool WriteBlank = true;   // "/blank=0": sheets that show nothing are not written
  bool ListOnly = false;    // "/list=1": print the plan on ListOut, write nothing
  // "/format=": what each sheet becomes, a row of the formats table (OutputFormats.h).
  OutputFormat Format = OutputFormat::kWorkbook;
  std::ostream* ListOut = nullptr;  // where "/list=1" prints; the log when not set
  std::vector<std::string> BatchFiles;
  // The source is "@LIST", a list of workbooks (SourcePath without its "@"; "-" for the
  // standard input, read from ListInput, std::cin when not set).
  bool ListSource = false;
  std::istream* ListInput = nullptr;
  std::string ReportPath;  // "/report=FILE"; empty when no report is asked for
  std::int32_t RunningNumber = 0;
  // The names this run gave out, so that no output replaces another of the same run.
  RunOutputNames OutputNames;
  std::string Rejection;  // why ParseOptions returned false, for "/verbose=1"
  // The outputs worker threads build ahead while RunBatch runs; null otherwise, and with one
  // thread (TABREND_THREADS=1), when every output is written in order on the caller's thread.
  SheetBuilds* Builds = nullptr;

  // Replaceable in tests: the random parts of cleaned names, and how the application is
  // created and, failing that, attached to.
  std::unique_ptr<RandomSource> Random;
  ApplicationSource CreateApplication;
  ApplicationSource AttachApplication;

 private:
  bool ReadOptions();  // from Args
  // BatchFiles for the source: its workbooks, the workbooks of its list, or the workbook
  // itself. Empty, or why there are none: the folder cannot be listed or holds too many, the
  // list cannot be read, or the source went away.
  std::string ListBatchFiles(bool folderMode);
  // Makes a workbook's target folder unless it exists (a dry run only checks that it could).
  // pickedInRoot: the folder is the workbook's own in the output root, and must not be a
  // symbolic link. False, and failure says why, stops the batch.
  bool MakeTargetFolder(const std::string& path, const std::string& target, bool pickedInRoot,
                        std::ostream& listOut, std::string& failure);
  // Exports the batch's files and reports their workbooks; false when one of them failed.
  bool FinishExportReports(std::vector<WorkbookReport>& reports);
  void Report(const WorkbookReport& report);
  // A workbook is done: its lines go to the run report and, with "/verbose=1", to the log.
  void Finished(const WorkbookReport& report);
  // Reads the list of a list source into BatchFiles; false when it cannot be read.
  bool ReadListFile();
  // "/list=1": prints the plan of one workbook with what each copy could not keep.
  void ListPlan(automation::Application& app, automation::Workbook& source, const std::string& folder,
                const std::vector<PlannedSheet>& plan, WorkbookReport& report);
  // Writes one sheet of the plan (or prepares its export), noting the outcome in outcome and report.
  void WritePlannedSheet(automation::Application& app, automation::Workbook& source, WorkbookBuilds& built,
                         const std::string& target, const PlannedSheet& planned, SheetOutcome& outcome,
                         WorkbookReport& report);
  // Exports the files of the batch and completes their workbooks' reports.
  void FinishExports(std::vector<WorkbookReport>& reports);

  ExportBatch exports_;
  std::size_t owner_ = 0;  // the workbook of the batch being split, for the exports it adds

  // Starts the workers over BatchFiles, staging in stagingFolder, and sets Builds.
  std::unique_ptr<SheetBuilds> StartBuilds(std::string stagingFolder);

  FolderOpener& opener_;
  std::ostream& log_;
  RunReport runReport_;
};

// The workbook paths of a source list, in order: one a line (LF or CR LF; a UTF-8 byte-order
// mark before the first is dropped). Blank lines, lines beginning with "#" and Excel's lock
// files are passed over; a relative path is taken from folder (empty: as it stands). False
// when the stream fails before its end.
bool ReadSourceList(std::istream& in, const std::string& folder, std::vector<std::string>& paths);

// The file's name without its last extension and without trailing blanks; empty when path
// is empty or names no file.
std::string GetBaseName(const std::string& path);

// The text printed for --help, -h and /?.
std::string Usage();

// The whole run: parse, batch, exit status. Prints the usage on out for a lone --help, -h
// or /?, "tabrendcli" and the product version for a lone --version, and the plan for
// "/list=1"; writes nothing else on out, and fails the run when out cannot take it.
// Control and bidirectional characters of names are printed as escapes ("\x1B", "\u202E").
int FormLoad(const std::string& tail, FolderOpener& opener, std::ostream& out,
             std::ostream& err);
// The same for the arguments as the shell passed them. A command line that is not accepted,
// and each failure of the batch, is told on err in one line; nothing else is written there
// without "/verbose=1".
int FormLoad(const std::vector<std::string>& arguments, FolderOpener& opener, std::ostream& out,
             std::ostream& err);

}  // namespace tabrend::cli
