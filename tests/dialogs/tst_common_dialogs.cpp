// CCommonDialogs: property rules, what each Show asks its chooser and what it keeps of the
// answer (through the prompt interception), and the real Qt choosers driven on screen.
#include "dialogs/CCommonDialogs.h"
#include "dialogs/Prompts.h"
#include "tests/gui/QtTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFile>
#include <QFileDialog>
#include <QFontDialog>
#include <QLineEdit>
#include <QListView>
#include <QPrinterInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <map>

using namespace tabrend::dialogs;
namespace prompts = tabrend::prompts;
using prompts::Kind;

using tabrend::test::ErrorNumberOf;

namespace {

const QChar kNul(u'\0');

prompts::Answer Accept(const QString& path) {
  prompts::Answer answer;
  answer.accepted = true;
  answer.path = path;
  return answer;
}

prompts::Request OnlyRequest(Kind kind) {
  const std::vector<prompts::Request> asked = prompts::testing::AskedOf(kind);
  return asked.size() == 1 ? asked.front() : prompts::Request{};
}

// Runs act on the modal chooser that call opens, then returns what call returned. A chooser
// still open after a few seconds is closed, so that a broken flow fails instead of hanging.
bool WithModal(const std::function<bool()>& call, const std::function<void(QDialog&)>& act) {
  bool acted = false;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || acted) return;
    acted = true;
    act(*dialog);
  });
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] {
    while (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  poll.start();
  watchdog.start(8000);
  const bool result = call();
  if (!acted) qWarning("no modal chooser appeared");
  return result;
}

// The names a file chooser lists in the folder it shows, once they have loaded.
QStringList ListedNames(QFileDialog& dialog, int expected) {
  auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
  if (!list) return {};
  (void)QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) == expected; }, 3000);
  QStringList names;
  for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row) {
    names << list->model()->index(row, 0, list->rootIndex()).data().toString();
  }
  names.sort();
  return names;
}

// Picks path in a file chooser as a person does: goes to its folder, types its name into the
// name box and confirms.
void PickAndConfirm(QDialog& dialog, const QString& path) {
  auto& files = static_cast<QFileDialog&>(dialog);
  const QFileInfo info(path);
  files.setDirectory(info.absolutePath());
  auto* nameBox = files.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  auto* list = files.findChild<QListView*>(QStringLiteral("listView"));
  if (!nameBox || !list) return;
  list->clearSelection();
  nameBox->setText(info.fileName());
  if (files.selectedFiles() != QStringList{path}) {
    qWarning("the chooser took %s for %s", qPrintable(files.selectedFiles().join(u'|')), qPrintable(path));
  }
  dialog.accept();
}

void Touch(const QString& path) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
}

}  // namespace

class CommonDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { prompts::testing::Intercept(); }
  void cleanup() { prompts::testing::Release(); }

  void newObjectHoldsEmptyValues();
  void textGetters_data();
  void textGetters();
  void showWithoutOwnerThrows_data();
  void showWithoutOwnerThrows();
  void ownerDestroyedCountsAsMissing();
  void fontAndPrinterPropertiesWorkWithoutOwner();

  void showOpenAsksFixedFilterAndStartName();
  void showOpenCaptionFollowsTitle_data();
  void showOpenCaptionFollowsTitle();
  void showOpenKeepsTheAnswer_data();
  void showOpenKeepsTheAnswer();
  void showOpenRefusesOverlongFileName();
  void cancelChangesNothing_data();
  void cancelChangesNothing();
  void showFolderClearsFileProperties();

  void showSaveAdjustsPathFirst_data();
  void showSaveAdjustsPathFirst();
  void showSaveAsksFixedCaptionAndKeepsAnswer();
  void saveFilterBuffer_data();
  void saveFilterBuffer();

  void showColorConvertsAndResetsCustomColors();
  void showFontPassesAndKeepsProperties();
  void printersAnswerFalseWithoutPrinters();

  void realOpenChooserShowsExcelFilesOnly();
  void realFolderChooserReturnsFolder();
  void realSaveChooserTakesExistingFileWithoutAsking();
  void realColorAndFontChoosers();

 private:
  QWidget owner_;
};

