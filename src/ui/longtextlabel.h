#pragma once

#include <QLabel>

// A plain-text label that may be handed megabytes of text (whatever a peer sent). It
// keeps the whole text, so text() is exactly what was set, but painting lays out only
// the lines and characters that can fall inside the label: laying out one long line of
// text costs about a second per megabyte, which would freeze the window.
class LongTextLabel : public QLabel
{
    Q_OBJECT

public:
    explicit LongTextLabel(const QString &text, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Texts up to this length are painted by QLabel itself.
    static constexpr qsizetype ShortText = 1024;

    // The part of a text that painting deals with: the lines that can show in a box of
    // the given size, each cut to what can show in its width. Lines end at '\n', the
    // only line end a label draws that Latin-1 text can hold.
    static QString excerpt(QStringView text, Qt::Alignment alignment, int width, int height,
                           int lineSpacing);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool isLong() const;
};
