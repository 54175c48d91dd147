// One sheet into one output file, built in a staging folder and renamed into place.
#include "engine/SheetOutput.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>

#include "engine/PathKind.h"
#include "engine/Paths.h"
#include "engine/SignalCleanup.h"
#include "spreadsheet/Text.h"

namespace tabrend {

using automation::AutomationError;
using automation::kApplicationDefined;

namespace {

constexpr char kStagingPrefix[] = ".tabrend-";
constexpr char kStagingSuffix[] = ".part";

[[noreturn]] void Refuse(const std::string& file, const std::string& why) {
  Fail(ErrorReason::kNotWritten, "'" + file + "' cannot be saved: " + why);
}

// A name made from sheet and workbook names must not reach outside the folder it is for.
void CheckMadeName(const std::string& file) {
  if (const std::string control = spreadsheet::FirstControlCharacter(file); !control.empty())
    Refuse(file, "the name holds a control character (" + control + ")");
  if (file.find('\\') != std::string::npos) Refuse(file, "a file name cannot hold \"\\\"");
  std::size_t start = 0;
  for (;;) {
    const auto end = std::min(file.find('/', start), file.size());
    if (file.compare(start, end - start, "..") == 0)
      Refuse(file, "the path climbs out of its folder with \"..\"");
    if (end == file.size()) break;
    start = end + 1;
  }
}

// True for ".tabrend-<digits>-<digits>.part".
bool IsStagingName(const std::string& name) {
  const std::size_t prefix = sizeof kStagingPrefix - 1, suffix = sizeof kStagingSuffix - 1;
  if (name.size() <= prefix + suffix || name.compare(0, prefix, kStagingPrefix) != 0 ||
      name.compare(name.size() - suffix, suffix, kStagingSuffix) != 0)
    return false;
  const std::string middle = name.substr(prefix, name.size() - prefix - suffix);
  const auto dash = middle.find('-');
  if (dash == 0 || dash == std::string::npos || dash + 1 == middle.size()) return false;
  for (std::size_t i = 0; i < middle.size(); ++i)
    if (i != dash && (middle[i] < '0' || middle[i] > '9')) return false;
  return true;
}

// The first write into a folder sweeps it of what killed runs left there.
void SweepOnce(const std::string& folder) {
  static std::mutex guard;
  static std::set<std::string> swept;
  std::lock_guard lock(guard);
  if (swept.insert(folder).second) RemoveAbandonedStaging(folder);
}

// A file an output is built at in a staging area, removed unless it was moved away (placed).
class StagedFile {
 public:
  explicit StagedFile(std::string path) : path_(std::move(path)) {}
  ~StagedFile() { ::unlink(path_.c_str()); }
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The private folder an output is built in. Its descriptor holds an exclusive lock for as
// long as the object lives, which tells a later sweep that its owner is alive.
class StagingFolder {
 public:
  StagingFolder(const std::string& parent, const std::string& finalFile) {
    SweepOnce(parent);
    static std::atomic<unsigned> counter{0};
    // Made and registered with the clean-up signals held, so no signal falls in between.
    const CleanupSignalsHeld held;
    for (;;) {
      path_ = parent + "/" + kStagingPrefix + std::to_string(::getpid()) + "-" +
              std::to_string(counter++) + kStagingSuffix;
      if (::mkdir(path_.c_str(), kPrivateFolderMode) == 0) break;
      if (errno != EEXIST) Refuse(finalFile, "no file can be created in the folder '" + parent + "': " + std::strerror(errno));
    }
    onSignal_ = std::make_unique<RemovedOnSignal>(path_);
    lock_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock_ >= 0) ::flock(lock_, LOCK_EX);
    file_ = path_ + "/" + finalFile;  // the name its saves report, as the final one
  }
  ~StagingFolder() {
    RemoveTree(path_.c_str());
    onSignal_.reset();
    if (lock_ >= 0) ::close(lock_);
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  const std::string& File() const { return file_; }

 private:
  std::string path_;
  std::string file_;
  std::unique_ptr<RemovedOnSignal> onSignal_;
  int lock_ = -1;
};

// What stands at the final name must not be a folder or the source being split.
void CheckTarget(const std::string& target, const std::string& sourcePath, const std::string& file) {
  struct stat info {}, source {};
  if (::stat(target.c_str(), &info) != 0) return;
  if (S_ISDIR(info.st_mode)) Refuse(file, "'" + target + "' is a folder");
  if (::stat(sourcePath.c_str(), &source) == 0 && source.st_dev == info.st_dev && source.st_ino == info.st_ino)
    Refuse(file, "it is open as a source workbook, which is never written");
}

// Puts the staged file at target in one step. False when only creating and target is taken.
bool Place(const std::string& staged, const std::string& target, Placement placement,
           const std::string& file) {
  if (placement == Placement::kReplace) {
    if (::rename(staged.c_str(), target.c_str()) != 0)
      Refuse(file, "it cannot be put in place: " + std::string(std::strerror(errno)));
    return true;
  }
  if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS)
    Refuse(file, "it cannot be put in place: " + std::string(std::strerror(errno)));
  // A file system without the no-replace rename: a hard link is just as exclusive.
  if (::link(staged.c_str(), target.c_str()) == 0) return true;
  if (errno == EEXIST) return false;
  Refuse(file, "it cannot be put in place: " + std::string(std::strerror(errno)));
}

// The umask a process starts with on Debian, for a kernel that does not report it.
constexpr mode_t kUsualUmask = 022;
// An output takes its source's read and write bits only: it is never executable.
constexpr mode_t kReadWriteBits = 0666;

mode_t ProcessUmask() {
  // Read without changing it: umask() itself would set it, racing other threads.
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  return kUsualUmask;
}

}  // namespace

mode_t OutputMode(mode_t sourceMode) {
  static const mode_t mask = ProcessUmask();
  return sourceMode & kReadWriteBits & ~mask;
}

void RemoveAbandonedStaging(const std::string& folder) {
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (IsStagingName(name))
      RemoveWhenAbandoned(folder, name, static_cast<pid_t>(std::strtol(name.c_str() + sizeof kStagingPrefix - 1, nullptr, 10)));
  }
  ::closedir(listing);
}