void CommonDialogsTest::newObjectHoldsEmptyValues() {
  const CCommonDialogs d;
  for (const QString& text : {d.Title(), d.Path(), d.FileTitle(), d.FileName(), d.Filter(), d.DefExt(), d.FontName()}) {
    QVERIFY(text.isEmpty());
  }
  QCOMPARE(d.Color(), 0);
  QCOMPARE(d.FontSize(), 0);
  QVERIFY(!d.FontBold() && !d.FontItalic() && !d.FontUnderline());
}

void CommonDialogsTest::textGetters_data() {
  QTest::addColumn<QString>("property");
  QTest::addColumn<bool>("cutsAtNul");
  QTest::newRow("Title") << "Title" << true;
  QTest::newRow("Path") << "Path" << true;
  QTest::newRow("FileTitle") << "FileTitle" << true;
  QTest::newRow("FileName") << "FileName" << true;
  QTest::newRow("Filter") << "Filter" << false;
  QTest::newRow("DefExt") << "DefExt" << false;
  QTest::newRow("FontName") << "FontName" << false;
}

void CommonDialogsTest::textGetters() {
  QFETCH(QString, property);
  QFETCH(bool, cutsAtNul);
  using Setter = void (CCommonDialogs::*)(const QString&);
  using Getter = QString (CCommonDialogs::*)() const;
  const std::map<QString, std::pair<Setter, Getter>> properties = {
      {"Title", {&CCommonDialogs::Title, &CCommonDialogs::Title}},
      {"Path", {&CCommonDialogs::Path, &CCommonDialogs::Path}},
      {"FileTitle", {&CCommonDialogs::FileTitle, &CCommonDialogs::FileTitle}},
      {"FileName", {&CCommonDialogs::FileName, &CCommonDialogs::FileName}},
      {"Filter", {&CCommonDialogs::Filter, &CCommonDialogs::Filter}},
      {"DefExt", {&CCommonDialogs::DefExt, &CCommonDialogs::DefExt}},
      {"FontName", {&CCommonDialogs::FontName, &CCommonDialogs::FontName}},
  };
  const auto [set, get] = properties.at(property);
  CCommonDialogs d;
  const QString withNul = QStringLiteral("before") + kNul + QStringLiteral("after") + kNul;
  (d.*set)(withNul);
  QCOMPARE((d.*get)(), cutsAtNul ? QStringLiteral("before") : withNul);
  (d.*set)(QStringLiteral(" plain text "));
  QCOMPARE((d.*get)(), QStringLiteral(" plain text "));
  (d.*set)(QString(kNul) + QStringLiteral("x"));
  QCOMPARE((d.*get)(), cutsAtNul ? QString() : QString(kNul) + QStringLiteral("x"));
}

void CommonDialogsTest::showWithoutOwnerThrows_data() {
  QTest::addColumn<QString>("show");
  for (const char* show : {"ShowOpen", "ShowFolder", "ShowSave", "ShowColor", "ShowPrinter"}) {
    QTest::newRow(show) << show;
  }
}

void CommonDialogsTest::showWithoutOwnerThrows() {
  QFETCH(QString, show);
  CCommonDialogs d;
  d.FileName(QStringLiteral("/some/file.xlsx"));
  d.FileTitle(QStringLiteral("file.xlsx"));
  d.Color(0x123456);
  QTemporaryDir folder;
  d.Path(folder.path());  // an existing folder: ShowSave only appends "/"
  prompts::testing::Queue(Kind::OpenFile, Accept(QStringLiteral("/x/y.xlsx")));
  prompts::testing::Queue(Kind::Folder, Accept(QStringLiteral("/x")));
  prompts::testing::Queue(Kind::SaveFile, Accept(QStringLiteral("/x/y.txt")));
  const std::map<QString, std::function<void()>> calls = {
      {"ShowOpen", [&] { d.ShowOpen(); }},   {"ShowFolder", [&] { d.ShowFolder(); }},
      {"ShowSave", [&] { d.ShowSave(); }},   {"ShowColor", [&] { d.ShowColor(true); }},
      {"ShowPrinter", [&] { d.ShowPrinter(); }},
  };
  QCOMPARE(ErrorNumberOf(calls.at(show)), long{kObjectVariableNotSet});
  QVERIFY(prompts::testing::Asked().empty());
  QCOMPARE(d.FileName(), QStringLiteral("/some/file.xlsx"));
  QCOMPARE(d.FileTitle(), QStringLiteral("file.xlsx"));
  QCOMPARE(d.Color(), 0x123456);
  QCOMPARE(d.Path(), show == "ShowSave" ? folder.path() + u'/' : folder.path());
}

