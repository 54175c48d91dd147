// A split on every core: worker threads build the outputs of the coming sheets ahead, each
// in an application instance of its own, while the split itself goes on in order on its own
// thread and does everything a person can see there, exactly as without workers: names and
// running numbers, the existence test of "/overwrite=0", placing each file at its final
// name, reports, progress and messages.
//
// A worker stages an output without knowing its name (SheetOutput.h); the split places it
// when it reaches that sheet. Whatever a worker could not build, built from a file that has
// changed since, or that cannot be placed, the split writes itself as it would without
// workers, so failures and their descriptions are those of the sequential split. What was
// staged for sheets the split never reaches (after a failing sheet, a stopped batch) is
// removed, never placed.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "engine/Automation.h"
#include "engine/SheetOutput.h"

namespace tabrend {

// At most this many worker threads, whatever the core count.
inline constexpr int kMaxSplitThreads = 16;

// The threads a split builds on: TABREND_THREADS when it is a whole number from 1 up (at most
// kMaxSplitThreads), else the number of cores. 1 means no worker at all.
int SplitThreads();

class SheetBuilds {
 public:
  // The name the output of a worksheet carries, given its position (from 1) and its own name;
  // nothing when the sheet is not written. Called on worker threads.
  using SheetPlan = std::function<std::optional<std::string>(long position, const std::string& ownName)>;
  struct Book {
    std::string path;
    SheetPlan plan;
  };

  // Workers start with the first Begin. Outputs are staged in stagingFolder, which must exist
  // and lie on the file system of every output folder of the run (an output that cannot be
  // moved from it is written in place instead).
  SheetBuilds(std::vector<Book> books, int threads, std::string stagingFolder);
  // Stops the workers (a build under way is finished first) and removes all that was staged.
  ~SheetBuilds();
  SheetBuilds(const SheetBuilds&) = delete;
  SheetBuilds& operator=(const SheetBuilds&) = delete;

 private:
  friend class WorkbookBuilds;
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  struct FileKey {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long seconds = 0, nanoseconds = 0;
    bool operator==(const FileKey&) const = default;
  };
  enum class JobState { kWaiting, kBuilding, kBuilt, kFailed, kTaken };
  struct Job {
    long position = 0;
    std::string name;
    JobState state = JobState::kWaiting;
    std::optional<StagedSheetFile> staged;
  };
  enum class BookState { kUnlisted, kListing, kListed, kNotBuilt };
  struct Entry {
    Book book;
    BookState state = BookState::kUnlisted;
    bool ended = false;
    std::optional<FileKey> key;  // of the file the workers read
    std::vector<Job> jobs;
    std::size_t next = 0;  // first job no one took yet
    int readers = 0;       // workers that last took a job of it
  };
  // A worker's open copy of one book.
  struct Opened {
    std::size_t book = kNone;
    std::unique_ptr<automation::Application> app;
    automation::Workbook* workbook = nullptr;
  };

  // For WorkbookBuilds, on the split's thread.
  std::size_t Begin(const std::string& path);
  std::optional<StagedSheetFile> Take(std::size_t book, long position, const std::string& name);
  void End(std::size_t book);

  void Work();
  void List(std::size_t book, Opened& opened);
  void Build(std::size_t book, std::size_t job, Opened& opened, StagingArea* area);
  bool Open(std::size_t book, Opened& opened, std::optional<FileKey>& key);
  void DiscardLocked(Entry& entry, std::vector<StagedSheetFile>& removed);

  const int threads_;
  const std::string stagingFolder_;
  const std::size_t window_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Entry> entries_;
  std::size_t current_ = 0;  // the book the split is at (or comes to next)
  std::size_t outstanding_ = 0;  // jobs building or built and not yet taken
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

// The builds of one workbook, for the split of that workbook: made once its source is open,
// gone when its split ends, however it ends (what was staged and not placed goes then). The
// outputs the split writes itself share one staging area per output folder meanwhile.
class WorkbookBuilds {
 public:
  // builds may be null (no workers); app is the split's own instance. Builds and the shared
  // area are used only when app is this build's own engine.
  WorkbookBuilds(SheetBuilds* builds, const std::string& path, automation::Application& app);
  ~WorkbookBuilds();
  WorkbookBuilds(const WorkbookBuilds&) = delete;
  WorkbookBuilds& operator=(const WorkbookBuilds&) = delete;

  // What WriteSheetFile(app, sheet, folder, file, name, placement) does, with the output a
  // worker built for the worksheet at position when there is one.
  SheetFileResult Write(automation::Application& app, automation::Sheet& sheet, long position,
                        const std::string& folder, const std::string& file, const std::string& name,
                        Placement placement = Placement::kReplace);

 private:
  SheetBuilds* builds_;
  std::size_t book_ = SheetBuilds::kNone;
  std::unique_ptr<SplitStaging> staging_;
};

}  // namespace tabrend
