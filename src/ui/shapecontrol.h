#pragma once

#include <QWidget>

#include "bgrcolor.h"

// A filled shape with a black outline: the panel's indicators. Shape selects the outline
// (1 a square centred in the box, any other value the whole box as a rectangle); the
// output indicators also keep their state in it. BackColor is the fill, in the design's
// BGR values.
class ShapeControl : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(qint16 Shape READ shape WRITE setShape)
    Q_PROPERTY(quint32 BackColor READ backColor WRITE setBackColor NOTIFY backColorChanged)
    // The bars' second colour: stored as designed, never shown.
    Q_PROPERTY(quint32 FillColor MEMBER m_fillColor)

public:
    enum Outline : qint16 {
        Rectangle = 0,
        Square = 1,
    };

    explicit ShapeControl(QWidget *parent = nullptr);

    qint16 shape() const { return m_shape; }
    void setShape(qint16 shape);

    BgrColor backColor() const { return m_backColor; }
    void setBackColor(BgrColor colour);

    void setFillColor(BgrColor colour) { m_fillColor = colour; }

Q_SIGNALS:
    void backColorChanged(BgrColor colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qint16 m_shape = Rectangle;
    BgrColor m_backColor = Bgr::Red;
    BgrColor m_fillColor = 0;
};
