// ReportList: entries numbered from 1, selection rules, bounds, and which person's actions
// count as a click on an entry.
#include "engine/Automation.h"
#include "gui/ReportList.h"
#include "tests/gui/QtTestSupport.h"

#include <QSignalSpy>
#include <QtTest>

using tabrend::automation::AutomationError;
using tabrend::gui::ImageList;
using tabrend::gui::ReportList;

using tabrend::test::Entries;
using tabrend::test::ErrorNumberOf;

namespace {

QPoint CentreOf(ReportList& list, int i) { return list.visualItemRect(list.topLevelItem(i - 1)).center(); }

QPoint CheckBoxOf(ReportList& list, int i) {
  const QRect row = list.visualItemRect(list.topLevelItem(i - 1));
  return QPoint(row.left() + 10, row.center().y());
}

}  // namespace

class ReportListTest : public QObject {
  Q_OBJECT

 private slots:
  void firstEntryAddedToEmptyListIsSelected();
  void insertRemoveAndMoveKeepTextAndIcon();
  void entryNumbersOutsideTheListThrow_data();
  void entryNumbersOutsideTheListThrow();
  void clickOnEntryIsReported();
  void tickingIsNoClick();
  void keyboardMoveIsReported();
};

void ReportListTest::firstEntryAddedToEmptyListIsSelected() {
  ReportList list;
  QCOMPARE(list.SelectedIndex(), 0);
  list.Add(QStringLiteral("a"));
  list.Add(QStringLiteral("b"));
  QCOMPARE(list.SelectedIndex(), 1);
  list.Select(2);
  list.Add(QStringLiteral("c"));
  QCOMPARE(list.SelectedIndex(), 2);
  QCOMPARE(list.selectedItems().size(), 1);
  list.Clear();
  QCOMPARE(list.Count(), 0);
  list.Insert(1, QStringLiteral("again"));
  QCOMPARE(list.SelectedIndex(), 1);
}

void ReportListTest::insertRemoveAndMoveKeepTextAndIcon() {
  ImageList images;
  for (Qt::GlobalColor color : {Qt::green, Qt::yellow, Qt::red}) {
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    images.Add(QIcon(pixmap));
  }
  ReportList list;
  list.SetSmallIcons(&images);
  list.Add(QStringLiteral("/a.xlsx"), 1);
  list.Add(QStringLiteral("/folder"), 2);
  list.Add(QStringLiteral("/gone"), 3);
  // Moving the last entry up, as the arrow buttons do: take text and icon, remove, insert.
  const QString text = list.Text(3);
  const int icon = list.Icon(3);
  list.Remove(3);
  list.Insert(2, text, icon);
  list.Select(2);
  QCOMPARE(Entries(list), (QStringList{"/a.xlsx", "/gone", "/folder"}));
  QCOMPARE(list.Icon(2), 3);
  QCOMPARE(list.topLevelItem(1)->icon(0).pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));
  QCOMPARE(list.SelectedIndex(), 2);
  list.Insert(4, QStringLiteral("/end"));
  QCOMPARE(list.Text(4), QStringLiteral("/end"));
  QCOMPARE(list.Icon(4), 0);
  QVERIFY(list.topLevelItem(3)->icon(0).isNull());
}

void ReportListTest::entryNumbersOutsideTheListThrow_data() {
  QTest::addColumn<int>("number");
  QTest::newRow("0") << 0;
  QTest::newRow("past the end") << 3;
  QTest::newRow("negative") << -1;
}

void ReportListTest::entryNumbersOutsideTheListThrow() {
  QFETCH(int, number);
  ReportList list;
  list.Add(QStringLiteral("a"));
  list.Add(QStringLiteral("b"));
  const long expected = tabrend::gui::kIndexOutOfBounds;
  QCOMPARE(ErrorNumberOf([&] { list.Text(number); }), expected);
  QCOMPARE(ErrorNumberOf([&] { list.Icon(number); }), expected);
  QCOMPARE(ErrorNumberOf([&] { list.Checked(number); }), expected);
  QCOMPARE(ErrorNumberOf([&] { list.Remove(number); }), expected);
  QCOMPARE(ErrorNumberOf([&] { list.Select(number); }), expected);
  QCOMPARE(ErrorNumberOf([&] { list.ScrollIntoView(number); }), expected);
  QCOMPARE(ErrorNumberOf([&] { list.Insert(number + (number > 0 ? 1 : 0), QStringLiteral("x")); }), expected);
  QCOMPARE(list.Count(), 2);
}

void ReportListTest::clickOnEntryIsReported() {
  ReportList list;
  list.Add(QStringLiteral("a"));
  list.Add(QStringLiteral("b"));
  list.show();
  QVERIFY(QTest::qWaitForWindowExposed(&list));
  QSignalSpy clicks(&list, &ReportList::ItemClick);
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, CentreOf(list, 2));
  QCOMPARE(clicks.size(), 1);
  QCOMPARE(clicks.at(0).at(0).toInt(), 2);
  QCOMPARE(list.SelectedIndex(), 2);
  list.Select(1);  // selecting from code is no click
  QCOMPARE(clicks.size(), 1);
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(5, list.viewport()->height() - 5));
  QCOMPARE(clicks.size(), 1);  // below the entries
}

void ReportListTest::tickingIsNoClick() {
  ReportList list;
  list.SetCheckBoxes(true);
  list.Add(QStringLiteral("a"));
  list.Add(QStringLiteral("b"));
  list.show();
  QVERIFY(QTest::qWaitForWindowExposed(&list));
  QSignalSpy clicks(&list, &ReportList::ItemClick);
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, CheckBoxOf(list, 2));
  QVERIFY(list.Checked(2));
  QVERIFY(!list.Checked(1));
  QCOMPARE(clicks.size(), 0);
}

void ReportListTest::keyboardMoveIsReported() {
  ReportList list;
  for (const char* text : {"a", "b", "c"}) list.Add(QString::fromLatin1(text));
  list.show();
  QVERIFY(QTest::qWaitForWindowExposed(&list));
  list.setFocus();
  QSignalSpy clicks(&list, &ReportList::ItemClick);
  QTest::keyClick(&list, Qt::Key_Down);
  QTest::keyClick(&list, Qt::Key_End);
  QTest::keyClick(&list, Qt::Key_Down);  // already at the end: nothing moves
  QCOMPARE(clicks.size(), 2);
  QCOMPARE(clicks.at(0).at(0).toInt(), 2);
  QCOMPARE(clicks.at(1).at(0).toInt(), 3);
  QCOMPARE(list.SelectedIndex(), 3);
}

QTEST_MAIN(ReportListTest)
#include "tst_report_list.moc"
