// The face and size of every window's controls. Arial is asked for by name; where it is not
// installed, fontconfig answers with a metric-compatible face (Liberation Sans), so captions
// keep the widths the layouts were drawn for.
#pragma once

#include <QFont>

namespace tabrend::gui {

inline constexpr int kControlPointSize = 8;

inline QFont ControlFont() { return QFont(QStringLiteral("Arial"), kControlPointSize); }

}  // namespace tabrend::gui
