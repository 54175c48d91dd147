// MainView: what the desktop engine sees of the main window. The window implements it over
// its widgets; tests implement it in memory. The engine calls it from the thread its command
// runs on, one call at a time; a window whose commands run on another thread than its own
// carries each call over to its own thread and waits for it.
//
// Texts are UTF-8; list texts of the source and workbook lists are file-system paths and
// names as the file system spells them.
#pragma once

#include <optional>
#include <string>

#include "core/Error.h"

namespace tabrend {

// The three lists of the main window.
enum class ListId {
  kSources,    // ListView1: full paths of workbook files and folders, each with a small icon
  kWorkbooks,  // ListView2: file names of the selected source's workbooks, with ticks
  kSheets,     // ListView3: sheet names of the selected workbook, with ticks, editable
};

// Small icons of source entries.
enum SourceIcon : int { kIconWorkbookFile = 1, kIconFolder = 2, kIconMissingPath = 3 };

enum class MessageIcon { kNone, kInformation, kError };

class MainView {
 public:
  virtual ~MainView() = default;

  // Lists. Entries are numbered from 1; each list has at most one selected entry (0: none),
  // and adding to an empty list selects the first entry added. Every call that takes an entry
  // number throws automation::AutomationError(kIndexOutOfBounds) outside 1..Count (Insert:
  // 1..Count+1).
  virtual int Count(ListId list) const = 0;
  virtual std::string Text(ListId list, int i) const = 0;
  virtual int Icon(ListId list, int i) const = 0;  // 0: no icon
  virtual bool Checked(ListId list, int i) const = 0;
  virtual void SetChecked(ListId list, int i, bool ticked) = 0;
  virtual int SelectedIndex(ListId list) const = 0;
  virtual void Add(ListId list, const std::string& text, int icon = 0) = 0;
  // Inserts before the entry now at number i, so the new entry gets number i.
  virtual void Insert(ListId list, int i, const std::string& text, int icon = 0) = 0;
  virtual void Remove(ListId list, int i) = 0;
  virtual void Clear(ListId list) = 0;
  virtual void Select(ListId list, int i) = 0;
  virtual void ScrollIntoView(ListId list, int i) = 0;
  virtual void Repaint(ListId list) = 0;

  // Combo1's selected entry number, the naming mode: 0 to 2, -1 when none is selected.
  virtual int NamingMode() const = 0;

  // ProgressBar1 and Label1.
  virtual void SetProgressMax(int max) = 0;
  virtual void SetProgressValue(int value) = 0;
  virtual void SetStatus(const std::string& text) = 0;
  // The bar moves without a value while on, for a step of unknown length (LibreOffice at
  // work); off, it shows its value again.
  virtual void SetProgressBusy(bool busy) = 0;
  // Draws the window now, so that progress and status show while a long command runs.
  virtual void RepaintNow() = 0;

  // The wait pointer over the window (true) or the normal one (false).
  virtual void SetWaitPointer(bool wait) = 0;

  // A modal message box with an OK button; returns when the person confirmed it.
  virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;

  // The one message that sums up a Separate run at its end, modal with an OK button.
  virtual void ShowSummary(const std::string& text, MessageIcon icon) = 0;

  // The file chooser of "Add Excel", titled `title`: the chosen workbook file's full path, or
  // nothing when the person cancelled.
  virtual std::optional<std::string> AskWorkbookFile(const std::string& title) = 0;
  // The folder chooser, titled `title`: the chosen folder (possibly empty text), or nothing
  // when the person cancelled.
  virtual std::optional<std::string> AskFolder(const std::string& title) = 0;

  // Shows a folder in the desktop's file browser. Returns at once; the outcome is not
  // reported.
  virtual void OpenFolder(const std::string& path) = 0;

  // A failure that a command's error trap ended without a message to the person (the add
  // and remove commands show none). For the developer's eyes: a log line, a test assertion.
  virtual void TrappedError(const std::string& command, const std::string& description) = 0;
};

}  // namespace tabrend
