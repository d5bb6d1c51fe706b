#pragma once

#include <QGroupBox>
#include <QImage>

// A frame that draws itself from a cached picture. Every output press repaints its
// button twice before the frame goes out, and each repaint paints the frame beneath the
// button: the style measures and shapes the caption every time, which was most of the
// press's cost.
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
