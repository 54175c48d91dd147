// Terminating-signal clean-up: a fixed table of folder paths in static memory, read by the
// handler with atomic loads only.
#include "engine/SignalCleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>

namespace tabrend {

const int kCleanupSignals[kCleanupSignalCount] = {SIGINT, SIGTERM, SIGHUP};

namespace {

// Deeper trees than this are not ours: nothing the program makes nests that far.
constexpr int kMaxRemovalDepth = 64;
// Times a folder is emptied while other threads may still be writing into it.
constexpr int kMaxRemovalPasses = 100;

bool RemoveEntry(int parent, const char* name, int depth);

void EmptyFolder(int folder, int depth) {
  alignas(struct dirent64) char buffer[8192];
  // Entries are removed while the folder is read, so read it again until a pass removes none.
  for (bool removed = true; removed;) {
    removed = false;
    if (::lseek(folder, 0, SEEK_SET) < 0) return;
    for (;;) {
      const ssize_t got = ::getdents64(folder, buffer, sizeof buffer);
      if (got <= 0) break;
      for (ssize_t at = 0; at < got;) {
        const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
        at += entry->d_reclen;
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        if (RemoveEntry(folder, name, depth + 1)) removed = true;
      }
    }
  }
}

bool RemoveEntry(int parent, const char* name, int depth) {
  if (::unlinkat(parent, name, 0) == 0) return true;
  if ((errno != EISDIR && errno != EPERM) || depth > kMaxRemovalDepth) return false;
  const int folder = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return false;
  // The handler runs on one thread while the others go on: one of them may make a file in
  // the folder after it was emptied, and the removal fails. It is emptied again then.
  bool removed = false;
  for (int pass = 0; pass < kMaxRemovalPasses && !removed; ++pass) {
    EmptyFolder(folder, depth);
    removed = ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
    if (!removed && errno != ENOTEMPTY && errno != EEXIST) break;
  }
  ::close(folder);
  return removed;
}

// A slot is free (0), being filled or emptied (1), or live (2): the handler reads live ones.
struct Slot {
  std::atomic<int> state{0};
  char path[PATH_MAX];
};
Slot gSlots[RemovedOnSignal::kMaxRegisteredFolders];
std::atomic<pid_t> gGroup{0};
std::atomic<bool> gEnding{false};  // the handler (or exit) has begun removing
struct sigaction gPrevious[kCleanupSignalCount];

// A slot being filled belongs to a thread that holds the clean-up signals off, so it is not
// this one: it is waited for, and removed once live. One filled after this pass sees gEnding
// and removes its folder itself.
void RemoveRegistered() {
  gEnding = true;
  for (Slot& slot : gSlots) {
    int state = slot.state.load();
    while (state == 1) state = slot.state.load();
    int live = 2;
    if (state == 2 && slot.state.compare_exchange_strong(live, 1)) {
      RemoveTree(slot.path);
      slot.state = 2;  // the owner still unregisters it
    }
  }
}

sigset_t CleanupSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int number : kCleanupSignals) sigaddset(&set, number);
  return set;
}

void OnTerminatingSignal(int number, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  const pid_t group = gGroup.load();
  if (group > 0) ::kill(-group, SIGKILL);
  RemoveRegistered();
  for (int i = 0; i < kCleanupSignalCount; ++i) {
    if (kCleanupSignals[i] != number) continue;
    const struct sigaction& previous = gPrevious[i];
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
      previous.sa_sigaction(number, info, context);
      errno = savedErrno;
      return;
    }
    if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
      previous.sa_handler(number);
      errno = savedErrno;
      return;
    }
  }
  // End as the signal would have ended the program.
  ::signal(number, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, number);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(number);
}

}  // namespace

void RemoveTree(const char* path) { RemoveEntry(AT_FDCWD, path, 0); }

void RemoveWhenAbandoned(const std::string& parent, const std::string& name, pid_t owner) {
  const int folder = ::open((parent + "/" + name).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return;
  struct stat info {};
  // The kernel drops a dead owner's lock however it died.
  const bool ownerGone = owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH;
  if (ownerGone && ::fstat(folder, &info) == 0 && info.st_uid == ::geteuid() && ::flock(folder, LOCK_EX | LOCK_NB) == 0)
    RemoveTree((parent + "/" + name).c_str());
  ::close(folder);
}

void InstallCleanupHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction ours {};
    ours.sa_sigaction = OnTerminatingSignal;
    ours.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&ours.sa_mask);
    for (int number : kCleanupSignals) sigaddset(&ours.sa_mask, number);
    for (int i = 0; i < kCleanupSignalCount; ++i) {
      ::sigaction(kCleanupSignals[i], nullptr, &gPrevious[i]);
      // A signal the program ignores (SIGHUP under nohup) stays ignored.
      if ((gPrevious[i].sa_flags & SA_SIGINFO) == 0 && gPrevious[i].sa_handler == SIG_IGN) continue;
      ::sigaction(kCleanupSignals[i], &ours, nullptr);
    }
    std::atexit(RemoveRegistered);
  });
}

CleanupSignalsHeld::CleanupSignalsHeld() {
  const sigset_t cleanup = CleanupSignalSet();
  ::pthread_sigmask(SIG_BLOCK, &cleanup, &previous_);
}

CleanupSignalsHeld::~CleanupSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

RemovedOnSignal::RemovedOnSignal(const std::string& path) {
  if (path.size() >= PATH_MAX) return;
  InstallCleanupHandlers();
  const CleanupSignalsHeld held;  // the handler waits for a slot being filled
  for (int i = 0; i < kMaxRegisteredFolders; ++i) {
    int free = 0;
    if (!gSlots[i].state.compare_exchange_strong(free, 1)) continue;
    std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
    gSlots[i].state = 2;
    slot_ = i;
    break;
  }
  if (gEnding) RemoveTree(path.c_str());
}

RemovedOnSignal::~RemovedOnSignal() {
  if (slot_ < 0) return;
  // Waits out a handler that is removing it right now on another thread.
  for (int live = 2; !gSlots[slot_].state.compare_exchange_weak(live, 0); live = 2) {
  }
}

void SetGroupKilledOnSignal(pid_t group) {
  if (group > 0) InstallCleanupHandlers();
  gGroup = group;
}

}  // namespace tabrend
