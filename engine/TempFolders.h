// The process's private temporary folders: one root per process under TMPDIR
// ("tabrend-<pid>-XXXXXX", locked while the process lives), holding the folders the
// conversions, the PDF printing and the dry run's copies work in. The root goes with its last
// folder, at exit, and when a terminating signal ends the process (SignalCleanup.h); one that
// SIGKILL left is removed by the next root made in the same TMPDIR, once its process is gone.
// Safe to use from several threads.
#pragma once

#include <string>
#include <utility>

namespace tabrend {

// TMPDIR, or "/tmp" when it is unset or empty.
std::string TemporaryBase();

// A new folder "<root>/<prefix>-XXXXXX", creating the root first when there is none. Returns
// "" with `problem` set to a description a person can act on when either cannot be made.
std::string AcquireFolder(const char* prefix, std::string& problem);

// Removes a folder AcquireFolder made, with everything in it, and the root with the last one.
void ReleaseFolder(const std::string& folder);

// Removes the roots in base that killed processes left: folders named "tabrend-<pid>-XXXXXX"
// of this user that no process holds locked and whose process is gone. Making a root calls
// it; safe to call at any time.
void RemoveAbandonedRoots(const std::string& base);

// A folder of the root, released when the object goes unless handed over.
class TempFolder {
 public:
  TempFolder(const char* prefix, std::string& problem) : path_(AcquireFolder(prefix, problem)) {}
  ~TempFolder() {
    if (!path_.empty()) ReleaseFolder(path_);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  bool Made() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  // The folder, now the caller's to release.
  std::string HandOver() { return std::exchange(path_, std::string()); }

 private:
  std::string path_;
};

}  // namespace tabrend
