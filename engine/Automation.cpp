// The automation objects over the native workbook engine. A workbook here is an ordered
// list of sheets, each either blank or standing for a sheet of an opened source package;
// nothing is copied until a save writes the package.
#include "engine/Automation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine/Conversion.h"
#include "engine/PathKind.h"
#include "engine/Paths.h"
#include "spreadsheet/CsvWriter.h"
#include "spreadsheet/SourceWorkbook.h"
#include "spreadsheet/Text.h"
#include "spreadsheet/WorkbookWriter.h"

namespace tabrend::automation {

namespace {

using spreadsheet::EqualIgnoringCase;
using spreadsheet::SheetKind;
using spreadsheet::SourceWorkbook;

class WorkbookImpl;
class ApplicationImpl;

// Set while a worker of a parallel split opens workbooks on this thread.
thread_local bool tCalculationRefused = false;

// Refuses every calculation: the copy fails, and the split writes that sheet itself.
class RefusingCalculator : public spreadsheet::ResultCalculator {
 public:
  Results Calculate(const SourceWorkbook& source, std::size_t sheetIndex, const std::vector<std::string>&) override {
    throw AutomationError(kApplicationDefined, source.Label() + ": sheet '" + source.Sheets()[sheetIndex].name +
                                                   "' holds formulas saved without results");
  }
};

class SheetImpl : public Sheet {
 public:
  SheetImpl(WorkbookImpl& book, std::string name, std::shared_ptr<const SourceWorkbook> source,
            std::size_t sourceIndex, SheetKind kind, std::string state)
      : book_(&book), name_(std::move(name)), source_(std::move(source)), sourceIndex_(sourceIndex),
        kind_(kind), state_(std::move(state)) {}

  std::string name() const override {
    CheckAlive();
    return name_;
  }
  void name(const std::string& newName) override;
  void Copy(Sheet& Before) override;
  void Delete() override;
  bool IsWorksheet() const override {
    CheckAlive();
    return kind_ == SheetKind::kWorksheet;
  }
  Workbook& Parent() override;
  long Visible() const override {
    CheckAlive();
    if (state_ == "veryHidden") return kSheetVeryHidden;
    return state_ == "hidden" ? kSheetHidden : kSheetVisible;
  }
  bool HasContent() const override {
    CheckAlive();
    return source_ && source_->SheetHasContent(sourceIndex_);
  }

  void CheckAlive() const;
  void Kill() {
    dead_ = true;
    source_.reset();
  }
  bool Shown() const { return state_.empty() || state_ == "visible"; }
  SheetKind Kind() const { return kind_; }
  const std::shared_ptr<const SourceWorkbook>& Source() const { return source_; }
  std::size_t SourceIndex() const { return sourceIndex_; }
  const std::string& State() const { return state_; }
  const std::string& CurrentName() const { return name_; }
  void SetNameUnchecked(std::string name) { name_ = std::move(name); }

 private:
  WorkbookImpl* book_;
  std::string name_;
  std::shared_ptr<const SourceWorkbook> source_;  // nullptr for a blank sheet
  std::size_t sourceIndex_;
  SheetKind kind_;
  std::string state_;
  bool dead_ = false;
};

class Collection : public SheetCollection {
 public:
  Collection(WorkbookImpl& book, bool worksheetsOnly) : book_(book), worksheetsOnly_(worksheetsOnly) {}
  long Count() const override;
  Sheet& operator()(long index) override;

 private:
  WorkbookImpl& book_;
  bool worksheetsOnly_;
};

class WorkbookImpl : public Workbook {
 public:
  WorkbookImpl(ApplicationImpl& app, std::string name) : app_(app), name_(std::move(name)) {}

  // A workbook opened from a file: its sheets stand for the source's own. A workbook the
  // engine cannot read is read through its converted package, which the workbook owns.
  void LoadFrom(const std::string& path) {
    if (NeedsConversion(path)) converted_ = ConvertForOpening(path);
    const std::string& package = converted_ ? converted_->Path() : path;
    auto source = std::make_shared<SourceWorkbook>(package);
    if (tCalculationRefused) source->SetCalculator(std::make_shared<RefusingCalculator>());
    else source->SetCalculator(CalculatorFor(package));
    source_ = std::move(source);
    openedPath_ = path;
    name_ = FileNameOf(path);
    const auto& sheets = source_->Sheets();
    for (std::size_t i = 0; i < sheets.size(); ++i)
      sheets_.push_back(std::make_unique<SheetImpl>(*this, sheets[i].name, source_, i, sheets[i].kind, sheets[i].state));
  }

  void AddBlank(const std::string& name) {
    sheets_.push_back(std::make_unique<SheetImpl>(*this, name, nullptr, 0, SheetKind::kWorksheet, ""));
  }