void CommonDialogsTest::ownerDestroyedCountsAsMissing() {
  CCommonDialogs d;
  {
    QWidget gone;
    d.Init(&gone);
  }
  QCOMPARE(ErrorNumberOf([&] { d.ShowFolder(); }), long{kObjectVariableNotSet});
}

void CommonDialogsTest::fontAndPrinterPropertiesWorkWithoutOwner() {
  CCommonDialogs d;
  prompts::Answer font;
  font.accepted = true;
  font.font = QFont(QStringLiteral("Liberation Serif"), 14);
  prompts::testing::Queue(Kind::Font, font);
  QVERIFY(d.ShowFont());
  QCOMPARE(OnlyRequest(Kind::Font).owner, nullptr);
  QCOMPARE(d.FontName(), QStringLiteral("Liberation Serif"));
  QCOMPARE(d.FontSize(), 14);
  bool answered = true;
  QCOMPARE(ErrorNumberOf([&] { answered = d.ShowPrinterProperties(); }), 0L);
  if (QPrinterInfo::defaultPrinter().isNull()) QVERIFY(!answered);
}

void CommonDialogsTest::showOpenAsksFixedFilterAndStartName() {
  CCommonDialogs d;
  d.Init(&owner_);
  d.Filter(QStringLiteral("Text|*.txt"));
  d.Path(QStringLiteral("/usr/share"));
  d.FileName(QStringLiteral("/data/Book.xlsx") + kNul + QStringLiteral("junk"));
  d.DefExt(QStringLiteral("xlsx"));
  QVERIFY(!d.ShowOpen());
  const prompts::Request request = OnlyRequest(Kind::OpenFile);
  QCOMPARE(request.owner, &owner_);
  QCOMPARE(request.nameFilters, QStringList{"Excel files(*.xls;*.xlsx;*.xlsm;*.xlsb) (*.[xX][lL]*)"});
  QCOMPARE(request.directory, QString());  // the chooser's own start folder, not Path
  QCOMPARE(request.fileName, QStringLiteral("/data/Book.xlsx"));
  QCOMPARE(request.defaultSuffix, QStringLiteral("xlsx"));
}

void CommonDialogsTest::showOpenCaptionFollowsTitle_data() {
  QTest::addColumn<bool>("set");
  QTest::addColumn<QString>("title");
  QTest::addColumn<bool>("hasCaption");
  QTest::addColumn<QString>("caption");
  QTest::newRow("never set: the chooser's own") << false << QString() << false << QString();
  QTest::newRow("set empty: an empty caption") << true << QString("") << true << QString("");
  QTest::newRow("cut at NUL") << true << QString("Pick") + kNul + "rest" << true << QString("Pick");
}

void CommonDialogsTest::showOpenCaptionFollowsTitle() {
  QFETCH(bool, set);
  QFETCH(QString, title);
  QFETCH(bool, hasCaption);
  QFETCH(QString, caption);
  CCommonDialogs d;
  d.Init(&owner_);
  if (set) d.Title(title);
  d.ShowOpen();
  d.ShowFolder();
  for (Kind kind : {Kind::OpenFile, Kind::Folder}) {
    const prompts::Request request = OnlyRequest(kind);
    QCOMPARE(request.caption.has_value(), hasCaption);
    if (hasCaption) QCOMPARE(*request.caption, caption);
  }
}

void CommonDialogsTest::showOpenKeepsTheAnswer_data() {
  QTest::addColumn<QString>("chosen");
  QTest::addColumn<QString>("fileTitle");
  QTest::addColumn<QString>("path");
  QTest::newRow("nested") << "/home/ann/Q1 2010/Sales.2010.xlsx" << "Sales.2010.xlsx" << "/home/ann/Q1 2010";
  QTest::newRow("root folder") << "/Book.xls" << "Book.xls" << "";
}

