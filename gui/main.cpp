// Tabrend: the desktop program. The main window is the program; closing it ends the run.
#include "gui/form1.h"

#include <QApplication>

#include <csignal>

int main(int argc, char* argv[]) {
  // A file-size limit makes a write fail (and the output be abandoned cleanly) instead of
  // killing the program halfway through one.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tabrend"));
  tabrend::gui::form1 window;
  window.show();
  return app.exec();
}
