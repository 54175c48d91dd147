// form1: controls and menus, start-up and shutdown, and the window's commands.
#include "gui/form1.h"

#include "dialogs/CCommonDialogs.h"
#include "dialogs/Prompts.h"
#include "engine/PathKind.h"
#include "gui/Dialog1.h"
#include "gui/Links.h"
#include "gui/Setting.h"
#include "gui/Fonts.h"
#include "gui/Twips.h"

#include <QCloseEvent>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QProgressBar>
#include <QToolButton>

#include <algorithm>
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
  SettingsMenu = menuBar()->addMenu(QStringLiteral("Settings"));
  SettingsMenu->setObjectName(QStringLiteral("SettingsMenu"));
  Settings = MakeAction(SettingsMenu, "Settings", QStringLiteral("Settings..."));
  SettingsMenu->addSeparator();
  SkipHidden = MakeAction(SettingsMenu, "SkipHidden", QStringLiteral("Skip hidden sheets"));
  SkipHidden->setCheckable(true);
  SkipBlank = MakeAction(SettingsMenu, "SkipBlank", QStringLiteral("Skip blank sheets"));
  SkipBlank->setCheckable(true);
  SaveAs = SettingsMenu->addMenu(QStringLiteral("Save as"));
  SaveAs->setObjectName(QStringLiteral("SaveAs"));
  auto* formats = new QActionGroup(SaveAs);
  formats->setExclusive(true);
  for (const OutputFormatRow& row : kOutputFormats) {
    QAction* format = MakeAction(SaveAs, std::string(row.menuName).c_str(), QString::fromUtf8(row.menuLabel));
    format->setCheckable(true);
    formats->addAction(format);
    SaveAsFormats.push_back(format);
  }
  SaveAsFormat(OutputFormat::kWorkbook)->setChecked(true);
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
  for (QAction* option : {SkipHidden, SkipBlank}) connect(option, &QAction::triggered, this, &form1::Options_Click);
  for (QAction* option : SaveAsFormats) connect(option, &QAction::triggered, this, &form1::Options_Click);
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
    switch (GetPathKind(BytesOfText(path).toStdString())) {
      case kPathFile: icon = kIconWorkbookFile; break;
      case kPathFolder: icon = kIconFolder; break;
      default: break;
    }
    ListView1->Add(path, icon);
  }

  for (const char* mode : kNamingModes) Combo1->addItem(QString::fromLatin1(mode));
  Combo1->setCurrentIndex(0);

  ReadOptions();
  module1_.ForceSheetReload = true;
}

void form1::ReadOptions() {
  // Lines this version does not know (a later one's) are passed over.
  for (const QString& line : ReadLines(files_.OptionsPath())) {
    if (line == QLatin1String("/hidden=0")) SkipHidden->setChecked(true);
    else if (line == QLatin1String("/hidden=1")) SkipHidden->setChecked(false);
    else if (line == QLatin1String("/blank=0")) SkipBlank->setChecked(true);
    else if (line == QLatin1String("/blank=1")) SkipBlank->setChecked(false);
    else if (line.startsWith(QLatin1String("/format="))) {
      if (const auto format = FormatNamed(line.mid(8).toStdString())) SaveAsFormat(*format)->setChecked(true);
    }
  }
  ApplyOptions();
}

QAction* form1::SaveAsFormat(OutputFormat format) const {
  for (std::size_t i = 0; i < kOutputFormats.size(); ++i)
    if (kOutputFormats[i].format == format) return SaveAsFormats[i];
  return SaveAsFormats.front();
}

void form1::ApplyOptions() {
  module1_.SkipHidden = SkipHidden->isChecked();
  module1_.SkipBlank = SkipBlank->isChecked();
  for (std::size_t i = 0; i < kOutputFormats.size(); ++i)
    if (SaveAsFormats[i]->isChecked()) module1_.Format = kOutputFormats[i].format;
}

