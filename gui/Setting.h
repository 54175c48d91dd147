// Setting: the settings dialog. Its one box says whether the source list is saved when the
// main window closes; the answer lives in set.txt ("1" or "0"). Made afresh for each showing:
// it reads set.txt when made, writes it on OK, and leaves it alone on Cancel or the close box.
#pragma once

#include "gui/StateFiles.h"

#include <QDialog>

class QCheckBox;
class QPushButton;

namespace tabrend::gui {

// Check1's caption, line end included.
inline constexpr const char* kSaveListCaption = "Automatically save the current file\r\n";

class Setting : public QDialog {
  Q_OBJECT

 public:
  Setting(const StateFiles& files, QWidget* parent = nullptr);

  QPushButton* OKButton;
  QPushButton* CancelButton;
  QCheckBox* Check1;

 private:
  void Form_Load();
  void OKButton_Click();
  void CancelButton_Click();

  StateFiles files_;
};

}  // namespace tabrend::gui
