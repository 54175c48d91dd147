// The source-list commands and the clicks that browse sources and workbooks.
#include "engine/Module1.h"
#include "engine/PathKind.h"

namespace tabrend::desktop {

namespace {

// The normal pointer comes back when a command ends, however it ends.
class NormalPointerAtEnd {
 public:
  explicit NormalPointerAtEnd(MainView& view) : view_(view) {}
  ~NormalPointerAtEnd() { view_.SetWaitPointer(false); }
  NormalPointerAtEnd(const NormalPointerAtEnd&) = delete;
  NormalPointerAtEnd& operator=(const NormalPointerAtEnd&) = delete;

 private:
  MainView& view_;
};

// The workbook click lists with ForceSheetReload off, and only for that call.
class ChoicesKept {
 public:
  explicit ChoicesKept(bool& forceSheetReload) : forceSheetReload_(forceSheetReload) {
    forceSheetReload_ = false;
  }
  ~ChoicesKept() { forceSheetReload_ = true; }
  ChoicesKept(const ChoicesKept&) = delete;
  ChoicesKept& operator=(const ChoicesKept&) = delete;

 private:
  bool& forceSheetReload_;
};

}  // namespace

// The add and remove commands end quietly on a failure: the person sees no message of
// theirs, the developer gets it through TrappedError.

void Module1::Command1_Click() {
  NormalPointerAtEnd pointer(view_);
  try {
    const std::optional<std::string> path = view_.AskWorkbookFile(kAddFileTitle);
    if (!path) return;
    view_.Add(ListId::kSources, *path, kIconWorkbookFile);
    const int added = view_.Count(ListId::kSources);
    view_.Select(ListId::kSources, added);
    view_.Repaint(ListId::kSources);
    view_.ScrollIntoView(ListId::kSources, added);
    ListWorkbooks(*path);
    view_.SetWaitPointer(true);
    ListSheets();
  } catch (const std::exception& failure) {
    view_.TrappedError("Add Excel", failure.what());
  }
}

void Module1::Command5_Click() {
  NormalPointerAtEnd pointer(view_);
  try {
    const std::optional<std::string> path = view_.AskFolder(kAddFolderTitle);
    if (!path || path->empty()) return;
    view_.Add(ListId::kSources, *path, kIconFolder);
    const int added = view_.Count(ListId::kSources);
    view_.Select(ListId::kSources, added);
    ListWorkbooks(*path);
    view_.Repaint(ListId::kSources);
    view_.ScrollIntoView(ListId::kSources, added);
    view_.SetWaitPointer(true);
    ListSheets();
  } catch (const std::exception& failure) {
    view_.TrappedError("Add Folder", failure.what());
  }
}

void Module1::AddSources(const std::vector<std::string>& paths) {
  NormalPointerAtEnd pointer(view_);
  try {
    std::string last;
    for (const auto& path : paths) {
      const int kind = GetPathKind(path);
      if (kind != kPathFile && kind != kPathFolder) continue;
      view_.Add(ListId::kSources, path, kind == kPathFolder ? kIconFolder : kIconWorkbookFile);
      last = path;
    }
    if (last.empty()) return;
    const int added = view_.Count(ListId::kSources);
    view_.Select(ListId::kSources, added);
    view_.Repaint(ListId::kSources);
    view_.ScrollIntoView(ListId::kSources, added);
    ListWorkbooks(last);
    view_.SetWaitPointer(true);
    ListSheets();
  } catch (const std::exception& failure) {
    view_.TrappedError("Drop", failure.what());
  }
}

void Module1::Command2_Click() {
  NormalPointerAtEnd pointer(view_);
  try {
    const int count = view_.Count(ListId::kSources);
    const int removed = count == 0 ? 0 : view_.SelectedIndex(ListId::kSources);
    if (removed == 0) return;
    view_.Remove(ListId::kSources, removed);
    if (count == 1) {
      SheetTable.Clear();
      view_.Clear(ListId::kWorkbooks);
      view_.Clear(ListId::kSheets);
      return;
    }
    const int selected = removed > 1 ? removed - 1 : 1;
    view_.Select(ListId::kSources, selected);
    ListWorkbooks(view_.Text(ListId::kSources, selected));
    view_.SetWaitPointer(true);
    ListSheets();
  } catch (const std::exception& failure) {
    view_.TrappedError("Remove File", failure.what());
  }
}

void Module1::RemoveAll_Click() {
  SheetTable.Clear();
  view_.Clear(ListId::kSources);
  view_.Clear(ListId::kWorkbooks);
  view_.Clear(ListId::kSheets);
}

void Module1::Command3_Click() {
  if (view_.Count(ListId::kSources) == 0) return;
  const int k = view_.SelectedIndex(ListId::kSources);
  if (k <= 1) return;
  const std::string text = view_.Text(ListId::kSources, k);
  const int icon = view_.Icon(ListId::kSources, k);
  view_.Remove(ListId::kSources, k);
  view_.Insert(ListId::kSources, k - 1, text, icon);
  view_.Select(ListId::kSources, k - 1);
  view_.ScrollIntoView(ListId::kSources, k - 1);
}

void Module1::Command4_Click() {
  const int count = view_.Count(ListId::kSources);
  if (count == 0) return;
  const int k = view_.SelectedIndex(ListId::kSources);
  if (k == 0 || k >= count) return;
  const std::string text = view_.Text(ListId::kSources, k);
  const int icon = view_.Icon(ListId::kSources, k);
  view_.Remove(ListId::kSources, k);
  view_.Insert(ListId::kSources, k + 1, text, icon);
  view_.Select(ListId::kSources, k + 1);
  view_.ScrollIntoView(ListId::kSources, k + 1);
}

void Module1::ListView1_ItemClick() {
  if (view_.Count(ListId::kSources) == 0) return;
  const int selected = view_.SelectedIndex(ListId::kSources);
  if (selected == 0) return;
  const std::string source = view_.Text(ListId::kSources, selected);
  view_.Clear(ListId::kWorkbooks);
  view_.Clear(ListId::kSheets);
  SheetTable.Clear();
  {
    NormalPointerAtEnd pointer(view_);
    view_.SetWaitPointer(true);
    ListWorkbooks(source);
    ListSheets();
  }
  // A source click keeps no choices: the ticks of the shown workbook live only on screen
  // until a workbook click or Separate stores them.
  SheetTable.Clear();
}

void Module1::ListView2_ItemClick() {
  NormalPointerAtEnd pointer(view_);
  view_.SetWaitPointer(true);
  ChoicesKept keep(ForceSheetReload);
  ListSheets();
}

}  // namespace tabrend::desktop
