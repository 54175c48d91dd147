// form1: Tabrend's main window. It holds the source list, the workbooks of the selected source,
// the sheets of the selected workbook, the naming mode, a status line, a progress bar, the
// command buttons and the menus. Start-up restores the source list from EXCEL.txt; shutdown
// (close box or Exit) writes it back unless set.txt says "0".
//
// Every control's objectName is its name below, so tests and people find them.
#pragma once

#include "gui/ReportList.h"
#include "gui/StateFiles.h"

#include <QMainWindow>

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
enum SourceIcon : int { kIconWorkbookFile = 1, kIconFolder = 2, kIconMissingPath = 3 };

class form1 : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the window and runs its start-up. files says where EXCEL.txt and set.txt live and
  // which folder holds the help file.
  explicit form1(StateFiles files = StateFiles::ForThisProgram(), QWidget* parent = nullptr);

  const StateFiles& Files() const { return files_; }

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
  QAction* Settings;   // a menu-bar command of its own
  QMenu* Help;         // "Help"
  QAction* Help1;
  QAction* HomePage;
  QAction* About;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
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
  void Command8_Click();
  void Help1_Click();
  void Command7_Click();
  void HomePage_Click();
  void About_Click();
  void Command9_Click();

  // The source-list, browsing and Separate commands arrive with the split engine; until then
  // their events end here and change nothing.
  void OnSeparateRequested();
  void OnAddExcelRequested();
  void OnAddFolderRequested();
  void OnRemoveItemRequested();
  void OnRemoveAllRequested();
  void OnMoveUpRequested();
  void OnMoveDownRequested();
  void OnSourceClicked();
  void OnWorkbookClicked();

  StateFiles files_;
};

}  // namespace tabrend::gui
