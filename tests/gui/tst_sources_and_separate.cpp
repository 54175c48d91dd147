// The window's commands end to end, offscreen, with real workbooks in temporary folders:
// adding sources through the file and folder choosers, clicking sources and workbooks,
// unticking and renaming sheets, Separate in each naming mode, and what it shows. Every output
// is read back by openpyxl.
#include "dialogs/Prompts.h"
#include "gui/form1.h"
#include "tests/gui/QtTestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

using tabrend::gui::form1;
using tabrend::gui::ReportList;
using tabrend::gui::StateFiles;
namespace prompts = tabrend::prompts;

using tabrend::test::Entries;

namespace {

// Runs a script with the Python that has openpyxl and XlsxWriter; the arguments reach it as
// the lines of a file, so any name survives. Returns its standard output.
QString RunPython(const QString& script, const QStringList& args) {
  QTemporaryDir scratch;
  QFile argsFile(scratch.filePath(QStringLiteral("args.txt")));
  if (!argsFile.open(QIODevice::WriteOnly)) qFatal("cannot write the arguments");
  for (const QString& arg : args) argsFile.write(arg.toUtf8() + '\n');
  argsFile.close();
  QProcess python;
  python.start(QStringLiteral(TABREND_PYTHON), {QStringLiteral("-c"), script, argsFile.fileName()});
  if (!python.waitForFinished(120000) || python.exitCode() != 0) {
    qFatal("python failed: %s", python.readAllStandardError().constData());
  }
  return QString::fromUtf8(python.readAllStandardOutput());
}

// Workbooks, each given as "path|sheet|sheet..."; A1 of each sheet holds "<name> data".
void MakeWorkbooks(const QStringList& books) {
  RunPython(QStringLiteral(R"(import sys, xlsxwriter
for line in open(sys.argv[1], encoding='utf-8').read().split('\n')[:-1]:
    path, *sheets = line.split('|')
    book = xlsxwriter.Workbook(path)
    for name in sheets:
        book.add_worksheet(name).write('A1', name + ' data')
    book.close()
)"),
            books);
}

// Every file under folder, relative to it and sorted, each .xlsx followed by its sheets as
// openpyxl reads them: "a/Jan.xlsx: Jan=Jan data". Folders appear as "a/".
QStringList ReadTree(const QString& folder) {
  const QString output = RunPython(QStringLiteral(R"(import sys, os, openpyxl
root = open(sys.argv[1], encoding='utf-8').read().split('\n')[0]
lines = []
for folder, dirs, files in os.walk(root):
    for name in dirs:
        lines.append(os.path.relpath(os.path.join(folder, name), root) + '/')
    for name in files:
        path = os.path.join(folder, name)
        line = os.path.relpath(path, root)
        if name.endswith('.xlsx'):
            book = openpyxl.load_workbook(path)
            line += ': ' + ', '.join(s.title + '=' + str(s['A1'].value) for s in book.worksheets)
        lines.append(line)
sys.stdout.buffer.write(''.join(l + '\n' for l in sorted(lines)).encode('utf-8'))
)"),
                                   {folder});
  return output.split(u'\n', Qt::SkipEmptyParts);
}

QList<bool> Ticks(const ReportList& list) {
  QList<bool> ticks;
  for (int i = 1; i <= list.Count(); ++i) ticks << list.Checked(i);
  return ticks;
}

prompts::Answer Chosen(const QString& path) {
  prompts::Answer answer;
  answer.accepted = true;
  answer.path = path;
  return answer;
}

// The messages shown since interception began: "icon: text" (icon None, Information, Error).
QStringList Messages() {
  QStringList shown;
  for (const prompts::Request& request : prompts::testing::AskedOf(prompts::Kind::Message)) {
    const char* icon = request.icon == prompts::MessageIcon::Information ? "Information"
                       : request.icon == prompts::MessageIcon::Error     ? "Error"
                                                                         : "None";
    shown << QString::fromLatin1(icon) + QStringLiteral(": ") + request.text;
  }
  return shown;
}

QStringList Opened() {
  QStringList opened;
  for (const prompts::Request& request : prompts::testing::AskedOf(prompts::Kind::ShellOpen)) {
    opened << request.text;
  }
  return opened;
}

}  // namespace

class SourcesAndSeparateTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void addFileAndFolderThroughTheirChoosers();
  void choicesSurviveMovingBetweenWorkbooksAndGoWithTheSource();
  void arrowsAndRemoveCommands();
  void separateInEachNamingMode_data();
  void separateInEachNamingMode();
  void separateShowsItsMessages();
  void statusAndProgressShowWhileSplitting();
  void nameStillBeingTypedCounts();

 private:
  // The person's actions on the real widgets.
  void Click(ReportList* list, int i);
  void Untick(ReportList* list, int i);
  void Rename(ReportList* list, int i, const QString& text);
  void AddFolder(const QString& folder);
  void AddFile(const QString& file);
  // The single run folder made under out, with its final "/".
  QString RunFolder(const QString& out) const;
  void ExpectAtRest();

  QTemporaryDir dir_;
  QString src_;
  std::unique_ptr<QTemporaryDir> programDir_;
  std::unique_ptr<form1> window_;
};

void SourcesAndSeparateTest::initTestCase() {
  QVERIFY(dir_.isValid());
  src_ = dir_.filePath(QStringLiteral("src"));
  QDir().mkpath(src_);
  MakeWorkbooks({src_ + "/a.xlsx|A1|A2|A3", src_ + "/b.xlsx|B1|B2", src_ + "/skip.xlsx|Never",
                 dir_.filePath("single.xlsx") + "|S1|S2", dir_.filePath("2.xlsx") + "|x|y|z"});
}

void SourcesAndSeparateTest::init() {
  prompts::testing::Intercept();
  programDir_ = std::make_unique<QTemporaryDir>();
  window_ = std::make_unique<form1>(StateFiles(programDir_->path(), programDir_->filePath("config")));
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  window_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window_.get()));
}

void SourcesAndSeparateTest::cleanup() {
  QCOMPARE(prompts::testing::Unanswered(), 0);
  QCOMPARE(prompts::testing::Pending(), 0);
  window_.reset();
  prompts::testing::Release();
}

void SourcesAndSeparateTest::Click(ReportList* list, int i) {
  QTreeWidgetItem* item = list->topLevelItem(i - 1);
  list->scrollToItem(item);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
}

void SourcesAndSeparateTest::Untick(ReportList* list, int i) {
  QVERIFY(list->Checked(i));
  list->setFocus();
  list->setCurrentItem(list->topLevelItem(i - 1));
  QTest::keyClick(list, Qt::Key_Space);
  QVERIFY(!list->Checked(i));
}

void SourcesAndSeparateTest::Rename(ReportList* list, int i, const QString& text) {
  list->setFocus();
  list->setCurrentItem(list->topLevelItem(i - 1));
  QTest::keyClick(list, Qt::Key_F2);
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  QVERIFY2(editor, "no editor opened");
  editor->selectAll();
  QTest::keyClicks(editor, text);
  QTest::keyClick(editor, Qt::Key_Return);
  QTRY_COMPARE(list->Text(i), text);  // the view takes the edit from its event queue
}

void SourcesAndSeparateTest::AddFolder(const QString& folder) {
  prompts::testing::Queue(prompts::Kind::Folder, Chosen(folder));
  window_->Command5->click();
}

void SourcesAndSeparateTest::AddFile(const QString& file) {
  prompts::testing::Queue(prompts::Kind::OpenFile, Chosen(file));
  window_->Command1->click();
}

QString SourcesAndSeparateTest::RunFolder(const QString& out) const {
  const QStringList runs = QDir(out).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  if (runs.size() != 1 || !QRegularExpression(QStringLiteral("^\\d{14}$")).match(runs[0]).hasMatch()) {
    qWarning() << "run folders:" << runs;
    return {};
  }
  return out + u'/' + runs[0] + u'/';
}

void SourcesAndSeparateTest::ExpectAtRest() {
  QCOMPARE(window_->Label1->text(), QString());
  QCOMPARE(window_->ProgressBar1->value(), 0);
  QCOMPARE(window_->cursor().shape(), Qt::ArrowCursor);
}

