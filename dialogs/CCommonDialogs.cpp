// CCommonDialogs: properties, and the Show operations over the choosers of dialogs/Prompts.
#include "dialogs/CCommonDialogs.h"

#include "dialogs/Prompts.h"

#include <QColorDialog>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPrinterInfo>
#include <QScreen>

#include <cmath>

namespace tabrend::dialogs {

namespace {

const QChar kNul(u'\0');

// The text up to, not including, its first NUL.
QString UpToNul(const QString& text) {
  const qsizetype nul = text.indexOf(kNul);
  return nul < 0 ? text : text.left(nul);
}

// What a chooser sees of a stored text: nothing when it was never set, else up to the NUL.
std::optional<QString> ForChooser(const std::optional<QString>& stored) {
  if (!stored) return std::nullopt;
  return UpToNul(*stored);
}

// Blanks only, as the original trimmed: tabs and line ends count as text.
QString TrimBlanks(const QString& text) {
  qsizetype first = 0;
  qsizetype last = text.size();
  while (first < last && text[first] == u' ') ++first;
  while (last > first && text[last - 1] == u' ') --last;
  return text.mid(first, last - first);
}

// The folder part of a chosen file without a trailing "/": everything before the last "/",
// "" when there is none.
QString FolderOfWithoutSlash(const QString& file) {
  const qsizetype slash = file.lastIndexOf(u'/');
  return slash < 0 ? QString() : file.left(slash);
}

QString NameOf(const QString& file) { return file.mid(file.lastIndexOf(u'/') + 1); }

// A pattern as the chooser applies it. Patterns match names regardless of case ("*.xl*" takes
// Book.XLSX), and "*.*" takes every name, dotted or not.
QString ChooserPattern(const QString& pattern) {
  if (pattern == QLatin1String("*.*")) return QStringLiteral("*");
  QString blind;
  for (const QChar c : pattern) {
    if (c.isLetter() && c.toLower() != c.toUpper()) {
      blind += u'[' + QString(c.toLower()) + c.toUpper() + u']';
    } else {
      blind += c;
    }
  }
  return blind;
}

// Whether listing path (folders and hidden entries included) yields anything: true for any
// readable folder, whose listing holds "." at least.
bool ListingHasEntries(const QString& path) {
  return !QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System).isEmpty();
}

}  // namespace

void CCommonDialogs::FontUnderline(bool vData) { FontUnderline_ = vData; }
bool CCommonDialogs::FontUnderline() const { return FontUnderline_; }
void CCommonDialogs::FontItalic(bool vData) { FontItalic_ = vData; }
bool CCommonDialogs::FontItalic() const { return FontItalic_; }
void CCommonDialogs::FontBold(bool vData) { FontBold_ = vData; }
bool CCommonDialogs::FontBold() const { return FontBold_; }
void CCommonDialogs::FontSize(std::int16_t vData) { FontSize_ = vData; }
std::int16_t CCommonDialogs::FontSize() const { return FontSize_; }
void CCommonDialogs::FontName(const QString& vData) { FontName_ = vData; }
QString CCommonDialogs::FontName() const { return FontName_.value_or(QString()); }
void CCommonDialogs::Color(std::int32_t nNew) { Color_ = nNew; }
std::int32_t CCommonDialogs::Color() const { return Color_; }
void CCommonDialogs::DefExt(const QString& vData) { DefExt_ = vData; }
QString CCommonDialogs::DefExt() const { return DefExt_.value_or(QString()); }
void CCommonDialogs::Title(const QString& vData) { Title_ = vData; }
QString CCommonDialogs::Title() const { return UpToNul(Title_.value_or(QString())); }

void CCommonDialogs::Init(QWidget* OwnerForm) { owner_ = OwnerForm; }

void CCommonDialogs::Path(const QString& vData) { Path_ = vData; }
QString CCommonDialogs::Path() const { return UpToNul(Path_.value_or(QString())); }
void CCommonDialogs::FileTitle(const QString& vData) { FileTitle_ = vData; }
QString CCommonDialogs::FileTitle() const { return UpToNul(FileTitle_.value_or(QString())); }
void CCommonDialogs::InitDir(const QString& vData) { InitDir_ = vData; }
QString CCommonDialogs::InitDir() const { return InitDir_; }

QString CCommonDialogs::Filter() const { return Filter_.value_or(QString()); }
void CCommonDialogs::Filter(const QString& vNewValue) { Filter_ = vNewValue; }
QString CCommonDialogs::FileName() const { return UpToNul(FileName_.value_or(QString())); }
void CCommonDialogs::FileName(const QString& sNewVal) { FileName_ = sNewVal; }

QWidget* CCommonDialogs::Owner() const {
  if (owner_.isNull()) {
    Fail(kObjectVariableNotSet, "Object variable or With block variable not set");
  }
  return owner_.data();
}

bool CCommonDialogs::ShowPrinter() {
  prompts::Request request;
  request.kind = prompts::Kind::Printer;
  request.owner = Owner();
  // The print dialog of a machine without printers has nothing to confirm.
  if (QPrinterInfo::availablePrinters().isEmpty()) return false;
  return prompts::Ask(request).accepted;
}

bool CCommonDialogs::ShowFolder() {
  prompts::Request request;
  request.kind = prompts::Kind::Folder;
  request.owner = Owner();
  request.caption = ForChooser(Title_);
  request.directory = InitDir_;
  const prompts::Answer answer = prompts::Ask(request);
  if (!answer.accepted) return false;
  Path_ = UpToNul(answer.path);
  FileName_ = QString();
  FileTitle_ = QString();
  return true;
}

