// Draws the program's pictures into PNG files: the command buttons (32 pixels), the source
// list's icons (16 pixels), the arrows and the program icon, each also at twice the size
// ("name@2x.png") for dense screens, and the program icon at the desktop's usual sizes in the
// layout of the hicolor icon theme ("hicolor/48x48/apps/tabrend.png"), which the installation
// copies. The PNG files are kept with the sources; run this (target tabrend_draw_icons) after
// changing a drawing:
//   tabrend_draw_icons <folder>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <functional>

namespace {

// Every drawing works on a 32 by 32 canvas; the painter scales it to the file's size.
using Drawing = std::function<void(QPainter&)>;

const QColor kInk(40, 48, 60);
const QColor kPaper(255, 255, 255);
const QColor kSheetGreen(33, 115, 70);
const QColor kGridGreen(150, 200, 165);
const QColor kFolderYellow(240, 190, 60);
const QColor kFolderDark(205, 150, 30);
const QColor kAddGreen(46, 160, 67);
const QColor kRemoveRed(210, 45, 45);
const QColor kBlue(40, 110, 200);

QPen Pen(const QColor& color, qreal width) {
  return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A workbook page: folded corner, green title band, grid.
void Workbook(QPainter& p, QRectF r, const QColor& band = kSheetGreen) {
  const qreal fold = r.width() * 0.28;
  QPainterPath page;
  page.moveTo(r.left(), r.top());
  page.lineTo(r.right() - fold, r.top());
  page.lineTo(r.right(), r.top() + fold);
  page.lineTo(r.right(), r.bottom());
  page.lineTo(r.left(), r.bottom());
  page.closeSubpath();
  p.setPen(Pen(kInk, 1.0));
  p.setBrush(kPaper);
  p.drawPath(page);
  p.setPen(Qt::NoPen);
  p.setBrush(band);
  p.drawRect(QRectF(r.left() + 1.5, r.top() + r.height() * 0.22, r.width() - 3, r.height() * 0.14));
  p.setPen(Pen(kGridGreen, 1.0));
  const qreal gridTop = r.top() + r.height() * 0.36;
  for (int row = 1; row <= 3; ++row) {
    const qreal y = gridTop + row * (r.bottom() - gridTop) / 4.0;
    p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
  }
  for (int col = 1; col <= 2; ++col) {
    const qreal x = r.left() + col * r.width() / 3.0;
    p.drawLine(QPointF(x, gridTop), QPointF(x, r.bottom() - 2));
  }
  p.setPen(Pen(kInk, 1.0));
  p.setBrush(QColor(225, 230, 235));
  QPainterPath corner;
  corner.moveTo(r.right() - fold, r.top());
  corner.lineTo(r.right() - fold, r.top() + fold);
  corner.lineTo(r.right(), r.top() + fold);
  corner.closeSubpath();
  p.drawPath(corner);
}

void Folder(QPainter& p, QRectF r) {
  p.setPen(Pen(kFolderDark, 1.0));
  p.setBrush(kFolderDark);
  QPainterPath back;
  back.moveTo(r.left(), r.top() + r.height() * 0.12);
  back.lineTo(r.left() + r.width() * 0.38, r.top() + r.height() * 0.12);
  back.lineTo(r.left() + r.width() * 0.48, r.top() + r.height() * 0.26);
  back.lineTo(r.right(), r.top() + r.height() * 0.26);
  back.lineTo(r.right(), r.bottom());
  back.lineTo(r.left(), r.bottom());
  back.closeSubpath();
  p.drawPath(back);
  p.setBrush(kFolderYellow);
  p.drawRoundedRect(QRectF(r.left(), r.top() + r.height() * 0.36, r.width(), r.height() * 0.64), 1.5, 1.5);
}

// A round badge in the lower right corner with a plus or a minus.
void Badge(QPainter& p, const QColor& color, bool plus) {
  const QRectF disc(17, 17, 14, 14);
  p.setPen(Pen(kPaper, 1.5));
  p.setBrush(color);
  p.drawEllipse(disc);
  p.setPen(Pen(kPaper, 2.6));
  p.drawLine(QPointF(20.5, 24), QPointF(27.5, 24));
  if (plus) p.drawLine(QPointF(24, 20.5), QPointF(24, 27.5));
}

void AddExcel(QPainter& p) {
  Workbook(p, QRectF(3.5, 1.5, 21, 27));
  Badge(p, kAddGreen, true);
}

void AddFolder(QPainter& p) {
  Folder(p, QRectF(1.5, 4.5, 27, 21));
  Badge(p, kAddGreen, true);
}

void RemoveFile(QPainter& p) {
  Workbook(p, QRectF(3.5, 1.5, 21, 27));
  Badge(p, kRemoveRed, false);
}

// One workbook opening into separate pages.
void SeparateSheets(QPainter& p) {
  Workbook(p, QRectF(1.5, 3.5, 15, 20));
  for (int i = 0; i < 3; ++i) {
    const QRectF small(21.5, 2.5 + i * 9.5, 9, 8);
    p.setPen(Pen(kInk, 1.0));
    p.setBrush(kPaper);
    p.drawRect(small);
    p.setPen(Qt::NoPen);
    p.setBrush(kSheetGreen);
    p.drawRect(QRectF(small.left() + 1, small.top() + 1.5, small.width() - 2, 2));
  }
  p.setPen(Pen(kBlue, 1.8));
  for (int i = 0; i < 3; ++i) {
    const QPointF from(16.5, 13.5);
    const QPointF to(20.5, 6.5 + i * 9.5);
    p.drawLine(from, to);
  }
}

void HelpMark(QPainter& p) {
  p.setPen(Pen(QColor(20, 70, 150), 1.0));
  p.setBrush(kBlue);
  p.drawEllipse(QRectF(2.5, 2.5, 27, 27));
  p.setPen(Pen(kPaper, 3.2));
  p.setBrush(Qt::NoBrush);
  QPainterPath hook;
  hook.moveTo(11.5, 12);
  hook.cubicTo(11.5, 6.5, 20.5, 6.5, 20.5, 12);
  hook.cubicTo(20.5, 15.5, 16, 15.5, 16, 19.5);
  p.drawPath(hook);
  p.setPen(Qt::NoPen);
  p.setBrush(kPaper);
  p.drawEllipse(QPointF(16, 24.2), 2.0, 2.0);
}

void House(QPainter& p) {
  p.setPen(Pen(kInk, 1.0));
  p.setBrush(QColor(250, 245, 235));
  p.drawRect(QRectF(6.5, 14.5, 19, 14));
  p.setBrush(QColor(200, 60, 50));
  QPainterPath roof;
  roof.moveTo(2.5, 16);
  roof.lineTo(16, 3.5);
  roof.lineTo(29.5, 16);
  roof.closeSubpath();
  p.drawPath(roof);
  p.setBrush(kBlue);
  p.drawRect(QRectF(13.5, 19.5, 5, 9));
  p.setBrush(QColor(170, 210, 240));
  p.drawRect(QRectF(20.5, 18.5, 3.5, 3.5));
}

void Exit(QPainter& p) {
  // A door ajar with an arrow leading out.
  p.setPen(Pen(kInk, 1.0));
  p.setBrush(QColor(160, 110, 70));
  p.drawRect(QRectF(4.5, 2.5, 15, 27));
  p.setBrush(QColor(120, 80, 50));
  QPainterPath leaf;
  leaf.moveTo(4.5, 2.5);
  leaf.lineTo(13.5, 5.5);
  leaf.lineTo(13.5, 30.5);
  leaf.lineTo(4.5, 29.5);
  leaf.closeSubpath();
  p.drawPath(leaf);
  p.setPen(Pen(kRemoveRed, 3.0));
  p.drawLine(QPointF(16, 16), QPointF(27, 16));
  p.drawLine(QPointF(22.5, 11.5), QPointF(27.5, 16));
  p.drawLine(QPointF(22.5, 20.5), QPointF(27.5, 16));
}

void Arrow(QPainter& p, bool up) {
  QPainterPath arrow;
  arrow.moveTo(16, 3);
  arrow.lineTo(29, 17);
  arrow.lineTo(21, 17);
  arrow.lineTo(21, 29);
  arrow.lineTo(11, 29);
  arrow.lineTo(11, 17);
  arrow.lineTo(3, 17);
  arrow.closeSubpath();
  if (!up) {
    QTransform flip;
    flip.translate(0, 32);
    flip.scale(1, -1);
    arrow = flip.map(arrow);
  }
  p.setPen(Pen(QColor(20, 70, 150), 1.5));
  p.setBrush(kBlue);
  p.drawPath(arrow);
}

// Small list icons: drawn bolder so they read at 16 pixels.
void ListWorkbook(QPainter& p) { Workbook(p, QRectF(4.5, 1.5, 23, 29)); }

void ListFolder(QPainter& p) { Folder(p, QRectF(1.5, 3.5, 29, 25)); }

void ListMissing(QPainter& p) {
  Workbook(p, QRectF(4.5, 1.5, 23, 29), QColor(150, 150, 150));
  p.setPen(Pen(kRemoveRed, 4.5));
  p.drawLine(QPointF(8, 12), QPointF(24, 28));
  p.drawLine(QPointF(24, 12), QPointF(8, 28));
}

void ProgramIcon(QPainter& p) {
  Workbook(p, QRectF(2.5, 1.5, 19, 26));
  for (int i = 0; i < 2; ++i) {
    const QRectF small(18.5 + i * 3, 12.5 + i * 8, 11, 10);
    p.setPen(Pen(kInk, 1.0));
    p.setBrush(kPaper);
    p.drawRect(small);
    p.setPen(Qt::NoPen);
    p.setBrush(kSheetGreen);
    p.drawRect(QRectF(small.left() + 1, small.top() + 2, small.width() - 2, 2.5));
  }
}

bool Save(const QString& folder, const QString& name, int size, const Drawing& draw) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 32.0, size / 32.0);
  draw(painter);
  painter.end();
  const QString path = folder + u'/' + name + QStringLiteral(".png");
  if (!image.save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: tabrend_draw_icons <folder>\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(folder);
  struct Picture {
    const char* name;
    int size;
    Drawing draw;
  };
  const Picture pictures[] = {
      {"add_excel", 32, AddExcel},
      {"add_folder", 32, AddFolder},
      {"remove_file", 32, RemoveFile},
      {"separate", 32, SeparateSheets},
      {"help", 32, HelpMark},
      {"homepage", 32, House},
      {"exit", 32, Exit},
      {"arrow_up", 16, [](QPainter& p) { Arrow(p, true); }},
      {"arrow_down", 16, [](QPainter& p) { Arrow(p, false); }},
      {"list_workbook", 16, ListWorkbook},
      {"list_folder", 16, ListFolder},
      {"list_missing", 16, ListMissing},
      {"tabrend", 32, ProgramIcon},
  };
  bool ok = true;
  for (const Picture& picture : pictures) {
    ok &= Save(folder, QLatin1String(picture.name), picture.size, picture.draw);
    ok &= Save(folder, QLatin1String(picture.name) + QStringLiteral("@2x"), picture.size * 2, picture.draw);
  }
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString apps = folder + QStringLiteral("/hicolor/%1x%1/apps").arg(size);
    QDir().mkpath(apps);
    ok &= Save(apps, QStringLiteral("tabrend"), size, ProgramIcon);
  }
  return ok ? 0 : 1;
}
