// form1: Tabrend's main window. It holds the source list, the workbooks of the selected source,
// the sheets of the selected workbook, the naming mode, a status line, a progress bar, the
// command buttons and the menus. Start-up restores the source list from EXCEL.txt; shutdown
// (close box or Exit) writes it back unless set.txt says "0".
//
// Every control's objectName is its name below, so tests and people find them.
//
// The commands are the engine's (engine/Module1.h): the window is its MainView, and each
// event handler only hands the event to the engine.
#pragma once

#include "engine/MainView.h"
#include "engine/Module1.h"
#include "gui/ReportList.h"
#include "gui/StateFiles.h"

#include <QMainWindow>

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

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  std::vector<QAction*> SaveAsFormats;  // in the order of kOutputFormats
  void CreateControls();
  void CreateMenus();
  void ConnectEvents();

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

  // Runs one of the engine's commands. A failure no trap of the engine caught is shown to
  // the person, and the window goes on.
  void RunCommand(void (desktop::Module1::*command)());

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
  void RepaintNow() override;
  void SetWaitPointer(bool wait) override;
  void ShowMessage(const std::string& text, tabrend::MessageIcon icon) override;
  std::optional<std::string> AskWorkbookFile(const std::string& title) override;
  std::optional<std::string> AskFolder(const std::string& title) override;
  void OpenFolder(const std::string& path) override;
  void TrappedError(const std::string& command, const std::string& description) override;

  StateFiles files_;
  desktop::Module1 module1_{*this};
  bool waitPointer_ = false;
  bool commandRunning_ = false;   // a command of the engine is under way
  bool commandsEnabled_ = true;
  void SetCommandsEnabled(bool enabled);
};

}  // namespace tabrend::gui
