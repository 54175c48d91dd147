// LibreOffice headless, the one way every unit starts it: found on PATH, without a shell, in a
// process group of its own that a terminating signal kills, with a private user profile and
// TMPDIR in the folder it works in, nothing on its input or outputs, and under a time limit.
// The conversions of sources (engine/Conversion.h) run through it, and so does the export
// batch below, which turns the outputs of a format the engine does not write itself (PDF)
// into that format at the end of a batch.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Automation.h"
#include "engine/ChildProcess.h"
#include "engine/OutputFormats.h"
#include "engine/SheetOutput.h"
#include "engine/TempFolders.h"

namespace tabrend::automation {

// The first "soffice" on PATH, as a shell would find it; "" when there is none.
std::string LibreOfficeProgram();

// The time one LibreOffice start may take: first, plus perMoreWorkbook for each workbook
// after the first. When it runs out, LibreOffice's process group is killed.
void SetConversionTimeLimit(std::chrono::milliseconds first, std::chrono::milliseconds perMoreWorkbook);

// How long one start may take for `workbooks` inputs, by SetConversionTimeLimit's rule.
std::chrono::milliseconds LibreOfficeTimeLimit(std::size_t workbooks);

// One start: every input, read with importFilter (LibreOffice's own detection when empty),
// converted by convertTo ("xlsx:Calc MS Excel 2007 XML") into outdir, named as its input
// with the target's extension. Paths are relative to the folder the start runs in.
struct LibreOfficeStart {
  std::string profile;  // the private user profile's folder
  std::string importFilter;
  std::string convertTo;
  std::string outdir = "out";
  std::vector<std::string> inputs;
  // Every formula calculated on loading, as a spreadsheet program does for workbooks that
  // ask for it (LibreOffice's default calculates only formulas without a result).
  bool calculate = false;
};

struct LibreOfficeOutcome {
  RunResult result;
  std::string problem;  // empty when it ran and exited with status 0, else what went wrong
};

// The command line of start for program.
std::vector<std::string> LibreOfficeCommand(const std::string& program, const LibreOfficeStart& start);

// Makes start's profile (with the calculating settings it asks for) and runs program on it in
// folder, with folder/tmp as TMPDIR, under the time limit for its inputs.
LibreOfficeOutcome RunLibreOffice(const std::string& program, const LibreOfficeStart& start,
                                  const std::string& folder);

}  // namespace tabrend::automation

namespace tabrend {

// The outputs of formats LibreOffice makes (OutputWriter::kExport): each sheet's single-sheet
// workbook is written into a private temporary folder as the split reaches it, and
// LibreOffice converts all of a batch's workbooks of one format in one start at the end, each
// with its own page setup; workbooks that leave their results to be calculated on opening
// are converted calculated, in one more start. Each file is then put at its final name
// complete or not at all, as every output is (engine/SheetOutput.h).
//
// The temporary folder goes with the batch, at exit, and on a terminating signal.
class ExportBatch {
 public:
  // One file of the batch, as Finish left it.
  struct Outcome {
    std::size_t owner = 0;  // what the caller passed to Add
    std::string folder;
    std::string file;
    bool placed = false;  // false with error empty: kCreateOnly found the name taken
    std::string error;    // why there is no file; empty when placed or skipped
  };

  ExportBatch();
  ~ExportBatch();
  ExportBatch(const ExportBatch&) = delete;
  ExportBatch& operator=(const ExportBatch&) = delete;

  // Throws AutomationError saying what to install when LibreOffice is not on PATH; the split
  // calls it before writing anything of a workbook, so that such a workbook fails at once.
  static void CheckAvailable(OutputFormat format, const std::string& workbook);

  // Writes sheet, named name, into the batch's temporary folder now (through WriteSheetFile,
  // so the calls on the application are the same), to be converted into format at folder +
  // "/" + file by Finish. Returns what the copy could not keep. owner tells the caller's
  // workbook apart in the outcomes. Throws AutomationError as WriteSheetFile does.
  std::vector<std::string> Add(OutputFormat format, automation::Application& app, automation::Sheet& sheet,
                               const std::string& folder, const std::string& file, const std::string& name,
                               Placement placement, std::size_t owner);

  bool Empty() const { return items_.empty(); }

  // Drops every added workbook unconverted, with the temporary folder; the batch is empty.
  void Discard();

  // Converts every added workbook and puts each file in place, in the order added. Never
  // throws for one file: its outcome says why it is missing. The batch is empty afterwards.
  std::vector<Outcome> Finish();

 private:
  struct Item {
    OutputFormat format;
    std::size_t owner;
    std::string folder, file, input;
    Placement placement;
    mode_t mode;
    bool calculate;  // converted with every formula calculated
  };
  std::string Scratch();
  // Converts the items of format that are calculated or not in one LibreOffice start; what
  // went wrong, or "".
  std::string Convert(OutputFormat format, bool calculated);

  std::optional<TempFolder> scratch_;  // made on first Add
  std::vector<Item> items_;
};

}  // namespace tabrend