void SourcesAndSeparateTest::addFileAndFolderThroughTheirChoosers() {
  AddFile(dir_.filePath("single.xlsx"));
  QCOMPARE(Entries(*window_->ListView1), QStringList{dir_.filePath("single.xlsx")});
  QCOMPARE(window_->ListView1->Icon(1), tabrend::gui::kIconWorkbookFile);
  QCOMPARE(Entries(*window_->ListView2), QStringList{"single.xlsx"});
  QCOMPARE(Entries(*window_->ListView3), (QStringList{"S1", "S2"}));
  QCOMPARE(Ticks(*window_->ListView3), (QList<bool>{true, true}));

  prompts::testing::Queue(prompts::Kind::Folder, Chosen(src_));
  window_->AddFolder->trigger();  // the menu item does what the button does
  QCOMPARE(Entries(*window_->ListView1), (QStringList{dir_.filePath("single.xlsx"), src_}));
  QCOMPARE(window_->ListView1->Icon(2), tabrend::gui::kIconFolder);
  QCOMPARE(window_->ListView1->SelectedIndex(), 2);
  QCOMPARE(Entries(*window_->ListView2), (QStringList{"a.xlsx", "b.xlsx", "skip.xlsx"}));
  QCOMPARE(Ticks(*window_->ListView2), (QList<bool>{true, true, true}));
  QCOMPARE(Entries(*window_->ListView3), (QStringList{"A1", "A2", "A3"}));

  // The choosers were asked with the commands' titles and the open filter.
  const auto asked = prompts::testing::Asked();
  QCOMPARE(asked.size(), 2u);
  QCOMPARE(asked[0].kind, prompts::Kind::OpenFile);
  QCOMPARE(asked[0].caption.value_or(QString()), QStringLiteral("Select Excel File"));
  QCOMPARE(asked[0].nameFilters.size(), 1);
  QVERIFY2(asked[0].nameFilters[0].startsWith("Excel files(*.xls;*.xlsx;*.xlsm;*.xlsb)"),
           qPrintable(asked[0].nameFilters[0]));
  QCOMPARE(asked[1].caption.value_or(QString()), QStringLiteral("Add all excel files in folder"));

  // Cancelled choosers change nothing.
  window_->Command1->click();
  window_->Command5->click();
  prompts::testing::Intercept();  // the two refusals above were meant
  QCOMPARE(window_->ListView1->Count(), 2);
  ExpectAtRest();
}

void SourcesAndSeparateTest::choicesSurviveMovingBetweenWorkbooksAndGoWithTheSource() {
  AddFile(dir_.filePath("single.xlsx"));
  AddFolder(src_);
  Click(window_->ListView1, 1);
  QCOMPARE(Entries(*window_->ListView2), QStringList{"single.xlsx"});
  QCOMPARE(Entries(*window_->ListView3), (QStringList{"S1", "S2"}));
  Click(window_->ListView1, 2);
  QCOMPARE(Entries(*window_->ListView3), (QStringList{"A1", "A2", "A3"}));

  Untick(window_->ListView3, 2);
  Rename(window_->ListView3, 3, QStringLiteral("Third"));
  Click(window_->ListView2, 2);
  QCOMPARE(Entries(*window_->ListView3), (QStringList{"B1", "B2"}));
  Untick(window_->ListView3, 1);
  Click(window_->ListView2, 1);
  QCOMPARE(Entries(*window_->ListView3), (QStringList{"A1", "A2", "Third"}));
  QCOMPARE(Ticks(*window_->ListView3), (QList<bool>{true, false, true}));
  Click(window_->ListView2, 2);
  QCOMPARE(Ticks(*window_->ListView3), (QList<bool>{false, true}));
  QVERIFY(window_->Engine().ForceSheetReload);

  // Another source and back: every sheet ticked under its own name again.
  Click(window_->ListView1, 1);
  Click(window_->ListView1, 2);
  QCOMPARE(Entries(*window_->ListView3), (QStringList{"A1", "A2", "A3"}));
  Click(window_->ListView2, 2);
  QCOMPARE(Ticks(*window_->ListView3), (QList<bool>{true, true}));
  QVERIFY(Messages().isEmpty());
  ExpectAtRest();
}

void SourcesAndSeparateTest::arrowsAndRemoveCommands() {
  AddFile(dir_.filePath("single.xlsx"));
  AddFolder(src_);
  window_->ListView1->Add(QStringLiteral("/no/such/path"), tabrend::gui::kIconMissingPath);
  window_->ListView1->Select(3);
  window_->Command3->click();
  QCOMPARE(Entries(*window_->ListView1), (QStringList{dir_.filePath("single.xlsx"), "/no/such/path", src_}));
  QCOMPARE(window_->ListView1->Icon(2), tabrend::gui::kIconMissingPath);
  QCOMPARE(window_->ListView1->SelectedIndex(), 2);
  window_->Command4->click();
  window_->Command4->click();  // already last
  QCOMPARE(window_->ListView1->Text(3), QStringLiteral("/no/such/path"));

  window_->ListView1->Select(2);
  window_->Command2->click();  // the folder goes; the file before it is listed
  QCOMPARE(Entries(*window_->ListView1), (QStringList{dir_.filePath("single.xlsx"), "/no/such/path"}));
  QCOMPARE(window_->ListView1->SelectedIndex(), 1);
  QCOMPARE(Entries(*window_->ListView2), QStringList{"single.xlsx"});
  QCOMPARE(Entries(*window_->ListView3), (QStringList{"S1", "S2"}));

  window_->RemoveAll->trigger();
  QCOMPARE(window_->ListView1->Count() + window_->ListView2->Count() + window_->ListView3->Count(), 0);
  QVERIFY(Messages().isEmpty());
  ExpectAtRest();
}

