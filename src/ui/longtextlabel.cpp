#include "longtextlabel.h"

#include <QPainter>
#include <QStyle>

namespace {

// The characters of one line that can show in width pixels: no visible character is
// narrower than a pixel, so width + 1 of them always cover the box.
QStringView visiblePart(QStringView line, Qt::Alignment alignment, int width)
{
    const qsizetype room = qsizetype(width) + 1;
    if (line.size() <= room)
        return line;
    if (alignment & Qt::AlignRight)
        return line.right(room);
    if (alignment & Qt::AlignHCenter)
        return line.mid((line.size() - room) / 2, room);
    return line.left(room);
}

} // namespace

LongTextLabel::LongTextLabel(const QString &text, QWidget *parent)
    : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
}

bool LongTextLabel::isLong() const
{
    return text().size() > ShortText && textFormat() == Qt::PlainText && !wordWrap();
}

QSize LongTextLabel::sizeHint() const
{
    // Measuring a huge text is as slow as painting it; such a label shows a window onto
    // its text anyway.
    return isLong() ? size() : QLabel::sizeHint();
}

QSize LongTextLabel::minimumSizeHint() const
{
    return isLong() ? QSize(0, 0) : QLabel::minimumSizeHint();
}

QString LongTextLabel::excerpt(QStringView text, Qt::Alignment alignment, int width, int height,
                               int lineSpacing)
{
    // A block of lines taller than the box is drawn from its first line on, whatever the
    // vertical alignment, so the lines that show are always the first ones. Two more than
    // fit keep the excerpt as tall as the box or taller, placed the same way.
    const qsizetype lines = height / qMax(1, lineSpacing) + 2;
    QString result;
    qsizetype start = 0;
    for (qsizetype line = 0; line < lines && start <= text.size(); ++line) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        if (line > 0)
            result += QLatin1Char('\n');
        result += visiblePart(text.sliced(start, end - start), alignment, width);
        start = end + 1;
    }
    return result;
}

void LongTextLabel::paintEvent(QPaintEvent *event)
{
    if (!isLong()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    QRect box = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const Qt::Alignment alignment = QStyle::visualAlignment(layoutDirection(), this->alignment());
    if (indent() > 0) {
        if (alignment & Qt::AlignLeft)
            box.setLeft(box.left() + indent());
        else if (alignment & Qt::AlignRight)
            box.setRight(box.right() - indent());
    }
    const QString part
        = excerpt(text(), alignment, box.width(), box.height(), fontMetrics().lineSpacing());
    style()->drawItemText(&painter, box, int(alignment), palette(), isEnabled(), part,
                          foregroundRole());
}