bool CCommonDialogs::ShowColor(bool FullOpen) {
  prompts::Request request;
  request.kind = prompts::Kind::Color;
  request.owner = Owner();
  request.color = ColorFromValue(Color_);
  request.fullOpen = FullOpen;
  // Custom colours live for one call: each chooser starts with all sixteen black.
  for (int i = 0; i < QColorDialog::customCount(); ++i) QColorDialog::setCustomColor(i, QColor(0, 0, 0));
  const prompts::Answer answer = prompts::Ask(request);
  if (!answer.accepted) return false;
  Color_ = ValueFromColor(answer.color);
  return true;
}

bool CCommonDialogs::ShowFont() {
  prompts::Request request;
  request.kind = prompts::Kind::Font;
  request.owner = owner_.data();  // none is fine: the chooser then has no owner
  QFont start;
  const QString face = UpToNul(FontName_.value_or(QString())).left(kFontNameLimit);
  if (!face.isEmpty()) start.setFamily(face);
  if (FontSize_ > 0) start.setPointSize(FontSize_);
  start.setWeight(FontBold_ ? QFont::Bold : QFont::Normal);
  start.setItalic(FontItalic_);
  start.setUnderline(FontUnderline_);
  request.font = start;
  const prompts::Answer answer = prompts::Ask(request);
  if (!answer.accepted) return false;
  FontName_ = UpToNul(answer.font.family());
  FontBold_ = answer.font.bold();
  FontItalic_ = answer.font.italic();
  // Sizes come back in tenths of a point; the property keeps whole points, cut toward zero.
  qreal points = answer.font.pointSizeF();
  if (points <= 0 && answer.font.pixelSize() > 0) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    points = answer.font.pixelSize() * 72.0 / (screen ? screen->logicalDotsPerInchY() : 96.0);
  }
  const long tenths = std::lround(points * 10.0);
  FontSize_ = static_cast<std::int16_t>(tenths / 10);
  return true;
}

bool CCommonDialogs::ShowOpen() {
  prompts::Request request;
  request.kind = prompts::Kind::OpenFile;
  request.owner = Owner();
  const QString startName = FileName();
  if (startName.size() > kOpenFileNameLimit) {
    Fail(kInvalidProcedureCall, "Invalid procedure call or argument");
  }
  request.nameFilters = FilterPairs(QString::fromLatin1(kOpenFilterDescription) + kNul +
                                    QString::fromLatin1(kOpenFilterPattern) + kNul + kNul);
  request.fileName = startName;
  request.directory = InitDir_;
  request.caption = ForChooser(Title_);
  request.defaultSuffix = ForChooser(DefExt_).value_or(QString());
  const prompts::Answer answer = prompts::Ask(request);
  if (!answer.accepted) return false;
  FileName_ = UpToNul(answer.path);
  FileTitle_ = NameOf(*FileName_);
  Path_ = FolderOfWithoutSlash(*FileName_);
  return true;
}

bool CCommonDialogs::ShowPrinterProperties() {
  const QPrinterInfo printer = QPrinterInfo::defaultPrinter();
  if (printer.isNull()) return false;
  prompts::Request request;
  request.kind = prompts::Kind::PrinterProperties;
  request.owner = owner_.data();
  request.text = printer.printerName();
  return prompts::Ask(request).accepted;
}

bool CCommonDialogs::ShowSave() {
  // The start folder is settled, and kept, before anything can fail.
  const QString programFolder = QCoreApplication::applicationDirPath();
  QString start = Path();
  if (TrimBlanks(start).isEmpty()) {
    Path_ = programFolder;
  } else {
    if (!start.endsWith(u'/')) {
      start += u'/';
      Path_ = start;
    }
    if (!ListingHasEntries(start)) Path_ = programFolder;
  }

  const QString filters = SaveFilterBuffer(Filter());
  prompts::Request request;
  request.kind = prompts::Kind::SaveFile;
  request.owner = Owner();
  request.nameFilters = FilterPairs(filters);
  request.directory = Path();
  request.caption = QString::fromLatin1(kSaveCaption);
  const prompts::Answer answer = prompts::Ask(request);
  if (!answer.accepted) return false;
  FileName_ = UpToNul(answer.path).left(kSaveFileNameLimit);
  FileTitle_ = NameOf(*FileName_);
  Path_ = FolderOfWithoutSlash(*FileName_);
  return true;
}

QString SaveFilterBuffer(const QString& filter) {
  const QString source = TrimBlanks(filter).isEmpty() ? QStringLiteral("*.*|*.*") : filter;
  QString buffer;
  for (const QString& piece : source.split(u'|')) buffer += piece + kNul;
  return buffer + kNul;
}

QStringList FilterPairs(const QString& buffer) {
  const QStringList pieces = buffer.split(kNul);
  QStringList filters;
  for (qsizetype i = 0; i + 1 < pieces.size(); i += 2) {
    const QString& description = pieces[i];
    if (description.isEmpty()) break;  // the list ends at an empty description
    QStringList patterns;
    for (const QString& pattern : pieces[i + 1].split(u';', Qt::SkipEmptyParts)) {
      if (!pattern.trimmed().isEmpty()) patterns << ChooserPattern(pattern.trimmed());
    }
    if (patterns.isEmpty()) continue;
    filters << description + QStringLiteral(" (") + patterns.join(u' ') + u')';
  }
  return filters;
}

QColor ColorFromValue(std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  return QColor(static_cast<int>(bits & 0xFFu), static_cast<int>((bits >> 8) & 0xFFu),
                static_cast<int>((bits >> 16) & 0xFFu));
}

std::int32_t ValueFromColor(const QColor& color) {
  const QColor rgb = color.toRgb();
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(rgb.red()) |
                                   (static_cast<std::uint32_t>(rgb.green()) << 8) |
                                   (static_cast<std::uint32_t>(rgb.blue()) << 16));
}

}  // namespace tabrend::dialogs
