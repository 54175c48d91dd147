// form1: start-up and shutdown with EXCEL.txt and set.txt in real temporary folders, the
// state-folder fallback, the window's layout, menus and commands, and a picture of it.
#include "dialogs/Prompts.h"
#include "gui/Links.h"
#include "gui/StateFiles.h"
#include "gui/form1.h"
#include "tests/gui/QtTestSupport.h"

#include <QComboBox>
#include <cstdio>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>


using tabrend::gui::form1;
using tabrend::gui::StateFiles;
namespace prompts = tabrend::prompts;

using tabrend::test::Entries;
using tabrend::test::ReadBytes;
using tabrend::test::WriteBytes;

namespace {

// A program folder and a configuration folder, fresh for each test.
struct Folders {
  QTemporaryDir root;
  QString program = root.filePath(QStringLiteral("program"));
  QString config = root.filePath(QStringLiteral("config/tabrend"));
  Folders() { QDir().mkpath(program); }
  StateFiles Files() const { return StateFiles(program, config); }
  QString ProgramFile(const char* name) const { return program + u'/' + QLatin1String(name); }
};

// Makes folder unwritable even for root (immutable attribute) where the file system allows;
// false when it stays writable.
bool MakeUnwritable(const QString& folder) {
  ::chmod(QFile::encodeName(folder).constData(), 0555);
  if (::access(QFile::encodeName(folder).constData(), W_OK) != 0) return true;
  QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), folder});
  return ::access(QFile::encodeName(folder).constData(), W_OK) != 0;
}

void MakeWritable(const QString& folder) {
  QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), folder});
  ::chmod(QFile::encodeName(folder).constData(), 0755);
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { prompts::testing::Intercept(); }
  void cleanup() { prompts::testing::Release(); }

  void startupReadsLines_data();
  void startupReadsLines();
  void startupIconsFollowPathKind();
  void pathsThatAreNotUtf8KeepTheirBytes();
  void startupState();
  void shutdownHonoursSetting_data();
  void shutdownHonoursSetting();
  void shutdownWritesEmptyList();
  void savedListRoundTrips();
  void shutdownWritesEveryEntry();
  void exitButtonRunsShutdown();
  void unwritableProgramFolderUsesConfigFolder();
  void configFolderFollowsEnvironment_data();
  void configFolderFollowsEnvironment();

  void controlsFitWithoutOverlapping();
  void windowGrowsFromItsOriginalSize();
  void tickAllAndUntickAll();
  void keysRemoveOpenAndQuit();
  void tabOrder();
  void captionsHeadersAndFont();
  void menus();
  void listsEditInPlaceOnlyForSheets();
  void helpAndHomePageOpenThroughShell();
  void grabWindow();
};

void MainWindowTest::startupReadsLines_data() {
  QTest::addColumn<QByteArray>("content");
  QTest::addColumn<QStringList>("entries");
  QTest::newRow("empty file") << QByteArray("") << QStringList{};
  QTest::newRow("CR LF after each line") << QByteArray("/a\r\n/b\r\n") << QStringList{"/a", "/b"};
  QTest::newRow("last line without line end") << QByteArray("/a\r\n/b") << QStringList{"/a", "/b"};
  QTest::newRow("lone CR ends a line") << QByteArray("/a\r/b\r") << QStringList{"/a", "/b"};
  QTest::newRow("lone LF stays in the line") << QByteArray("/a\n/b\r\n") << QStringList{"/a\n/b"};
  QTest::newRow("empty lines are entries") << QByteArray("/a\r\n\r\n/b\r\n") << QStringList{"/a", "", "/b"};
  QTest::newRow("one empty line") << QByteArray("\r\n") << QStringList{""};
  QTest::newRow("blanks kept") << QByteArray(" /a b \r\n") << QStringList{" /a b "};
  QTest::newRow("UTF-8") << QByteArray("/d\xC3\xA4ten/\xE2\x82\xAC.xlsx\r\n") << QStringList{QString::fromUtf8("/däten/€.xlsx")};
  QTest::newRow("byte order mark dropped") << QByteArray("\xEF\xBB\xBF/a\r\n") << QStringList{"/a"};
}