void CommonDialogsTest::showOpenKeepsTheAnswer() {
  QFETCH(QString, chosen);
  QFETCH(QString, fileTitle);
  QFETCH(QString, path);
  CCommonDialogs d;
  d.Init(&owner_);
  d.Path(QStringLiteral("/elsewhere"));
  prompts::testing::Queue(Kind::OpenFile, Accept(chosen));
  QVERIFY(d.ShowOpen());
  QCOMPARE(d.FileName(), chosen);
  QCOMPARE(d.FileTitle(), fileTitle);
  QCOMPARE(d.Path(), path);
}

void CommonDialogsTest::showOpenRefusesOverlongFileName() {
  CCommonDialogs d;
  d.Init(&owner_);
  d.FileName(QString(kOpenFileNameLimit, u'a'));
  QCOMPARE(ErrorNumberOf([&] { d.ShowOpen(); }), 0L);
  d.FileName(QString(kOpenFileNameLimit + 1, u'a'));
  QCOMPARE(ErrorNumberOf([&] { d.ShowOpen(); }), long{kInvalidProcedureCall});
  QCOMPARE(prompts::testing::AskedOf(Kind::OpenFile).size(), std::size_t{1});
  // The limit counts what the getter returns: a long tail after a NUL does not matter.
  d.FileName(QStringLiteral("short") + kNul + QString(400, u'x'));
  QCOMPARE(ErrorNumberOf([&] { d.ShowOpen(); }), 0L);
}

void CommonDialogsTest::cancelChangesNothing_data() {
  QTest::addColumn<QString>("show");
  for (const char* show : {"ShowOpen", "ShowFolder", "ShowSave", "ShowColor", "ShowFont"}) QTest::newRow(show) << show;
}

void CommonDialogsTest::cancelChangesNothing() {
  QFETCH(QString, show);
  QTemporaryDir folder;
  CCommonDialogs d;
  d.Init(&owner_);
  d.FileName(QStringLiteral("/a/b.xlsx"));
  d.FileTitle(QStringLiteral("b.xlsx"));
  d.Path(folder.path() + u'/');
  d.Color(0x00112233);
  d.FontName(QStringLiteral("Arial"));
  d.FontSize(12);
  d.FontBold(true);
  for (Kind kind : {Kind::OpenFile, Kind::Folder, Kind::SaveFile, Kind::Color, Kind::Font}) {
    prompts::testing::Queue(kind, prompts::Answer{});  // cancelled
  }
  bool result = true;
  if (show == "ShowOpen") result = d.ShowOpen();
  if (show == "ShowFolder") result = d.ShowFolder();
  if (show == "ShowSave") result = d.ShowSave();
  if (show == "ShowColor") result = d.ShowColor(false);
  if (show == "ShowFont") result = d.ShowFont();
  QVERIFY(!result);
  QCOMPARE(prompts::testing::Unanswered(), 0);
  QCOMPARE(d.FileName(), QStringLiteral("/a/b.xlsx"));
  QCOMPARE(d.FileTitle(), QStringLiteral("b.xlsx"));
  QCOMPARE(d.Path(), folder.path() + u'/');
  QCOMPARE(d.Color(), 0x00112233);
  QCOMPARE(d.FontName(), QStringLiteral("Arial"));
  QCOMPARE(d.FontSize(), 12);
  QVERIFY(d.FontBold());
}

void CommonDialogsTest::showFolderClearsFileProperties() {
  CCommonDialogs d;
  d.Init(&owner_);
  d.FileName(QStringLiteral("/a/b.xlsx"));
  d.FileTitle(QStringLiteral("b.xlsx"));
  prompts::testing::Queue(Kind::Folder, Accept(QStringLiteral("/srv/reports")));
  QVERIFY(d.ShowFolder());
  QCOMPARE(d.Path(), QStringLiteral("/srv/reports"));
  QCOMPARE(d.FileName(), QString());
  QCOMPARE(d.FileTitle(), QString());
}

void CommonDialogsTest::showSaveAdjustsPathFirst_data() {
  QTest::addColumn<QString>("path");      // "{dir}" stands for an existing folder
  QTest::addColumn<QString>("expected");  // "{program}" for the program's folder
  QTest::newRow("empty") << "" << "{program}";
  QTest::newRow("blanks only") << "   " << "{program}";
  QTest::newRow("existing folder gets its slash") << "{dir}" << "{dir}/";
  QTest::newRow("existing folder with slash") << "{dir}/" << "{dir}/";
  QTest::newRow("text after NUL dropped") << QString("{dir}") + kNul + "junk" << "{dir}/";
  QTest::newRow("missing folder") << "{dir}/missing" << "{program}";
  QTest::newRow("a file, not a folder") << "{dir}/file.txt" << "{program}";
}

