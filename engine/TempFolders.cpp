// The process's temporary root and the folders in it.
#include "engine/TempFolders.h"

#include <climits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "engine/SignalCleanup.h"

namespace tabrend {

namespace {

struct RootState {
  std::mutex lock;  // guards everything below
  std::string root;
  std::unique_ptr<RemovedOnSignal> rootOnSignal;
  std::size_t users = 0;  // folders acquired and not yet released
};

// Never destroyed: packages destroyed by other static objects at exit still find it.
RootState& Root() {
  static RootState* const state = new RootState;
  return *state;
}

}  // namespace

std::string TemporaryBase() {
  const char* base = std::getenv("TMPDIR");
  return base != nullptr && *base != '\0' ? base : "/tmp";
}

std::string AcquireFolder(const char* prefix, std::string& problem) {
  RootState& state = Root();
  std::lock_guard lock(state.lock);
  if (state.root.empty()) {
    const CleanupSignalsHeld held;  // made and registered with no signal in between
    std::string pattern = TemporaryBase() + "/tabrend-XXXXXX";
    if (pattern.size() >= PATH_MAX || ::mkdtemp(pattern.data()) == nullptr) {
      problem = "cannot create a temporary folder in '" + TemporaryBase() + "': " +
                (pattern.size() >= PATH_MAX ? "the path is too long" : std::strerror(errno));
      return {};
    }
    state.rootOnSignal = std::make_unique<RemovedOnSignal>(pattern);
    state.root = pattern;
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
  }
}

}  // namespace tabrend
