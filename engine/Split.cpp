// The split of one workbook, the names of its files, the run folder, and the Separate
// command that drives them over the ticked workbooks.
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

#include "engine/ApplicationSession.h"
#include "engine/Conversion.h"
#include "engine/Module1.h"
#include "engine/ParallelSplit.h"
#include "engine/PathKind.h"
#include "engine/Paths.h"
#include "engine/SheetOutput.h"
#include "engine/SheetPlan.h"

namespace tabrend::desktop {

using automation::AutomationError;

namespace {

// Naming mode of Combo1's entry number; no entry selected names by the sheet as it is.
NameMode ModeOfEntry(int entry) {
  switch (entry) {
    case 0: return NameMode::kSheetName;
    case 1: return NameMode::kWorkbookAndSheet;
    case 2: return NameMode::kRunningNumber;
    default: return NameMode::kSheetNameAsIs;
  }
}

// A name the person typed over a sheet becomes part of a file name; a separator in it would
// put the file somewhere other than the workbook's folder.
void RefuseSeparators(const std::string& file) {
  for (const char separator : {'/', '\\'}) {
    if (file.find(separator) != std::string::npos) {
      Fail(ErrorReason::kNotWritten, "'" + file + "' cannot be saved: a file name cannot hold \"" +
           std::string(1, separator) + "\"");
    }
  }
}

// "Printing PDF files": the status line while LibreOffice makes the files of format.
std::string ExportingStatus(OutputFormat format) {
  const OutputFormatRow& row = FormatRow(format);
  std::string verb(row.exportVerb);
  if (!verb.empty()) verb[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(verb[0])));
  return verb + "ing " + std::string(row.kindName) + " files";
}

// Restores the window's rest state when a command ends, however it ends; a stopped run leaves
// its last word in the status line.
class AtRest {
 public:
  explicit AtRest(MainView& view) : view_(view) {}
  ~AtRest() {
    view_.SetStatus(finalStatus_);
    view_.SetProgressBusy(false);
    view_.SetProgressValue(0);
    view_.SetWaitPointer(false);
  }
  AtRest(const AtRest&) = delete;
  AtRest& operator=(const AtRest&) = delete;
  void LeaveStatus(std::string text) { finalStatus_ = std::move(text); }

