// Running a helper program (LibreOffice) as a child process under a time limit: without a
// shell, in a process group of its own, with nothing on its standard input and its output
// discarded. A terminating signal that ends Tabrend kills the group first (SignalCleanup.h).
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace tabrend {

// How often a running child is looked at.
inline constexpr std::chrono::milliseconds kChildPollInterval{10};
// The exit status of a child whose program could not be started, as a shell reports it.
inline constexpr int kExecFailedStatus = 127;

struct RunResult {
  enum Outcome { kExited, kSignalled, kTimedOut, kNotStarted } outcome = kExited;
  int detail = 0;  // exit status, signal number or errno
};

// Runs arguments[0] (a full path) with arguments in folder, with folder/tmp as its TMPDIR
// (TMP and TEMP dropped), glibc's malloc on transparent huge pages (unless GLIBC_TUNABLES is
// set) and /dev/null as its input and output, in a process group of its own. When limit runs
// out the whole group is killed; when the child ends, whatever it left running in its group
// is killed too.
RunResult RunChild(const std::vector<std::string>& arguments, const std::string& folder,
                   std::chrono::milliseconds limit);

}  // namespace tabrend
