// Dialog1: the About box. Product name, version, the support address and the home page as
// links (a click mails support or opens the page), a notice against unauthorised copying,
// and OK. Made afresh for each showing.
#pragma once

#include <QDialog>
#include <QLabel>

class QGroupBox;
class QPushButton;

namespace tabrend::gui {

// A label drawn in the highlight colour, with a hand pointer, that reports a click.
class LinkLabel : public QLabel {
  Q_OBJECT

 public:
  explicit LinkLabel(const QString& text, QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// "Version:" and the product version (engine/Version.h).
QString VersionCaption();

class Dialog1 : public QDialog {
  Q_OBJECT

 public:
  explicit Dialog1(QWidget* parent = nullptr);

  QLabel* Image1;  // the program's picture
  QLabel* Label1;  // product name
  QLabel* Label4;  // version
  QGroupBox* Frame1;
  QLabel* Label3;     // "Technical Support:"
  LinkLabel* Label2;  // support address
  QLabel* Label7;     // " Website:"
  LinkLabel* Label8;  // home page
  QLabel* Label5;     // legal notice
  QPushButton* OKButton;

 private:
  void Label2_Click();
  void Label8_Click();
  void OKButton_Click();
};

}  // namespace tabrend::gui