void SourcesAndSeparateTest::separateInEachNamingMode_data() {
  QTest::addColumn<int>("mode");
  QTest::addColumn<QStringList>("tree");  // under the run folder
  // a: A2 unticked, A3 renamed "Third"; b: B2 renamed "2" on screen; skip.xlsx unticked.
  QTest::newRow("sheet name") << 0
                              << QStringList{"a/", "a/A1.xlsx: A1=A1 data", "a/Third.xlsx: Third=A3 data",
                                             "b/", "b/2.xlsx: 2=B2 data", "b/B1.xlsx: B1=B1 data"};
  QTest::newRow("workbook and sheet")
      << 1
      << QStringList{"a/", "a/a_A1.xlsx: A1=A1 data", "a/a_Third.xlsx: Third=A3 data",
                     "b/", "b/b_2.xlsx: 2=B2 data", "b/b_B1.xlsx: B1=B1 data"};
  QTest::newRow("running number") << 2
                                  << QStringList{"a/", "a/1.xlsx: A1=A1 data", "a/2.xlsx: Third=A3 data",
                                                 "b/", "b/1.xlsx: B1=B1 data", "b/2.xlsx: 2=B2 data"};
}

void SourcesAndSeparateTest::separateInEachNamingMode() {
  QFETCH(int, mode);
  QFETCH(QStringList, tree);
  AddFolder(src_);
  Untick(window_->ListView3, 2);
  Rename(window_->ListView3, 3, QStringLiteral("Third"));
  Click(window_->ListView2, 2);
  Rename(window_->ListView3, 2, QStringLiteral("2"));
  Untick(window_->ListView2, 3);
  window_->Combo1->setFocus();
  window_->Combo1->setCurrentIndex(0);
  for (int i = 0; i < mode; ++i) QTest::keyClick(window_->Combo1, Qt::Key_Down);
  QCOMPARE(window_->Combo1->currentIndex(), mode);

  const QString out = dir_.filePath(QStringLiteral("out-mode%1").arg(mode));
  QDir().mkpath(out);
  prompts::testing::Queue(prompts::Kind::Folder, Chosen(out));
  window_->Command6->click();

  const QString run = RunFolder(out);
  QVERIFY(!run.isEmpty());
  QCOMPARE(ReadTree(run), tree);
  QCOMPARE(prompts::testing::AskedOf(prompts::Kind::Folder).back().caption.value_or(QString()),
           QStringLiteral("Please select output folder"));
  QCOMPARE(Messages(), QStringList{});
  QCOMPARE(Opened(), QStringList{run});
  ExpectAtRest();
  // The lists are as the person left them.
  QCOMPARE(Entries(*window_->ListView3), (QStringList{"B1", "2"}));
  QCOMPARE(Ticks(*window_->ListView2), (QList<bool>{true, true, false}));
}

void SourcesAndSeparateTest::separateShowsItsMessages() {
  window_->Separate->trigger();  // nothing listed yet
  QCOMPARE(Messages(), QStringList{"Information: Please select excel at fast!"});
  ExpectAtRest();

  // A folder with a workbook that cannot be read between two that can.
  const QString mixed = dir_.filePath(QStringLiteral("mixed"));
  QDir().mkpath(mixed);
  QFile::copy(src_ + "/b.xlsx", mixed + "/b.xlsx");
  QFile::copy(dir_.filePath("2.xlsx"), mixed + "/d.xlsx");
  QFile broken(mixed + "/c.xlsx");
  QVERIFY(broken.open(QIODevice::WriteOnly));
  broken.write("not a workbook");
  broken.close();
  AddFolder(mixed);

  prompts::testing::Intercept();
  prompts::testing::Queue(prompts::Kind::Folder, Chosen(dir_.filePath("missing")));
  window_->Command6->click();
  QCOMPARE(Messages(), QStringList{"None: Folder does not exist!"});
  ExpectAtRest();

  prompts::testing::Intercept();
  const QString out = dir_.filePath(QStringLiteral("out-messages"));
  QDir().mkpath(out);
  prompts::testing::Queue(prompts::Kind::Folder, Chosen(out));
  window_->Command6->click();
  const QStringList shown = Messages();
  QCOMPARE(shown.size(), 2);
  QVERIFY2(shown[0].startsWith("None: ") && shown[0].contains("'c.xlsx'"), qPrintable(shown[0]));
  QCOMPARE(shown[1], QStringLiteral("Error: Split c file failed!"));
  const QString run = RunFolder(out);
  QCOMPARE(ReadTree(run), (QStringList{"b/", "b/B1.xlsx: B1=B1 data", "b/B2.xlsx: B2=B2 data", "c/", "d/",
                                       "d/x.xlsx: x=x data", "d/y.xlsx: y=y data", "d/z.xlsx: z=z data"}));
  QCOMPARE(Opened(), QStringList{run});
  ExpectAtRest();
}

