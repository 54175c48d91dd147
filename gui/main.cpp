// Tabrend: the desktop program. The main window is the program; closing it ends the run.
// It takes no files on its command line: sources are added from within the window.
#include "engine/ProcessSetup.h"
#include "engine/Version.h"
#include "gui/form1.h"

#include <QApplication>


int main(int argc, char* argv[]) {
  tabrend::engine::PrepareProcess();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tabrend"));
  QApplication::setApplicationVersion(QLatin1String(tabrend::kProductVersion));
  // Lets the desktop match the window with the installed menu entry and its icon.
  QApplication::setDesktopFileName(QStringLiteral(TABREND_APP_ID));
  tabrend::gui::form1 window;
  window.show();
  return app.exec();
}
