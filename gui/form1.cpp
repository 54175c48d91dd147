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

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QThread>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <type_traits>
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
// How long a command runs before the window looks busy: quicker ones would only flicker.
constexpr int kBusyDelayMs = 200;

constexpr char kStopQuestion[] =
    "A split is under way. Stop it after the sheet being written and close Tabrend?";
constexpr char kStoppingStatus[] = "Stopping after the sheet being written...";
// Keys of folders.txt.
constexpr char kSourcesFolderKey[] = "sources";
constexpr char kOutputFolderKey[] = "output";

// The local paths of dropped URLs as the file system spells them (bytes kept), without a
// trailing "/".
QList<QByteArray> DroppedPaths(const QMimeData* data) {
  QList<QByteArray> paths;
  if (data == nullptr || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    while (path.size() > 1 && path.endsWith('/')) path.chop(1);
    if (!path.isEmpty()) paths << path;
  }
  return paths;
}

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
  setAcceptDrops(true);
  CreateControls();
  CreateMenus();
  ConnectEvents();
  busyDelay_.setSingleShot(true);
  busyDelay_.setInterval(kBusyDelayMs);
  connect(&busyDelay_, &QTimer::timeout, this, [this] { ShowBusy(true); });
  Form_Load();
  // The window opens at the original size, and grows from there.
  resize(minimumSizeHint());
}

void form1::CreateControls() {
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  client->setMinimumSize(TwipsSize(kClientWidth, kClientHeight));
  client->installEventFilter(this);  // its resizing moves the controls
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
  CommandCancel = MakeButton(client, "CommandCancel", QStringLiteral("Cancel"), "exit");
  CommandCancel->setToolTip(QStringLiteral("Stop the split after the sheet being written (Esc)"));
  CommandCancel->setFocusPolicy(Qt::NoFocus);  // Escape does it from anywhere
  CommandCancel->hide();
  Command1->setToolTip(QStringLiteral("Add Excel (Ctrl+O)"));
  Command9->setToolTip(QStringLiteral("Exit (Ctrl+Q)"));

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

  PlaceControls();

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
  // The captions are the original ones, with a mnemonic each.
  EE = menuBar()->addMenu(QStringLiteral("&File"));
  EE->setObjectName(QStringLiteral("EE"));
  AddExcel = MakeAction(EE, "AddExcel", QStringLiteral("Add &Excel"));
  AddExcel->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  AddFolder = MakeAction(EE, "AddFolder", QStringLiteral("Add &Folder"));
  FF = menuBar()->addMenu(QStringLiteral("&Edit"));
  FF->setObjectName(QStringLiteral("FF"));
  RemoveItem = MakeAction(FF, "RemoveItem", QStringLiteral("&Remove Item"));
  RemoveAll = MakeAction(FF, "RemoveAll", QStringLiteral("Remove &All Items"));
  Actions = menuBar()->addMenu(QStringLiteral("&Actions"));
  Actions->setObjectName(QStringLiteral("Actions"));
  Separate = MakeAction(Actions, "Separate", QStringLiteral("&Separate"));
  SettingsMenu = menuBar()->addMenu(QStringLiteral("&Settings"));
  SettingsMenu->setObjectName(QStringLiteral("SettingsMenu"));
  Settings = MakeAction(SettingsMenu, "Settings", QStringLiteral("&Settings..."));
  SettingsMenu->addSeparator();
  SkipHidden = MakeAction(SettingsMenu, "SkipHidden", QStringLiteral("Skip &hidden sheets"));
  SkipHidden->setCheckable(true);
  SkipBlank = MakeAction(SettingsMenu, "SkipBlank", QStringLiteral("Skip &blank sheets"));
  SkipBlank->setCheckable(true);
  SaveAs = SettingsMenu->addMenu(QStringLiteral("Save &as"));
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
  Help = menuBar()->addMenu(QStringLiteral("&Help"));
  Help->setObjectName(QStringLiteral("Help"));
  Help1 = MakeAction(Help, "Help1", QStringLiteral("&Help"));
  HomePage = MakeAction(Help, "HomePage", QStringLiteral("Home&Page"));
  About = MakeAction(Help, "About", QStringLiteral("&About"));

  // Keys without a menu item of their own.
  Quit = new QAction(this);
  Quit->setObjectName(QStringLiteral("Quit"));
  Quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  addAction(Quit);
  RemoveByKey = new QAction(ListView1);
  RemoveByKey->setObjectName(QStringLiteral("RemoveByKey"));
  RemoveByKey->setShortcut(QKeySequence(Qt::Key_Delete));
  RemoveByKey->setShortcutContext(Qt::WidgetShortcut);
  ListView1->addAction(RemoveByKey);

  for (QMenu* menu : {EE, FF, Actions, SettingsMenu, SaveAs, Help})
    for (QAction* action : menu->actions())
      if (action->menu() == nullptr && !action->isSeparator()) ownActions_ << action;
  ownActions_ << RemoveByKey << ListView2->TickAll << ListView2->UntickAll << ListView3->TickAll << ListView3->UntickAll;
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
  connect(Quit, &QAction::triggered, this, &form1::Command9_Click);
  connect(RemoveByKey, &QAction::triggered, this, &form1::Command2_Click);
  connect(CommandCancel, &QToolButton::clicked, this, &form1::CancelSeparate);
  // Return presses the focused button, as Space does.
  for (QToolButton* button : {Command1, Command5, Command2, Command6, Command8, Command7, Command9, Command3,
                              Command4, CommandCancel})
    button->installEventFilter(this);
}

