#include "sectionframe.h"

#include <QEvent>
#include <QPainter>
#include <QStyleOptionGroupBox>
#include <QStylePainter>

SectionFrame::SectionFrame(const QString &caption, QWidget *parent)
    : QGroupBox(caption, parent)
{
    // Opaque: it covers the diagnostic labels that lie beneath it.
    setAutoFillBackground(true);
}

void SectionFrame::paintEvent(QPaintEvent *)
{
    const qreal ratio = devicePixelRatioF();
    // Pixels, not device-independent size: at a fractional scale the two never agree.
    if (m_picture.size() != size() * ratio || m_picture.devicePixelRatio() != ratio
        || m_pictureCaption != title()) {
        m_picture = QImage(size() * ratio, QImage::Format_ARGB32_Premultiplied);
        m_picture.setDevicePixelRatio(ratio);
        m_picture.fill(Qt::transparent);
        QStylePainter painter(&m_picture, this);
        // An image's resolution is never exactly the screen's: give the caption the pixel
        // size it has on screen, so it measures as the style expects.
        QFont caption = font();
        caption.setPixelSize(fontInfo().pixelSize());
        painter.setFont(caption);
        QStyleOptionGroupBox option;
        initStyleOption(&option);
        painter.drawComplexControl(QStyle::CC_GroupBox, option);
        m_pictureCaption = title();
    }
    QPainter(this).drawImage(0, 0, m_picture);
}

void SectionFrame::changeEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::EnabledChange:
    case QEvent::FontChange:
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
        m_picture = QImage();
        break;
    default:
        break;
    }
    QGroupBox::changeEvent(event);
}
