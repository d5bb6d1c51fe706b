#include "shapecontrol.h"

#include <QPainter>

#include "look.h"

ShapeControl::ShapeControl(QWidget *parent)
    : QWidget(parent)
{
    updateOpaqueness();
}

void ShapeControl::updateOpaqueness()
{
    // A shape that covers its whole box repaints without the frame beneath it at every
    // heartbeat or indicator change.
    const bool coversBox = m_shape == Rectangle || (m_shape == Square && width() == height());
    setAttribute(Qt::WA_OpaquePaintEvent, coversBox);
}

void ShapeControl::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateOpaqueness();
}

void ShapeControl::setShape(qint16 shape)
{
    if (m_shape == shape)
        return;
    m_shape = shape;
    updateOpaqueness();
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
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, m_shape >= Oval);

    QRectF box = rect();
    const bool squared = m_shape == Square || m_shape == Circle || m_shape == RoundedSquare;
    if (squared) {
        const qreal side = qMin(box.width(), box.height());
        box = QRectF(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    }
    // A one-pixel pen drawn inside the bounds, at whatever resolution the device has.
    const qreal pen = 1.0;
    box.adjust(pen / 2, pen / 2, -pen / 2, -pen / 2);
    painter.setPen(QPen(Qt::black, pen));
    painter.setBrush(Look::toQColor(m_backColor));

    switch (m_shape) {
    case Oval:
    case Circle:
        painter.drawEllipse(box);
        break;
    case RoundedRectangle:
    case RoundedSquare: {
        const qreal radius = qMin(box.width(), box.height()) / 4;
        painter.drawRoundedRect(box, radius, radius);
        break;
    }
    default:
        painter.drawRect(box);
        break;
    }
}
