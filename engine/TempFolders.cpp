// The process's temporary root and the folders in it.
#include "engine/TempFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "engine/SignalCleanup.h"

namespace tabrend {

namespace {

constexpr char kRootPrefix[] = "tabrend-";
// The characters mkdtemp puts in place of "XXXXXX".
constexpr std::size_t kRandomPart = 6;

struct RootState {
  std::mutex lock;  // guards everything below
  std::string root;
  std::unique_ptr<RemovedOnSignal> rootOnSignal;
  int held = -1;          // the root's descriptor, locked while the root lives
  std::size_t users = 0;  // folders acquired and not yet released
};

// Never destroyed: packages destroyed by other static objects at exit still find it.
RootState& Root() {
  static RootState* const state = new RootState;
  return *state;
}

// The process that made a root named "tabrend-<pid>-XXXXXX"; 0 for any other name.
pid_t RootOwner(const std::string& name) {
  const std::size_t prefix = sizeof kRootPrefix - 1;
  if (name.size() < prefix + 2 + kRandomPart || name.compare(0, prefix, kRootPrefix) != 0 ||
      name[name.size() - kRandomPart - 1] != '-')
    return 0;
  const std::size_t digits = name.size() - prefix - kRandomPart - 1;
  if (name.find_first_not_of("0123456789", prefix) != prefix + digits) return 0;
  return static_cast<pid_t>(std::strtol(name.c_str() + prefix, nullptr, 10));
}

}  // namespace

std::string TemporaryBase() {
  const char* base = std::getenv("TMPDIR");
  return base != nullptr && *base != '\0' ? base : "/tmp";
}

void RemoveAbandonedRoots(const std::string& base) {
  DIR* listing = ::opendir(base.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (const pid_t owner = RootOwner(name); owner > 0 && owner != ::getpid()) RemoveWhenAbandoned(base, name, owner);
  }
  ::closedir(listing);
}

std::string AcquireFolder(const char* prefix, std::string& problem) {
  RootState& state = Root();
  std::lock_guard lock(state.lock);
  if (state.root.empty()) {
    const std::string base = TemporaryBase();
    RemoveAbandonedRoots(base);
    const CleanupSignalsHeld held;  // made and registered with no signal in between
    std::string pattern = base + "/" + kRootPrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (pattern.size() >= PATH_MAX || ::mkdtemp(pattern.data()) == nullptr) {
      problem = "cannot create a temporary folder in '" + base + "': " +
                (pattern.size() >= PATH_MAX ? "the path is too long" : std::strerror(errno));
      return {};
    }
    state.rootOnSignal = std::make_unique<RemovedOnSignal>(pattern);
    state.root = pattern;
    // The lock tells a later sweep that the root's owner is alive; the kernel drops it with
    // the process, however it ends.
    state.held = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (state.held >= 0) ::flock(state.held, LOCK_EX);
  }
  std::string folder = state.root + "/" + prefix + "-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) {
    problem = "cannot create a temporary folder in '" + state.root + "': " + std::strerror(errno);
    return {};
  }
  ++state.users;
  return folder;
}

void ReleaseFolder(const std::string& folder) {
  RootState& state = Root();
  std::lock_guard lock(state.lock);
  RemoveTree(folder.c_str());
  if (state.users > 0 && --state.users == 0 && !state.root.empty()) {
    state.rootOnSignal.reset();
    RemoveTree(state.root.c_str());
    state.root.clear();
    if (state.held >= 0) ::close(state.held);
    state.held = -1;
  }
}

}  // namespace tabrend