  SheetCollection& Worksheets() override {
    CheckOpen();
    return worksheets_;
  }
  SheetCollection& Sheets() override {
    CheckOpen();
    return allSheets_;
  }

  void SaveAs(const std::string& path, XlFileFormat format, SaveMode mode) override;
  void Save() override;
  void Close() override;
  std::string Name() const override { return name_; }
  std::string FullName() const override {
    if (!savedPath_.empty()) return savedPath_;
    return openedPath_.empty() ? name_ : openedPath_;
  }
  std::vector<std::string> LossReport() const override { return lossReport_; }

  bool IsOpen() const { return !closed_; }
  void CheckOpen() const {
    if (closed_) Fail("the workbook '" + name_ + "' is closed");
  }
  std::vector<std::unique_ptr<SheetImpl>>& SheetList() { return sheets_; }
  const std::string& Label() const { return name_; }
  bool IsSourceFile(const std::string& path) const;

  // Position of sheet in the list, from 0.
  std::size_t PositionOf(const SheetImpl& sheet) const {
    for (std::size_t i = 0; i < sheets_.size(); ++i)
      if (sheets_[i].get() == &sheet) return i;
    return sheets_.size();
  }

  // Kept so references to deleted sheets stay valid objects.
  void Bury(std::unique_ptr<SheetImpl> sheet) {
    sheet->Kill();
    graveyard_.push_back(std::move(sheet));
  }

 private:
  // A save's file at path, made as the mode of the last SaveAs says.
  void Write(const std::string& path);
  // The writers' output, written straight into path.
  void WriteFile(const std::string& path);

  ApplicationImpl& app_;
  std::string name_;
  std::shared_ptr<const SourceWorkbook> source_;  // for a workbook opened from a file
  std::unique_ptr<ConvertedPackage> converted_;   // for a source opened through a conversion
  std::string openedPath_;
  std::string savedPath_;
  std::vector<std::unique_ptr<SheetImpl>> sheets_;
  std::vector<std::unique_ptr<SheetImpl>> graveyard_;
  Collection worksheets_{*this, true};
  Collection allSheets_{*this, false};
  std::vector<std::string> lossReport_;
  XlFileFormat format_ = xlOpenXMLWorkbook;  // of the last SaveAs
  SaveMode mode_ = SaveMode::kReplace;       // of the last SaveAs
  bool closed_ = false;
};

class Books : public WorkbookCollection {
 public:
  explicit Books(ApplicationImpl& app) : app_(app) {}
  Workbook& Open(const std::string& path) override;
  Workbook& Add() override;
  long Count() const override;

 private:
  ApplicationImpl& app_;
};

class ApplicationImpl : public Application {
 public:
  std::string Version() const override {
    CheckRunning();
    return "16.0";
  }
  WorkbookCollection& Workbooks() override {
    CheckRunning();
    return books_;
  }
  void DisplayAlerts(bool show) override {
    CheckRunning();
    displayAlerts_ = show;
  }
  void Quit() override {
    CheckRunning();
    for (auto& book : workbooks_)
      if (book->IsOpen()) book->Close();
    quit_ = true;
  }

  void CheckRunning() const {
    if (quit_) Fail("the application has quit");
  }
  std::vector<std::unique_ptr<WorkbookImpl>>& List() { return workbooks_; }
  int NextBookNumber() { return ++bookCounter_; }