void MainWindowTest::startupReadsLines() {
  QFETCH(QByteArray, content);
  QFETCH(QStringList, entries);
  Folders folders;
  WriteBytes(folders.ProgramFile("EXCEL.txt"), content);
  form1 window(folders.Files());
  QCOMPARE(Entries(*window.ListView1), entries);
}

void MainWindowTest::startupIconsFollowPathKind() {
  Folders folders;
  const QString file = folders.root.filePath(QStringLiteral("Sales.xlsx"));
  const QString hidden = folders.root.filePath(QStringLiteral(".hidden.xlsx"));
  WriteBytes(file, "x");
  WriteBytes(hidden, "x");
  const QString lines = file + "\r\n" + folders.root.path() + "\r\n" + folders.root.filePath("gone.xlsx") + "\r\n" +
                        hidden + "\r\n\r\n";
  WriteBytes(folders.ProgramFile("EXCEL.txt"), lines.toUtf8());
  form1 window(folders.Files());
  QCOMPARE(window.ListView1->Count(), 5);
  const int expected[] = {tabrend::gui::kIconWorkbookFile, tabrend::gui::kIconFolder, tabrend::gui::kIconMissingPath,
                          tabrend::gui::kIconMissingPath, tabrend::gui::kIconMissingPath};
  for (int i = 1; i <= 5; ++i) {
    QCOMPARE(window.ListView1->Icon(i), expected[i - 1]);
    QVERIFY(!window.ListView1->topLevelItem(i - 1)->icon(0).pixmap(16).isNull());
  }
  QCOMPARE(window.ImageList1.Count(), 3);
}

// A Latin-1 name is a file like any other: found at start-up and written back byte for byte.
void MainWindowTest::pathsThatAreNotUtf8KeepTheirBytes() {
  Folders folders;
  const QByteArray path = QFile::encodeName(folders.root.path()) + "/caf\xE9.xlsx";
  FILE* raw = std::fopen(path.constData(), "wb");
  QVERIFY(raw != nullptr);
  std::fclose(raw);
  WriteBytes(folders.ProgramFile("EXCEL.txt"), path + "\r\n");
  {
    form1 window(folders.Files());
    QCOMPARE(window.ListView1->Icon(1), tabrend::gui::kIconWorkbookFile);
    QCOMPARE(tabrend::gui::BytesOfText(window.ListView1->Text(1)), path);
    window.close();
  }
  QCOMPARE(ReadBytes(folders.ProgramFile("EXCEL.txt")), path + "\r\n");
}

void MainWindowTest::startupState() {
  Folders folders;
  WriteBytes(folders.ProgramFile("EXCEL.txt"), "/first\r\n/second\r\n");
  form1 window(folders.Files());
  QVERIFY(window.Engine().ForceSheetReload);
  QCOMPARE(window.ListView1->SelectedIndex(), 1);
  QCOMPARE(window.ListView2->Count(), 0);
  QCOMPARE(window.ListView3->Count(), 0);
  QCOMPARE(window.Combo1->count(), 3);
  for (int i = 0; i < 3; ++i) QCOMPARE(window.Combo1->itemText(i), QString::fromLatin1(tabrend::gui::kNamingModes[i]));
  QCOMPARE(window.Combo1->itemText(1), QStringLiteral("Excel Filename will be based on workbook name and sheet name "));
  QCOMPARE(window.Combo1->currentIndex(), 0);
  QVERIFY(!window.Combo1->isEditable());
  QCOMPARE(window.Label1->text(), QString());
  QCOMPARE(window.ProgressBar1->value(), 0);
}

void MainWindowTest::shutdownHonoursSetting_data() { tabrend::test::AddSaveListSettingRows(); }

void MainWindowTest::shutdownHonoursSetting() {
  QFETCH(QByteArray, setting);
  QFETCH(bool, saved);
  Folders folders;
  WriteBytes(folders.ProgramFile("EXCEL.txt"), "/old\r\n");
  if (setting != "<none>") WriteBytes(folders.ProgramFile("set.txt"), setting);
  form1 window(folders.Files());
  window.ListView1->Add(QStringLiteral("/new one"), tabrend::gui::kIconFolder);
  window.close();
  QCOMPARE(ReadBytes(folders.ProgramFile("EXCEL.txt")), saved ? QByteArray("/old\r\n/new one\r\n") : QByteArray("/old\r\n"));
}

