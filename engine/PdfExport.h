// Sheets printed to PDF: each sheet's single-sheet workbook is written into a private
// temporary folder as the split reaches it, and LibreOffice headless prints all of a batch's
// workbooks in one start at the end, each with its own page setup (orientation, scaling,
// print area, print titles, headers and footers); workbooks that leave their results to be
// calculated on opening are printed calculated, in one more start. Each PDF is then put at
// its final name complete or not at all, as every output is (engine/SheetOutput.h).
//
// The temporary folder goes with the batch, at exit, and on a terminating signal.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/Automation.h"
#include "engine/SheetOutput.h"
#include "engine/SignalCleanup.h"

namespace tabrend {

class PdfBatch {
 public:
  // One PDF of the batch, as Finish left it.
  struct Outcome {
    std::size_t owner = 0;  // what the caller passed to Add
    std::string folder;
    std::string file;
    bool placed = false;  // false with error empty: kCreateOnly found the name taken
    std::string error;    // why there is no PDF; empty when placed or skipped
  };

  PdfBatch();
  ~PdfBatch();
  PdfBatch(const PdfBatch&) = delete;
  PdfBatch& operator=(const PdfBatch&) = delete;

  // Throws AutomationError saying what to install when LibreOffice is not on PATH; the split
  // calls it before writing anything of a workbook, so that such a workbook fails at once.
  static void CheckAvailable(const std::string& workbook);

  // Writes sheet, named name, into the batch's temporary folder now (through WriteSheetFile,
  // so the calls on the application are the same), to be printed to folder + "/" + file by
  // Finish. Returns what the copy could not keep. owner tells the caller's workbook apart in
  // the outcomes. Throws AutomationError as WriteSheetFile does.
  std::vector<std::string> Add(automation::Application& app, automation::Sheet& sheet, const std::string& folder,
                               const std::string& file, const std::string& name, Placement placement,
                               std::size_t owner);

  bool Empty() const { return items_.empty(); }

  // Drops every added workbook unprinted, with the temporary folder; the batch is empty.
  void Discard();

  // Prints every added workbook in one LibreOffice start and puts each PDF in place, in the
  // order added. Never throws for one PDF: its outcome says why it is missing. The batch is
  // empty afterwards.
  std::vector<Outcome> Finish();

 private:
  struct Item {
    std::size_t owner;
    std::string folder, file, input;
    Placement placement;
    mode_t mode;
    bool calculate;  // printed with every formula calculated
  };
  std::string Scratch();
  // Prints the items that are calculated or not in one LibreOffice start; what went wrong,
  // or "".
  std::string Print(bool calculated);

  std::string scratch_;  // created on first Add
  std::unique_ptr<RemovedOnSignal> onSignal_;
  std::vector<Item> items_;
};

}  // namespace tabrend
