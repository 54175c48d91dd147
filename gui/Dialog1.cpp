// Dialog1: the About box's controls and its two links.
#include "gui/Dialog1.h"

#include "dialogs/Prompts.h"
#include "engine/Version.h"
#include "gui/Links.h"
#include "gui/Fonts.h"
#include "gui/Twips.h"

#include <QGroupBox>
#include <QMouseEvent>
#include <QPushButton>

namespace tabrend::gui {

namespace {

constexpr const char* kLegalNotice =
    "Warning: this program is protected by copyright law. Copying or distributing it, or any "
    "part of it, without the permission of its authors is not allowed and may lead to civil "
    "and criminal penalties.";

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  return label;
}

}  // namespace

QString VersionCaption() {
  return QStringLiteral("Version:") + QLatin1String(kProductVersion);
}

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setCursor(Qt::PointingHandCursor);
  setForegroundRole(QPalette::Highlight);
  setToolTip(text);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

Dialog1::Dialog1(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("Dialog1"));
  setWindowTitle(QStringLiteral("About us"));
  setFont(ControlFont());
  setFixedSize(TwipsSize(4908, 4104));

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setPixmap(QIcon(QStringLiteral(":/icons/tabrend.png")).pixmap(TwipsSize(480, 480)));
  Label1 = MakeLabel(this, "Label1", QStringLiteral("Tabrend"));
  QFont productFont = font();
  productFont.setBold(true);
  Label1->setFont(productFont);
  Label4 = MakeLabel(this, "Label4", VersionCaption());
  Frame1 = new QGroupBox(this);
  Frame1->setObjectName(QStringLiteral("Frame1"));
  Label3 = MakeLabel(Frame1, "Label3", QStringLiteral("Technical Support:"));
  Label2 = new LinkLabel(QString::fromUtf8(kSupportEmail), Frame1);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label7 = MakeLabel(Frame1, "Label7", QStringLiteral(" Website:"));
  Label8 = new LinkLabel(QString::fromUtf8(kHomePage), Frame1);
  Label8->setObjectName(QStringLiteral("Label8"));
  Label5 = MakeLabel(this, "Label5", QString::fromLatin1(kLegalNotice));
  Label5->setWordWrap(true);
  Label5->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setDefault(true);

  PlaceTwips(Image1, 240, 240, 480, 480);
  PlaceTwips(Label1, 840, 240, 2055, 255);
  PlaceTwips(Label4, 840, 480, 1455, 255);
  PlaceTwips(Frame1, 240, 960, 4450, 1090);
  PlaceTwips(Label3, 120, 240, 1690, 250);
  PlaceTwips(Label2, 1800, 240, 2290, 250);
  PlaceTwips(Label7, 120, 480, 850, 250);
  PlaceTwips(Label8, 1800, 480, 1930, 250);
  PlaceTwips(Label5, 120, 2280, 4695, 1095);
  PlaceTwips(OKButton, 120, 3600, 1215, 375);

  connect(Label2, &LinkLabel::clicked, this, &Dialog1::Label2_Click);
  connect(Label8, &LinkLabel::clicked, this, &Dialog1::Label8_Click);
  connect(OKButton, &QPushButton::clicked, this, &Dialog1::OKButton_Click);
}

void Dialog1::Label2_Click() { prompts::OpenWithShell(QStringLiteral("mailto:") + QString::fromUtf8(kSupportEmail)); }

void Dialog1::Label8_Click() { prompts::OpenWithShell(QString::fromUtf8(kHomePage)); }

void Dialog1::OKButton_Click() { accept(); }

}  // namespace tabrend::gui
