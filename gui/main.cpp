// Tabrend: the desktop program. The main window is the program; closing it ends the run.
// It takes no files on its command line: sources are added from within the window.
#include "engine/Version.h"
#include "gui/form1.h"

#include <QApplication>

#include <csignal>

int main(int argc, char* argv[]) {
  // A file-size limit makes a write fail (and the output be abandoned cleanly) instead of
  // killing the program halfway through one.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tabrend"));
  QApplication::setApplicationVersion(QLatin1String(tabrend::kProductVersion));
  // Lets the desktop match the window with the installed menu entry and its icon.
  QApplication::setDesktopFileName(QStringLiteral(TABREND_APP_ID));
  tabrend::gui::form1 window;
  window.show();
  return app.exec();
}
