#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include "connectedpanel.h"

class TestInbound : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_arrivals.isValid() && m_panel.startConnected()); }

    void arrival_data()
    {
        QTest::addColumn<QByteArray>("before"); // sets the colours the row starts from
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("colours"); // I1 … I8 and the link, Green or Red
        const auto row = [](const char *name, const char *before, const QByteArray &text,
                            const char *colours) {
            QTest::newRow(name) << QByteArray(before) << text << QByteArray(colours);
        };
        row("STEROWNIK CR LF", "11111111", "STEROWNIK\r\n", "RRRRRRRRR");
        row("sterownik", "11111111", "sterownik", "RRRRRRRRR");
        row("STEROWNIK00000001", "11111111", "STEROWNIK00000001", "RRRRRRRRR");
        row("00000001 CR LF", "11111110", "00000001\r\n", "GRRRRRRRR");
        row("1", "01111111", "1", "RRRRRRRGR");
        row("23456789", "11110000", "23456789", "RRRRGGGGR"); // 2 … 9 keep colours
        row("x, blank, tab, 5, 9", "11111111", "05x 9\t10", "RGRGRRGRR");
        row("<b>1</b>", "11111111", "<b>1</b>", "RRRRGRRRR");
        // One character per byte: superscript digits, accented letters and NUL are no digits.
        row("bytes 0x80 and up, NUL", "11111111", QByteArray("\xB9\xB2\x31\xE9\x80\xFF\x00\x31", 8),
            "GRRRRGRRR");
        // Last: until the controller identifies itself, the link indicator stays red.
        row("STEROWNIK", "11111111", "STEROWNIK", "RRRRRRRRG");
    }

    void arrival()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, colours);
        const Form1::Controls &ui = m_panel.ui();
        QVERIFY(arrive(before) && arrive(text));
        QCOMPARE(ui.Label3->text(), QString::fromLatin1(text));
        QCOMPARE(ui.IP->text(), QStringLiteral("127.0.0.1"));
        QByteArray shown;
        for (const ShapeControl *indicator :
             {ui.I[0], ui.I[1], ui.I[2], ui.I[3], ui.I[4], ui.I[5], ui.I[6], ui.I[7], ui.Shape2}) {
            const BgrColor c = indicator->backColor();
            shown += c == Bgr::Green ? 'G' : c == Bgr::Red ? 'R' : '?';
        }
        QCOMPARE(shown, colours);
    }

private:
    // Sends one text and waits until the panel has handled it as exactly one arrival.
    bool arrive(const QByteArray &text)
    {
        const qsizetype before = m_arrivals.size();
        m_panel.peer.send(text);
        return waitUntil([&] { return m_arrivals.size() > before; }, 10000)
            && m_arrivals.size() == before + 1;
    }

    ConnectedPanel m_panel;
    QSignalSpy m_arrivals {m_panel.ui().Winsock1, &SocketControl::dataArrival};
};

QTEST_MAIN(TestInbound)
#include "tst_inbound.moc"
