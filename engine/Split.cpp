// The split of one workbook, the names of its files, the run folder, and the Separate
// command that drives them over the ticked workbooks.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "engine/Module1.h"
#include "engine/ParallelSplit.h"
#include "engine/PathKind.h"
#include "engine/SheetOutput.h"

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
      throw AutomationError(kApplicationDefined, "'" + file + "' cannot be saved: a file name cannot hold \"" +
                                                     std::string(1, separator) + "\"");
    }
  }
}

// Restores the window's rest state when a command ends, however it ends.
class AtRest {
 public:
  explicit AtRest(MainView& view) : view_(view) {}
  ~AtRest() {
    view_.SetStatus({});
    view_.SetProgressValue(0);
    view_.SetWaitPointer(false);
  }
  AtRest(const AtRest&) = delete;
  AtRest& operator=(const AtRest&) = delete;

 private:
  MainView& view_;
};

}  // namespace

std::string SplitFailedMessage(const std::string& folderName) {
  return "Split " + folderName + " file failed!";
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

  std::unique_ptr<automation::Application> app;
  automation::Workbook* source = nullptr;
  bool sourceClosed = false;
  bool appQuit = false;
  try {
    try {
      app = CreateApplication(kApplicationClass);
    } catch (const AutomationError&) {
      app = AttachApplication(kApplicationClass);
    }
    const std::string extension = OutputExtension(app->Version());
    source = &app->Workbooks().Open(path);
    app->DisplayAlerts(false);  // only now: prompts while opening are the person's to see
    WorkbookBuilds built(Builds, path, *app);
    const long count = source->Worksheets().Count();
    view_.SetProgressMax(static_cast<int>(count));
    view_.RepaintNow();
    const bool followChoices = SheetTable.HoldsChoices(w);
    for (long j = 1; j <= count; ++j) {
      automation::Sheet& sheet = source->Worksheets()(j);
      bool write = true;
      std::string name;
      if (followChoices && j <= SheetTable::kMaxSheets) {
        write = SheetTable.Ticked(w, static_cast<int>(j));
        name = SheetTable.Name(w, static_cast<int>(j));
      } else {
        name = sheet.name();
      }
      if (write) {
        const std::string base = MakeOutputName(w, name);
        RefuseSeparators(base + "." + extension);
        const std::string file = OutputNames.Claim(TargetFolder, base, "." + extension);
        if (file != base + "." + extension)
          RenamedOutputs.push_back("'" + name + "' of " + view_.Text(ListId::kWorkbooks, w) + ": " + file);
        built.Write(*app, sheet, j, TargetFolder, file, name);
      }
      view_.SetProgressValue(static_cast<int>(j));  // skipped sheets move the bar too
      view_.RepaintNow();
    }
    sourceClosed = true;
    source->Close();
    appQuit = true;
    app->Quit();
  } catch (const std::exception& failure) {
    view_.ShowMessage(failure.what(), MessageIcon::kNone);
    // The failure shown is the one that stopped the split; a clean-up call that fails as
    // well adds nothing the person can act on.
    if (source != nullptr && !sourceClosed) {
      try {
        source->Close();
      } catch (const AutomationError&) {
      }
    }
    if (app != nullptr && !appQuit) {
      try {
        app->Quit();
      } catch (const AutomationError&) {
      }
    }
    return kSplitFailed;  // RunningNumber stays: the next workbook's numbers continue
  }
  view_.SetProgressValue(0);
  RunningNumber = 0;
  return kSplitDone;
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
  if (::mkdir(OutputRoot.c_str(), 0777) != 0) {
    view_.ShowMessage(kFolderFailedMessage, MessageIcon::kNone);
    return false;
  }
  OutputRoot += "/";
  return true;
}

bool Module1::MakeTargetFolder() {
  if (::mkdir(TargetFolder.c_str(), 0777) == 0) return true;
  // A file of the candidate's name, or a folder the person may not write in: this workbook
  // fails like one the application could not split, and the run goes on.
  view_.ShowMessage("'" + TargetFolder + "' cannot be created: " + std::strerror(errno),
                    MessageIcon::kNone);
  return false;
}

void Module1::Command6_Click() {
  AtRest atRest(view_);
  const int count = view_.Count(ListId::kWorkbooks);
  if (count < 1) {
    view_.ShowMessage(kNoWorkbooksMessage, MessageIcon::kInformation);
    return;
  }
  if (!ChooseOutputFolder()) return;
  OutputNames = {};
  RenamedOutputs.clear();
  SaveSheetChoices();  // the choices on screen count for the shown workbook
  const std::unique_ptr<SheetBuilds> builds = StartBuilds();
  struct Forget {
    SheetBuilds*& builds;
    ~Forget() { builds = nullptr; }
  } forget{Builds};
  view_.SetWaitPointer(true);
  for (int i = 1; i <= count; ++i) {
    if (!view_.Checked(ListId::kWorkbooks, i)) continue;
    const std::string folderName =
        RemoveBlanksAndDots(WorkbookName(view_.Text(ListId::kWorkbooks, i)));
    view_.SetStatus("Splitting " + folderName);
    view_.RepaintNow();
    // Digits go onto the previous candidate: ab, ab1, ab12, ab123...
    TargetFolder = OutputRoot + folderName;
    for (int counter = 1; GetPathKind(TargetFolder) == kPathFolder; ++counter) {
      TargetFolder += std::to_string(counter);
    }
    const int result = MakeTargetFolder() ? SplitWorkbook(i) : kSplitFailed;
    if (result != kSplitDone) view_.ShowMessage(SplitFailedMessage(folderName), MessageIcon::kError);
  }
  if (!RenamedOutputs.empty()) {
    std::string text = kRenamedOutputsMessage;
    for (const auto& line : RenamedOutputs) text += "\n" + line;
    view_.ShowMessage(text, MessageIcon::kInformation);
  }
  view_.OpenFolder(OutputRoot);
}

}  // namespace tabrend::desktop