void form1::PlaceControls() {
  const QSize original = TwipsSize(kClientWidth, kClientHeight);
  const QSize now = centralWidget()->size();
  const int wider = std::max(0, now.width() - original.width());
  const int taller = std::max(0, now.height() - original.height());
  // The source list takes a third of the growth in height, the two lower lists the rest;
  // those two share the growth in width.
  const int sourcesTaller = taller / 3, listsTaller = taller - sourcesTaller;
  const int workbooksWider = wider / 2, sheetsWider = wider - workbooksWider;
  // left, top, width, height in twips, then what the control moves and grows by in pixels
  const auto place = [](QWidget* control, int left, int top, int width, int height, int right = 0, int down = 0,
                        int grow = 0, int growDown = 0) {
    PlaceTwips(control, left, top, width, height);
    const QRect at = control->geometry();
    control->setGeometry(at.x() + right, at.y() + down, at.width() + grow, at.height() + growDown);
  };
  place(Command1, 120, 0, 1210, 975);
  place(Command5, 1440, 0, 1210, 975);
  place(Command2, 2760, 0, 1330, 975);
  place(Command6, 4320, 0, 1090, 975);
  place(CommandCancel, 4320, 0, 1090, 975);
  place(Command8, 5520, 0, 970, 975);
  place(Command7, 6600, 0, 1095, 975);
  place(Command9, 7800, 0, 970, 975);
  place(ListView1, 120, 1080, 8175, 2655, 0, 0, wider, sourcesTaller);
  place(Command3, 8400, 2040, 370, 610, wider, sourcesTaller / 2);
  place(Command4, 8400, 2880, 370, 610, wider, sourcesTaller / 2);
  place(Label2, 120, 3840, 1575, 255, 0, sourcesTaller);
  place(Combo1, 1800, 3840, 6495, 330, 0, sourcesTaller, wider);
  place(ListView2, 120, 4200, 3975, 2895, 0, sourcesTaller, workbooksWider, listsTaller);
  place(ListView3, 4200, 4200, 4095, 2895, workbooksWider, sourcesTaller, sheetsWider, listsTaller);
  place(Label1, 120, 7200, 6975, 255, 0, taller, wider);
  place(ProgressBar1, 120, 7440, 8535, 255, 0, taller, wider);
  // The columns grow with their lists (none is set before the start-up gives the headers).
  if (ListView1->columnCount() > 0 && !ListView1->headerItem()->text(0).isEmpty()) {
    ListView1->header()->resizeSection(0, TwipsWide(7800) + wider);
    ListView2->header()->resizeSection(0, TwipsWide(3600) + workbooksWider);
    ListView3->header()->resizeSection(0, TwipsWide(3700) + sheetsWider);
  }
}