void MainWindowTest::shutdownWritesEmptyList() {
  Folders folders;
  form1 window(folders.Files());  // no EXCEL.txt at all
  QCOMPARE(window.ListView1->Count(), 0);
  window.close();
  QCOMPARE(ReadBytes(folders.ProgramFile("EXCEL.txt")), QByteArray(""));
}

void MainWindowTest::savedListRoundTrips() {
  Folders folders;
  const QString existing = folders.root.filePath(QStringLiteral("Q1 Böok.xlsx"));
  WriteBytes(existing, "x");
  const QStringList paths = {existing, QStringLiteral("/no/such/folder"), QString(), folders.root.path()};
  {
    form1 window(folders.Files());
    for (const QString& path : paths) window.ListView1->Add(path, tabrend::gui::kIconWorkbookFile);
    window.close();
  }
  QFile::remove(existing);  // icons are worked out afresh at the next start
  form1 again(folders.Files());
  QCOMPARE(Entries(*again.ListView1), paths);
  QCOMPARE(again.ListView1->Icon(1), tabrend::gui::kIconMissingPath);
  QCOMPARE(again.ListView1->Icon(4), tabrend::gui::kIconFolder);
}

void MainWindowTest::shutdownWritesEveryEntry() {
  Folders folders;
  const int count = 32767 + 3;  // past the largest 16-bit count
  QByteArray lines;
  for (int i = 1; i <= count; ++i) lines += "/s" + QByteArray::number(i) + "\r\n";
  WriteBytes(folders.ProgramFile("EXCEL.txt"), lines);
  form1 window(folders.Files());
  QCOMPARE(window.ListView1->Count(), count);
  WriteBytes(folders.ProgramFile("EXCEL.txt"), "");
  window.close();
  QCOMPARE(ReadBytes(folders.ProgramFile("EXCEL.txt")), lines);
}

void MainWindowTest::exitButtonRunsShutdown() {
  Folders folders;
  form1 window(folders.Files());
  window.show();
  window.ListView1->Add(QStringLiteral("/kept"));
  window.Command9->click();
  QVERIFY(!window.isVisible());
  QCOMPARE(ReadBytes(folders.ProgramFile("EXCEL.txt")), QByteArray("/kept\r\n"));
}

void MainWindowTest::unwritableProgramFolderUsesConfigFolder() {
  Folders folders;
  WriteBytes(folders.ProgramFile("EXCEL.txt"), "/shipped with the program\r\n");
  WriteBytes(folders.ProgramFile("set.txt"), "0\r\n");
  const bool locked = MakeUnwritable(folders.program);
  const auto unlock = qScopeGuard([&] { MakeWritable(folders.program); });
  if (!locked) QSKIP("cannot make a folder unwritable here");
  QVERIFY(!QDir(folders.config).exists());

  QCOMPARE(folders.Files().Folder(), folders.config);
  {
    form1 window(folders.Files());
    QCOMPARE(window.ListView1->Count(), 0);  // the program folder's list is not this user's
    window.ListView1->Add(QStringLiteral("/mine"));
    window.close();  // the program folder's "0" does not apply either
  }
  QCOMPARE(ReadBytes(folders.config + "/EXCEL.txt"), QByteArray("/mine\r\n"));
  QCOMPARE(ReadBytes(folders.ProgramFile("EXCEL.txt")), QByteArray("/shipped with the program\r\n"));
  // Another user can neither read nor change this one's list.
  for (const QString& created : {folders.config, QFileInfo(folders.config).path()}) {
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(created).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0700u);
  }

  WriteBytes(folders.config + "/set.txt", "0\r\n");
  form1 again(folders.Files());
  QCOMPARE(Entries(*again.ListView1), QStringList{"/mine"});
  again.ListView1->Add(QStringLiteral("/not saved"));
  again.close();
  QCOMPARE(ReadBytes(folders.config + "/EXCEL.txt"), QByteArray("/mine\r\n"));
}

void MainWindowTest::configFolderFollowsEnvironment_data() {
  QTest::addColumn<QByteArray>("xdgConfigHome");
  QTest::addColumn<QString>("expected");
  QTest::newRow("absolute") << QByteArray("/srv/conf") << "/srv/conf/tabrend";
  QTest::newRow("unset") << QByteArray() << QDir::homePath() + "/.config/tabrend";
  QTest::newRow("relative is ignored") << QByteArray("conf") << QDir::homePath() + "/.config/tabrend";
}