 private:
  MainView& view_;
  std::string finalStatus_;
};

// "1 file", "3 files".
std::string Counted(int count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

std::string SplitFailedMessage(const std::string& folderName) {
  return "Split " + folderName + " file failed!";
}

std::string SplittingStatus(const std::string& folderName, int ordinal, int total) {
  std::string status = "Splitting " + folderName;
  if (total > 1) status += " (" + std::to_string(ordinal) + " of " + std::to_string(total) + ")";
  return status;
}

std::string SeparateSummary(const SeparateTally& tally, const std::string& outputRoot,
                            const std::vector<std::string>& renamed) {
  std::string text = "Separate finished: " + Counted(tally.filesWritten, "file") + " written into " + outputRoot + ".";
  if (tally.sheetsSkipped > 0) text += "\n" + Counted(tally.sheetsSkipped, "sheet") + " skipped.";
  if (!tally.failures.empty()) {
    text += "\n" + Counted(static_cast<int>(tally.failures.size()), "workbook") + " failed:";
    for (const auto& [workbook, reason] : tally.failures) text += "\n" + workbook + ": " + reason;
  }
  if (!renamed.empty()) {
    text += "\n";
    text += kRenamedOutputsMessage;
    for (const auto& line : renamed) text += "\n" + line;
  }
  return text;
}

std::string StoppedStatus(int filesWritten, const std::string& outputRoot) {
  return "Separate stopped: " + Counted(filesWritten, "file") + " written into " + outputRoot;
}

std::string RemoveBlanksAndDots(const std::string& name) {
  std::string result;
  result.reserve(name.size());
  for (const char c : name) {
    if (c != ' ' && c != '.') result.push_back(c);
  }
  return result;
}

std::string Timestamp(std::time_t when) {
  std::tm local {};
  ::localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
  return text;
}

std::string Module1::MakeOutputName(int w, const std::string& sheetName) {
  return OutputName(view_.Text(ListId::kWorkbooks, w), sheetName, ModeOfEntry(view_.NamingMode()),
                    RunningNumber, *Random);
}

int Module1::SplitWorkbook(int w) {
  const std::string path = GetWorkbookPath(w);
  if (path.empty()) return kSplitNothing;

  try {
    ApplicationSession session(CreateApplication, AttachApplication);
    SheetPlanRules rules;
    rules.baseName = [&](const std::string& name) { return MakeOutputName(w, name); };
    rules.folder = TargetFolder;
    rules.extension = OutputExtensionFor(Format, session.App().Version());
    rules.skipHidden = SkipHidden;
    rules.skipBlank = SkipBlank;
    CheckFormatAvailable(Format, path);
    automation::Workbook& source = session.Open(path);
    const long count = source.Worksheets().Count();
    WorkbookBuilds built(Builds, path, session.App());
    view_.SetProgressMax(static_cast<int>(count));
    view_.RepaintNow();
    const bool followChoices = SheetTable.HoldsChoices(w);
    SheetPlanner planner(rules, RunningNumber, OutputNames);
    bool stopped = false;
    for (long j = 1; j <= count; ++j) {
      if (StopRequested) {  // between two sheets: each written one is complete
        stopped = true;
        break;
      }
      std::optional<SheetChoice> choice;
      if (followChoices && j <= SheetTable::kMaxSheets)
        choice = SheetChoice{SheetTable.Ticked(w, static_cast<int>(j)), SheetTable.Name(w, static_cast<int>(j))};
      const PlannedSheet planned = planner.Plan(source.Worksheets()(j), j, choice);
      if (planned.action != PlannedSheet::Action::kWrite) {
        ++Tally.sheetsSkipped;
      } else {
        RefuseSeparators(planned.named);
        if (planned.file != planned.named)
          RenamedOutputs.push_back("'" + planned.name + "' of " + view_.Text(ListId::kWorkbooks, w) + ": " +
                                   planned.file);
        // Exported files count once they are placed (FinishExports).
        if (!WritePlannedSheet(Format, session.App(), source, planned, TargetFolder, Placement::kReplace, built,
                               Exports, static_cast<std::size_t>(w))
                 .exported)
          ++Tally.filesWritten;
      }
      view_.SetProgressValue(static_cast<int>(j));  // skipped sheets move the bar too
      view_.RepaintNow();
    }
    session.Finish();
    if (stopped) return kSplitStopped;
  } catch (const std::exception& failure) {
    // The session has closed what it opened; its clean-up failures add nothing the person
    // can act on, so the failure shown is the one that stopped the split.
    view_.ShowMessage(failure.what(), MessageIcon::kNone);
    Tally.failures.emplace_back(view_.Text(ListId::kWorkbooks, w), failure.what());
    return kSplitFailed;  // RunningNumber stays: the next workbook's numbers continue
  }
  view_.SetProgressValue(0);
  RunningNumber = 0;
  return kSplitDone;
}

void Module1::FinishExports(const std::map<int, std::string>& folderNames) {
  view_.SetStatus(ExportingStatus(Format));
  view_.SetProgressBusy(true);
  view_.RepaintNow();
  const std::vector<ExportBatch::Outcome> outcomes = Exports.Finish();
  view_.SetProgressBusy(false);
  std::map<int, std::string> failures;  // every failure of a workbook, shown together
  for (const ExportBatch::Outcome& outcome : outcomes) {
    if (outcome.placed) ++Tally.filesWritten;
    if (outcome.error.empty()) continue;
    std::string& text = failures[static_cast<int>(outcome.owner)];
    text += (text.empty() ? "" : "\n") + outcome.error;
  }
  for (const auto& [workbook, text] : failures) {
    view_.ShowMessage(text, MessageIcon::kNone);
    Tally.failures.emplace_back(view_.Text(ListId::kWorkbooks, workbook), text);
    const auto name = folderNames.find(workbook);
    view_.ShowMessage(SplitFailedMessage(name != folderNames.end() ? name->second : std::string()), MessageIcon::kError);
  }
}

bool Module1::ChooseOutputFolder() {
  const std::optional<std::string> picked = view_.AskFolder(kOutputFolderTitle);
  if (!picked || picked->empty()) return false;
  if (GetPathKind(*picked) != kPathFolder) {
    view_.ShowMessage(kFolderMissingMessage, MessageIcon::kNone);
    return false;
  }
  OutputRoot = *picked;
  while (!OutputRoot.empty() && OutputRoot.back() == '/') OutputRoot.pop_back();
  OutputRoot += "/" + Timestamp(Clock());
  if (::mkdir(OutputRoot.c_str(), kNewFolderMode) != 0) {
    view_.ShowMessage(kFolderFailedMessage, MessageIcon::kNone);
    return false;
  }
  OutputRoot += "/";
  return true;
}

bool Module1::MakeTargetFolder(int w) {
  if (::mkdir(TargetFolder.c_str(), kNewFolderMode) == 0) return true;
  // A file of the candidate's name, or a folder the person may not write in: this workbook
  // fails like one the application could not split, and the run goes on.
  const std::string reason = "'" + TargetFolder + "' cannot be created: " + std::strerror(errno);
  view_.ShowMessage(reason, MessageIcon::kNone);
  Tally.failures.emplace_back(view_.Text(ListId::kWorkbooks, w), reason);
  return false;
}

std::vector<std::pair<int, std::string>> Module1::TickedWorkbooks() const {
  std::vector<std::pair<int, std::string>> ticked;
  for (int i = 1; i <= view_.Count(ListId::kWorkbooks); ++i) {
    if (!view_.Checked(ListId::kWorkbooks, i)) continue;
    std::string path;
    try {
      path = GetWorkbookPath(i);
    } catch (const AutomationError&) {
      // SplitWorkbook meets it and reports it
    }
    if (!path.empty()) ticked.emplace_back(i, std::move(path));
  }
  return ticked;
}

void Module1::Command6_Click() {
  AtRest atRest(view_);
  StopRequested = false;
  const int count = view_.Count(ListId::kWorkbooks);
  if (count < 1) {
    view_.ShowMessage(kNoWorkbooksMessage, MessageIcon::kInformation);
    return;
  }
  if (!ChooseOutputFolder()) return;
  OutputNames = {};
  RenamedOutputs.clear();
  Tally = {};
  Exports.Discard();
  SaveSheetChoices();  // the choices on screen count for the shown workbook
  view_.SetWaitPointer(true);

  // The workbooks LibreOffice must convert are converted in one start, not one each; so are
  // those it must calculate, once the first needs it.
  std::vector<std::string> ticked;
  for (auto& [position, path] : TickedWorkbooks()) ticked.push_back(std::move(path));
  struct Discard {
    ~Discard() { automation::DiscardPrefetchedConversions(); }  // those the run did not reach
  } discard;
  if (std::any_of(ticked.begin(), ticked.end(), automation::NeedsConversion)) {
    view_.SetStatus(kConvertingStatus);
    view_.SetProgressBusy(true);
    view_.RepaintNow();
  }
  automation::PrefetchConversions(ticked, FormatRow(Format).shown);
  view_.SetProgressBusy(false);

  // Workers build workbook outputs ahead; the other formats are written in order.
  const std::unique_ptr<SheetBuilds> builds =
      FormatRow(Format).writer == OutputWriter::kWorkbook ? StartBuilds() : nullptr;
  struct Forget {
    SheetBuilds*& builds;
    ~Forget() { builds = nullptr; }
  } forget{Builds};
  int total = 0;
  for (int i = 1; i <= count; ++i) total += view_.Checked(ListId::kWorkbooks, i) ? 1 : 0;
  std::map<int, std::string> folderNames;  // of the workbooks split, by position
  for (int i = 1, ordinal = 0; i <= count && !StopRequested; ++i) {
    if (!view_.Checked(ListId::kWorkbooks, i)) continue;
    const std::string folderName =
        RemoveBlanksAndDots(WorkbookName(view_.Text(ListId::kWorkbooks, i)));
    view_.SetStatus(SplittingStatus(folderName, ++ordinal, total));
    view_.RepaintNow();
    if (StopRequested) break;
    // Digits go onto the previous candidate: ab, ab1, ab12, ab123...
    TargetFolder = OutputRoot + folderName;
    for (int counter = 1; GetPathKind(TargetFolder) == kPathFolder; ++counter) {
      TargetFolder += std::to_string(counter);
    }
    folderNames[i] = folderName;
    if (!MakeTargetFolder(i)) {
      view_.ShowMessage(SplitFailedMessage(folderName), MessageIcon::kError);
      continue;
    }
    const int result = SplitWorkbook(i);
    if (result == kSplitStopped || (result == kSplitDone && StopRequested)) {
      ::rmdir(TargetFolder.c_str());  // only when the stop left it empty
      break;
    }
    if (result == kSplitNothing)
      Tally.failures.emplace_back(view_.Text(ListId::kWorkbooks, i), "the file is no longer there");
    if (result != kSplitDone) view_.ShowMessage(SplitFailedMessage(folderName), MessageIcon::kError);
  }
  if (StopRequested) {
    Exports.Discard();  // nothing more is exported
    atRest.LeaveStatus(StoppedStatus(Tally.filesWritten, OutputRoot));
    return;
  }
  if (!Exports.Empty()) FinishExports(folderNames);
  view_.OpenFolder(OutputRoot);
  view_.ShowSummary(SeparateSummary(Tally, OutputRoot, RenamedOutputs),
                    Tally.failures.empty() ? MessageIcon::kInformation : MessageIcon::kError);
}

}  // namespace tabrend::desktop
