// The settings dialog with set.txt in a real temporary folder, opened from the main window as
// a person would; and the About box with its links.
#include "dialogs/Prompts.h"
#include "gui/Dialog1.h"
#include "gui/Links.h"
#include "gui/Setting.h"
#include "gui/form1.h"
#include "tests/gui/QtTestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using tabrend::gui::Dialog1;
using tabrend::gui::form1;
using tabrend::gui::Setting;
using tabrend::gui::StateFiles;
namespace prompts = tabrend::prompts;

using tabrend::test::ReadBytes;
using tabrend::test::WriteBytes;

namespace {

// The person's part in a modal dialog.
prompts::Answer Doing(std::function<void(QDialog&)> act) {
  prompts::Answer answer;
  answer.act = std::move(act);
  return answer;
}

}  // namespace

class SettingsAndAboutTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    prompts::testing::Intercept();
    folder_ = std::make_unique<QTemporaryDir>();
  }
  void cleanup() { prompts::testing::Release(); }

  void dialogReadsFirstLine_data();
  void dialogReadsFirstLine();
  void okWritesOneLine_data();
  void okWritesOneLine();
  void cancelAndCloseBoxLeaveFileAlone_data();
  void cancelAndCloseBoxLeaveFileAlone();
  void settingsMenuOpensFreshDialogEachTime();
  void okOnFirstRunKeepsSaving();
  void settingsDialogLayout();
  void menuChoicesPersistBesideSetTxt();

  void aboutBoxContentsAndLinks();

 private:
  QString SetTxt() const { return folder_->filePath(QStringLiteral("set.txt")); }
  StateFiles Files() const { return StateFiles(folder_->path(), folder_->filePath(QStringLiteral("config"))); }

  std::unique_ptr<QTemporaryDir> folder_;
};

void SettingsAndAboutTest::dialogReadsFirstLine_data() { tabrend::test::AddSaveListSettingRows(); }

void SettingsAndAboutTest::dialogReadsFirstLine() {
  QFETCH(QByteArray, setting);
  QFETCH(bool, saved);
  if (setting != "<none>") WriteBytes(SetTxt(), setting);
  Setting dialog(Files());
  // The box shows what the program does.
  QCOMPARE(dialog.Check1->isChecked(), saved);
}

void SettingsAndAboutTest::okWritesOneLine_data() {
  QTest::addColumn<QByteArray>("before");
  QTest::addColumn<bool>("tick");
  QTest::addColumn<QByteArray>("after");
  QTest::newRow("1 unchanged") << QByteArray("1\r\n") << true << QByteArray("1\r\n");
  QTest::newRow("0 unchanged") << QByteArray("0\r\n") << false << QByteArray("0\r\n");
  QTest::newRow("ticked over other text") << QByteArray("yes\r\nmore\r\n") << true << QByteArray("1\r\n");
  QTest::newRow("unticked over 1 without line end") << QByteArray("1") << false << QByteArray("0\r\n");
}

void SettingsAndAboutTest::okWritesOneLine() {
  QFETCH(QByteArray, before);
  QFETCH(bool, tick);
  QFETCH(QByteArray, after);
  WriteBytes(SetTxt(), before);
  Setting dialog(Files());
  dialog.Check1->setChecked(tick);
  dialog.OKButton->click();
  QCOMPARE(dialog.result(), int(QDialog::Accepted));
  QCOMPARE(ReadBytes(SetTxt()), after);
}

void SettingsAndAboutTest::cancelAndCloseBoxLeaveFileAlone_data() {
  QTest::addColumn<bool>("closeBox");
  QTest::newRow("Cancel") << false;
  QTest::newRow("close box") << true;
}

void SettingsAndAboutTest::cancelAndCloseBoxLeaveFileAlone() {
  QFETCH(bool, closeBox);
  WriteBytes(SetTxt(), "1\r\n");
  Setting dialog(Files());
  dialog.show();
  dialog.Check1->click();
  QVERIFY(!dialog.Check1->isChecked());
  if (closeBox) dialog.close(); else dialog.CancelButton->click();
  QVERIFY(!dialog.isVisible());
  QCOMPARE(dialog.result(), int(QDialog::Rejected));
  QCOMPARE(ReadBytes(SetTxt()), QByteArray("1\r\n"));
}

