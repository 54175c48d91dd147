// The source inventory: the workbooks of a source, the sheets of a workbook, and the sheet
// choices kept while the person moves between the workbooks of one source.
#include <utility>

#include "engine/ApplicationSession.h"
#include "engine/Conversion.h"
#include "engine/Module1.h"
#include "engine/PathKind.h"
#include "engine/Paths.h"
#include "engine/WorkbookFiles.h"

namespace tabrend::desktop {

using automation::AutomationError;

namespace {

// The workbook file that source and listed name stand for: a file source is its own only
// workbook; a folder source holds the listed file, if it is still a file.
std::string ResolveWorkbookPath(const std::string& source, const std::string& listed) {
  switch (GetPathKind(source)) {
    case kPathFile:
      return source;
    case kPathFolder: {
      const std::string path = FolderWithSlash(source) + listed;
      return GetPathKind(path) == kPathFile ? path : std::string();
    }
    default:
      return {};
  }
}

// Text of the list's selected entry; empty when the list is empty or nothing is selected.
std::string SelectedText(const MainView& view, ListId list) {
  if (view.Count(list) == 0) return {};
  const int selected = view.SelectedIndex(list);
  return selected == 0 ? std::string() : view.Text(list, selected);
}

}  // namespace

Module1::Module1(MainView& view)
    : Random(MakeSystemRandomSource()),
      CreateApplication(automation::CreateObject),
      AttachApplication(automation::GetObject),
      Clock([] { return std::time(nullptr); }),
      view_(view) {}

void Module1::ListWorkbooks(const std::string& source) {
  try {
    SheetTable.Clear();
    view_.Clear(ListId::kWorkbooks);
    if (GetPathKind(source) == kPathFile) {
      view_.Add(ListId::kWorkbooks, FileNameOf(source));
      view_.SetChecked(ListId::kWorkbooks, 1, true);
    } else {
      std::vector<std::string> names;
      // A listing that fails part way still shows the names it read.
      ListWorkbookFiles(source, names);
      for (const auto& name : names) {
        if (view_.Count(ListId::kWorkbooks) == kMaxListedWorkbooks) break;
        view_.Add(ListId::kWorkbooks, name);
        view_.SetChecked(ListId::kWorkbooks, view_.Count(ListId::kWorkbooks), true);
      }
    }
  } catch (const AutomationError& failure) {
    view_.TrappedError("ListWorkbooks", failure.Description());
  }
  view_.Repaint(ListId::kWorkbooks);
}

std::string Module1::GetSelectedWorkbookPath() const {
  return ResolveWorkbookPath(SelectedText(view_, ListId::kSources),
                             SelectedText(view_, ListId::kWorkbooks));
}

std::string Module1::GetWorkbookPath(int i) const {
  const std::string listed =
      view_.Count(ListId::kWorkbooks) == 0 ? std::string() : view_.Text(ListId::kWorkbooks, i);
  return ResolveWorkbookPath(SelectedText(view_, ListId::kSources), listed);
}

void Module1::SaveSheetChoices() {
  const int count = view_.Count(ListId::kSheets);
  for (int i = 1; i <= count && i <= SheetTable::kMaxSheets; ++i) {
    SheetTable.Store(ShownWorkbook, i, view_.Text(ListId::kSheets, i),
                     view_.Checked(ListId::kSheets, i));
  }
}

void Module1::ListSheets() {
  const std::string path = GetSelectedWorkbookPath();
  if (path.empty()) return;

  try {
    const int w = view_.SelectedIndex(ListId::kWorkbooks);
    if (w == 0) Fail(kIndexOutOfBounds, "No workbook is selected");
    std::string held;
    if (!ForceSheetReload) {
      held = SheetTable.Name(w, 1);  // read before the list on screen is stored
      SaveSheetChoices();
    }
    ShownWorkbook = w;
    view_.Clear(ListId::kSheets);
    if (!held.empty()) {
      for (int s = 1; s <= SheetTable::kMaxSheets; ++s) {
        const std::string& name = SheetTable.Name(w, s);
        if (name.empty()) break;
        view_.Add(ListId::kSheets, name);
        view_.SetChecked(ListId::kSheets, view_.Count(ListId::kSheets), SheetTable.Ticked(w, s));
      }
    } else {
      const auto show = [&](long i, const std::string& name) {
        view_.Add(ListId::kSheets, name);
        view_.SetChecked(ListId::kSheets, view_.Count(ListId::kSheets), true);
        if (i <= SheetTable::kMaxSheets) SheetTable.Store(w, static_cast<int>(i), name, true);
      };
      // A workbook LibreOffice converts is listed from its last conversion while unchanged.
      const bool converted = automation::NeedsConversion(path);
      const std::optional<spreadsheet::FileStamp> stamp = converted ? spreadsheet::StampOf(path) : std::nullopt;
      const auto kept = stamp ? convertedListings_.find(path) : convertedListings_.end();
      if (kept != convertedListings_.end() && kept->second.stamp == *stamp) {
        for (std::size_t i = 0; i < kept->second.names.size(); ++i) show(static_cast<long>(i) + 1, kept->second.names[i]);
      } else {
        ApplicationSession session(CreateApplication);  // never an attached instance here
        automation::Workbook& source = session.Open(path);
        const long count = source.Worksheets().Count();
        std::vector<std::string> names;
        for (long i = 1; i <= count; ++i) {
          names.push_back(source.Worksheets()(i).name());
          show(i, names.back());
        }
        session.Finish();
        if (stamp) convertedListings_[path] = ConvertedListing{*stamp, std::move(names)};
      }
    }
  } catch (const std::exception& failure) {
    // The session has closed what it opened; the failure that stopped the listing is the one
    // shown, its clean-up failures add nothing the person can act on.
    view_.ShowMessage(failure.what(), MessageIcon::kError);
    view_.ShowMessage(kOpenFailedMessage, MessageIcon::kError);
  }
  view_.Repaint(ListId::kSheets);
}

}  // namespace tabrend::desktop