namespace {

// The final path of file in folder, once the checks that come before any writing passed:
// a name the program made stays inside folder, the folder exists, and what stands at the
// final name is neither a folder nor the source. sourcePath receives the source's path.
std::string CheckedTarget(automation::Sheet& sheet, const std::string& folder, const std::string& file,
                          std::string& sourcePath) {
  CheckMadeName(file);
  const std::string target = FolderWithSlash(folder) + file;
  if (!FolderExists(ParentFolderOf(target)))
    Refuse(FileNameOf(file), "the folder '" + ParentFolderOf(target) + "' does not exist");
  sourcePath = sheet.Parent().FullName();
  CheckTarget(target, sourcePath, FileNameOf(file));
  return target;
}

// The application's steps that build the output at stagedFile; the losses of its save.
std::vector<std::string> BuildSheetFile(automation::Application& app, automation::Sheet& sheet,
                                        const std::string& stagedFile, const std::string& name,
                                        OutputFormat format) {
  automation::Workbook* output = nullptr;
  bool closeCalled = false;
  try {
    output = &app.Workbooks().Add();
    // The staged file is the output's own: the one Save writes it, and placing it is ours.
    output->SaveAs(stagedFile, format == OutputFormat::kCsv ? automation::xlCSVUTF8 : automation::xlOpenXMLWorkbook,
                   automation::SaveMode::kStaged);
    sheet.Copy(output->Sheets()(1));
    for (long k = output->Sheets().Count(); k >= 2; --k) output->Sheets()(k).Delete();
    output->Sheets()(1).name(name);
    output->Save();
    std::vector<std::string> losses = output->LossReport();
    closeCalled = true;
    output->Close();
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
    throw;
  }
}

// The output's mode, the last look at its final name, and the one-step placing.
SheetFileResult PlaceBuilt(const std::string& stagedFile, std::vector<std::string> losses,
                           const std::string& target, const std::string& sourcePath, const std::string& file,
                           Placement placement) {
  struct stat source {};
  if (::stat(sourcePath.c_str(), &source) == 0) ::chmod(stagedFile.c_str(), OutputMode(source.st_mode));
  CheckTarget(target, sourcePath, FileNameOf(file));
  SheetFileResult result;
  result.losses = std::move(losses);
  result.placed = Place(stagedFile, target, placement, FileNameOf(file));
  return result;
}

}  // namespace

