// form1: controls and menus, start-up and shutdown, and the window's commands.
#include "gui/form1.h"

#include "dialogs/Prompts.h"
#include "engine/EngineState.h"
#include "engine/PathKind.h"
#include "gui/Dialog1.h"
#include "gui/Links.h"
#include "gui/Setting.h"
#include "gui/Fonts.h"
#include "gui/Twips.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QProgressBar>
#include <QToolButton>

#include <utility>

namespace tabrend::gui {

namespace {

// Client area of the window, in twips.
constexpr int kClientWidth = 8832;
constexpr int kClientHeight = 7992;
// Pictures on the command buttons and in the lists, in twips (32 and 16 pixels at 96 dpi).
constexpr int kButtonPicture = 480;
constexpr int kArrowPicture = 240;
constexpr int kListPicture = 240;

QToolButton* MakeButton(QWidget* parent, const char* name, const QString& caption, const char* picture) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setText(caption);
  button->setIcon(QIcon(QStringLiteral(":/icons/%1.png").arg(QLatin1String(picture))));
  button->setToolButtonStyle(caption.isEmpty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextUnderIcon);
  const int side = TwipsWide(caption.isEmpty() ? kArrowPicture : kButtonPicture);
  button->setIconSize(QSize(side, side));
  button->setFocusPolicy(Qt::TabFocus);
  return button;
}

ReportList* MakeList(QWidget* parent, const char* name) {
  auto* list = new ReportList(parent);
  list->setObjectName(QLatin1String(name));
  const int side = TwipsWide(kListPicture);
  list->setIconSize(QSize(side, side));
  return list;
}

QAction* MakeAction(QMenu* menu, const char* name, const QString& caption) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(QLatin1String(name));
  return action;
}

}  // namespace