void form1::Options_Click() {
  ApplyOptions();
  const QStringList lines{SkipHidden->isChecked() ? QStringLiteral("/hidden=0") : QStringLiteral("/hidden=1"),
                          SkipBlank->isChecked() ? QStringLiteral("/blank=0") : QStringLiteral("/blank=1"),
                          QStringLiteral("/format=") + QString::fromUtf8(FormatRow(module1_.Format).word)};
  if (!WriteLines(files_.OptionsPath(), lines))
    qWarning("Tabrend: the settings could not be saved to %s", qPrintable(files_.OptionsPath()));
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

// The commands of the engine. The menu items do what their buttons do.
void form1::Command6_Click() { RunCommand(&desktop::Module1::Command6_Click); }
void form1::Separate_Click() { Command6_Click(); }
void form1::Command1_Click() { RunCommand(&desktop::Module1::Command1_Click); }
void form1::AddExcel_Click() { Command1_Click(); }
void form1::Command5_Click() { RunCommand(&desktop::Module1::Command5_Click); }
void form1::AddFolder_Click() { Command5_Click(); }
void form1::Command2_Click() { RunCommand(&desktop::Module1::Command2_Click); }
void form1::RemoveItem_Click() { Command2_Click(); }
void form1::RemoveAll_Click() { RunCommand(&desktop::Module1::RemoveAll_Click); }
void form1::Command3_Click() { RunCommand(&desktop::Module1::Command3_Click); }
void form1::Command4_Click() { RunCommand(&desktop::Module1::Command4_Click); }
void form1::ListView1_ItemClick() { RunCommand(&desktop::Module1::ListView1_ItemClick); }
void form1::ListView2_ItemClick() { RunCommand(&desktop::Module1::ListView2_ItemClick); }

void form1::RunCommand(void (desktop::Module1::*command)()) {
  // A sheet name still being typed counts: the buttons take no focus when clicked, so the
  // editor would otherwise stay open and the command see the old name.
  QWidget* focused = QApplication::focusWidget();
  if (focused != nullptr && ListView3->viewport()->isAncestorOf(focused)) ListView3->setFocus();
  // A command started while another runs (a key press answered inside a long one) is dropped.
  if (commandRunning_) return;
  commandRunning_ = true;
  struct Finished {
    form1& window;
    ~Finished() {
      window.commandRunning_ = false;
      window.SetCommandsEnabled(true);
    }
  } finished{*this};
  try {
    (module1_.*command)();
  } catch (const automation::AutomationError& failure) {
    // Nothing may leave an event handler into Qt's event loop.
    SetWaitPointer(false);
    prompts::ShowMessage(this, QString::fromStdString(failure.Description()), prompts::MessageIcon::Error);
  }
}

// --- MainView ------------------------------------------------------------------------------

ReportList* form1::List(ListId list) const {
  switch (list) {
    case ListId::kSources: return ListView1;
    case ListId::kWorkbooks: return ListView2;
    case ListId::kSheets: break;
  }
  return ListView3;
}

int form1::Count(ListId list) const { return List(list)->Count(); }
// The lists show file-system names; their bytes go back to the engine unchanged.
std::string form1::Text(ListId list, int i) const { return BytesOfText(List(list)->Text(i)).toStdString(); }
int form1::Icon(ListId list, int i) const { return List(list)->Icon(i); }
bool form1::Checked(ListId list, int i) const { return List(list)->Checked(i); }
void form1::SetChecked(ListId list, int i, bool ticked) { List(list)->SetChecked(i, ticked); }
int form1::SelectedIndex(ListId list) const { return List(list)->SelectedIndex(); }

void form1::Add(ListId list, const std::string& text, int icon) {
  List(list)->Add(TextOfBytes(QByteArray::fromStdString(text)), icon);
}

void form1::Insert(ListId list, int i, const std::string& text, int icon) {
  List(list)->Insert(i, TextOfBytes(QByteArray::fromStdString(text)), icon);
}

void form1::Remove(ListId list, int i) { List(list)->Remove(i); }
void form1::Clear(ListId list) { List(list)->Clear(); }
void form1::Select(ListId list, int i) { List(list)->Select(i); }
void form1::ScrollIntoView(ListId list, int i) { List(list)->ScrollIntoView(i); }
void form1::Repaint(ListId list) { List(list)->Repaint(); }

int form1::NamingMode() const { return Combo1->currentIndex(); }

void form1::SetProgressMax(int max) {
  // A bar whose maximum equals its minimum shows a busy animation, which would stay on after
  // a workbook without worksheets; such a bar stays empty instead.
  ProgressBar1->setRange(0, std::max(max, 1));
}

void form1::SetProgressValue(int value) { ProgressBar1->setValue(value); }

void form1::SetStatus(const std::string& text) { Label1->setText(QString::fromStdString(text)); }

void form1::RepaintNow() {
  // While a long command runs, everything that changes the sources or starts a command is
  // disabled, and the person's input is handled at once: clicks on disabled controls are
  // dropped instead of queued for when the command ends. Closing the window still works.
  if (commandRunning_) SetCommandsEnabled(false);
  Label1->repaint();
  ProgressBar1->repaint();
  QApplication::processEvents();
}

void form1::SetCommandsEnabled(bool enabled) {
  if (commandsEnabled_ == enabled) return;
  commandsEnabled_ = enabled;
  for (QWidget* control : centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (control != Label1 && control != ProgressBar1) control->setEnabled(enabled);
  menuBar()->setEnabled(enabled);
}

void form1::SetWaitPointer(bool wait) {
  if (wait == waitPointer_) return;
  waitPointer_ = wait;
  if (wait) {
    setCursor(Qt::WaitCursor);
  } else {
    unsetCursor();
  }
}

void form1::ShowMessage(const std::string& text, tabrend::MessageIcon icon) {
  prompts::MessageIcon shown = prompts::MessageIcon::None;
  switch (icon) {
    case tabrend::MessageIcon::kNone: break;
    case tabrend::MessageIcon::kInformation: shown = prompts::MessageIcon::Information; break;
    case tabrend::MessageIcon::kError: shown = prompts::MessageIcon::Error; break;
  }
  prompts::ShowMessage(this, QString::fromStdString(text), shown);
}

std::optional<std::string> form1::AskWorkbookFile(const std::string& title) {
  dialogs::CCommonDialogs dialog;
  dialog.Init(this);
  dialog.Title(QString::fromStdString(title));
  // Set as the command always did; ShowOpen offers its own fixed list of file types.
  dialog.Filter(QStringLiteral("Excel File(*.xls;*.xlsx)") + QChar(0) + QStringLiteral("*.xls;*.xlsx") + QChar(0));
  if (!dialog.ShowOpen()) return std::nullopt;
  return dialog.FileName().toStdString();
}

std::optional<std::string> form1::AskFolder(const std::string& title) {
  dialogs::CCommonDialogs dialog;
  dialog.Init(this);
  dialog.Title(QString::fromStdString(title));
  if (!dialog.ShowFolder()) return std::nullopt;
  return dialog.Path().toStdString();
}

void form1::OpenFolder(const std::string& path) { prompts::OpenWithShell(QString::fromStdString(path)); }

void form1::TrappedError(const std::string& command, const std::string& description) {
  qWarning("Tabrend: %s: %s", command.c_str(), description.c_str());
}

void form1::Settings_Click() {
  Setting dialog(files_, this);
  prompts::RunDialog(dialog);
}

void form1::Command8_Click() { prompts::OpenWithShell(HelpFile(files_.ProgramFolder())); }

void form1::Help1_Click() { Command8_Click(); }

void form1::Command7_Click() { prompts::OpenWithShell(QString::fromUtf8(kHomePage)); }

void form1::HomePage_Click() { Command7_Click(); }

void form1::About_Click() {
  Dialog1 dialog(this);
  prompts::RunDialog(dialog);
}

void form1::Command9_Click() { close(); }

}  // namespace tabrend::gui
