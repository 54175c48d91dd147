// Window layouts are drawn in twips (1440 to the inch, 15 to a pixel on a 96 dpi screen) and
// placed in pixels of the screen they appear on, so they keep their proportions at any dpi.
#pragma once

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

namespace tabrend::gui {

inline constexpr double kTwipsPerInch = 1440.0;

inline int TwipsToPixels(int twips, double dpi) { return qRound(twips * dpi / kTwipsPerInch); }

// The logical dpi of the primary screen (96 where there is none).
inline QPointF ScreenDpi() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {96.0, 96.0};
  return {screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY()};
}

// Places widget at left, top with width and height, all in twips.
inline void PlaceTwips(QWidget* widget, int left, int top, int width, int height) {
  const QPointF dpi = ScreenDpi();
  widget->setGeometry(TwipsToPixels(left, dpi.x()), TwipsToPixels(top, dpi.y()),
                      TwipsToPixels(width, dpi.x()), TwipsToPixels(height, dpi.y()));
}

// A horizontal length in twips, in pixels.
inline int TwipsWide(int twips) { return TwipsToPixels(twips, ScreenDpi().x()); }

inline QSize TwipsSize(int width, int height) {
  const QPointF dpi = ScreenDpi();
  return {TwipsToPixels(width, dpi.x()), TwipsToPixels(height, dpi.y())};
}

}  // namespace tabrend::gui
