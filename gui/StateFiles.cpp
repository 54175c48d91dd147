// StateFiles: the state folder and the line-oriented text files in it.
#include "gui/StateFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace tabrend::gui {

namespace {

constexpr char kCr = '\r';
constexpr char kLf = '\n';

// Splits at CR LF or a lone CR; a lone LF stays in its line.
QStringList SplitLines(const QByteArray& bytes) {
  QStringList lines;
  qsizetype start = 0;
  // A byte order mark is no part of the first path.
  if (bytes.startsWith("\xEF\xBB\xBF")) start = 3;
  while (start < bytes.size()) {
    qsizetype end = bytes.indexOf(kCr, start);
    if (end < 0) end = bytes.size();
    lines << QString::fromUtf8(bytes.mid(start, end - start));
    start = end + 1;
    if (start < bytes.size() && bytes[start] == kLf) ++start;
  }
  return lines;
}

// Creates the folder and any missing parent with mode 0700, as the XDG base directory rules
// ask, so that one user's list is not open to the others. Existing folders keep their mode.
void MakeFolders(const QString& folder) {
  QStringList missing;
  for (QString level = QDir::cleanPath(folder); !QFileInfo::exists(level);
       level = QFileInfo(level).path()) {
    missing.prepend(level);
    if (QFileInfo(level).path() == level) break;
  }
  for (const QString& level : missing) ::mkdir(QFile::encodeName(level).constData(), 0700);
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

}  // namespace

StateFiles::StateFiles(QString programFolder, QString configFolder)
    : programFolder_(std::move(programFolder)), configFolder_(std::move(configFolder)) {}

StateFiles StateFiles::ForThisProgram() {
  return StateFiles(QCoreApplication::applicationDirPath(), DefaultConfigFolder());
}

QString StateFiles::DefaultConfigFolder() {
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
  return base + QStringLiteral("/tabrend");
}

QString StateFiles::Folder() const {
  const QByteArray native = QFile::encodeName(programFolder_);
  return ::access(native.constData(), W_OK | X_OK) == 0 ? programFolder_ : configFolder_;
}

QString StateFiles::SourceListPath() const { return Folder() + u'/' + QLatin1String(kSourceListFile); }

QString StateFiles::SettingsPath() const { return Folder() + u'/' + QLatin1String(kSettingsFile); }

QStringList ReadLines(const QString& path) { return SplitLines(ReadAll(path)); }

std::optional<QString> ReadFirstLine(const QString& path) {
  const QStringList lines = ReadLines(path);
  if (lines.isEmpty()) return std::nullopt;
  return lines.first();
}

bool WriteLines(const QString& path, const QStringList& lines) {
  MakeFolders(QFileInfo(path).absolutePath());
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  for (const QString& line : lines) {
    file.write(line.toUtf8());
    file.write("\r\n");
  }
  return file.commit();
}

}  // namespace tabrend::gui