void CommonDialogsTest::showSaveAdjustsPathFirst() {
  QFETCH(QString, path);
  QFETCH(QString, expected);
  QTemporaryDir dir;
  Touch(dir.filePath(QStringLiteral("file.txt")));
  const auto expand = [&](QString text) {
    return text.replace(QStringLiteral("{dir}"), dir.path())
        .replace(QStringLiteral("{program}"), QCoreApplication::applicationDirPath());
  };
  CCommonDialogs cancelled;
  cancelled.Init(&owner_);
  cancelled.Path(expand(path));
  QVERIFY(!cancelled.ShowSave());
  QCOMPARE(cancelled.Path(), expand(expected));
  QCOMPARE(OnlyRequest(Kind::SaveFile).directory, expand(expected));
  // Without an owner the adjustment is made all the same, before the call fails.
  CCommonDialogs ownerless;
  ownerless.Path(expand(path));
  QCOMPARE(ErrorNumberOf([&] { ownerless.ShowSave(); }), long{kObjectVariableNotSet});
  QCOMPARE(ownerless.Path(), expand(expected));
}

void CommonDialogsTest::showSaveAsksFixedCaptionAndKeepsAnswer() {
  CCommonDialogs d;
  d.Init(&owner_);
  d.Title(QStringLiteral("My title"));
  d.DefExt(QStringLiteral("txt"));
  d.FileName(QStringLiteral("/a/start.txt"));
  d.ShowSave();
  const prompts::Request request = OnlyRequest(Kind::SaveFile);
  QCOMPARE(request.caption, std::optional<QString>(QStringLiteral("Save")));
  QCOMPARE(request.fileName, QString());
  QCOMPARE(request.defaultSuffix, QString());
  QCOMPARE(d.FileName(), QStringLiteral("/a/start.txt"));

  prompts::testing::Queue(Kind::SaveFile, Accept(QStringLiteral("/out/report.csv")));
  QVERIFY(d.ShowSave());
  QCOMPARE(d.FileName(), QStringLiteral("/out/report.csv"));
  QCOMPARE(d.FileTitle(), QStringLiteral("report.csv"));
  QCOMPARE(d.Path(), QStringLiteral("/out"));
  // The answer held 255 characters at most.
  const QString deep = QStringLiteral("/") + QString(300, u'd') + QStringLiteral("/x.csv");
  prompts::testing::Queue(Kind::SaveFile, Accept(deep));
  QVERIFY(d.ShowSave());
  QCOMPARE(d.FileName(), deep.left(kSaveFileNameLimit));
}

void CommonDialogsTest::saveFilterBuffer_data() {
  QTest::addColumn<QString>("filter");
  QTest::addColumn<QString>("buffer");
  QTest::addColumn<QStringList>("chooserFilters");
  QTest::newRow("empty") << "" << QString("*.*") + kNul + "*.*" + kNul + kNul << QStringList{"*.* (*)"};
  QTest::newRow("blanks") << "  " << QString("*.*") + kNul + "*.*" + kNul + kNul << QStringList{"*.* (*)"};
  QTest::newRow("two pairs") << "Text|*.txt|Sheets|*.xls;*.csv"
                             << QString("Text") + kNul + "*.txt" + kNul + "Sheets" + kNul + "*.xls;*.csv" + kNul + kNul
                             << QStringList{"Text (*.[tT][xX][tT])", "Sheets (*.[xX][lL][sS] *.[cC][sS][vV])"};
  QTest::newRow("no bar: one piece") << "abc" << QString("abc") + kNul + kNul << QStringList{};
  QTest::newRow("already NUL-divided") << QString("Text") + kNul + "*.txt" + kNul
                                       << QString("Text") + kNul + "*.txt" + kNul + kNul + kNul
                                       << QStringList{"Text (*.[tT][xX][tT])"};
  QTest::newRow("empty description ends the list") << "|*.txt|All|*.*"
                                                   << QString(kNul) + "*.txt" + kNul + "All" + kNul + "*.*" + kNul + kNul
                                                   << QStringList{};
}

