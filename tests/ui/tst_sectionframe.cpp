#include <QGroupBox>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

#include <functional>
#include <memory>

#include "longtextlabel.h"
#include "sectionframe.h"

using Change = std::function<void(QGroupBox &)>;
Q_DECLARE_METATYPE(Change)

// The widgets that draw from kept work must draw exactly what Qt draws for the plain widget,
// after each change that can alter their look. `make test` runs this at the display scales
// 1, 1.25 and 2.
class TestSectionFrame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void looksLikeGroupBox_data()
    {
        QTest::addColumn<Change>("change");
        QTest::newRow("as built") << Change([](QGroupBox &) {});
        QTest::newRow("caption") << Change([](QGroupBox &f) { f.setTitle(u"Wyjścia"_qs); });
        QTest::newRow("size") << Change([](QGroupBox &f) { f.resize(240, 61); });
        QTest::newRow("font") << Change(
            [](QGroupBox &f) { f.setFont(QFont(f.font().family(), 14, QFont::Bold)); });
        QTest::newRow("palette") << Change(
            [](QGroupBox &f) { f.setPalette(QPalette(Qt::yellow, Qt::darkBlue)); });
        QTest::newRow("style") << Change([this](QGroupBox &f) { f.setStyle(m_windows.get()); });
        QTest::newRow("disabled") << Change([](QGroupBox &f) { f.setEnabled(false); });
    }

    void looksLikeGroupBox()
    {
        QFETCH(Change, change);
        SectionFrame frame(QStringLiteral("Sekcja Output1"), nullptr);
        QGroupBox plain(QStringLiteral("Sekcja Output1"));
        plain.setAutoFillBackground(true);
        frame.resize(353, 97);
        plain.resize(353, 97);
        render(frame); // keeps its picture
        change(frame);
        change(plain);
        QCOMPARE(render(frame), render(plain));
    }

    void looksLikeQLabel_data()
    {
        QTest::addColumn<QString>("text");
        // Numbered lines, each unlike its neighbours, so painting the wrong lines shows.
        QString lines;
        for (int i = 0; i < 401; ++i)
            lines += QString::number(i * 7919) + u'\n';
        QTest::newRow("one long line, Latin-1, NUL, markup")
            << QString(lines).replace(u'\n', QStringLiteral("<b>\u00e9&amp;\0"));
        QTest::newRow("even line count") << lines;
        QTest::newRow("odd line count, CR LF") << lines.chopped(1).replace(u'\n', u"\r\n"_qs);
    }

    // A long text looks the same as in a plain QLabel, whatever the alignment, and stays
    // whole: only the work behind painting it may differ.
    void looksLikeQLabel()
    {
        QFETCH(QString, text);
        LongTextLabel label(text);
        QLabel reference(text);
        reference.setTextFormat(Qt::PlainText);
        label.resize(121, 25);
        reference.resize(label.size());
        for (const auto horizontal : {Qt::AlignLeft, Qt::AlignRight})
            for (const auto vertical : {Qt::AlignTop, Qt::AlignVCenter, Qt::AlignBottom}) {
                label.setAlignment(horizontal | vertical);
                reference.setAlignment(horizontal | vertical);
                QCOMPARE(label.grab().toImage(), reference.grab().toImage());
            }
        QCOMPARE(label.text(), text);
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