void MainWindowTest::configFolderFollowsEnvironment() {
  QFETCH(QByteArray, xdgConfigHome);
  QFETCH(QString, expected);
  const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
  const bool wasSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
  const auto restore = qScopeGuard([&] {
    if (wasSet) qputenv("XDG_CONFIG_HOME", saved); else qunsetenv("XDG_CONFIG_HOME");
  });
  if (xdgConfigHome.isNull()) qunsetenv("XDG_CONFIG_HOME"); else qputenv("XDG_CONFIG_HOME", xdgConfigHome);
  QCOMPARE(StateFiles::DefaultConfigFolder(), expected);
  QCOMPARE(StateFiles::ForThisProgram().ConfigFolder(), expected);
  QCOMPARE(StateFiles::ForThisProgram().ProgramFolder(), QCoreApplication::applicationDirPath());
}

// Every control shown at rest lies inside the client area and none covers another.
void ExpectControlsApart(const QWidget* area) {
  QList<QWidget*> controls;  // the named ones: Qt adds helpers of its own
  for (QWidget* child : area->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    if (!child->objectName().isEmpty() && !child->isWindow() && !child->isHidden()) controls << child;
  QCOMPARE(controls.size(), 16);
  for (qsizetype i = 0; i < controls.size(); ++i) {
    const QWidget* control = controls[i];
    QVERIFY2(control->isVisible() && !control->geometry().isEmpty(), qPrintable(control->objectName()));
    QVERIFY2(area->rect().contains(control->geometry()), qPrintable(control->objectName()));
    for (qsizetype j = i + 1; j < controls.size(); ++j) {
      // Neighbours may share one edge line of pixels (the status line and the progress bar
      // below it do), never more.
      const QRect shared = control->geometry().intersected(controls[j]->geometry());
      QVERIFY2(shared.isEmpty() || shared.width() == 1 || shared.height() == 1,
               qPrintable(control->objectName() + QStringLiteral(" covers ") + controls[j]->objectName()));
    }
  }
}

void FillWithSamples(form1& window) {
  for (const char* book : {"January.xlsx", "February.xlsx", "March.xlsx"}) {
    window.ListView2->Add(QString::fromLatin1(book));
    window.ListView2->SetChecked(window.ListView2->Count(), true);
  }
  for (const char* sheet : {"Summary", "North", "South", "Notes"}) {
    window.ListView3->Add(QString::fromLatin1(sheet));
    window.ListView3->SetChecked(window.ListView3->Count(), QByteArray(sheet) != "Notes");
  }
}

void SavePicture(QWidget& window, const char* name) {
  const QImage image = window.grab().toImage();
  QCOMPARE(image.size(), window.size() * image.devicePixelRatio());
  const QString path = QStringLiteral(TABREND_TEST_OUTPUT_DIR "/") + QLatin1String(name);
  QVERIFY(image.save(path));
  qInfo("main window picture: %s", qPrintable(path));
}

void MainWindowTest::controlsFitWithoutOverlapping() {
  Folders folders;
  form1 window(folders.Files());
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  ExpectControlsApart(window.centralWidget());
}

// The window opens at its original size, cannot be made smaller, and grows: the lists, the
// path column and the status line take the room, the controls stay apart.
void MainWindowTest::windowGrowsFromItsOriginalSize() {
  Folders folders;
  WriteBytes(folders.ProgramFile("EXCEL.txt"), "/home/ann/reports/2023/quarterly/consolidated/Sales by region.xlsx\r\n");
  form1 window(folders.Files());
  FillWithSamples(window);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QCOMPARE(window.windowTitle(), QStringLiteral("Tabrend"));
  QVERIFY(!window.windowIcon().pixmap(32).isNull());
  const QSize original(589, 533);  // 8832 by 7992 twips
  QCOMPARE(window.centralWidget()->size(), original);
  const QRect sheetsBefore = window.ListView3->geometry();
  const QRect workbooksBefore = window.ListView2->geometry();
  const int pathColumnBefore = window.ListView1->header()->sectionSize(0);
  const int progressGap = original.height() - window.ProgressBar1->geometry().bottom();

  window.resize(window.size() + QSize(300, 240));
  QTRY_COMPARE(window.centralWidget()->size(), original + QSize(300, 240));
  ExpectControlsApart(window.centralWidget());
  QCOMPARE(window.ListView1->header()->sectionSize(0), pathColumnBefore + 300);
  QCOMPARE(window.ListView2->width() + window.ListView3->width(), workbooksBefore.width() + sheetsBefore.width() + 300);
  QCOMPARE(window.ListView3->height(), sheetsBefore.height() + 160);
  QCOMPARE(window.centralWidget()->height() - window.ProgressBar1->geometry().bottom(), progressGap);
  QCOMPARE(window.ProgressBar1->width(), 569 + 300);  // 8535 twips, and the growth
  QCOMPARE(window.Command1->geometry(), QRect(8, 0, 81, 65));  // the buttons stay
  SavePicture(window, "form1-enlarged.png");

  window.resize(200, 200);  // no smaller than at first
  QTRY_COMPARE(window.centralWidget()->size(), original);
  QCOMPARE(window.ListView3->geometry(), sheetsBefore);
}

void MainWindowTest::tabOrder() {
  Folders folders;
  form1 window(folders.Files());
  QStringList order;
  QWidget* widget = window.Command1;
  do {
    if (widget->focusPolicy() & Qt::TabFocus) order << widget->objectName();
    widget = widget->nextInFocusChain();
  } while (widget != window.Command1);
  QCOMPARE(order, (QStringList{"Command1", "Command5", "Command2", "Command6", "Command8", "Command7", "Command9",
                               "ListView1", "Combo1", "ListView2", "ListView3", "Command3", "Command4"}));
}

void MainWindowTest::captionsHeadersAndFont() {
  Folders folders;
  form1 window(folders.Files());
  const std::pair<QToolButton*, const char*> buttons[] = {
      {window.Command1, "Add Excel"}, {window.Command5, "Add Folder"}, {window.Command2, "Remove File"},
      {window.Command6, "Separate"},  {window.Command8, "Help"},       {window.Command7, "HomePage"},
      {window.Command9, "Exit"},      {window.Command3, ""},           {window.Command4, ""},
  };
  for (const auto& [button, caption] : buttons) {
    QCOMPARE(button->text(), QString::fromLatin1(caption));
    // The picture is really there: a name without a resource behind it gives no pixmap.
    QVERIFY2(!button->icon().pixmap(button->iconSize()).isNull(), qPrintable(button->objectName()));
  }
  QCOMPARE(window.Label2->text(), QStringLiteral("Separate Option:"));
  const std::tuple<tabrend::gui::ReportList*, const char*, int> headers[] = {
      {window.ListView1, "Please Select the Excel File or Folder to Separate", 520},
      {window.ListView2, "WorkBooks", 240},
      {window.ListView3, "WorkSheets", 247},
  };
  for (const auto& [list, text, width] : headers) {
    QCOMPARE(list->headerItem()->text(0), QString::fromLatin1(text));
    QCOMPARE(list->header()->sectionSize(0), width);
    QVERIFY(!list->header()->isHidden());
  }
  // Arial is asked for; fonts-liberation answers with its metric twin.
  const QString family = QFontInfo(window.Command1->font()).family();
  QVERIFY2(family == "Liberation Sans" || family == "Arial", qPrintable(family));
  QCOMPARE(window.ListView3->font().family(), QStringLiteral("Arial"));
}

void MainWindowTest::menus() {
  Folders folders;
  form1 window(folders.Files());
  // Each caption carries a mnemonic; Add Excel opens with Ctrl+O.
  const auto shown = [](const QAction* action) { return QString(action->text()).remove(u'&'); };
  QStringList top;
  for (QAction* action : window.menuBar()->actions()) {
    top << shown(action);
    QVERIFY2(action->text().count(u'&') == 1, qPrintable(action->text()));
  }
  QCOMPARE(top, (QStringList{"File", "Edit", "Actions", "Settings", "Help"}));
  const std::pair<QMenu*, QStringList> menus[] = {
      {window.EE, {"AddExcel=Add Excel", "AddFolder=Add Folder"}},
      {window.FF, {"RemoveItem=Remove Item", "RemoveAll=Remove All Items"}},
      {window.Actions, {"Separate=Separate"}},
      {window.SettingsMenu,
       {"Settings=Settings...", "=", "SkipHidden=Skip hidden sheets", "SkipBlank=Skip blank sheets", "=Save as"}},
      {window.SaveAs, {"SaveAsWorkbook=Excel workbook", "SaveAsCsv=CSV", "SaveAsPdf=PDF",
                       "SaveAsOds=OpenDocument spreadsheet"}},
      {window.Help, {"Help1=Help", "HomePage=HomePage", "About=About"}},
  };
  QStringList names;
  for (const auto& [menu, items] : menus) {
    names << menu->objectName();
    QStringList found;
    QSet<QChar> mnemonics;
    for (QAction* action : menu->actions()) {
      found << action->objectName() + u'=' + shown(action);
      if (action->isSeparator()) continue;
      const qsizetype mark = action->text().indexOf(u'&');
      QVERIFY2(mark >= 0, qPrintable(action->text()));
      QVERIFY2(!mnemonics.contains(action->text()[mark + 1].toLower()), qPrintable(action->text()));
      mnemonics.insert(action->text()[mark + 1].toLower());
      QCOMPARE(action->shortcut(), action == window.AddExcel ? QKeySequence(QStringLiteral("Ctrl+O")) : QKeySequence());
    }
    QCOMPARE(found, items);
  }
  QCOMPARE(names, (QStringList{"EE", "FF", "Actions", "SettingsMenu", "SaveAs", "Help"}));
}

void MainWindowTest::listsEditInPlaceOnlyForSheets() {
  Folders folders;
  form1 window(folders.Files());
  for (tabrend::gui::ReportList* list : {window.ListView1, window.ListView2, window.ListView3}) {
    list->Add(QStringLiteral("entry"));
  }
  const auto flags = [](tabrend::gui::ReportList* list) { return list->topLevelItem(0)->flags(); };
  QVERIFY(!(flags(window.ListView1) & Qt::ItemIsEditable));
  QVERIFY(!(flags(window.ListView2) & Qt::ItemIsEditable));
  QVERIFY(flags(window.ListView3) & Qt::ItemIsEditable);
  QVERIFY(!(flags(window.ListView1) & Qt::ItemIsUserCheckable));
  QVERIFY(flags(window.ListView2) & Qt::ItemIsUserCheckable);
  QVERIFY(flags(window.ListView3) & Qt::ItemIsUserCheckable);

  // A person renames a sheet in place; the list then answers with the new name.
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  window.activateWindow();
  window.ListView3->setFocus();
  QTest::keyClick(window.ListView3, Qt::Key_F2);
  auto* editor = window.ListView3->findChild<QLineEdit*>();
  QVERIFY(editor);
  editor->selectAll();
  QTest::keyClicks(editor, QStringLiteral("Renamed"));
  QTest::keyClick(editor, Qt::Key_Return);
  QTRY_COMPARE(window.ListView3->Text(1), QStringLiteral("Renamed"));  // committed from the event loop
}

void MainWindowTest::helpAndHomePageOpenThroughShell() {
  Folders folders;
  form1 window(folders.Files());
  window.Command8->click();
  window.Help1->trigger();
  // Installed: the program in bin/, its manual in share/tabrend/.
  const QString installed = folders.root.filePath(QStringLiteral("share/tabrend/help.html"));
  QDir().mkpath(QFileInfo(installed).path());
  WriteBytes(installed, "x");
  window.Command8->click();
  WriteBytes(folders.ProgramFile("help.html"), "x");
  window.Command8->click();
  WriteBytes(folders.ProgramFile("help.chm"), "x");
  window.Command8->click();
  window.Command7->click();
  window.HomePage->trigger();
  QStringList opened;
  for (const prompts::Request& request : prompts::testing::AskedOf(prompts::Kind::ShellOpen)) opened << request.text;
  const QString home = QString::fromUtf8(tabrend::gui::kHomePage);
  QCOMPARE(opened, (QStringList{folders.ProgramFile("help.html"), folders.ProgramFile("help.html"), installed,
                                folders.ProgramFile("help.html"), folders.ProgramFile("help.chm"), home, home}));
  QVERIFY(prompts::testing::AskedOf(prompts::Kind::Message).empty());
}

void MainWindowTest::grabWindow() {
  Folders folders;
  QDir(folders.root.path()).mkdir(QStringLiteral("Monthly reports"));
  WriteBytes(folders.root.filePath(QStringLiteral("Sales 2023.xlsx")), "x");
  const QString lines = folders.root.filePath("Sales 2023.xlsx") + "\r\n" + folders.root.filePath("Monthly reports") +
                        "\r\n/home/ann/old/Budget.xlsx\r\n";
  WriteBytes(folders.ProgramFile("EXCEL.txt"), lines.toUtf8());
  form1 window(folders.Files());
  FillWithSamples(window);
  window.Label1->setText(QStringLiteral("Splitting January"));
  window.ProgressBar1->setValue(40);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  SavePicture(window, "form1.png");
}

// The tick lists tick and untick every entry from their context menu and with Ctrl+A and
// Ctrl+Shift+A; a name being typed keeps Ctrl+A for its text.
void MainWindowTest::tickAllAndUntickAll() {
  Folders folders;
  form1 window(folders.Files());
  FillWithSamples(window);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  const auto ticks = [](tabrend::gui::ReportList* list) {
    QList<bool> all;
    for (int i = 1; i <= list->Count(); ++i) all << list->Checked(i);
    return all;
  };
  QCOMPARE(window.ListView2->actions(), (QList<QAction*>{window.ListView2->TickAll, window.ListView2->UntickAll}));
  QCOMPARE(window.ListView2->contextMenuPolicy(), Qt::ActionsContextMenu);
  window.ListView3->setFocus();
  QTest::keyClick(window.ListView3, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
  QCOMPARE(ticks(window.ListView3), (QList<bool>{false, false, false, false}));
  QCOMPARE(ticks(window.ListView2), (QList<bool>{true, true, true}));  // only the list with the focus
  QTest::keyClick(window.ListView3, Qt::Key_A, Qt::ControlModifier);
  QCOMPARE(ticks(window.ListView3), (QList<bool>{true, true, true, true}));

  window.ListView3->SetChecked(2, false);
  QTest::keyClick(window.ListView3, Qt::Key_F2);
  auto* editor = window.ListView3->findChild<QLineEdit*>();
  QVERIFY(editor);
  QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
  QCOMPARE(editor->selectedText(), editor->text());
  QCOMPARE(ticks(window.ListView3), (QList<bool>{true, false, true, true}));
}

// Delete removes the selected source, Return presses the focused button, Ctrl+O asks for a
// workbook and Ctrl+Q closes the window.
void MainWindowTest::keysRemoveOpenAndQuit() {
  Folders folders;
  WriteBytes(folders.ProgramFile("EXCEL.txt"), "/a\r\n/b\r\n/c\r\n");
  form1 window(folders.Files());
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  window.ListView1->setFocus();
  window.ListView1->Select(3);
  QTest::keyClick(window.ListView1, Qt::Key_Delete);
  QCOMPARE(Entries(*window.ListView1), (QStringList{"/a", "/b"}));
  QCOMPARE(window.ListView1->SelectedIndex(), 2);
  window.ListView3->Add(QStringLiteral("Sheet"));
  window.ListView3->setFocus();
  QTest::keyClick(window.ListView3, Qt::Key_Delete);  // not the source list
  QCOMPARE(window.ListView1->Count(), 2);

  window.Command2->setFocus();
  QTest::keyClick(window.Command2, Qt::Key_Return);
  QCOMPARE(Entries(*window.ListView1), QStringList{"/a"});
  QTest::keyClick(window.Command2, Qt::Key_Enter);
  QCOMPARE(window.ListView1->Count(), 0);

  QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
  QCOMPARE(prompts::testing::AskedOf(prompts::Kind::OpenFile).size(), 1u);
  QCOMPARE(prompts::testing::Unanswered(), 1);  // the chooser was cancelled
  QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
  QVERIFY(!window.isVisible());
  QCOMPARE(ReadBytes(folders.ProgramFile("EXCEL.txt")), QByteArray(""));
}

QTEST_MAIN(MainWindowTest)
#include "tst_main_window.moc"