void CommonDialogsTest::saveFilterBuffer() {
  QFETCH(QString, filter);
  QFETCH(QString, buffer);
  QFETCH(QStringList, chooserFilters);
  QCOMPARE(SaveFilterBuffer(filter), buffer);
  QCOMPARE(FilterPairs(buffer), chooserFilters);
  CCommonDialogs d;
  d.Init(&owner_);
  d.Filter(filter);
  d.ShowSave();
  QCOMPARE(OnlyRequest(Kind::SaveFile).nameFilters, chooserFilters);
}

void CommonDialogsTest::showColorConvertsAndResetsCustomColors() {
  QColorDialog::setCustomColor(5, Qt::red);
  CCommonDialogs d;
  d.Init(&owner_);
  d.Color(0x00336699);  // blue 0x33, green 0x66, red 0x99
  prompts::Answer answer;
  answer.accepted = true;
  answer.color = QColor(1, 2, 3);
  prompts::testing::Queue(Kind::Color, answer);
  QVERIFY(d.ShowColor(true));
  const prompts::Request request = OnlyRequest(Kind::Color);
  QCOMPARE(request.color, QColor(0x99, 0x66, 0x33));
  QVERIFY(request.fullOpen);
  QCOMPARE(d.Color(), 0x00030201);
  for (int i = 0; i < QColorDialog::customCount(); ++i) QCOMPARE(QColorDialog::customColor(i), QColor(Qt::black));
  QCOMPARE(ValueFromColor(ColorFromValue(0x7F00FFFE)), 0x0000FFFE);  // the top byte is no colour
}

void CommonDialogsTest::showFontPassesAndKeepsProperties() {
  CCommonDialogs d;
  d.Init(&owner_);
  // The chooser gets 31 characters of the face name at most.
  d.FontName(QStringLiteral("Liberation Sans") + QString(30, u'x'));
  d.FontSize(12);
  d.FontBold(true);
  d.FontUnderline(true);
  d.Color(0x000000FF);
  prompts::Answer answer;
  answer.accepted = true;
  answer.font = QFont(QStringLiteral("Liberation Mono"));
  answer.font.setPointSizeF(10.5);
  answer.font.setItalic(true);
  answer.font.setUnderline(false);
  prompts::testing::Queue(Kind::Font, answer);
  QVERIFY(d.ShowFont());
  const QFont start = OnlyRequest(Kind::Font).font;
  QCOMPARE(start.family(), QStringLiteral("Liberation Sans") + QString(16, u'x'));
  QCOMPARE(start.pointSize(), 12);
  QVERIFY(start.bold() && !start.italic() && start.underline());
  QCOMPARE(d.FontName(), QStringLiteral("Liberation Mono"));
  QCOMPARE(d.FontSize(), 10);  // 10.5 points kept as whole points
  QVERIFY(!d.FontBold());
  QVERIFY(d.FontItalic());
  QVERIFY(d.FontUnderline());  // never taken from the chooser
  QCOMPARE(d.Color(), 0x000000FF);
}

void CommonDialogsTest::printersAnswerFalseWithoutPrinters() {
  if (!QPrinterInfo::availablePrinters().isEmpty()) QSKIP("this machine has printers");
  CCommonDialogs d;
  d.Init(&owner_);
  prompts::testing::Queue(Kind::Printer, Accept(QString()));
  prompts::testing::Queue(Kind::PrinterProperties, Accept(QString()));
  QVERIFY(!d.ShowPrinter());
  QVERIFY(!d.ShowPrinterProperties());
  QVERIFY(prompts::testing::Asked().empty());
}

void CommonDialogsTest::realOpenChooserShowsExcelFilesOnly() {
  prompts::testing::Release();
  QTemporaryDir dir;
  for (const char* name : {"a.xlsx", "B.XLSM", "c.txt", "d.xls", "notes.xml", "e.xlsb"}) Touch(dir.filePath(name));
  CCommonDialogs d;
  d.Init(&owner_);
  d.Title(QStringLiteral("Select Excel File"));
  d.Filter(QStringLiteral("Text|*.txt"));
  d.FileName(dir.filePath(QStringLiteral("a.xlsx")));
  QStringList listed;
  QString caption;
  const bool chosen = WithModal([&] { return d.ShowOpen(); }, [&](QDialog& dialog) {
    auto& files = static_cast<QFileDialog&>(dialog);
    caption = files.windowTitle();
    listed = ListedNames(files, 4);
    PickAndConfirm(dialog, dir.filePath(QStringLiteral("B.XLSM")));
  });
  QCOMPARE(caption, QStringLiteral("Select Excel File"));
  QCOMPARE(listed, (QStringList{"B.XLSM", "a.xlsx", "d.xls", "e.xlsb"}));
  QVERIFY(chosen);
  QCOMPARE(d.FileName(), dir.filePath(QStringLiteral("B.XLSM")));
  QCOMPARE(d.FileTitle(), QStringLiteral("B.XLSM"));
  QCOMPARE(d.Path(), dir.path());
}

