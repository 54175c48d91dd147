// CCommonDialogs: the file-open, folder, file-save, colour, font, print and printer-properties
// choosers behind properties and Show operations that answer true when the person confirmed.
//
// One object serves one question: make it, hand it the owner window with Init, set the
// properties the question needs, call one Show operation and, on true, read the answer:
//
//   CCommonDialogs dialog;
//   dialog.Init(window);
//   dialog.Title("Select Excel File");
//   if (dialog.ShowOpen()) AddSource(dialog.FileName());
//
// Texts. A text that was never set differs from one set to empty: a chooser given a never-set
// Title keeps its own caption. Texts may hold NUL characters; the getters of Title, Path,
// FileTitle and FileName return the text up to the first NUL, those of Filter, DefExt and
// FontName the whole text. A chooser sees each text up to its first NUL.
//
// Errors. ShowOpen, ShowFolder, ShowSave, ShowColor and ShowPrinter throw
// tabrend::AutomationError when Init was never called (or the owner window is
// gone): kObjectVariableNotSet (91). ShowOpen also throws kInvalidProcedureCall (5) when
// FileName holds more than 260 characters. A thrown Show changes no property, except that
// ShowSave has already adjusted Path. ShowFont and ShowPrinterProperties never throw: they
// work without an owner.
//
// Paths use "/". A folder that a chooser answers with carries no trailing "/" (the root
// folder is "/" itself); ShowSave's own adjustment of Path is the one that adds one.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>

#include "core/Error.h"

namespace tabrend::dialogs {

// Error numbers the Show operations throw.
using tabrend::kInvalidProcedureCall;
using tabrend::kObjectVariableNotSet;

// The fixed file type list of ShowOpen: one description and its pattern.
inline constexpr const char* kOpenFilterDescription = "Excel files(*.xls;*.xlsx;*.xlsm;*.xlsb)";
inline constexpr const char* kOpenFilterPattern = "*.xl*";
// The caption of ShowSave, whatever Title holds.
inline constexpr const char* kSaveCaption = "Save";
// The longest FileName that ShowOpen takes into its chooser.
inline constexpr int kOpenFileNameLimit = 260;
// ShowSave keeps at most this many characters of the chosen path.
inline constexpr int kSaveFileNameLimit = 255;
// ShowFont hands the chooser at most this many characters of FontName.
inline constexpr int kFontNameLimit = 31;

class CCommonDialogs {
 public:
  void FontUnderline(bool vData);
  bool FontUnderline() const;
  void FontItalic(bool vData);
  bool FontItalic() const;
  void FontBold(bool vData);
  bool FontBold() const;
  void FontSize(std::int16_t vData);
  std::int16_t FontSize() const;  // whole points
  void FontName(const QString& vData);
  QString FontName() const;
  // A colour as 0x00BBGGRR: red in the low byte.
  void Color(std::int32_t nNew);
  std::int32_t Color() const;
  void DefExt(const QString& vData);
  QString DefExt() const;
  void Title(const QString& vData);
  QString Title() const;

  // The window that owns the choosers. The object does not own it; each Show looks at it
  // when it runs.
  void Init(QWidget* OwnerForm);

  void Path(const QString& vData);
  QString Path() const;
  // The folder ShowOpen and ShowFolder start in. Never set or empty: the chooser's own.
  void InitDir(const QString& vData);
  QString InitDir() const;
  void FileTitle(const QString& vData);
  QString FileTitle() const;
  // Descriptions and patterns alternating, "|" between neighbours: "Text|*.txt|All|*.*".
  QString Filter() const;
  void Filter(const QString& vNewValue);
  QString FileName() const;
  void FileName(const QString& sNewVal);

  // A print dialog without selection, page range or print-to-file. False without printers.
  bool ShowPrinter();
  // A folder chooser with Title as its caption, starting in InitDir. On true: Path is the folder, FileName and
  // FileTitle are empty.
  bool ShowFolder();
  // A colour chooser starting at Color, its 16 custom colours all black. On true: Color.
  bool ShowColor(bool FullOpen);
  // A font chooser starting from the font properties. On true: FontName, FontSize (truncated
  // to whole points), FontBold and FontItalic; FontUnderline and Color never change.
  bool ShowFont();
  // An open-file chooser for an existing file, offering only the fixed Excel filter whatever
  // Filter holds, starting in the chooser's own folder whatever Path holds, with FileName in
  // its name box. On true: FileName is the file, FileTitle its name, Path its folder ("" for
  // a file in the root folder).
  bool ShowOpen();
  // The page and paper settings of the default printer. False without a default printer or
  // when the person cancels.
  bool ShowPrinterProperties();
  // A save-file chooser captioned "Save" with the filter list of Filter ("*.*|*.*" when it is
  // blank), starting in Path. Before the chooser opens, Path becomes the program's folder when
  // it is blank or names no existing folder, and gets a trailing "/" otherwise; this stays
  // when the person cancels. On true: FileName, FileTitle and Path. No overwrite question.
  bool ShowSave();

 private:
  QWidget* Owner() const;  // throws kObjectVariableNotSet

  std::optional<QString> FileTitle_;
  std::optional<QString> Path_;
  QString InitDir_;
  std::optional<QString> Filter_;
  std::optional<QString> FileName_;
  std::int32_t Color_ = 0;
  std::optional<QString> Title_;
  QPointer<QWidget> owner_;
  std::optional<QString> DefExt_;
  std::optional<QString> FontName_;
  std::int16_t FontSize_ = 0;
  bool FontBold_ = false;
  bool FontItalic_ = false;
  bool FontUnderline_ = false;
};

// The filter list of ShowSave as the chooser reads it: Filter (or "*.*|*.*" when it is blank)
// cut at every "|", each piece followed by a NUL, and one more NUL closing the list.
QString SaveFilterBuffer(const QString& filter);

// Reads a NUL-separated list of description and pattern pairs, closed by an empty
// description, into chooser filters "Description (pattern pattern)". Patterns separated by
// ";" become separate patterns, matching regardless of case ("*.txt" as "*.[tT][xX][tT]"),
// and "*.*" matches every name; a pair without pattern is left out.
QStringList FilterPairs(const QString& buffer);

// 0x00BBGGRR and back. The top byte of a colour value is ignored.
QColor ColorFromValue(std::int32_t value);
std::int32_t ValueFromColor(const QColor& color);

}  // namespace tabrend::dialogs