void form1::Form_Load() {
  ListView1->SetSmallIcons(&ImageList1);
  ListView1->SetColumnHeader(QStringLiteral("Please Select the Excel File or Folder to Separate"),
                             TwipsWide(7800));
  ListView2->SetColumnHeader(QStringLiteral("WorkBooks"), TwipsWide(3600));
  ListView3->SetColumnHeader(QStringLiteral("WorkSheets"), TwipsWide(3700));
  PlaceControls();

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
  folders_ = ReadLines(files_.FoldersPath());
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
  // The choosers' folders are kept whatever set.txt says of the source list.
  if (foldersChanged_ && !WriteLines(files_.FoldersPath(), folders_))
    qWarning("Tabrend: the folders could not be saved to %s", qPrintable(files_.FoldersPath()));
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
  if (commandRunning_) {
    // The window stays until the command has ended: a split is stopped first, when the
    // person says so; anything else ends by itself.
    event->ignore();
    if (separateRunning_ && !closeAfterCommand_) {
      if (!prompts::AskYesNo(this, QString::fromLatin1(kStopQuestion))) return;
      CancelSeparate();
    }
    closeAfterCommand_ = true;
    return;
  }
  Form_Unload();
  event->accept();
}

void form1::dragEnterEvent(QDragEnterEvent* event) {
  if (!commandRunning_ && !DroppedPaths(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void form1::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths;
  for (const QByteArray& path : DroppedPaths(event->mimeData())) paths.push_back(path.toStdString());
  if (paths.empty()) return;
  event->acceptProposedAction();
  RunCommand([this, paths] { module1_.AddSources(paths); }, Where::kInBackground);
}

bool form1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == centralWidget()) {
    if (event->type() == QEvent::Resize) PlaceControls();
    return false;
  }
  const QEvent::Type type = event->type();
  const bool key = type == QEvent::KeyPress || type == QEvent::KeyRelease;
  if (!inBackground_) {
    // Return presses the focused button.
    if (type == QEvent::KeyPress && qobject_cast<QToolButton*>(watched) != nullptr) {
      const auto* press = static_cast<QKeyEvent*>(event);
      if ((press->key() == Qt::Key_Return || press->key() == Qt::Key_Enter) && press->modifiers() == Qt::NoModifier) {
        if (!press->isAutoRepeat()) static_cast<QToolButton*>(watched)->click();
        return true;
      }
    }
    return false;
  }
  // A command runs on its own thread: the person's input to this window is held back, so
  // that the lists stay as the command reads them. Cancel and Escape stop a split.
  if (!watched->isWidgetType() || static_cast<QWidget*>(watched)->window() != this) return false;
  const bool mouse = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
                     type == QEvent::MouseButtonDblClick || type == QEvent::ContextMenu;
  if (type == QEvent::KeyPress && separateRunning_ && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    CancelSeparate();
    return true;
  }
  if (mouse && watched == CommandCancel) return false;
  return key || mouse;
}

// The commands of the engine. The menu items do what their buttons do.
void form1::Command6_Click() { RunCommand(&desktop::Module1::Command6_Click, Where::kInBackground); }
void form1::Separate_Click() { Command6_Click(); }
void form1::Command1_Click() { RunCommand(&desktop::Module1::Command1_Click, Where::kInBackground); }
void form1::AddExcel_Click() { Command1_Click(); }
void form1::Command5_Click() { RunCommand(&desktop::Module1::Command5_Click, Where::kInBackground); }
void form1::AddFolder_Click() { Command5_Click(); }
void form1::Command2_Click() { RunCommand(&desktop::Module1::Command2_Click, Where::kInBackground); }
void form1::RemoveItem_Click() { Command2_Click(); }
void form1::RemoveAll_Click() { RunCommand(&desktop::Module1::RemoveAll_Click, Where::kHere); }
void form1::Command3_Click() { RunCommand(&desktop::Module1::Command3_Click, Where::kHere); }
void form1::Command4_Click() { RunCommand(&desktop::Module1::Command4_Click, Where::kHere); }
void form1::ListView1_ItemClick() { RunCommand(&desktop::Module1::ListView1_ItemClick, Where::kInBackground); }
void form1::ListView2_ItemClick() { RunCommand(&desktop::Module1::ListView2_ItemClick, Where::kInBackground); }

