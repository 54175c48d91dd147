// Where the program keeps its state, the saved source list EXCEL.txt, the setting set.txt,
// the Settings menu's choices options.txt and the choosers' folders folders.txt, and how those line-oriented text files are
// read and written.
//
// Both files live in the program's own folder. When that folder is not writable (an
// installed program), they live in the per-user configuration folder instead,
// $XDG_CONFIG_HOME/tabrend or ~/.config/tabrend.
//
// Text is UTF-8; each line ends with CR LF. A reader ends a line at CR LF or at a lone CR; a
// lone LF stays part of the line. The line end after the last line makes no extra line, and
// a missing or unreadable file reads as one without lines.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace tabrend::gui {

inline constexpr const char* kSourceListFile = "EXCEL.txt";
inline constexpr const char* kSettingsFile = "set.txt";
// The Settings menu's choices, one "/switch=value" line each as tabrendcli spells them
// ("/hidden=0", "/blank=0", "/format=pdf"). Kept apart from set.txt, whose one line older
// versions of the program read whole.
inline constexpr const char* kOptionsFile = "options.txt";
// The folders the choosers start in, one "/name=folder" line each: "/sources=" where a source
// was last chosen, "/output=" the last output folder chosen.
inline constexpr const char* kFoldersFile = "folders.txt";

class StateFiles {
 public:
  StateFiles(QString programFolder, QString configFolder);

  // The running program's folder and the configuration folder of the environment.
  static StateFiles ForThisProgram();
  // $XDG_CONFIG_HOME/tabrend when XDG_CONFIG_HOME is an absolute path, else ~/.config/tabrend.
  static QString DefaultConfigFolder();

  const QString& ProgramFolder() const { return programFolder_; }
  const QString& ConfigFolder() const { return configFolder_; }

  // The program folder if it is writable now, else the configuration folder.
  QString Folder() const;
  QString SourceListPath() const;
  QString SettingsPath() const;
  QString OptionsPath() const;
  QString FoldersPath() const;

 private:
  QString programFolder_;
  QString configFolder_;
};

// Paths are bytes to the file system and need not be UTF-8 (a Latin-1 "café.xlsx"). Their
// text keeps every byte: valid UTF-8 reads as usual, and each other byte becomes the lone
// surrogate U+DC80..U+DCFF, which BytesOfText turns back into that byte.
QString TextOfBytes(const QByteArray& bytes);
QByteArray BytesOfText(const QString& text);

// Every line of the file, in order.
QStringList ReadLines(const QString& path);
// The first line, or nothing when the file has no line (empty, missing or unreadable).
std::optional<QString> ReadFirstLine(const QString& path);
// Replaces the file with these lines, each ended by CR LF, creating its folder if needed (with
// mode 0700, readable by its owner only). The old content stays until the new one is
// complete. False when the file cannot be written.
bool WriteLines(const QString& path, const QStringList& lines);

}  // namespace tabrend::gui
