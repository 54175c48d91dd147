// The window's commands end to end, offscreen, with real workbooks in temporary folders:
// adding sources through the file and folder choosers and by dropping them, clicking sources
// and workbooks, unticking and renaming sheets, Separate in each naming mode, what it shows
// and sums up, stopping it, the choosers' remembered folders, and the window answering while
// its commands run. Every output is read back by openpyxl.
#include "dialogs/Prompts.h"
#include "gui/form1.h"
#include "tests/gui/QtTestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

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

// Posts an event to a window every 10 ms from a thread of its own and notes how late the
// window's thread handles each: one that is busy with a long command handles them late.
class Latency : public QObject {
 public:
  explicit Latency(QWidget* window) : window_(window) {
    window_->installEventFilter(this);
    poster_ = std::thread([this] {
      while (!stop_) {
        QCoreApplication::postEvent(window_, new Stamped(std::chrono::steady_clock::now()));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }
  ~Latency() override { Stop(); }
  // Stops posting; events still on their way are handled first.
  void Stop() {
    stop_ = true;
    if (poster_.joinable()) poster_.join();
    QCoreApplication::sendPostedEvents(window_, kType);
    window_->removeEventFilter(this);
  }
  std::chrono::milliseconds Worst() const { return worst_; }
  int Handled() const { return handled_; }
  int Late() const { return late_; }  // handled 100 ms or more after they were posted
  // Runs what the test itself does on the window's thread (taking a picture): the time it
  // takes is the test's, not the window's.
  void Aside(const std::function<void()>& act) {
    act();
    asideUntil_ = std::chrono::steady_clock::now();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != window_ || event->type() != kType) return false;
    const auto late = std::chrono::steady_clock::now() - std::max(static_cast<Stamped*>(event)->posted, asideUntil_);
    worst_ = std::max(worst_, std::chrono::duration_cast<std::chrono::milliseconds>(late));
    if (late >= std::chrono::milliseconds(100)) ++late_;
    ++handled_;
    return true;
  }

 private:
  static constexpr auto kType = static_cast<QEvent::Type>(QEvent::User + 27);
  struct Stamped : QEvent {
    explicit Stamped(std::chrono::steady_clock::time_point at) : QEvent(kType), posted(at) {}
    std::chrono::steady_clock::time_point posted;
  };
  QWidget* window_;
  std::atomic<bool> stop_{false};
  std::thread poster_;
  std::chrono::milliseconds worst_{0};
  int handled_ = 0;
  int late_ = 0;
  std::chrono::steady_clock::time_point asideUntil_;
};

// Runs act once, on the window's thread, when the progress bar first moves while the status
// line starts with status: the moment a sheet of that workbook has just been written.
void OnceSplitting(form1& window, const QString& status, std::function<void()> act) {
  auto done = std::make_shared<bool>(false);
  QObject::connect(window.ProgressBar1, &QProgressBar::valueChanged, &window, [&window, status, act, done](int value) {
    if (*done || value < 1 || !window.Label1->text().startsWith(status)) return;
    *done = true;
    act();
  });
}

QString SavePicture(const QImage& image, const char* name) {
  const QString path = QStringLiteral(TABREND_TEST_OUTPUT_DIR "/") + QLatin1String(name);
  if (!image.save(path)) qWarning("cannot save %s", qPrintable(path));
  qInfo("main window picture: %s", qPrintable(path));
  return path;
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
  void stopLeavesOnlyCompleteOutputs_data();
  void stopLeavesOnlyCompleteOutputs();
  void droppedFilesAndFoldersBecomeSources();
  void choosersStartWhereThePersonLastWas();
  void convertedWorkbooksListOnceAndSplitInOneStartWhileTheWindowAnswers();

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
  QDir().mkpath(dir_.filePath(QStringLiteral("three")));
  MakeWorkbooks({src_ + "/a.xlsx|A1|A2|A3", src_ + "/b.xlsx|B1|B2", src_ + "/skip.xlsx|Never",
                 dir_.filePath("single.xlsx") + "|S1|S2", dir_.filePath("2.xlsx") + "|x|y|z",
                 dir_.filePath("three/m1.xlsx") + "|P|Q|R", dir_.filePath("three/m2.xlsx") + "|S|T|U",
                 dir_.filePath("three/m3.xlsx") + "|V|W"});
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
  // One summary at the end: a's A2 was unticked.
  QCOMPARE(Messages(), QStringList{"Information: Separate finished: 4 files written into " + run + ".\n1 sheet skipped."});
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
  QCOMPARE(shown.size(), 3);
  QVERIFY2(shown[0].startsWith("None: ") && shown[0].contains("'c.xlsx'"), qPrintable(shown[0]));
  QCOMPARE(shown[1], QStringLiteral("Error: Split c file failed!"));
  const QString run = RunFolder(out);
  // The summary names the failed workbook with its reason.
  QCOMPARE(shown[2], "Error: Separate finished: 5 files written into " + run + ".\n1 workbook failed:\nc.xlsx: " +
                         shown[0].mid(6));
  // A picture of the window with the summary over it.
  {
    const auto box = prompts::MessageBox(window_.get(), shown[2].mid(7), prompts::MessageIcon::Error);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    QImage picture = window_->grab().toImage();
    const QImage summary = box->grab().toImage();
    QPainter painter(&picture);
    painter.drawImage((picture.width() - summary.width()) / 2, (picture.height() - summary.height()) / 2, summary);
    painter.end();
    SavePicture(picture, "form1-summary.png");
  }
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

  // The split runs on its own thread; each change of the bar is seen as a person sees it.
  QStringList seen;
  bool clickedDuringRun = false;
  const auto sample = [&] {
    const QString state = QStringLiteral("%1 %2/%3 %4")
                              .arg(window_->Label1->text())
                              .arg(window_->ProgressBar1->value())
                              .arg(window_->ProgressBar1->maximum())
                              .arg(window_->cursor().shape() == Qt::WaitCursor ? "wait" : "normal");
    if (seen.isEmpty() || seen.back() != state) seen << state;
    // Clicks made while it runs are dropped, neither run inside it nor queued for after it.
    if (!clickedDuringRun && window_->Label1->text().startsWith(QLatin1String("Splitting"))) {
      clickedDuringRun = true;
      QTest::mouseClick(window_->Command2, Qt::LeftButton);  // Remove File
      QTest::mouseClick(window_->Command6, Qt::LeftButton);  // a second Separate
      window_->RemoveAll->trigger();
    }
  };
  const QMetaObject::Connection sampler = connect(window_->ProgressBar1, &QProgressBar::valueChanged, this, sample);
  window_->Command6->click();
  disconnect(sampler);
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

void SourcesAndSeparateTest::stopLeavesOnlyCompleteOutputs_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("Cancel") << "Cancel";
  QTest::newRow("Escape") << "Escape";
  QTest::newRow("closing the window") << "close";
}

// Stopped as the first sheet of the second of three workbooks is written: the first workbook
// is whole, the second has that one sheet, the third was not begun, and no staging folder
// is left. Nothing is opened or summed up; the status line says what was written.
void SourcesAndSeparateTest::stopLeavesOnlyCompleteOutputs() {
  QFETCH(QString, how);
  AddFolder(dir_.filePath(QStringLiteral("three")));
  const QString out = dir_.filePath(QStringLiteral("out-stop-") + how);
  QDir().mkpath(out);
  prompts::testing::Queue(prompts::Kind::Folder, Chosen(out));
  bool stillRunning = false;
  OnceSplitting(*window_, QStringLiteral("Splitting m2 (2 of 3)"), [&] {
    QVERIFY(window_->CommandCancel->isVisible() && !window_->Command6->isVisible());
    if (how == "Cancel") {
      QTest::mouseClick(window_->CommandCancel, Qt::LeftButton);
    } else if (how == "Escape") {
      QTest::keyClick(window_.get(), Qt::Key_Escape);
    } else {
      prompts::Answer no, yes;
      yes.accepted = true;
      prompts::testing::Queue(prompts::Kind::Question, no);
      window_->close();  // "No": the split goes on
      stillRunning = window_->isVisible() && window_->Busy() && !window_->Engine().StopRequested;
      prompts::testing::Queue(prompts::Kind::Question, yes);
      window_->close();
    }
  });
  window_->Command6->click();

  const QString run = RunFolder(out);
  QCOMPARE(ReadTree(run), (QStringList{"m1/", "m1/P.xlsx: P=P data", "m1/Q.xlsx: Q=Q data", "m1/R.xlsx: R=R data",
                                       "m2/", "m2/S.xlsx: S=S data"}));
  QCOMPARE(window_->Label1->text(), "Separate stopped: 4 files written into " + run);
  QCOMPARE(Messages(), QStringList{});
  QCOMPARE(Opened(), QStringList{});
  QVERIFY(!window_->Busy() && window_->CommandCancel->isHidden() && !window_->Command6->isHidden());
  if (how == "close") {
    QVERIFY(stillRunning);
    const auto asked = prompts::testing::AskedOf(prompts::Kind::Question);
    QCOMPARE(asked.size(), 2u);
    QCOMPARE(asked[0].text,
             QStringLiteral("A split is under way. Stop it after the sheet being written and close Tabrend?"));
    QVERIFY(!window_->isVisible());
    QCOMPARE(tabrend::test::ReadBytes(programDir_->filePath("EXCEL.txt")), (dir_.filePath("three") + "\r\n").toUtf8());
  } else {
    QVERIFY(window_->isVisible());
  }
}

// Two files and a folder dropped at once become three sources, as Add Excel and Add Folder
// would add them; the last is listed. What is no local file or folder is passed over.
void SourcesAndSeparateTest::droppedFilesAndFoldersBecomeSources() {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(dir_.filePath("single.xlsx")), QUrl(QStringLiteral("https://example.org/x.xlsx")),
                QUrl::fromLocalFile(dir_.filePath("2.xlsx")), QUrl::fromLocalFile(dir_.filePath("gone.xlsx")),
                QUrl::fromLocalFile(src_ + u'/')});
  const QPoint at = window_->ListView2->mapTo(window_.get(), QPoint(20, 40));
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window_.get(), &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(window_.get(), &drop);