 private:
  Books books_{*this};
  std::vector<std::unique_ptr<WorkbookImpl>> workbooks_;
  int bookCounter_ = 0;
  bool displayAlerts_ = true;
  bool quit_ = false;
};

void SheetImpl::CheckAlive() const {
  if (dead_) Fail("the sheet '" + name_ + "' no longer exists");
  book_->CheckOpen();
}

Workbook& SheetImpl::Parent() {
  CheckAlive();
  return *book_;
}

// The longest sheet name the application takes, in characters.
constexpr std::size_t kMaxSheetNameLength = 31;

// The application's rules for a sheet name; "" when the name is acceptable.
std::string SheetNameProblem(const std::string& name) {
  if (name.empty()) return "a sheet name cannot be empty";
  if (spreadsheet::CharacterCount(name) > kMaxSheetNameLength) return "a sheet name cannot be longer than 31 characters";
  if (name.find_first_of(":\\/?*[]") != std::string::npos)
    return "a sheet name cannot contain any of : \\ / ? * [ ]";
  for (unsigned char c : name)
    if (c < 0x20) return "a sheet name cannot contain control characters";
  if (name.front() == '\'' || name.back() == '\'') return "a sheet name cannot begin or end with an apostrophe";
  if (EqualIgnoringCase(name, "History")) return "'History' is reserved by the application";
  return {};
}

void SheetImpl::name(const std::string& newName) {
  CheckAlive();
  const std::string problem = SheetNameProblem(newName);
  if (!problem.empty())
    Fail("'" + book_->Label() + "': sheet '" + name_ +
         "' cannot be renamed to '" + newName + "': " + problem);
  for (const auto& other : book_->SheetList())
    if (other.get() != this && EqualIgnoringCase(other->CurrentName(), newName))
      Fail("'" + book_->Label() + "': sheet '" + name_ +
           "' cannot be renamed to '" + newName +
           "': that name is already taken");
  // References to the sheet follow it: the writer maps source names to current names.
  name_ = newName;
}

void SheetImpl::Copy(Sheet& Before) {
  CheckAlive();
  auto& target = dynamic_cast<SheetImpl&>(Before);
  target.CheckAlive();
  if (kind_ != SheetKind::kWorksheet)
    Fail("'" + book_->Label() + "': sheet '" + name_ +
         "' is not a worksheet; only worksheets can be copied");
  WorkbookImpl& destination = *target.book_;
  auto& list = destination.SheetList();
  if (source_)
    for (const auto& other : list)
      if (other->Source() && other->Source() != source_)
        Fail("'" + destination.Label() +
             "' already holds a sheet copied from another workbook");
  // A clashing name takes the application's "Name (2)" form.
  std::string name = name_;
  auto taken = [&](const std::string& candidate) {
    return std::any_of(list.begin(), list.end(),
                       [&](const auto& other) { return EqualIgnoringCase(other->CurrentName(), candidate); });
  };
  for (int n = 2; taken(name); ++n) {
    const std::string suffix = " (" + std::to_string(n) + ")";
    name = spreadsheet::TruncateCharacters(name_, kMaxSheetNameLength - suffix.size()) + suffix;
  }
  auto copy = std::make_unique<SheetImpl>(destination, name, source_, sourceIndex_, kind_, "");
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(destination.PositionOf(target)), std::move(copy));
}

void SheetImpl::Delete() {
  CheckAlive();
  auto& list = book_->SheetList();
  const bool otherVisible = std::any_of(list.begin(), list.end(), [&](const auto& other) {
    return other.get() != this && other->Shown() && other->Kind() == SheetKind::kWorksheet;
  });
  if (!otherVisible)
    Fail("'" + book_->Label() + "': sheet '" + name_ +
         "' cannot be deleted: a workbook must contain at least one "
         "visible worksheet");
  const std::size_t position = book_->PositionOf(*this);
  std::unique_ptr<SheetImpl> self = std::move(list[position]);
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(position));
  book_->Bury(std::move(self));
}

long Collection::Count() const {
  book_.CheckOpen();
  long count = 0;
  for (const auto& sheet : book_.SheetList())
    if (!worksheetsOnly_ || sheet->Kind() == SheetKind::kWorksheet) ++count;
  return count;
}

Sheet& Collection::operator()(long index) {
  book_.CheckOpen();
  long seen = 0;
  for (const auto& sheet : book_.SheetList())
    if (!worksheetsOnly_ || sheet->Kind() == SheetKind::kWorksheet)
      if (++seen == index) return *sheet;
  Fail(kSubscriptOutOfRange, "Subscript out of range: '" + book_.Label() + "' has no sheet " +
       std::to_string(index));
}

