#include "shapecontrol.h"

#include <QPainter>

#include "look.h"

ShapeControl::ShapeControl(QWidget *parent)
    : QWidget(parent)
{
}

void ShapeControl::setShape(qint16 shape)
{
    if (m_shape == shape)
        return;
    m_shape = shape;
    update();
}

void ShapeControl::setBackColor(BgrColor colour)
{
    if (m_backColor == colour)
        return;
    m_backColor = colour;
    update();
    Q_EMIT backColorChanged(colour);
}

void ShapeControl::paintEvent(QPaintEvent *)
{
    // The output indicators' designed rounded outline (4) is replaced by start-up before
    // the window first shows, so only these two outlines are ever drawn.
    QRectF box = rect();
    if (m_shape == Square) {
        const qreal side = qMin(box.width(), box.height());
        box = QRectF(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    }
    // A one-pixel pen drawn inside the bounds, at whatever resolution the device has.
    box.adjust(0.5, 0.5, -0.5, -0.5);
    QPainter painter(this);
    painter.setPen(QPen(Qt::black, 1.0));
    painter.setBrush(Look::toQColor(m_backColor));
    painter.drawRect(box);
}