void SettingsAndAboutTest::settingsMenuOpensFreshDialogEachTime() {
  form1 window(Files());
  QList<bool> seen;
  const auto tickAndConfirm = [&](QDialog& dialog) {
    auto& setting = static_cast<Setting&>(dialog);
    QCOMPARE(setting.parentWidget(), &window);
    seen << setting.Check1->isChecked();
    setting.Check1->setChecked(!setting.Check1->isChecked());
    setting.OKButton->click();
  };
  prompts::testing::Queue(prompts::Kind::Dialog, Doing(tickAndConfirm));
  prompts::testing::Queue(prompts::Kind::Dialog, Doing(tickAndConfirm));
  window.Settings->trigger();
  QCOMPARE(ReadBytes(SetTxt()), QByteArray("0\r\n"));
  window.Settings->trigger();
  QCOMPARE(seen, (QList<bool>{true, false}));  // the second showing read the file again
  const auto asked = prompts::testing::AskedOf(prompts::Kind::Dialog);
  QCOMPARE(asked.size(), std::size_t{2});
  QCOMPARE(asked[0].dialogName, QStringLiteral("Setting"));
  QCOMPARE(asked[0].caption, std::optional<QString>(QStringLiteral("Setting")));
  QCOMPARE(prompts::testing::Unanswered(), 0);
}

// Before the first OK there is no setting and the list is saved; OK keeps it that way.
void SettingsAndAboutTest::okOnFirstRunKeepsSaving() {
  WriteBytes(SetTxt(), "");
  WriteBytes(folder_->filePath(QStringLiteral("EXCEL.txt")), "/before\r\n");
  form1 window(Files());
  prompts::testing::Queue(prompts::Kind::Dialog, Doing([](QDialog& dialog) {
    static_cast<Setting&>(dialog).OKButton->click();
  }));
  window.Settings->trigger();
  QCOMPARE(ReadBytes(SetTxt()), QByteArray("1\r\n"));
  window.ListView1->Add(QStringLiteral("/after"));
  window.close();
  QCOMPARE(ReadBytes(folder_->filePath(QStringLiteral("EXCEL.txt"))), QByteArray("/before\r\n/after\r\n"));
}

// The Settings menu's choices reach the engine and options.txt at once and come back at the
// next start; set.txt stays the one line older versions read, and an old one works as before.
void SettingsAndAboutTest::menuChoicesPersistBesideSetTxt() {
  using Format = tabrend::OutputFormat;
  WriteBytes(SetTxt(), "0\r\n");
  WriteBytes(folder_->filePath(QStringLiteral("EXCEL.txt")), "/kept\r\n");
  const QString options = folder_->filePath(QStringLiteral("options.txt"));
  {
    form1 window(Files());
    QVERIFY(!window.SkipHidden->isChecked() && !window.SkipBlank->isChecked() &&
            window.SaveAsFormat(Format::kWorkbook)->isChecked());
    QVERIFY(window.SkipHidden->isCheckable() && window.SkipBlank->isCheckable());
    QCOMPARE(ReadBytes(options), QByteArray("<missing>"));
    window.SkipHidden->trigger();
    window.SaveAsFormat(Format::kPdf)->trigger();
    QVERIFY(window.SaveAsFormat(Format::kPdf)->isChecked() && !window.SaveAsFormat(Format::kWorkbook)->isChecked() &&
            !window.SaveAsFormat(Format::kCsv)->isChecked());
    QVERIFY(window.Engine().SkipHidden && !window.Engine().SkipBlank);
    QCOMPARE(window.Engine().Format, Format::kPdf);
    QCOMPARE(ReadBytes(options), QByteArray("/hidden=0\r\n/blank=1\r\n/format=pdf\r\n"));
    window.ListView1->Add(QStringLiteral("/not saved"));
    window.close();
  }
  QCOMPARE(ReadBytes(SetTxt()), QByteArray("0\r\n"));
  QCOMPARE(ReadBytes(folder_->filePath(QStringLiteral("EXCEL.txt"))), QByteArray("/kept\r\n"));
  // A later version's lines are passed over.
  WriteBytes(options, "/blank=0\r\n/format=csv\r\n/colour=blue\r\n");
  form1 again(Files());
  QVERIFY(!again.SkipHidden->isChecked() && again.SkipBlank->isChecked() &&
          again.SaveAsFormat(Format::kCsv)->isChecked());
  QVERIFY(!again.Engine().SkipHidden && again.Engine().SkipBlank);
  QCOMPARE(again.Engine().Format, Format::kCsv);
}

