#include <QImage>
#include <QLabel>
#include <QTest>

#include "longtextlabel.h"

// A long text must look the same in LongTextLabel as in a plain QLabel: only the work
// behind it may differ.
class TestLongTextLabel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void looksLikeQLabel_data();
    void looksLikeQLabel();
    void keepsTheWholeText();
};

namespace {

QString repeatedLines(int lines, int length, const QString &end)
{
    QString text;
    for (int i = 0; i < lines; ++i) {
        for (int c = 0; c < length; ++c)
            text += QChar(u'!' + (i * 7 + c) % 90);
        text += end;
    }
    return text;
}

QImage rendered(QLabel &label, const QString &text, Qt::Alignment alignment)
{
    label.setAlignment(alignment);
    label.setText(text);
    label.setGeometry(0, 0, 121, 25);
    return label.grab().toImage();
}

} // namespace

void TestLongTextLabel::looksLikeQLabel_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Qt::Alignment>("alignment");

    const QString oneLine = repeatedLines(1, 3000, QString());
    const QString shortLines = repeatedLines(400, 8, QStringLiteral("\n"));
    const QString crlfLines = repeatedLines(60, 40, QStringLiteral("\r\n"));
    const QString latin1 = QString::fromLatin1(QByteArray(1500, '\xe9') + QByteArray(3, '\0')
                                               + QByteArray(1500, '<'));
    const Qt::Alignment design = Qt::AlignLeft | Qt::AlignVCenter;
    QTest::newRow("one long line") << oneLine << design;
    QTest::newRow("many short lines") << shortLines << design;
    QTest::newRow("CR LF lines") << crlfLines << design;
    QTest::newRow("odd line count") << QString(shortLines + QStringLiteral("end")) << design;
    QTest::newRow("Latin-1, NUL, markup") << latin1 << design;
    QTest::newRow("top") << crlfLines << (Qt::AlignLeft | Qt::AlignTop);
    QTest::newRow("bottom") << shortLines << (Qt::AlignLeft | Qt::AlignBottom);
    QTest::newRow("right") << oneLine << (Qt::AlignRight | Qt::AlignVCenter);
}

void TestLongTextLabel::looksLikeQLabel()
{
    QFETCH(QString, text);
    QFETCH(Qt::Alignment, alignment);
    QVERIFY(text.size() > LongTextLabel::ShortText);

    QLabel reference;
    reference.setTextFormat(Qt::PlainText);
    LongTextLabel label(QString {});
    QCOMPARE(rendered(label, text, alignment), rendered(reference, text, alignment));
}

void TestLongTextLabel::keepsTheWholeText()
{
    const QString text = repeatedLines(1, 4 * 1024 * 1024, QStringLiteral("\r\n"));
    LongTextLabel label(QString {});
    label.setGeometry(0, 0, 121, 25);
    label.setText(text);
    label.grab();
    QCOMPARE(label.text(), text);
    QCOMPARE(label.textFormat(), Qt::PlainText);
}

QTEST_MAIN(TestLongTextLabel)
#include "tst_longtextlabel.moc"
