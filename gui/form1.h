// form1: Tabrend's main window. It holds the source list, the workbooks of the selected source,
// the sheets of the selected workbook, the naming mode, a status line, a progress bar, the
// command buttons and the menus. Start-up restores the source list from EXCEL.txt; shutdown
// (close box or Exit) writes it back unless set.txt says "0".
//
// Every control's objectName is its name below, so tests and people find them.
//
// The commands are the engine's (engine/Module1.h): the window is its MainView, and each
// event handler only hands the event to the engine. The commands that may take long (listing
// sheets, LibreOffice conversions included, and Separate) run on a thread of their own while
// the window goes on painting; the window holds the person's input back meanwhile, except
// for Cancel (and Escape) during Separate and closing the window, which asks first.
//
// The window can grow from its first size; the lists, the path column and the status line
// grow with it. Files and folders dropped on it are added as sources.
#pragma once

#include "engine/MainView.h"
#include "engine/Module1.h"
#include "gui/ReportList.h"
#include "gui/StateFiles.h"

#include <QMainWindow>
#include <QTimer>

#include <functional>

#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QToolButton;

namespace tabrend::gui {

// The texts of Combo1, in order; the selected entry's number is the naming mode.
inline constexpr const char* kNamingModes[] = {
    "Excel Filename will be based on sheet name",
    "Excel Filename will be based on workbook name and sheet name ",
    "Excel Filename will be 1.xls,2.xls,3.xls,4.xls,5.xls,6.xls....",
};

// Small icons of ListView1 entries, numbers into ImageList1.
using tabrend::kIconFolder;
using tabrend::kIconMissingPath;
using tabrend::kIconWorkbookFile;
using tabrend::SourceIcon;

class form1 : public QMainWindow, private MainView {
  Q_OBJECT

 public:
  // Builds the window and runs its start-up. files says where EXCEL.txt and set.txt live and
  // which folder holds the help file.
  explicit form1(StateFiles files = StateFiles::ForThisProgram(), QWidget* parent = nullptr);

  const StateFiles& Files() const { return files_; }

  // The engine behind the commands, with its state (sheet choices, output folders).
  desktop::Module1& Engine() { return module1_; }

  // True while a command of the engine is under way.
  bool Busy() const { return commandRunning_; }

  // Command buttons, left to right, and the arrows beside the source list.
  QToolButton* Command1;  // Add Excel
  QToolButton* Command5;  // Add Folder
  QToolButton* Command2;  // Remove File
  QToolButton* Command6;  // Separate
  QToolButton* Command8;  // Help
  QToolButton* Command7;  // HomePage
  QToolButton* Command9;  // Exit
  QToolButton* Command3;  // moves the selected source up
  QToolButton* Command4;  // moves the selected source down
  QToolButton* CommandCancel;  // "Cancel": stands in Separate's place while a split runs

  ReportList* ListView1;  // sources: full paths, small icon per path kind
  ReportList* ListView2;  // workbooks of the selected source, ticked to be split
  ReportList* ListView3;  // sheets of the selected workbook, ticked to be split, renamable
  QLabel* Label2;         // "Separate Option:"
  QComboBox* Combo1;      // naming mode
  QLabel* Label1;         // status line, empty at rest
  QProgressBar* ProgressBar1;
  ImageList ImageList1;   // ListView1's icons: workbook file, folder, missing path

  QMenu* EE;           // "File"
  QAction* AddExcel;
  QAction* AddFolder;
  QMenu* FF;           // "Edit"
  QAction* RemoveItem;
  QAction* RemoveAll;
  QMenu* Actions;      // "Actions"
  QAction* Separate;
  QMenu* SettingsMenu;  // "Settings"
  QAction* Settings;      // opens the settings dialog
  QAction* SkipHidden;    // "Skip hidden sheets", checkable
  QAction* SkipBlank;     // "Skip blank sheets", checkable
  QMenu* SaveAs;          // "Save as": one item per output format, one of them checked
  // The item of format, named and labelled by its row of the formats table.
  QAction* SaveAsFormat(tabrend::OutputFormat format) const;
  QMenu* Help;         // "Help"
  QAction* Help1;
  QAction* HomePage;
  QAction* About;
  QAction* Quit;        // Ctrl+Q, as Exit
  QAction* RemoveByKey;  // Delete in the source list, as Remove File

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::vector<QAction*> SaveAsFormats;  // in the order of kOutputFormats
  void CreateControls();
  void CreateMenus();
  void ConnectEvents();
  // Puts the controls at their places for the client area's size: the original places at the
  // original size; beyond it the lists, the path column and the status line grow.
  void PlaceControls();

