// Writes a workbook package made of blank sheets and sheets copied from one source.
//
// The output is self-contained and private: it holds only the parts its sheets use (their
// drawings, comments, tables and everything else reached through their relationships), the
// shared strings they use, the defined names that refer only to them, and no calculation
// chain, external link, macro project, thumbnail or cache of another sheet.
//
// Every output is a Transitional workbook, as a spreadsheet application saves one by default:
// the parts of a Strict source are written in the Transitional dialect (StrictMarkup.h).
#pragma once

#include <string>
#include <vector>

#include "spreadsheet/ByteSink.h"
#include "spreadsheet/SourceWorkbook.h"
#include "spreadsheet/Zip.h"

namespace tabrend::spreadsheet {

struct OutputSheet {
  std::string name;
  const SourceWorkbook* source = nullptr;  // nullptr: a blank sheet
  std::size_t sourceIndex = 0;            // position in source->Sheets()
};

// Writes sheets (at least one; all copies from the same source) into path's own file, as
// ZipWriter does: path is touched only once every part is ready, and a failure while packing
// them removes the file. The copied sheets and the shared strings are streamed to scratch files
// made by `scratch` before they are packed. Returns what the copies could not keep, one line
// per kind of loss. Throws AutomationError.
std::vector<std::string> WriteWorkbook(const std::vector<OutputSheet>& sheets, std::size_t activeSheet,
                                       const std::string& path, const ScratchFactory& scratch = NewScratchFile);

}  // namespace tabrend::spreadsheet