void CommonDialogsTest::realFolderChooserReturnsFolder() {
  prompts::testing::Release();
  QTemporaryDir dir;
  QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Quarter 1")));
  CCommonDialogs d;
  d.Init(&owner_);
  d.Title(QStringLiteral("Add all excel files in folder"));
  d.FileName(QStringLiteral("/x/y.xlsx"));
  QString caption;
  const bool chosen = WithModal([&] { return d.ShowFolder(); }, [&](QDialog& dialog) {
    auto& files = static_cast<QFileDialog&>(dialog);
    caption = files.windowTitle();
    files.setDirectory(dir.path());
    PickAndConfirm(dialog, dir.filePath(QStringLiteral("Quarter 1")));
  });
  QCOMPARE(caption, QStringLiteral("Add all excel files in folder"));
  QVERIFY(chosen);
  QCOMPARE(d.Path(), dir.filePath(QStringLiteral("Quarter 1")));
  QCOMPARE(d.FileName(), QString());
}

void CommonDialogsTest::realSaveChooserTakesExistingFileWithoutAsking() {
  prompts::testing::Release();
  QTemporaryDir dir;
  Touch(dir.filePath(QStringLiteral("taken.txt")));
  CCommonDialogs d;
  d.Init(&owner_);
  d.Path(dir.path());
  d.Filter(QStringLiteral("Text files|*.txt"));
  QString caption;
  QString shownFolder;
  const bool chosen = WithModal([&] { return d.ShowSave(); }, [&](QDialog& dialog) {
    auto& files = static_cast<QFileDialog&>(dialog);
    caption = files.windowTitle();
    shownFolder = files.directory().absolutePath();
    PickAndConfirm(dialog, dir.filePath(QStringLiteral("taken.txt")));
  });
  QCOMPARE(caption, QStringLiteral("Save"));
  QCOMPARE(shownFolder, dir.path());
  QVERIFY(chosen);
  QCOMPARE(d.FileName(), dir.filePath(QStringLiteral("taken.txt")));
}

void CommonDialogsTest::realColorAndFontChoosers() {
  prompts::testing::Release();
  CCommonDialogs d;
  d.Init(&owner_);
  d.Color(0x00FF0000);  // blue
  QColor shown;
  QVERIFY(WithModal([&] { return d.ShowColor(false); }, [&](QDialog& dialog) {
    auto& colors = static_cast<QColorDialog&>(dialog);
    shown = colors.currentColor();
    colors.setCurrentColor(QColor(10, 20, 30));
    colors.accept();
  }));
  QCOMPARE(shown, QColor(Qt::blue));
  QCOMPARE(d.Color(), 0x001E140A);

  d.FontName(QStringLiteral("Liberation Sans"));
  d.FontSize(9);
  d.FontUnderline(true);
  bool effectsShown = true;
  QVERIFY(WithModal([&] { return d.ShowFont(); }, [&](QDialog& dialog) {
    auto& fonts = static_cast<QFontDialog&>(dialog);
    effectsShown = false;
    for (QCheckBox* box : fonts.findChildren<QCheckBox*>()) effectsShown |= box->isVisible();
    QFont pick(QStringLiteral("Liberation Serif"));
    pick.setPointSize(16);
    pick.setBold(true);
    fonts.setCurrentFont(pick);
    fonts.accept();
  }));
  QVERIFY(!effectsShown);
  QCOMPARE(d.FontName(), QStringLiteral("Liberation Serif"));
  QCOMPARE(d.FontSize(), 16);
  QVERIFY(d.FontBold());
  QVERIFY(d.FontUnderline());
}

QTEST_MAIN(CommonDialogsTest)
#include "tst_common_dialogs.moc"