  void Form_Load();
  void Form_Unload();

  void Command6_Click();
  void Separate_Click();
  void Command1_Click();
  void AddExcel_Click();
  void Command5_Click();
  void AddFolder_Click();
  void Command2_Click();
  void RemoveItem_Click();
  void RemoveAll_Click();
  void Command3_Click();
  void Command4_Click();
  void ListView1_ItemClick();
  void ListView2_ItemClick();
  void Settings_Click();
  // The Settings menu's choices: read from options.txt at start-up into the menu and the
  // engine; a change goes to the engine and the file at once.
  void ReadOptions();
  void ApplyOptions();  // the menu's checks into the engine
  void Options_Click();
  void Command8_Click();
  void Help1_Click();
  void Command7_Click();
  void HomePage_Click();
  void About_Click();
  void Command9_Click();

  // Runs one of the engine's commands, here or on a thread of its own, and returns when it
  // has ended. A failure no trap of the engine caught is shown to the person, and the window
  // goes on. A command asked for while another runs is dropped.
  enum class Where { kHere, kInBackground };
  void RunCommand(void (desktop::Module1::*command)(), Where where);
  void RunCommand(const std::function<void()>& command, Where where);
  void RunToItsEnd(const std::function<void()>& command, Where where);
  // Cancel and Escape during Separate: the split stops after the sheet being written.
  void CancelSeparate();
  // The look of a command under way: controls greyed, and the bar moving unless Separate
  // drives it. Shown once the wait pointer has been on for a moment.
  void ShowBusy(bool busy);
  // The choosers' start folders: read from folders.txt at start-up, written back at shutdown.
  QString RememberedFolder(const QString& key) const;
  void RememberFolder(const QString& key, const QString& folder);
  // Runs call on the window's thread: at once when already there, else carried over and
  // waited for, with what it throws thrown again here.
  template <class Call>
  auto OnWindowThread(Call call) const;

  // MainView over the widgets.
  ReportList* List(ListId list) const;
  int Count(ListId list) const override;
  std::string Text(ListId list, int i) const override;
  int Icon(ListId list, int i) const override;
  bool Checked(ListId list, int i) const override;
  void SetChecked(ListId list, int i, bool ticked) override;
  int SelectedIndex(ListId list) const override;
  void Add(ListId list, const std::string& text, int icon) override;
  void Insert(ListId list, int i, const std::string& text, int icon) override;
  void Remove(ListId list, int i) override;
  void Clear(ListId list) override;
  void Select(ListId list, int i) override;
  void ScrollIntoView(ListId list, int i) override;
  void Repaint(ListId list) override;
  int NamingMode() const override;
  void SetProgressMax(int max) override;
  void SetProgressValue(int value) override;
  void SetStatus(const std::string& text) override;
  void SetProgressBusy(bool busy) override;
  void RepaintNow() override;
  void SetWaitPointer(bool wait) override;
  void ShowMessage(const std::string& text, tabrend::MessageIcon icon) override;
  void ShowSummary(const std::string& text, tabrend::MessageIcon icon) override;
  std::optional<std::string> AskWorkbookFile(const std::string& title) override;
  std::optional<std::string> AskFolder(const std::string& title) override;
  void OpenFolder(const std::string& path) override;
  void TrappedError(const std::string& command, const std::string& description) override;

  StateFiles files_;
  desktop::Module1 module1_{*this};
  bool waitPointer_ = false;
  bool commandRunning_ = false;   // a command of the engine is under way
  bool inBackground_ = false;     // ... on a thread of its own
  bool separateRunning_ = false;  // ... and it is Separate
  bool closeAfterCommand_ = false;  // the person closed the window meanwhile
  bool commandsEnabled_ = true;
  bool progressBusy_ = false;     // the engine has the bar moving
  QTimer busyDelay_;              // the busy look comes only for commands that take a while
  QList<QAction*> ownActions_;    // held back while a command runs
  QStringList folders_;           // the lines of folders.txt
  bool foldersChanged_ = false;
  void SetCommandsEnabled(bool enabled);
};

}  // namespace tabrend::gui
