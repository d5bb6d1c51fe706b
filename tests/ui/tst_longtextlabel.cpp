#include <QTest>

#include "longtextlabel.h"

class TestLongTextLabel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void looksLikeQLabel_data();
    void looksLikeQLabel();
};

void TestLongTextLabel::looksLikeQLabel_data()
{
    QTest::addColumn<QString>("text");
    // Numbered lines, each unlike its neighbours, so painting the wrong lines shows.
    QString lines;
    for (int i = 0; i < 401; ++i)
        lines += QString::number(i * 7919) + QLatin1Char('\n');
    QTest::newRow("one long line, Latin-1, NUL, markup")
        << QString(lines).replace(u'\n', QStringLiteral("<b>\u00e9&amp;\0"));
    QTest::newRow("even line count") << lines;
    QTest::newRow("odd line count, CR LF")
        << lines.chopped(1).replace(u'\n', QStringLiteral("\r\n"));
}

// A long text looks the same in LongTextLabel as in a plain QLabel, whatever the alignment,
// and stays whole: only the work behind painting it may differ.
void TestLongTextLabel::looksLikeQLabel()
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

QTEST_MAIN(TestLongTextLabel)
#include "tst_longtextlabel.moc"
