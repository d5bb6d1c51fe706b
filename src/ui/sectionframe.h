#pragma once

#include <QGroupBox>
#include <QImage>

// A frame that draws itself from a picture kept until its size, scale, caption, font,
// palette, style or enabled state changes. An output press repaints its button twice
// before its frame goes out, each time over the frame beneath it; drawn by the style, the
// frame would lay out its caption again each time.
class SectionFrame : public QGroupBox
{
    Q_OBJECT

public:
    SectionFrame(const QString &caption, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QImage m_picture;
    QString m_pictureCaption;
};
