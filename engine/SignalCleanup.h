// What the process leaves behind when it is interrupted: folders it registered are removed,
// and a child process group it registered is killed, when SIGINT, SIGTERM or SIGHUP ends it
// (the signal is then raised again with its default action, or passed to a handler installed
// before) and at exit. Everything the handler touches is plain memory and system calls.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>

namespace tabrend {

// The signals that end the program with a clean-up first.
inline constexpr int kCleanupSignalCount = 3;
extern const int kCleanupSignals[kCleanupSignalCount];

// Removes a folder and everything in it, or a file, using system calls only: safe inside a
// signal handler. Symbolic links are removed, never followed.
void RemoveTree(const char* path);

// Removes parent/name when it is a folder (never a symbolic link) of this user that process
// `owner` made and held locked while it lived, once that process is gone and nothing holds
// the folder locked: what SIGKILL, which no handler sees, left behind. A live owner that has
// made its folder but not yet locked it keeps it, as its process is still there.
void RemoveWhenAbandoned(const std::string& parent, const std::string& name, pid_t owner);

// Holds the clean-up signals off the calling thread while it lives. A folder made and then
// registered under it is never missed by the handler: the handler runs on another thread
// meanwhile, or once the folder is registered.
class CleanupSignalsHeld {
 public:
  CleanupSignalsHeld();
  ~CleanupSignalsHeld();
  CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
  CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// While it lives, the folder at path is removed if a terminating signal or exit ends the
// process. Destroying it only stops that; removing the folder is the owner's job. At most
// kMaxRegisteredFolders are registered at once; one more is still created, unregistered.
// Registered while the handler is already at work (on another thread), the folder is removed
// at once: the process is ending.
class RemovedOnSignal {
 public:
  static constexpr int kMaxRegisteredFolders = 64;

  explicit RemovedOnSignal(const std::string& path);
  ~RemovedOnSignal();
  RemovedOnSignal(const RemovedOnSignal&) = delete;
  RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

 private:
  int slot_ = -1;
};

// The process group killed first when a terminating signal ends the process; 0 for none.
void SetGroupKilledOnSignal(pid_t group);

// Installs the handlers (once). Registering a folder does it too.
void InstallCleanupHandlers();

}  // namespace tabrend