void form1::RunCommand(void (desktop::Module1::*command)(), Where where) {
  if (!commandRunning_) separateRunning_ = command == &desktop::Module1::Command6_Click;
  RunCommand([this, command] { (module1_.*command)(); }, where);
}

void form1::RunCommand(const std::function<void()>& command, Where where) {
  // A sheet name still being typed counts: the buttons take no focus when clicked, so the
  // editor would otherwise stay open and the command see the old name.
  QWidget* focused = QApplication::focusWidget();
  if (focused != nullptr && ListView3->viewport()->isAncestorOf(focused)) ListView3->setFocus();
  // A command started while another runs (a key press answered inside a long one) is dropped.
  if (commandRunning_) return;
  RunToItsEnd(command, where);
  // The person closed the window meanwhile.
  if (closeAfterCommand_) {
    closeAfterCommand_ = false;
    close();
  }
}

void form1::RunToItsEnd(const std::function<void()>& command, Where where) {
  commandRunning_ = true;
  QList<QAction*> heldBack;
  struct Finished {
    form1& window;
    QList<QAction*>& heldBack;
    ~Finished() {
      if (window.inBackground_) qApp->removeEventFilter(&window);
      window.busyDelay_.stop();
      window.ShowBusy(false);
      for (QAction* action : heldBack) action->setEnabled(true);
      window.CommandCancel->hide();
      window.Command6->show();
      window.commandRunning_ = window.inBackground_ = window.separateRunning_ = false;
    }
  } finished{*this, heldBack};
  std::exception_ptr failure;
  if (where == Where::kHere) {
    try {
      command();
    } catch (...) {
      failure = std::current_exception();
    }
  } else {
    inBackground_ = true;
    qApp->installEventFilter(this);
    for (QAction* action : ownActions_) {
      if (!action->isEnabled()) continue;
      action->setEnabled(false);
      heldBack << action;
    }
    if (separateRunning_) {
      module1_.StopRequested = false;  // so that a Cancel from now on counts
      Command6->hide();
      CommandCancel->setEnabled(true);
      CommandCancel->show();
    }
    // The window goes on with its events until the command's thread has ended; the thread
    // reaches the widgets only through the MainView calls, which come back here.
    QEventLoop untilEnded;
    std::atomic<bool> ended{false};
    std::thread worker([&] {
      try {
        command();
      } catch (...) {
        failure = std::current_exception();
      }
      ended = true;
      QMetaObject::invokeMethod(&untilEnded, &QEventLoop::quit, Qt::QueuedConnection);
    });
    untilEnded.exec();
    // An application told to quit ends every loop at once, while the command may still need
    // this thread for its calls.
    while (!ended) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    worker.join();
  }
  if (failure) {
    // Nothing may leave an event handler into Qt's event loop.
    SetWaitPointer(false);
    try {
      std::rethrow_exception(failure);
    } catch (const automation::AutomationError& error) {
      prompts::ShowMessage(this, QString::fromStdString(error.Description()), prompts::MessageIcon::Error);
    } catch (const std::exception& error) {
      prompts::ShowMessage(this, QString::fromLocal8Bit(error.what()), prompts::MessageIcon::Error);
    }
  }
}

void form1::CancelSeparate() {
  if (!separateRunning_ || module1_.StopRequested) return;
  module1_.StopRequested = true;
  CommandCancel->setEnabled(false);
  Label1->setText(QString::fromLatin1(kStoppingStatus));
}

void form1::ShowBusy(bool busy) {
  SetCommandsEnabled(!busy);
  // During Separate the engine drives the bar.
  if (separateRunning_ || progressBusy_) return;
  if (busy) {
    ProgressBar1->setRange(0, 0);
  } else if (ProgressBar1->maximum() == 0) {
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
  }
}