form1::form1(StateFiles files, QWidget* parent) : QMainWindow(parent), files_(std::move(files)) {
  setObjectName(QStringLiteral("form1"));
  setWindowTitle(QStringLiteral("Tabrend"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/tabrend.png")));
  // A fixed single border: no maximize button, no resizing.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  CreateControls();
  CreateMenus();
  ConnectEvents();
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  Form_Load();
}

void form1::CreateControls() {
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  client->setFixedSize(TwipsSize(kClientWidth, kClientHeight));
  client->setFont(ControlFont());
  setCentralWidget(client);

  Command1 = MakeButton(client, "Command1", QStringLiteral("Add Excel"), "add_excel");
  Command5 = MakeButton(client, "Command5", QStringLiteral("Add Folder"), "add_folder");
  Command2 = MakeButton(client, "Command2", QStringLiteral("Remove File"), "remove_file");
  Command6 = MakeButton(client, "Command6", QStringLiteral("Separate"), "separate");
  Command8 = MakeButton(client, "Command8", QStringLiteral("Help"), "help");
  Command7 = MakeButton(client, "Command7", QStringLiteral("HomePage"), "homepage");
  Command9 = MakeButton(client, "Command9", QStringLiteral("Exit"), "exit");
  ListView1 = MakeList(client, "ListView1");
  Command3 = MakeButton(client, "Command3", QString(), "arrow_up");
  Command3->setToolTip(QStringLiteral("Move the selected source up"));
  Command4 = MakeButton(client, "Command4", QString(), "arrow_down");
  Command4->setToolTip(QStringLiteral("Move the selected source down"));

  Label2 = new QLabel(QStringLiteral("Separate Option:"), client);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  Combo1 = new QComboBox(client);
  Combo1->setObjectName(QStringLiteral("Combo1"));
  Combo1->setEditable(false);
  ListView2 = MakeList(client, "ListView2");
  ListView2->SetCheckBoxes(true);
  ListView3 = MakeList(client, "ListView3");
  ListView3->SetCheckBoxes(true);
  // The name typed over a sheet is the name its output gets.
  ListView3->SetLabelEdit(true);
  Label1 = new QLabel(client);
  Label1->setObjectName(QStringLiteral("Label1"));
  ProgressBar1 = new QProgressBar(client);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  PlaceTwips(Command1, 120, 0, 1210, 975);
  PlaceTwips(Command5, 1440, 0, 1210, 975);
  PlaceTwips(Command2, 2760, 0, 1330, 975);
  PlaceTwips(Command6, 4320, 0, 1090, 975);
  PlaceTwips(Command8, 5520, 0, 970, 975);
  PlaceTwips(Command7, 6600, 0, 1095, 975);
  PlaceTwips(Command9, 7800, 0, 970, 975);
  PlaceTwips(ListView1, 120, 1080, 8175, 2655);
  PlaceTwips(Command3, 8400, 2040, 370, 610);
  PlaceTwips(Command4, 8400, 2880, 370, 610);
  PlaceTwips(Label2, 120, 3840, 1575, 255);
  PlaceTwips(Combo1, 1800, 3840, 6495, 330);
  PlaceTwips(ListView2, 120, 4200, 3975, 2895);
  PlaceTwips(ListView3, 4200, 4200, 4095, 2895);
  PlaceTwips(Label1, 120, 7200, 6975, 255);
  PlaceTwips(ProgressBar1, 120, 7440, 8535, 255);

  QWidget* tabOrder[] = {Command1, Command5,  Command2,  Command6, Command8, Command7, Command9,
                         ListView1, Combo1,   ListView2, ListView3, Command3, Command4};
  for (std::size_t i = 1; i < std::size(tabOrder); ++i) QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);

  const int side = TwipsWide(kListPicture);
  for (const char* picture : {"list_workbook", "list_folder", "list_missing"}) {
    QIcon image;
    image.addFile(QStringLiteral(":/icons/%1.png").arg(QLatin1String(picture)), QSize(side, side));
    ImageList1.Add(image);
  }
}

void form1::CreateMenus() {
  // Captions carry no "&": no menu or item has a shortcut key.
  EE = menuBar()->addMenu(QStringLiteral("File"));
  EE->setObjectName(QStringLiteral("EE"));
  AddExcel = MakeAction(EE, "AddExcel", QStringLiteral("Add Excel"));
  AddFolder = MakeAction(EE, "AddFolder", QStringLiteral("Add Folder"));
  FF = menuBar()->addMenu(QStringLiteral("Edit"));
  FF->setObjectName(QStringLiteral("FF"));
  RemoveItem = MakeAction(FF, "RemoveItem", QStringLiteral("Remove Item"));
  RemoveAll = MakeAction(FF, "RemoveAll", QStringLiteral("Remove All Items"));
  Actions = menuBar()->addMenu(QStringLiteral("Actions"));
  Actions->setObjectName(QStringLiteral("Actions"));
  Separate = MakeAction(Actions, "Separate", QStringLiteral("Separate"));
  Settings = menuBar()->addAction(QStringLiteral("Settings"));
  Settings->setObjectName(QStringLiteral("Settings"));
  Help = menuBar()->addMenu(QStringLiteral("Help"));
  Help->setObjectName(QStringLiteral("Help"));
  Help1 = MakeAction(Help, "Help1", QStringLiteral("Help"));
  HomePage = MakeAction(Help, "HomePage", QStringLiteral("HomePage"));
  About = MakeAction(Help, "About", QStringLiteral("About"));
}

void form1::ConnectEvents() {
  connect(Command1, &QToolButton::clicked, this, &form1::Command1_Click);
  connect(Command5, &QToolButton::clicked, this, &form1::Command5_Click);
  connect(Command2, &QToolButton::clicked, this, &form1::Command2_Click);
  connect(Command6, &QToolButton::clicked, this, &form1::Command6_Click);
  connect(Command8, &QToolButton::clicked, this, &form1::Command8_Click);
  connect(Command7, &QToolButton::clicked, this, &form1::Command7_Click);
  connect(Command9, &QToolButton::clicked, this, &form1::Command9_Click);
  connect(Command3, &QToolButton::clicked, this, &form1::Command3_Click);
  connect(Command4, &QToolButton::clicked, this, &form1::Command4_Click);
  connect(ListView1, &ReportList::ItemClick, this, &form1::ListView1_ItemClick);
  connect(ListView2, &ReportList::ItemClick, this, &form1::ListView2_ItemClick);
  connect(AddExcel, &QAction::triggered, this, &form1::AddExcel_Click);
  connect(AddFolder, &QAction::triggered, this, &form1::AddFolder_Click);
  connect(RemoveItem, &QAction::triggered, this, &form1::RemoveItem_Click);
  connect(RemoveAll, &QAction::triggered, this, &form1::RemoveAll_Click);
  connect(Separate, &QAction::triggered, this, &form1::Separate_Click);
  connect(Settings, &QAction::triggered, this, &form1::Settings_Click);
  connect(Help1, &QAction::triggered, this, &form1::Help1_Click);
  connect(HomePage, &QAction::triggered, this, &form1::HomePage_Click);
  connect(About, &QAction::triggered, this, &form1::About_Click);
}

void form1::Form_Load() {
  ListView1->SetSmallIcons(&ImageList1);
  ListView1->SetColumnHeader(QStringLiteral("Please Select the Excel File or Folder to Separate"),
                             TwipsWide(7800));
  ListView2->SetColumnHeader(QStringLiteral("WorkBooks"), TwipsWide(3600));
  ListView3->SetColumnHeader(QStringLiteral("WorkSheets"), TwipsWide(3700));

  for (const QString& path : ReadLines(files_.SourceListPath())) {
    // A path that no longer exists stays in the list, marked as missing.
    int icon = kIconMissingPath;
    switch (GetPathKind(QFile::encodeName(path).toStdString())) {
      case kPathFile: icon = kIconWorkbookFile; break;
      case kPathFolder: icon = kIconFolder; break;
      default: break;
    }
    ListView1->Add(path, icon);
  }

  for (const char* mode : kNamingModes) Combo1->addItem(QString::fromLatin1(mode));
  Combo1->setCurrentIndex(0);

  ForceSheetReload = true;
}

void form1::Form_Unload() {
  const std::optional<QString> setting = ReadFirstLine(files_.SettingsPath());
  if (setting && *setting == QLatin1String("0")) return;
  QStringList sources;
  for (int i = 1; i <= ListView1->Count(); ++i) sources << ListView1->Text(i);
  // The window closes regardless; a list that cannot be saved is only worth a line on stderr.
  if (!WriteLines(files_.SourceListPath(), sources)) {
    qWarning("Tabrend: the source list could not be saved to %s", qPrintable(files_.SourceListPath()));
  }
}

void form1::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

void form1::Command6_Click() { OnSeparateRequested(); }
void form1::Separate_Click() { Command6_Click(); }
void form1::Command1_Click() { OnAddExcelRequested(); }
void form1::AddExcel_Click() { Command1_Click(); }
void form1::Command5_Click() { OnAddFolderRequested(); }
void form1::AddFolder_Click() { Command5_Click(); }
void form1::Command2_Click() { OnRemoveItemRequested(); }
void form1::RemoveItem_Click() { Command2_Click(); }
void form1::RemoveAll_Click() { OnRemoveAllRequested(); }
void form1::Command3_Click() { OnMoveUpRequested(); }
void form1::Command4_Click() { OnMoveDownRequested(); }
void form1::ListView1_ItemClick() { OnSourceClicked(); }
void form1::ListView2_ItemClick() { OnWorkbookClicked(); }

void form1::OnSeparateRequested() {}
void form1::OnAddExcelRequested() {}
void form1::OnAddFolderRequested() {}
void form1::OnRemoveItemRequested() {}
void form1::OnRemoveAllRequested() {}
void form1::OnMoveUpRequested() {}
void form1::OnMoveDownRequested() {}
void form1::OnSourceClicked() {}
void form1::OnWorkbookClicked() {}

void form1::Settings_Click() {
  Setting dialog(files_, this);
  prompts::RunDialog(dialog);
}

void form1::Command8_Click() {
  const QString folder = files_.ProgramFolder() + u'/';
  const QString compiled = folder + QLatin1String(kCompiledHelpFile);
  prompts::OpenWithShell(QFileInfo::exists(compiled) ? compiled : folder + QLatin1String(kHelpManual));
}

void form1::Help1_Click() { Command8_Click(); }

void form1::Command7_Click() { prompts::OpenWithShell(QString::fromUtf8(kHomePage)); }

void form1::HomePage_Click() { Command7_Click(); }

void form1::About_Click() {
  Dialog1 dialog(this);
  prompts::RunDialog(dialog);
}

void form1::Command9_Click() { close(); }

}  // namespace tabrend::gui