  QCOMPARE(Entries(*window_->ListView1), (QStringList{dir_.filePath("single.xlsx"), dir_.filePath("2.xlsx"), src_}));
  QCOMPARE(window_->ListView1->Icon(1), tabrend::gui::kIconWorkbookFile);
  QCOMPARE(window_->ListView1->Icon(2), tabrend::gui::kIconWorkbookFile);
  QCOMPARE(window_->ListView1->Icon(3), tabrend::gui::kIconFolder);
  QCOMPARE(window_->ListView1->SelectedIndex(), 3);
  QCOMPARE(Entries(*window_->ListView2), (QStringList{"a.xlsx", "b.xlsx", "skip.xlsx"}));
  QCOMPARE(Entries(*window_->ListView3), (QStringList{"A1", "A2", "A3"}));
  // A workbook's tooltip is its full path.
  QCOMPARE(window_->ListView2->topLevelItem(1)->toolTip(0), src_ + "/b.xlsx");
  QVERIFY(Messages().isEmpty());
  ExpectAtRest();
}

// The choosers start where the person last chose: a source's folder for both add commands,
// the last output folder for Separate; kept in folders.txt from one run of the program to the next.
void SourcesAndSeparateTest::choosersStartWhereThePersonLastWas() {
  const auto startedIn = [](prompts::Kind kind) { return prompts::testing::AskedOf(kind).back().directory; };
  AddFile(dir_.filePath("2.xlsx"));
  QCOMPARE(startedIn(prompts::Kind::OpenFile), QString());
  AddFolder(src_);
  QCOMPARE(startedIn(prompts::Kind::Folder), dir_.path());
  Untick(window_->ListView2, 1);
  Untick(window_->ListView2, 2);
  const QString out = dir_.filePath(QStringLiteral("out-remembered"));
  QDir().mkpath(out);
  prompts::testing::Queue(prompts::Kind::Folder, Chosen(out));
  window_->Command6->click();
  QCOMPARE(startedIn(prompts::Kind::Folder), QString());  // no output folder chosen before
  window_->close();
  QCOMPARE(tabrend::test::ReadBytes(programDir_->filePath("folders.txt")),
           ("/sources=" + src_ + "\r\n/output=" + out + "\r\n").toUtf8());

  window_ = std::make_unique<form1>(window_->Files());
  prompts::testing::Intercept();
  window_->Command1->click();
  window_->Command5->click();
  window_->ListView2->Add(QStringLiteral("x.xlsx"));
  window_->Command6->click();
  QCOMPARE(startedIn(prompts::Kind::OpenFile), src_);
  const auto folders = prompts::testing::AskedOf(prompts::Kind::Folder);
  QCOMPARE(folders.size(), 2u);
  QCOMPARE(folders[0].directory, src_);
  QCOMPARE(folders[1].directory, out);
  prompts::testing::Intercept();  // the choosers above were cancelled on purpose
}

