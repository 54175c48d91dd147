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
    lines << TextOfBytes(bytes.mid(start, end - start));
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

// The length of the valid UTF-8 sequence at bytes[at], or 0 when none starts there.
int Utf8SequenceAt(const QByteArray& bytes, qsizetype at) {
  const auto byte = [&](qsizetype i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u; };
  const unsigned lead = byte(at);
  const auto continuation = [&](qsizetype i) { return (byte(i) & 0xC0) == 0x80; };
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(at + 1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned second = byte(at + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0)) return 0;  // overlong, surrogate
    return continuation(at + 1) && continuation(at + 2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned second = byte(at + 1);
    if ((lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90)) return 0;
    return continuation(at + 1) && continuation(at + 2) && continuation(at + 3) ? 4 : 0;
  }
  return 0;
}

}  // namespace

QString TextOfBytes(const QByteArray& bytes) {
  QString text;
  text.reserve(bytes.size());
  for (qsizetype at = 0; at < bytes.size();) {
    const int length = Utf8SequenceAt(bytes, at);
    if (length == 0) {
      text += QChar(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[at])));
      ++at;
    } else {
      text += QString::fromUtf8(bytes.constData() + at, length);
      at += length;
    }
  }
  return text;
}

QByteArray BytesOfText(const QString& text) {
  QByteArray bytes;
  bytes.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i].unicode();
    const bool pair = QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate();
    if (pair) {
      bytes += text.mid(i, 2).toUtf8();
      ++i;
    } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
      bytes += static_cast<char>(unit - 0xDC00);  // a byte that was not UTF-8
    } else {
      bytes += QString(text[i]).toUtf8();
    }
  }
  return bytes;
}

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

QString StateFiles::OptionsPath() const { return Folder() + u'/' + QLatin1String(kOptionsFile); }

QString StateFiles::FoldersPath() const { return Folder() + u'/' + QLatin1String(kFoldersFile); }

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
    file.write(BytesOfText(line));
    file.write("\r\n");
  }
  return file.commit();
}

}  // namespace tabrend::gui
