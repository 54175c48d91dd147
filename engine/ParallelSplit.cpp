// Outputs built ahead on worker threads; the split names and places them in order.
//
// Ownership and locking: mutex_ guards every entry's state, jobs' states and staged outputs,
// current_, outstanding_ and stop_. A book's path and plan, and a job's position and name
// once its book is listed, never change and are read without it. Each worker owns its
// application instances; no automation object is shared between threads. Staged outputs
// are removed outside the lock.
#include "engine/ParallelSplit.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "engine/Conversion.h"

namespace tabrend {

using automation::AutomationError;

int SplitThreads() {
  if (const char* text = std::getenv("TABREND_THREADS"); text != nullptr && *text != '\0') {
    char* end = nullptr;
    const long wanted = std::strtol(text, &end, 10);
    if (*end == '\0' && wanted >= 1) return static_cast<int>(std::min<long>(wanted, kMaxSplitThreads));
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return static_cast<int>(std::clamp<unsigned>(cores, 1, kMaxSplitThreads));
}

namespace {

// Staged outputs each hold a slot of the signal clean-up and a descriptor: a few per worker
// keep every worker busy while the split places the earlier ones.
std::size_t WindowFor(int threads) { return std::min<std::size_t>(4 * static_cast<std::size_t>(threads), 32); }

}  // namespace

SheetBuilds::SheetBuilds(std::vector<Book> books, int threads, std::string stagingFolder)
    : threads_(std::max(threads, 1)), stagingFolder_(std::move(stagingFolder)), window_(WindowFor(threads_)) {
  entries_.reserve(books.size());
  for (auto& book : books) {
    entries_.emplace_back();
    entries_.back().book = std::move(book);
  }
}

SheetBuilds::~SheetBuilds() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (auto& worker : workers_) worker.join();
}

std::size_t SheetBuilds::Begin(const std::string& path) {
  std::vector<StagedSheetFile> removed;
  std::unique_lock lock(mutex_);
  if (workers_.empty())
    for (int i = 0; i < threads_; ++i) workers_.emplace_back([this] { Work(); });
  std::size_t book = current_;
  while (book < entries_.size() && entries_[book].book.path != path) ++book;
  if (book == entries_.size()) return kNone;
  for (std::size_t skipped = current_; skipped < book; ++skipped) {  // the split passed them by
    entries_[skipped].ended = true;
    DiscardLocked(entries_[skipped], removed);
  }
  current_ = book;
  changed_.notify_all();
  Entry& entry = entries_[book];
  changed_.wait(lock, [&] { return entry.state == BookState::kListed || entry.state == BookState::kNotBuilt; });
  // The workers must have read the file the split opened.
  struct stat info {};
  if (entry.state == BookState::kListed &&
      (::stat(path.c_str(), &info) != 0 || !entry.key ||
       !(*entry.key == FileKey{info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec}))) {
    entry.state = BookState::kNotBuilt;
    DiscardLocked(entry, removed);
  }
  return book;
}

std::optional<StagedSheetFile> SheetBuilds::Take(std::size_t book, long position, const std::string& name) {
  std::vector<StagedSheetFile> removed;
  std::unique_lock lock(mutex_);
  Entry& entry = entries_[book];
  if (entry.state != BookState::kListed) return std::nullopt;
  std::optional<StagedSheetFile> staged;
  for (Job& job : entry.jobs) {
    if (job.position > position) break;
    if (job.position < position) {  // sheets the split skipped
      if (job.state == JobState::kBuilt) {
        removed.push_back(std::move(*job.staged));
        job.staged.reset();
        job.state = JobState::kTaken;
        --outstanding_;
      } else if (job.state == JobState::kWaiting) {
        job.state = JobState::kTaken;
      }
      continue;
    }
    if (job.state == JobState::kWaiting) {  // no worker came to it: the split writes it itself
      job.state = JobState::kTaken;
      break;
    }
    changed_.wait(lock, [&] { return job.state != JobState::kBuilding; });
    if (job.state == JobState::kBuilt) {
      --outstanding_;
      if (job.name == name) staged = std::move(job.staged);
      else removed.push_back(std::move(*job.staged));
      job.staged.reset();
    }
    job.state = JobState::kTaken;
    break;
  }
  lock.unlock();
  changed_.notify_all();
  return staged;
}

void SheetBuilds::End(std::size_t book) {
  std::vector<StagedSheetFile> removed;
  {
    std::lock_guard lock(mutex_);
    Entry& entry = entries_[book];
    entry.ended = true;
    DiscardLocked(entry, removed);
    if (current_ <= book) current_ = book + 1;
  }
  changed_.notify_all();
}

void SheetBuilds::DiscardLocked(Entry& entry, std::vector<StagedSheetFile>& removed) {
  for (Job& job : entry.jobs) {
    if (job.state == JobState::kBuilt) {
      removed.push_back(std::move(*job.staged));
      job.staged.reset();
      --outstanding_;
    }
    if (job.state != JobState::kBuilding) job.state = JobState::kTaken;  // a worker's own build it drops itself
  }
}

void SheetBuilds::Work() {
  const automation::WithoutCalculation calculationsAreTheSplits;
  // Each worker stages in an area of its own: the files it makes and removes there meet no
  // other thread's in one folder.
  std::optional<StagingArea> area;
  try {
    area.emplace(stagingFolder_);
  } catch (const AutomationError&) {
    // no area: this worker builds nothing, and the split writes those sheets itself
  }
  Opened opened;
  std::size_t mine = kNone;  // the book this worker reads
  std::unique_lock lock(mutex_);
  while (!stop_) {
    std::size_t listBook = kNone, buildBook = kNone, buildJob = kNone;
    const bool room = outstanding_ < window_;
    // First a book no other worker reads (each opens fewer books), then any.
    for (int pass = 0; pass < 2 && listBook == kNone && buildBook == kNone; ++pass) {
      for (std::size_t book = current_; book < entries_.size(); ++book) {
        Entry& entry = entries_[book];
        if (entry.ended) continue;
        if (entry.state == BookState::kUnlisted) {
          // The split waits for its own book's list; others are read only as far as builds go.
          if (book == current_ || (room && book - current_ <= window_)) listBook = book;
          break;
        }
        if (entry.state != BookState::kListed) continue;
        while (entry.next < entry.jobs.size() && entry.jobs[entry.next].state != JobState::kWaiting) ++entry.next;
        if (entry.next == entry.jobs.size()) continue;
        if (pass == 0 && book != mine && entry.readers > 0) continue;
        if (room) {
          buildBook = book;
          buildJob = entry.next++;
        }
        break;
      }
    }
    const std::size_t chosen = listBook != kNone ? listBook : buildBook;
    if (chosen != kNone && chosen != mine) {
      if (mine != kNone) --entries_[mine].readers;
      ++entries_[chosen].readers;
      mine = chosen;
    }
    if (listBook != kNone) {
      entries_[listBook].state = BookState::kListing;
      lock.unlock();
      List(listBook, opened);
      lock.lock();
    } else if (buildBook != kNone) {
      entries_[buildBook].jobs[buildJob].state = JobState::kBuilding;
      ++outstanding_;
      lock.unlock();
      Build(buildBook, buildJob, opened, area ? &*area : nullptr);
      lock.lock();
    } else {
      changed_.wait(lock);
    }
  }
  lock.unlock();
  if (opened.app) {
    try {
      opened.app->Quit();
    } catch (const AutomationError&) {
      // already quit; the instance goes either way
    }
  }
}

bool SheetBuilds::Open(std::size_t book, Opened& opened, std::optional<FileKey>& key) {
  if (opened.book == book) return true;
  if (opened.app) {
    try {
      opened.app->Quit();
    } catch (const AutomationError&) {
      // already quit; the instance goes either way
    }
  }
  opened = Opened{};
  const std::string& path = entries_[book].book.path;
  // A conversion is the split's own: LibreOffice converts each workbook once, for it.
  if (automation::NeedsConversion(path)) return false;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  const FileKey now{info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
  if (key && !(*key == now)) return false;
  key = now;
  try {
    auto app = automation::CreateObject("Excel.Application");
    automation::Workbook& workbook = app->Workbooks().Open(path);
    app->DisplayAlerts(false);
    opened = Opened{book, std::move(app), &workbook};
    return true;
  } catch (const AutomationError&) {
    return false;  // the split opens it itself and reports what is wrong
  }
}

void SheetBuilds::List(std::size_t book, Opened& opened) {
  std::optional<FileKey> key;
  std::vector<Job> jobs;
  bool listed = Open(book, opened, key);
  if (listed) {
    try {
      const long count = opened.workbook->Worksheets().Count();
      for (long position = 1; position <= count; ++position) {
        const std::string own = opened.workbook->Worksheets()(position).name();
        if (auto name = entries_[book].book.plan(position, own)) {
          jobs.emplace_back();
          jobs.back().position = position;
          jobs.back().name = std::move(*name);
        }
      }
    } catch (const AutomationError&) {
      listed = false;  // the split meets the same failure and reports it
    }
  }
  {
    std::lock_guard lock(mutex_);
    Entry& entry = entries_[book];
    entry.key = key;
    entry.jobs = std::move(jobs);
    entry.state = listed ? BookState::kListed : BookState::kNotBuilt;
  }
  changed_.notify_all();
}

void SheetBuilds::Build(std::size_t book, std::size_t job, Opened& opened, StagingArea* area) {
  std::optional<FileKey> key;
  {
    std::lock_guard lock(mutex_);
    key = entries_[book].key;
  }
  const Job& planned = entries_[book].jobs[job];
  std::optional<StagedSheetFile> staged;
  if (area != nullptr && Open(book, opened, key)) {
    try {
      staged = StageSheetFile(*opened.app, opened.workbook->Worksheets()(planned.position), *area, planned.name);
    } catch (const std::exception&) {
      // Not thrown away: the split writes this sheet itself, and the failure reaches it there.
    }
  }
  std::optional<StagedSheetFile> removed;
  {
    std::lock_guard lock(mutex_);
    Entry& entry = entries_[book];
    Job& done = entry.jobs[job];
    if (staged && !stop_ && !entry.ended && done.state == JobState::kBuilding) {
      done.staged = std::move(staged);
      done.state = JobState::kBuilt;
    } else {
      removed = std::move(staged);
      if (done.state == JobState::kBuilding) done.state = JobState::kFailed;
      --outstanding_;
    }
  }
  changed_.notify_all();
}

WorkbookBuilds::WorkbookBuilds(SheetBuilds* builds, const std::string& path, automation::Application& app)
    : builds_(builds) {
  if (!automation::IsNativeApplication(app)) return;
  staging_ = std::make_unique<SplitStaging>();
  if (builds_ != nullptr) book_ = builds_->Begin(path);
}

WorkbookBuilds::~WorkbookBuilds() {
  if (book_ != SheetBuilds::kNone) builds_->End(book_);
}

SheetFileResult WorkbookBuilds::Write(automation::Application& app, automation::Sheet& sheet, long position,
                                      const std::string& folder, const std::string& file, const std::string& name,
                                      Placement placement) {
  if (book_ != SheetBuilds::kNone) {
    if (auto staged = builds_->Take(book_, position, name)) {
      try {
        return PlaceSheetFile(std::move(*staged), sheet, folder, file, placement);
      } catch (const AutomationError&) {
        // Nothing was changed: the write below fails the same way, or succeeds where only
        // the staged copy could not be moved (another file system).
      }
    }
  }
  return WriteSheetFile(app, sheet, folder, file, name, placement, OutputFormat::kWorkbook, staging_.get());
}

}  // namespace tabrend
