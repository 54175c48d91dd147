// Setting: reads set.txt into Check1 and writes it back on OK.
#include "gui/Setting.h"

#include "gui/Fonts.h"
#include "gui/Twips.h"

#include <QCheckBox>
#include <QPushButton>

namespace tabrend::gui {

Setting::Setting(const StateFiles& files, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      files_(files) {
  setObjectName(QStringLiteral("Setting"));
  setWindowTitle(QStringLiteral("Setting"));
  setFont(ControlFont());
  setFixedSize(TwipsSize(3732, 1560));

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setDefault(true);
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  Check1 = new QCheckBox(QString::fromLatin1(kSaveListCaption), this);
  Check1->setObjectName(QStringLiteral("Check1"));
  Check1->setChecked(false);
  PlaceTwips(OKButton, 360, 1080, 1215, 375);
  PlaceTwips(CancelButton, 2040, 1080, 1215, 375);
  PlaceTwips(Check1, 480, 480, 2895, 370);
  setTabOrder(OKButton, CancelButton);
  setTabOrder(CancelButton, Check1);

  connect(OKButton, &QPushButton::clicked, this, &Setting::OKButton_Click);
  connect(CancelButton, &QPushButton::clicked, this, &Setting::CancelButton_Click);
  Form_Load();
}

void Setting::Form_Load() {
  // The box shows what the program does: the list is saved unless the setting is "0", so a
  // missing or empty file ticks it.
  const std::optional<QString> line = ReadFirstLine(files_.SettingsPath());
  Check1->setChecked(!(line && *line == QLatin1String("0")));
}

void Setting::OKButton_Click() {
  if (!WriteLines(files_.SettingsPath(), {Check1->isChecked() ? QStringLiteral("1") : QStringLiteral("0")})) {
    qWarning("Tabrend: the setting could not be saved to %s", qPrintable(files_.SettingsPath()));
  }
  accept();
}

void Setting::CancelButton_Click() { reject(); }

}  // namespace tabrend::gui
