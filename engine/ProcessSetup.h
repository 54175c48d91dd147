// What both programs set up for the whole process before they split anything.
#pragma once

namespace tabrend::engine {

// A file-size limit makes a write fail (and the output be abandoned cleanly) instead of
// killing the program halfway through one. Memory freed is kept for the next part rather
// than handed back to the system and faulted in again: a split allocates and frees buffers
// of a few megabytes for every sheet, and taking fresh pages for them cost more time than
// building the sheet did.
void PrepareProcess();

}  // namespace tabrend::engine
