#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

#include "bgrcolor.h"

class QWidget;

// The design's fixed look: its colours hold whatever the desktop theme is.
namespace Look {

inline QColor toQColor(BgrColor bgr)
{
    return QColor::fromRgb(int(bgr & 0xFFu), int((bgr >> 8) & 0xFFu), int((bgr >> 16) & 0xFFu));
}

// The design names "MS Sans Serif"; where it is missing, the closest sans serif that has
// the Central European letters stands in.
QFont designFont(qreal pointSize, bool bold);

// A light palette independent of the desktop theme, so the blue texts and the red and
// green indicators keep their contrast and meaning.
QPalette designPalette();

void setTextColour(QWidget *widget, BgrColor colour);

} // namespace Look
