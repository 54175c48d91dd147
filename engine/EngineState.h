// Flags of the interactive program's engine that the window and the engine procedures share.
#pragma once

namespace tabrend {

// True when ListSheets must read the sheets afresh from the workbook. False at program start;
// the main window sets it at the end of its start-up, and only a workbook click clears it,
// for the length of its own ListSheets call.
inline bool ForceSheetReload = false;

}  // namespace tabrend