QString form1::RememberedFolder(const QString& key) const {
  const QString prefix = u'/' + key + u'=';
  for (const QString& line : folders_)
    if (line.startsWith(prefix)) return line.mid(prefix.size());
  return {};
}

void form1::RememberFolder(const QString& key, const QString& folder) {
  if (folder.isEmpty() || RememberedFolder(key) == folder) return;
  const QString prefix = u'/' + key + u'=';
  folders_.removeIf([&](const QString& line) { return line.startsWith(prefix); });
  folders_ << prefix + folder;
  foldersChanged_ = true;
}

// --- MainView ------------------------------------------------------------------------------

template <class Call>
auto form1::OnWindowThread(Call call) const {
  using Result = decltype(call());
  if (QThread::currentThread() == thread()) return call();
  auto* window = const_cast<form1*>(this);
  std::exception_ptr failure;
  if constexpr (std::is_void_v<Result>) {
    QMetaObject::invokeMethod(
        window,
        [&] {
          try {
            call();
          } catch (...) {
            failure = std::current_exception();
          }
        },
        Qt::BlockingQueuedConnection);
    if (failure) std::rethrow_exception(failure);
  } else {
    Result result{};
    QMetaObject::invokeMethod(
        window,
        [&] {
          try {
            result = call();
          } catch (...) {
            failure = std::current_exception();
          }
        },
        Qt::BlockingQueuedConnection);
    if (failure) std::rethrow_exception(failure);
    return result;
  }
}

ReportList* form1::List(ListId list) const {
  switch (list) {
    case ListId::kSources: return ListView1;
    case ListId::kWorkbooks: return ListView2;
    case ListId::kSheets: break;
  }
  return ListView3;
}

int form1::Count(ListId list) const {
  return OnWindowThread([&] { return List(list)->Count(); });
}

// The lists show file-system names; their bytes go back to the engine unchanged.
std::string form1::Text(ListId list, int i) const {
  return OnWindowThread([&] { return BytesOfText(List(list)->Text(i)).toStdString(); });
}

int form1::Icon(ListId list, int i) const {
  return OnWindowThread([&] { return List(list)->Icon(i); });
}

bool form1::Checked(ListId list, int i) const {
  return OnWindowThread([&] { return List(list)->Checked(i); });
}

void form1::SetChecked(ListId list, int i, bool ticked) {
  OnWindowThread([&] { List(list)->SetChecked(i, ticked); });
}

int form1::SelectedIndex(ListId list) const {
  return OnWindowThread([&] { return List(list)->SelectedIndex(); });
}

void form1::Add(ListId list, const std::string& text, int icon) {
  OnWindowThread([&] {
    ReportList* shown = List(list);
    shown->Add(TextOfBytes(QByteArray::fromStdString(text)), icon);
    // A workbook's tooltip is its full path: a folder source's file, or the file source.
    if (list == ListId::kWorkbooks && ListView1->SelectedIndex() > 0) {
      const QString source = ListView1->Text(ListView1->SelectedIndex());
      shown->SetToolTip(shown->Count(), QFileInfo(source).isDir() ? source + u'/' + shown->Text(shown->Count()) : source);
    }
  });
}

void form1::Insert(ListId list, int i, const std::string& text, int icon) {
  OnWindowThread([&] { List(list)->Insert(i, TextOfBytes(QByteArray::fromStdString(text)), icon); });
}

void form1::Remove(ListId list, int i) {
  OnWindowThread([&] { List(list)->Remove(i); });
}

void form1::Clear(ListId list) {
  OnWindowThread([&] { List(list)->Clear(); });
}

void form1::Select(ListId list, int i) {
  OnWindowThread([&] { List(list)->Select(i); });
}

void form1::ScrollIntoView(ListId list, int i) {
  OnWindowThread([&] { List(list)->ScrollIntoView(i); });
}

void form1::Repaint(ListId list) {
  OnWindowThread([&] { List(list)->Repaint(); });
}

int form1::NamingMode() const {
  return OnWindowThread([&] { return Combo1->currentIndex(); });
}