void SettingsAndAboutTest::settingsDialogLayout() {
  Setting dialog(Files());
  QCOMPARE(dialog.windowTitle(), QStringLiteral("Setting"));
  QCOMPARE(dialog.size(), QSize(249, 104));  // 3732 by 1560 twips
  QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
  QVERIFY(!(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
  QCOMPARE(dialog.OKButton->geometry(), QRect(24, 72, 81, 25));
  QCOMPARE(dialog.CancelButton->geometry(), QRect(136, 72, 81, 25));
  QCOMPARE(dialog.Check1->geometry(), QRect(32, 32, 193, 25));
  QCOMPARE(dialog.OKButton->text(), QStringLiteral("OK"));
  QCOMPARE(dialog.CancelButton->text(), QStringLiteral("Cancel"));
  QCOMPARE(dialog.Check1->text(), QStringLiteral("Automatically save the current file\r\n"));
  QCOMPARE(dialog.OKButton->nextInFocusChain(), dialog.CancelButton);
  QCOMPARE(dialog.CancelButton->nextInFocusChain(), dialog.Check1);
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  QVERIFY(dialog.grab().save(QStringLiteral(TABREND_TEST_OUTPUT_DIR "/Setting.png")));
}

void SettingsAndAboutTest::aboutBoxContentsAndLinks() {
  form1 window(Files());
  QStringList texts;
  QList<QRect> frameGeometry;
  prompts::testing::Queue(prompts::Kind::Dialog, Doing([&](QDialog& dialog) {
    auto& about = static_cast<Dialog1&>(dialog);
    for (QLabel* label : std::initializer_list<QLabel*>{about.Label1, about.Label4, about.Label3, about.Label2, about.Label7, about.Label8}) {
      texts << label->text();
    }
    QCOMPARE(about.Label3->parentWidget(), about.Frame1);
    QCOMPARE(about.Label8->parentWidget(), about.Frame1);
    QCOMPARE(about.Frame1->title(), QString());
    QVERIFY(about.Label5->text().size() > 80);
    QVERIFY(!about.Image1->pixmap().isNull());
    frameGeometry << about.Frame1->geometry() << about.Label8->geometry() << about.OKButton->geometry();
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QVERIFY(about.grab().save(QStringLiteral(TABREND_TEST_OUTPUT_DIR "/Dialog1.png")));
    QTest::mouseClick(about.Label2, Qt::LeftButton);
    QTest::mouseClick(about.Label8, Qt::LeftButton);
    about.OKButton->click();
  }));
  window.About->trigger();
  QCOMPARE(prompts::testing::Unanswered(), 0);
  const auto asked = prompts::testing::AskedOf(prompts::Kind::Dialog);
  QCOMPARE(asked.size(), std::size_t{1});
  QCOMPARE(asked[0].caption, std::optional<QString>(QStringLiteral("About us")));
  const QString email = QString::fromUtf8(tabrend::gui::kSupportEmail);
  const QString home = QString::fromUtf8(tabrend::gui::kHomePage);
  QCOMPARE(texts, (QStringList{"Tabrend", "Version:10.1.2", "Technical Support:", email, " Website:", home}));
  QCOMPARE(frameGeometry, (QList<QRect>{QRect(16, 64, 297, 73), QRect(120, 32, 129, 17), QRect(8, 240, 81, 25)}));
  QStringList opened;
  for (const prompts::Request& request : prompts::testing::AskedOf(prompts::Kind::ShellOpen)) opened << request.text;
  QCOMPARE(opened, (QStringList{"mailto:" + email, home}));

  Dialog1 fresh;
  QCOMPARE(fresh.size(), QSize(327, 274));  // 4908 by 4104 twips
  QVERIFY(!(fresh.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
}

QTEST_MAIN(SettingsAndAboutTest)
#include "tst_settings_and_about.moc"