bool PlaceBuiltFile(const std::string& built, const std::string& folder, const std::string& file,
                    Placement placement, mode_t mode) {
  CheckMadeName(file);
  const std::string target = FolderWithSlash(folder) + file;
  if (!FolderExists(ParentFolderOf(target)))
    Refuse(FileNameOf(file), "the folder '" + ParentFolderOf(target) + "' does not exist");
  CheckTarget(target, built, FileNameOf(file));
  StagingFolder staging(ParentFolderOf(target), FileNameOf(file));
  std::error_code error;
  if (!std::filesystem::copy_file(built, staging.File(), error))
    Refuse(FileNameOf(file), "it cannot be written: " + error.message());
  ::chmod(staging.File().c_str(), OutputMode(mode));
  CheckTarget(target, built, FileNameOf(file));
  return Place(staging.File(), target, placement, FileNameOf(file));
}

SheetFileResult WriteSheetFile(automation::Application& app, automation::Sheet& sheet,
                               const std::string& folder, const std::string& file,
                               const std::string& name, Placement placement, OutputFormat format,
                               SplitStaging* staging) {
  if (FormatRow(format).writer == OutputWriter::kExport)
    Fail(ErrorReason::kNotWritten, "'" + FileNameOf(file) + "' cannot be saved: " + std::string(FormatRow(format).kindName) +
                                       " files are made by LibreOffice, not saved");
  std::string sourcePath;
  const std::string target = CheckedTarget(sheet, folder, file, sourcePath);
  // Where no area can be made, the folder of its own fails as it would without one.
  if (StagingArea* area = staging != nullptr ? staging->In(ParentFolderOf(target)) : nullptr) {
    const StagedFile staged(area->Path() + "/" + FileNameOf(file));
    std::vector<std::string> losses = BuildSheetFile(app, sheet, staged.Path(), name, format);
    return PlaceBuilt(staged.Path(), std::move(losses), target, sourcePath, file, placement);
  }
  StagingFolder own(ParentFolderOf(target), FileNameOf(file));
  std::vector<std::string> losses = BuildSheetFile(app, sheet, own.File(), name, format);
  return PlaceBuilt(own.File(), std::move(losses), target, sourcePath, file, placement);
}

struct StagedSheetFile::Built {
  explicit Built(std::string path) : file(std::move(path)) {}
  StagedFile file;
  std::vector<std::string> losses;
};

StagedSheetFile::StagedSheetFile(std::unique_ptr<Built> built) : built_(std::move(built)) {}
StagedSheetFile::StagedSheetFile(StagedSheetFile&&) noexcept = default;
StagedSheetFile& StagedSheetFile::operator=(StagedSheetFile&&) noexcept = default;
StagedSheetFile::~StagedSheetFile() = default;

struct StagingArea::Folder {
  explicit Folder(const std::string& parent) : staging(parent, "area") {}
  StagingFolder staging;
};

StagingArea::StagingArea(const std::string& parent)
    : folder_(std::make_unique<Folder>(parent)), path_(ParentFolderOf(folder_->staging.File())) {}
StagingArea::~StagingArea() = default;

std::string StagingArea::NewFile() { return path_ + "/" + std::to_string(next_++) + ".xlsx"; }

SplitStaging::SplitStaging() = default;
SplitStaging::~SplitStaging() = default;

StagingArea* SplitStaging::In(const std::string& folder) {
  if (area_ != nullptr && folder_ == folder) return area_.get();
  area_.reset();
  try {
    area_ = std::make_unique<StagingArea>(folder);
    folder_ = folder;
  } catch (const AutomationError&) {
    return nullptr;  // the caller's own staging folder meets the same refusal and reports it
  }
  return area_.get();
}

StagedSheetFile StageSheetFile(automation::Application& app, automation::Sheet& sheet, StagingArea& area,
                               const std::string& name) {
  auto built = std::make_unique<StagedSheetFile::Built>(area.NewFile());
  built->losses = BuildSheetFile(app, sheet, built->file.Path(), name, OutputFormat::kWorkbook);
  return StagedSheetFile(std::move(built));
}

SheetFileResult PlaceSheetFile(StagedSheetFile staged, automation::Sheet& sheet, const std::string& folder,
                               const std::string& file, Placement placement) {
  std::string sourcePath;
  const std::string target = CheckedTarget(sheet, folder, file, sourcePath);
  SweepOnce(ParentFolderOf(target));  // as a build in that folder would have
  return PlaceBuilt(staged.built_->file.Path(), std::move(staged.built_->losses), target, sourcePath, file,
                    placement);
}

}  // namespace tabrend