void form1::SetProgressMax(int max) {
  // A bar whose maximum equals its minimum shows a busy animation, which would stay on after
  // a workbook without worksheets; such a bar stays empty instead.
  OnWindowThread([&] { ProgressBar1->setRange(0, std::max(max, 1)); });
}

void form1::SetProgressValue(int value) {
  OnWindowThread([&] { ProgressBar1->setValue(value); });
}

void form1::SetProgressBusy(bool busy) {
  OnWindowThread([&] {
    if (busy == progressBusy_) return;
    progressBusy_ = busy;
    ProgressBar1->setRange(0, busy ? 0 : 1);
    ProgressBar1->setValue(0);
  });
}

void form1::SetStatus(const std::string& text) {
  OnWindowThread([&] {
    Label1->setText(QString::fromStdString(text));
    Label1->setToolTip(Label1->text());  // a long one is cut at the window's edge
  });
}

void form1::RepaintNow() {
  // A command on its own thread leaves the window painting by itself.
  if (QThread::currentThread() != thread()) return;
  // While a long command runs here, everything that changes the sources or starts a command
  // is disabled, and the person's input is handled at once: clicks on disabled controls are
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
    if (control != Label1 && control != ProgressBar1 && control != CommandCancel) control->setEnabled(enabled);
  menuBar()->setEnabled(enabled);
}

void form1::SetWaitPointer(bool wait) {
  OnWindowThread([&] {
    if (wait == waitPointer_) return;
    waitPointer_ = wait;
    if (wait) {
      setCursor(Qt::WaitCursor);
      if (inBackground_) busyDelay_.start();
    } else {
      unsetCursor();
      busyDelay_.stop();
      ShowBusy(false);
    }
  });
}

namespace {

prompts::MessageIcon PromptIcon(tabrend::MessageIcon icon) {
  switch (icon) {
    case tabrend::MessageIcon::kNone: break;
    case tabrend::MessageIcon::kInformation: return prompts::MessageIcon::Information;
    case tabrend::MessageIcon::kError: return prompts::MessageIcon::Error;
  }
  return prompts::MessageIcon::None;
}

}  // namespace

void form1::ShowMessage(const std::string& text, tabrend::MessageIcon icon) {
  OnWindowThread([&] { prompts::ShowMessage(this, QString::fromStdString(text), PromptIcon(icon)); });
}

void form1::ShowSummary(const std::string& text, tabrend::MessageIcon icon) { ShowMessage(text, icon); }

std::optional<std::string> form1::AskWorkbookFile(const std::string& title) {
  return OnWindowThread([&]() -> std::optional<std::string> {
    dialogs::CCommonDialogs dialog;
    dialog.Init(this);
    dialog.Title(QString::fromStdString(title));
    // Set as the command always did; ShowOpen offers its own fixed list of file types.
    dialog.Filter(QStringLiteral("Excel File(*.xls;*.xlsx)") + QChar(0) + QStringLiteral("*.xls;*.xlsx") + QChar(0));
    dialog.InitDir(RememberedFolder(QLatin1String(kSourcesFolderKey)));
    if (!dialog.ShowOpen()) return std::nullopt;
    RememberFolder(QLatin1String(kSourcesFolderKey), dialog.Path());
    return dialog.FileName().toStdString();
  });
}

std::optional<std::string> form1::AskFolder(const std::string& title) {
  return OnWindowThread([&]() -> std::optional<std::string> {
    // The output folder's chooser starts at the last output folder, the source folder's
    // where a source was last chosen.
    const QLatin1String key(title == desktop::kOutputFolderTitle ? kOutputFolderKey : kSourcesFolderKey);
    dialogs::CCommonDialogs dialog;
    dialog.Init(this);
    dialog.Title(QString::fromStdString(title));
    dialog.InitDir(RememberedFolder(key));
    if (!dialog.ShowFolder()) return std::nullopt;
    RememberFolder(key, dialog.Path());
    return dialog.Path().toStdString();
  });
}

void form1::OpenFolder(const std::string& path) {
  OnWindowThread([&] { prompts::OpenWithShell(QString::fromStdString(path)); });
}

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