bool WorkbookImpl::IsSourceFile(const std::string& path) const {
  if (openedPath_.empty() || closed_) return false;
  struct stat a {}, b {};
  return ::stat(path.c_str(), &a) == 0 && ::stat(openedPath_.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

void WorkbookImpl::SaveAs(const std::string& path, XlFileFormat format, SaveMode mode) {
  CheckOpen();
  const std::string file = FileNameOf(path);
  const std::string label = "'" + file + "'";
  if (file.empty()) Fail(ErrorReason::kNotWritten, "'" + path + "' cannot be saved: it names no file");
  // The folder is the caller's to choose; only the file's own name is the application's.
  if (const std::string control = spreadsheet::FirstControlCharacter(file); !control.empty())
    Fail(ErrorReason::kNotWritten, label + " cannot be saved: the name holds a control character (" + control + ")");
  if (file.find('\\') != std::string::npos)
    Fail(ErrorReason::kNotWritten, label + " cannot be saved: a file name cannot hold \"\\\"");
  const std::string folder = ParentFolderOf(path);
  if (!FolderExists(folder))
    Fail(ErrorReason::kNotWritten, label + " cannot be saved: the folder '" + folder + "' does not exist");
  if (FolderExists(path))
    Fail(ErrorReason::kNotWritten, label + " cannot be saved: '" + path + "' is a folder");
  for (const auto& book : app_.List())
    if (book->IsSourceFile(path))
      Fail(ErrorReason::kNotWritten, label + " cannot be saved: it is open as a source workbook, "
           "which is never written");
  if (format != xlOpenXMLWorkbook && format != xlCSVUTF8)
    Fail(ErrorReason::kNotWritten,
         label + " cannot be saved: file format " + std::to_string(format) + " is not available");
  format_ = format;
  mode_ = mode;
  if (mode == SaveMode::kReplace) Write(path);
  savedPath_ = path;
  name_ = file;
}

void WorkbookImpl::Save() {
  CheckOpen();
  if (savedPath_.empty()) {
    if (!openedPath_.empty())
      Fail("'" + name_ + "' is open read-only; save it under another name");
    Fail("'" + name_ + "' has never been saved; use SaveAs first");
  }
  Write(savedPath_);
}

void WorkbookImpl::Write(const std::string& path) {
  if (mode_ == SaveMode::kStaged) {
    WriteFile(path);
    return;
  }
  // Built under its own name in a new folder beside it, so the writers' messages name it.
  const std::string file = FileNameOf(path);
  std::string folder = FolderWithSlash(ParentFolderOf(path)) + ".tabrend-save-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr)
    Fail(ErrorReason::kNotWritten, "'" + file + "' cannot be saved: " + std::strerror(errno));
  const std::string built = folder + "/" + file;
  const auto removeFolder = [&] {
    ::unlink(built.c_str());
    ::rmdir(folder.c_str());
  };
  try {
    WriteFile(built);
  } catch (...) {
    removeFolder();
    throw;
  }
  const bool placed = ::rename(built.c_str(), path.c_str()) == 0;
  const int error = errno;
  removeFolder();
  if (!placed) Fail(ErrorReason::kNotWritten, "'" + file + "' cannot be saved: " + std::strerror(error));
}

void WorkbookImpl::WriteFile(const std::string& path) {
  if (format_ == xlCSVUTF8) {
    // The text of the first worksheet; a blank one is a single empty line.
    lossReport_.clear();
    for (const auto& sheet : sheets_) {
      if (sheet->Kind() != SheetKind::kWorksheet) continue;
      if (sheet->Source()) {
        lossReport_ = spreadsheet::WriteCsvFile(*sheet->Source(), sheet->SourceIndex(), path);
        return;
      }
      break;
    }
    spreadsheet::WriteBlankCsvFile(path);
    return;
  }
  std::vector<spreadsheet::OutputSheet> sheets;
  for (const auto& sheet : sheets_) {
    if (sheet->Kind() != SheetKind::kWorksheet) continue;  // chart sheets are not written by this engine
    sheets.push_back({sheet->CurrentName(), sheet->Source().get(), sheet->SourceIndex()});
  }
  lossReport_ = spreadsheet::WriteWorkbook(sheets, 0, path);
  const std::size_t charts = sheets_.size() - sheets.size();
  if (charts > 0) lossReport_.push_back(std::to_string(charts) + " chart sheets were not written");
}

void WorkbookImpl::Close() {
  CheckOpen();
  closed_ = true;
  for (auto& sheet : sheets_) sheet->Kill();
  source_.reset();
  // Sheets copied into other workbooks keep the package open; its name can go now.
  converted_.reset();
}

Workbook& Books::Open(const std::string& path) {
  app_.CheckRunning();
  auto book = std::make_unique<WorkbookImpl>(app_, FileNameOf(path));
  book->LoadFrom(path);
  app_.List().push_back(std::move(book));
  return *app_.List().back();
}

Workbook& Books::Add() {
  app_.CheckRunning();
  auto book = std::make_unique<WorkbookImpl>(app_, "Book" + std::to_string(app_.NextBookNumber()));
  book->AddBlank("Sheet1");
  app_.List().push_back(std::move(book));
  return *app_.List().back();
}

long Books::Count() const {
  long count = 0;
  for (const auto& book : app_.List())
    if (book->IsOpen()) ++count;  // a closed workbook is not counted
  return count;
}

}  // namespace

std::unique_ptr<Application> CreateObject(const std::string& className) {
  if (!EqualIgnoringCase(className, "Excel.Application"))
    Fail(kCannotCreateObject, "ActiveX component can't create object: class '" + className +
         "' is not available");
  return std::make_unique<ApplicationImpl>();
}

bool IsNativeApplication(const Application& app) { return dynamic_cast<const ApplicationImpl*>(&app) != nullptr; }

WithoutCalculation::WithoutCalculation() : before_(tCalculationRefused) { tCalculationRefused = true; }
WithoutCalculation::~WithoutCalculation() { tCalculationRefused = before_; }

std::unique_ptr<Application> GetObject(const std::string& className) {
  Fail(kCannotCreateObject, "ActiveX component can't create object: no running instance of '" +
       className + "' to attach to");
}

}  // namespace tabrend::automation
