#include "pictures.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace Pictures {
namespace {

// Drawings are made on a 32 x 32 grid and scaled to the requested rectangle.
void drawTrafficLight(QPainter &p, bool greenLit)
{
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(0x40, 0x40, 0x40));
    p.drawRoundedRect(QRectF(10, 1, 12, 30), 3, 3);
    const QColor off(0x20, 0x20, 0x20);
    const struct
    {
        qreal y;
        QColor lit;
        bool on;
    } lamps[] = {
        {3.5, QColor(0xFF, 0x20, 0x20), !greenLit},
        {12.5, QColor(0xFF, 0xD0, 0x00), false},
        {21.5, QColor(0x20, 0xE0, 0x20), greenLit},
    };
    for (const auto &lamp : lamps) {
        p.setBrush(lamp.on ? lamp.lit : off);
        p.drawEllipse(QRectF(12.5, lamp.y, 7, 7));
    }
}

void drawInformation(QPainter &p)
{
    p.setPen(QPen(Qt::black, 0.8));
    p.setBrush(QColor(0x00, 0x00, 0x80));
    p.drawEllipse(QRectF(1, 1, 30, 30));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(14, 6, 4.5, 4.5));
    QPainterPath stem;
    stem.moveTo(12.5, 13);
    stem.lineTo(18.5, 13);
    stem.lineTo(18.5, 24);
    stem.lineTo(20.5, 24);
    stem.lineTo(20.5, 26.5);
    stem.lineTo(11.5, 26.5);
    stem.lineTo(11.5, 24);
    stem.lineTo(13.5, 24);
    stem.lineTo(13.5, 15.5);
    stem.lineTo(12.5, 15.5);
    stem.closeSubpath();
    p.drawPath(stem);
}

void drawPanel(QPainter &p)
{
    const QRectF disc(1, 1, 30, 30);
    p.setPen(QPen(Qt::black, 0.8));
    p.setBrush(Qt::black);
    p.drawEllipse(disc);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xFF, 0xFF, 0x00));
    // Three 60-degree sectors, 120 degrees apart, around a small black hub.
    for (int i = 0; i < 3; ++i)
        p.drawPie(disc.adjusted(3, 3, -3, -3), (90 - 30 + 120 * i) * 16, 60 * 16);
    p.setBrush(Qt::black);
    p.drawEllipse(QRectF(12.5, 12.5, 7, 7));
}

class PictureEngine : public QIconEngine
{
public:
    explicit PictureEngine(Picture picture)
        : m_picture(picture)
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const qreal side = qMin(rect.width(), rect.height());
        painter->translate(rect.x() + (rect.width() - side) / 2,
                           rect.y() + (rect.height() - side) / 2);
        painter->scale(side / 32.0, side / 32.0);
        if (mode == QIcon::Disabled)
            painter->setOpacity(0.45);
        switch (m_picture) {
        case Picture::TrafficLightGreen:
            drawTrafficLight(*painter, true);
            break;
        case Picture::TrafficLightRed:
            drawTrafficLight(*painter, false);
            break;
        case Picture::Information:
            drawInformation(*painter);
            break;
        case Picture::Panel:
            drawPanel(*painter);
            break;
        }
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override
    {
        QPixmap pixmap = this->pixmap(size * scale, mode, state);
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }

    QIconEngine *clone() const override { return new PictureEngine(m_picture); }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {QSize(16, 16), QSize(32, 32),   QSize(48, 48),
                QSize(64, 64), QSize(128, 128), QSize(256, 256)};
    }

private:
    Picture m_picture;
};

} // namespace

QIcon icon(Picture picture)
{
    return QIcon(new PictureEngine(picture));
}

} // namespace Pictures