void SourcesAndSeparateTest::statusAndProgressShowWhileSplitting() {
  AddFile(dir_.filePath("2.xlsx"));
  Untick(window_->ListView3, 2);
  window_->Combo1->setCurrentIndex(2);
  const QString out = dir_.filePath(QStringLiteral("out-progress"));
  QDir().mkpath(out);
  prompts::testing::Queue(prompts::Kind::Folder, Chosen(out));

  // The split lets the window system's events through; a timer sees what a person would.
  QStringList seen;
  bool clickedDuringRun = false;
  QTimer sampler;
  connect(&sampler, &QTimer::timeout, this, [&] {
    const QString sample = QStringLiteral("%1 %2/%3 %4")
                               .arg(window_->Label1->text())
                               .arg(window_->ProgressBar1->value())
                               .arg(window_->ProgressBar1->maximum())
                               .arg(window_->cursor().shape() == Qt::WaitCursor ? "wait" : "normal");
    if (seen.isEmpty() || seen.back() != sample) seen << sample;
    // Clicks made while it runs are dropped, neither run inside it nor queued for after it.
    if (!clickedDuringRun && window_->Label1->text().startsWith(QLatin1String("Splitting"))) {
      clickedDuringRun = true;
      QTest::mouseClick(window_->Command2, Qt::LeftButton);  // Remove File
      QTest::mouseClick(window_->Command6, Qt::LeftButton);  // a second Separate
      window_->RemoveAll->trigger();
    }
  });
  sampler.start(0);
  window_->Command6->click();
  sampler.stop();
  QCoreApplication::processEvents();
  QVERIFY(clickedDuringRun);
  QCOMPARE(window_->ListView1->Count(), 1);
  QCOMPARE(prompts::testing::Unanswered(), 0);
  QVERIFY(window_->Command2->isEnabled() && window_->menuBar()->isEnabled());

  QVERIFY2(seen.contains("Splitting 2 3/3 wait"), qPrintable(seen.join(" | ")));
  QVERIFY2(seen.contains("Splitting 2 2/3 wait"), qPrintable(seen.join(" | ")));  // the unticked sheet
  QCOMPARE(ReadTree(RunFolder(out)), (QStringList{"2/", "2/1.xlsx: x=x data", "2/2_2.xlsx: z=z data"}));
  ExpectAtRest();
}

void SourcesAndSeparateTest::nameStillBeingTypedCounts() {
  AddFile(dir_.filePath("single.xlsx"));
  ReportList* sheets = window_->ListView3;
  sheets->setFocus();
  sheets->setCurrentItem(sheets->topLevelItem(0));
  QTest::keyClick(sheets, Qt::Key_F2);
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  QVERIFY2(editor, "no editor opened");
  editor->selectAll();
  QTest::keyClicks(editor, QStringLiteral("Typed"));  // and no Return
  const QString out = dir_.filePath(QStringLiteral("out-typed"));
  QDir().mkpath(out);
  prompts::testing::Queue(prompts::Kind::Folder, Chosen(out));
  QTest::mouseClick(window_->Command6, Qt::LeftButton);

  QCOMPARE(ReadTree(RunFolder(out)),
           (QStringList{"single/", "single/S2.xlsx: S2=S2 data", "single/Typed.xlsx: Typed=S1 data"}));
  QCOMPARE(sheets->Text(1), QStringLiteral("Typed"));
}

QTEST_MAIN(SourcesAndSeparateTest)
#include "tst_sources_and_separate.moc"
