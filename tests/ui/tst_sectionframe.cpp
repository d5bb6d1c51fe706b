#include <QApplication>
#include <QGroupBox>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

#include <functional>
#include <memory>

#include "sectionframe.h"

using Change = std::function<void(QGroupBox &)>;
Q_DECLARE_METATYPE(Change)

// A section frame draws from a kept picture: after each change that can alter its look it
// must draw exactly what the style draws for a plain frame. `make test` runs this at the
// display scales 1, 1.25 and 2.
class TestSectionFrame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void looksLikeGroupBox_data()
    {
        QTest::addColumn<Change>("change");
        QTest::newRow("as built") << Change([](QGroupBox &) {});
        QTest::newRow("caption") << Change(
            [](QGroupBox &f) { f.setTitle(QStringLiteral("Wyjścia")); });
        QTest::newRow("size") << Change([](QGroupBox &f) { f.resize(240, 61); });
        QTest::newRow("font") << Change([](QGroupBox &f) {
            QFont font = f.font();
            font.setPointSizeF(font.pointSizeF() * 1.5);
            font.setBold(true);
            f.setFont(font);
        });
        QTest::newRow("palette") << Change([](QGroupBox &f) {
            QPalette palette = f.palette();
            palette.setColor(QPalette::Window, Qt::darkBlue);
            palette.setColor(QPalette::WindowText, Qt::yellow);
            f.setPalette(palette);
        });
        QTest::newRow("style") << Change([this](QGroupBox &f) { f.setStyle(m_windows.get()); });
        QTest::newRow("disabled") << Change([](QGroupBox &f) { f.setEnabled(false); });
    }

    void looksLikeGroupBox()
    {
        QFETCH(Change, change);
        SectionFrame frame(QStringLiteral("Sekcja Output1"), nullptr);
        QGroupBox plain(QStringLiteral("Sekcja Output1"));
        plain.setAutoFillBackground(true);
        for (QGroupBox *f : {static_cast<QGroupBox *>(&frame), &plain})
            f->resize(353, 97);
        render(frame); // keeps its picture
        change(frame);
        change(plain);
        QCOMPARE(render(frame), render(plain));
    }

private:
    // At the display's own scale, as the window system would have it drawn.
    static QImage render(QWidget &widget)
    {
        const qreal scale = widget.devicePixelRatioF();
        QImage image(widget.size() * scale, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::magenta);
        widget.render(&image);
        return image;
    }

    std::unique_ptr<QStyle> m_windows {QStyleFactory::create(QStringLiteral("Windows"))};
};

QTEST_MAIN(TestSectionFrame)
#include "tst_sectionframe.moc"
