#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

#include "bgrcolor.h"

class QIcon;
class QString;
class QWidget;

// The design's fixed look: its colours hold whatever the desktop theme is.
namespace Look {

inline QColor toQColor(BgrColor bgr)
{
    return QColor::fromRgb(int(bgr & 0xFFu), int((bgr >> 8) & 0xFFu), int((bgr >> 16) & 0xFFu));
}

// The design's point sizes: the windows' default, the titles (banner and About), the clock.
inline constexpr qreal DefaultPointSize = 8.25;
inline constexpr qreal TitlePointSize = 17.25;
inline constexpr qreal ClockPointSize = 12;

// The design names "MS Sans Serif"; where it is missing, the closest sans serif that has
// the Central European letters stands in.
QFont designFont(qreal pointSize, bool bold);

// A light palette independent of the desktop theme, so the blue texts and the red and
// green indicators keep their contrast and meaning.
QPalette designPalette();

void setTextColour(QWidget *widget, BgrColor colour);

// A top-level window as both windows are designed: fixed single border with system menu
// and close box only, the fixed look above, a client area of the given size in pixels.
void setUpWindow(QWidget *window, const QString &name, const QString &title, const QIcon &icon,
                 QSize client);

// Centres the window, its frame included, on the screen the operator works on. The frame
// is known only once the window is shown, so this belongs in its show event.
void centreOnScreen(QWidget *window);

} // namespace Look
