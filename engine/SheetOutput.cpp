// One sheet into one output file, with the earlier file kept until the new one is complete.
#include "engine/SheetOutput.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tabrend {

using automation::AutomationError;

namespace {

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The entry at an output path before its sheet is written, and how to get back to it.
// A hard link keeps the earlier file in place while the application replaces the name;
// where the file system has no hard links the file is renamed aside instead.
class PreviousFile {
 public:
  explicit PreviousFile(const std::string& path) : path_(path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return;  // nothing to keep
    static std::atomic<unsigned> counter{0};
    const std::string folder = FolderOf(path);
    for (;;) {
      backup_ = folder + "/.tabrend-" + std::to_string(::getpid()) + "-" +
                std::to_string(counter++) + ".old";
      if (::link(path.c_str(), backup_.c_str()) == 0) break;
      if (errno == EEXIST) continue;
      if (::rename(path.c_str(), backup_.c_str()) == 0) break;  // no hard links here
      if (errno == EEXIST) continue;
      throw AutomationError(automation::kApplicationDefined,
                            "'" + path + "': cannot keep the existing file while it is replaced: " +
                                std::strerror(errno));
    }
  }

  PreviousFile(const PreviousFile&) = delete;
  PreviousFile& operator=(const PreviousFile&) = delete;

  // The new file is complete: the earlier one is no longer needed.
  void Discard() {
    // A backup that cannot be removed is a hidden file left beside a complete output; the
    // write itself succeeded, so that is not a failure of this sheet.
    if (!backup_.empty()) ::unlink(backup_.c_str());
    backup_.clear();
  }

  // Undoes the write: what stands at the path now goes, the earlier entry comes back.
  void Restore() {
    struct stat info {};
    if (!backup_.empty()) {
      // When the write never replaced the name, both names are the same file, and rename
      // would do nothing and leave the backup behind.
      struct stat kept {};
      if (::lstat(path_.c_str(), &info) == 0 && ::lstat(backup_.c_str(), &kept) == 0 &&
          info.st_dev == kept.st_dev && info.st_ino == kept.st_ino) {
        ::unlink(backup_.c_str());
      } else {
        ::rename(backup_.c_str(), path_.c_str());  // replaces a partial file in one step
      }
      backup_.clear();
      return;
    }
    if (::lstat(path_.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) ::unlink(path_.c_str());
  }

 private:
  std::string path_;
  std::string backup_;
};

}  // namespace

std::vector<std::string> WriteSheetFile(automation::Application& app, automation::Sheet& sheet,
                                        const std::string& path, const std::string& name) {
  PreviousFile previous(path);
  automation::Workbook* output = nullptr;
  bool closeCalled = false;
  try {
    output = &app.Workbooks().Add();
    output->SaveAs(path);
    sheet.Copy(output->Sheets()(1));
    for (long k = output->Sheets().Count(); k >= 2; --k) output->Sheets()(k).Delete();
    output->Sheets()(1).name(name);
    output->Save();
    std::vector<std::string> losses = output->LossReport();
    closeCalled = true;
    output->Close();
    previous.Discard();
    return losses;
  } catch (...) {
    if (output != nullptr && !closeCalled) {
      closeCalled = true;
      try {
        output->Close();
      } catch (const AutomationError&) {
        // The step that failed first is the one reported; the workbook is abandoned either way.
      }
    }
    previous.Restore();
    throw;
  }
}

}  // namespace tabrend
