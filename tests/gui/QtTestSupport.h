// Small helpers the Qt tests share: whole-file reads and writes, the error number a call
// throws, the texts of a list, and the rows of the save-list setting.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <functional>

#include "core/Error.h"

namespace tabrend::test {

// The file's bytes, or "<missing>" when it cannot be read.
inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
  file.write(bytes);
}

// The error number a call throws, 0 when it throws nothing.
inline long ErrorNumberOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const AutomationError& error) {
    return error.Number();
  }
  return 0;
}

// The texts of a list's entries (numbered from 1), in order.
template <class List>
QStringList Entries(const List& list) {
  QStringList texts;
  for (int i = 1; i <= list.Count(); ++i) texts << list.Text(i);
  return texts;
}

// Rows of set.txt contents ("<none>": no file) and whether the source list is saved at exit
// by them: only a first line that is exactly "0" stops it. The main window and the settings
// dialog read the file by the same rule.
inline void AddSaveListSettingRows() {
  QTest::addColumn<QByteArray>("setting");
  QTest::addColumn<bool>("saved");
  QTest::newRow("no set.txt") << QByteArray("<none>") << true;
  QTest::newRow("empty set.txt") << QByteArray("") << true;
  QTest::newRow("1") << QByteArray("1\r\n") << true;
  QTest::newRow("1 without line end") << QByteArray("1") << true;
  QTest::newRow("1 then more lines") << QByteArray("1\r\n0\r\n") << true;
  QTest::newRow("0") << QByteArray("0\r\n") << false;
  QTest::newRow("0 without line end") << QByteArray("0") << false;
  QTest::newRow("0 ended by lone CR") << QByteArray("0\rmore") << false;
  QTest::newRow("0 then more lines") << QByteArray("0\r\n1\r\n") << false;
  QTest::newRow("0 followed by a lone LF") << QByteArray("0\n") << true;
  QTest::newRow("blank before 0") << QByteArray(" 0\r\n") << true;
  QTest::newRow("blank after 0") << QByteArray("0 \r\n") << true;
  QTest::newRow("empty first line") << QByteArray("\r\n0\r\n") << true;
  QTest::newRow("other text") << QByteArray("yes\r\n") << true;
}

}  // namespace tabrend::test
