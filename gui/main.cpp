// Tabrend: the desktop program. The main window is the program; closing it ends the run.
#include "gui/form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tabrend"));
  tabrend::gui::form1 window;
  window.show();
  return app.exec();
}
