// Links: which help file the Help command opens.
#include "gui/Links.h"

#include <QDir>
#include <QFileInfo>

namespace tabrend::gui {

QString HelpFile(const QString& programFolder) {
  const QDir program(programFolder);
  const QString compiled = program.filePath(QLatin1String(kCompiledHelpFile));
  if (QFileInfo::exists(compiled)) return compiled;
  const QString beside = program.filePath(QLatin1String(kHelpManual));
  if (QFileInfo::exists(beside)) return beside;
  const QString installed = QDir::cleanPath(program.filePath(QLatin1String(kInstalledHelpFolder)) +
                                            u'/' + QLatin1String(kHelpManual));
  return QFileInfo::exists(installed) ? installed : beside;
}

}  // namespace tabrend::gui