// An .xls source is listed through LibreOffice once: clicking it again converts nothing while
// the file is unchanged. Separate converts its ticked workbooks in one LibreOffice start. The
// window handles what is posted to it within 100 ms all the while.
void SourcesAndSeparateTest::convertedWorkbooksListOnceAndSplitInOneStartWhileTheWindowAnswers() {
  const QString office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
  QVERIFY2(!office.isEmpty(), "LibreOffice is needed");
  const QString folder = dir_.filePath(QStringLiteral("old"));
  QDir().mkpath(folder + "/made");
  MakeWorkbooks({folder + "/made/Costs.xlsx|Rent|Power", folder + "/made/Sales.xlsx|North|South|West"});
  QProcess maker;
  maker.start(office, {"-env:UserInstallation=file://" + dir_.filePath("profile"), "--headless", "--norestore",
                       "--convert-to", "xls", "--outdir", folder, folder + "/made/Costs.xlsx",
                       folder + "/made/Sales.xlsx"});
  QVERIFY(maker.waitForFinished(180000) && maker.exitCode() == 0);
  QDir(folder + "/made").removeRecursively();

  // Each start of LibreOffice leaves a line in starts.log.
  const QString bin = dir_.filePath(QStringLiteral("bin"));
  QDir().mkpath(bin);
  const QString log = dir_.filePath(QStringLiteral("starts.log"));
  tabrend::test::WriteBytes(bin + "/soffice",
                            ("#!/bin/sh\necho start >> '" + log + "'\nexec '" + office + "' \"$@\"\n").toUtf8());
  QFile::setPermissions(bin + "/soffice", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(bin) + ':' + path);
  const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
  const auto starts = [&] { return tabrend::test::ReadBytes(log).count("start"); };

  Latency latency(window_.get());
  AddFolder(folder);
  QCOMPARE(Entries(*window_->ListView3), (QStringList{"Rent", "Power"}));
  QCOMPARE(starts(), 1);
  Click(window_->ListView1, 1);
  QCOMPARE(Entries(*window_->ListView3), (QStringList{"Rent", "Power"}));
  QCOMPARE(starts(), 1);

  const QString out = dir_.filePath(QStringLiteral("out-xls"));
  QDir().mkpath(out);
  prompts::testing::Queue(prompts::Kind::Folder, Chosen(out));
  // A picture of the window while it splits.
  OnceSplitting(*window_, QStringLiteral("Splitting Sales"), [&] {
    latency.Aside([&] {
      QVERIFY(!window_->Command1->isEnabled());  // looks busy by now
      SavePicture(window_->grab().toImage(), "form1-splitting.png");
    });
  });
  window_->Command6->click();
  latency.Stop();
  QCOMPARE(starts(), 2);
  QCOMPARE(ReadTree(RunFolder(out)),
           (QStringList{"Costs/", "Costs/Power.xlsx: Power=Power data", "Costs/Rent.xlsx: Rent=Rent data", "Sales/",
                        "Sales/North.xlsx: North=North data", "Sales/South.xlsx: South=South data",
                        "Sales/West.xlsx: West=West data"}));
  qInfo("%d events posted to the window, %d handled 100 ms or more after, the latest after %d ms",
        latency.Handled(), latency.Late(), static_cast<int>(latency.Worst().count()));
  // A window that waited for LibreOffice would hold them back for seconds. A loaded machine
  // (LibreOffice starting on two busy cores) leaves any thread waiting now and then, so one
  // event in a hundred may be late, by less than a second.
  QVERIFY(latency.Handled() > 50);
  QVERIFY(latency.Late() * 100 <= latency.Handled());
  QVERIFY(latency.Worst() < std::chrono::seconds(1));
  ExpectAtRest();
}

QTEST_MAIN(SourcesAndSeparateTest)
#include "tst_sources_and_separate.moc"
