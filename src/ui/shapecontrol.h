#pragma once

#include <QWidget>

#include "bgrcolor.h"

// A filled shape with a black outline: the panel's indicators. Shape selects the
// outline (0 rectangle, 1 square, 4 rounded rectangle); the output indicators also keep
// their state in it. BackColor is the fill, in the design's BGR values.
class ShapeControl : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(qint16 Shape READ shape WRITE setShape)
    Q_PROPERTY(quint32 BackColor READ backColor WRITE setBackColor)
    Q_PROPERTY(quint32 FillColor READ fillColor WRITE setFillColor)

public:
    enum Outline : qint16 {
        Rectangle = 0,
        Square = 1,
        Oval = 2,
        Circle = 3,
        RoundedRectangle = 4,
        RoundedSquare = 5,
    };

    explicit ShapeControl(QWidget *parent = nullptr);

    qint16 shape() const { return m_shape; }
    void setShape(qint16 shape);

    BgrColor backColor() const { return m_backColor; }
    void setBackColor(BgrColor colour);

    BgrColor fillColor() const { return m_fillColor; }
    void setFillColor(BgrColor colour) { m_fillColor = colour; }

Q_SIGNALS:
    void backColorChanged(BgrColor colour);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateOpaqueness();

    qint16 m_shape = Rectangle;
    BgrColor m_backColor = Bgr::Red;
    BgrColor m_fillColor = 0;
};
