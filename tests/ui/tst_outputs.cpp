#include <QMessageBox>
#include <QPointer>

#include "boxcloser.h"
#include "connectedpanel.h"

using Ids = QList<int>;

static const Ids AllOutputs {11, 12, 13, 14, 15, 16, 17, 18, 21, 22, 23, 24,
                             25, 26, 27, 28, 31, 32, 33, 34, 35, 36, 37, 38};

class TestOutputs : public QObject
{
    Q_OBJECT

    // The outputs in the frame's order (S18 … S11, S28 … S21, S38 … S31): 1 on and green,
    // 0 off and red, ? anything else.
    static QString shown(const ConnectedPanel &panel)
    {
        QString s;
        for (const auto &section : panel.ui().O) {
            for (auto o = section.rbegin(); o != section.rend(); ++o) {
                const bool on = (*o)->backColor() == Bgr::Green;
                s += (*o)->shape() == on && (on || (*o)->backColor() == Bgr::Red) ? u"01"[on]
                                                                                  : u'?';
            }
        }
        return s;
    }

private Q_SLOTS:
    void presses_data()
    {
        QTest::addColumn<Ids>("pressed");
        QTest::newRow("000001000000000000000000F") << Ids {13};
        QTest::newRow("100000000000000000000000E") << Ids {18};
        QTest::newRow("010000000000000000000000F") << Ids {17};
        QTest::newRow("111111111111111111111111C") << AllOutputs;
        QTest::newRow("0000000000000000000000000") << Ids {13, 13};
        QTest::newRow("100000000000000000000001D") << Ids {31, 13, 18, 13};
    }

    // One whole frame per press; the last carries every output, as do the indicators.
    void presses()
    {
        QFETCH(Ids, pressed);
        const QByteArray frame = QTest::currentDataTag();
        ConnectedPanel panel;
        QVERIFY(panel.startConnected());
        for (const int id : pressed)
            panel.press(id);
        const QList<QByteArray> lines = panel.peer.waitForLines(pressed.size());
        QCOMPARE(lines.size(), pressed.size());
        QCOMPARE(lines.last(), frame);
        QCOMPARE(panel.ui().Label2->text(), QString::fromLatin1(frame));
        QCOMPARE(panel.ui().Label1->text(), QString::fromLatin1(frame.right(1)));
        QCOMPARE(shown(panel), QString::fromLatin1(frame.left(24)));
        // Nothing more went out: the next press's frame is the next line.
        QByteArray next = frame.left(24);
        next[16] = next[16] == '1' ? '0' : '1'; // S38's place
        panel.press(38);
        QCOMPARE(panel.peer.waitForLine().left(24), next);
    }

    void failedPress_data()
    {
        QTest::addColumn<Ids>("before"); // switched on while the controller was there
        QTest::addColumn<QString>("failedFrame"); // S13 is pressed
        QTest::newRow("switch-on") << Ids {} << QStringLiteral("000001000000000000000000F");
        QTest::newRow("switch-off") << Ids {13} << QStringLiteral("0000000000000000000000000");
        QTest::newRow("switch-on, others on")
            << Ids {18, 31} << QStringLiteral("100001000000000000000001C");
        QTest::newRow("switch-off, others on")
            << Ids {18, 13, 31} << QStringLiteral("100000000000000000000001D");
    }

    // A press whose frame cannot go out: the critical box with one OK button while the
    // outputs show the press, then S13 alone forced off. The failed frame stays on the
    // labels; nothing goes out for the forced off.
    void failedPress()
    {
        QFETCH(Ids, before);
        QFETCH(QString, failedFrame);
        ConnectedPanel panel;
        QVERIFY(panel.startConnected());
        for (const int id : before)
            panel.press(id);
        QCOMPARE(panel.peer.waitForLines(before.size()).size(), before.size());
        panel.peer.close();
        QVERIFY(panel.waitForSocketState(SocketControl::sckListening));

        QString seen;
        BoxCloser closer([&](QMessageBox *box) {
            seen = QStringLiteral("%1 %2 %3 %4 %5")
                       .arg(box->icon())
                       .arg(box->standardButtons().toInt())
                       .arg(box->windowTitle(), box->text(), shown(panel));
            return true;
        });
        panel.press(13); // returns once the box is closed
        QCOMPARE(closer.closed, 1);
        QCOMPARE(seen,
                 QStringLiteral("%1 %2 Korvan Brak połączenia ze sterownikiem.... %3")
                     .arg(QMessageBox::Critical)
                     .arg(QMessageBox::Ok)
                     .arg(failedFrame.left(24)));
        QString state = failedFrame.left(24);
        state[5] = u'0'; // S13's place
        QCOMPARE(shown(panel), state);
        QCOMPARE(panel.ui().Label2->text(), failedFrame);
        QCOMPARE(panel.ui().Label1->text(), failedFrame.right(1));

        // The next controller's first line is the next press's frame: the forced switch-off
        // sent nothing. S13 reads off, so this press switches it on.
        ControllerPeer next;
        QVERIFY(next.connectTo(panel.port(), 10000));
        QVERIFY(panel.waitForSocketState(SocketControl::sckConnected));
        panel.press(13);
        state[5] = u'1';
        QCOMPARE(QString::fromLatin1(next.waitForLine().left(24)), state);
    }

    // Under the box the timers and the socket keep working: a controller is accepted and
    // identified, the clock and heartbeat go on. Then the window is destroyed under its box.
    void eventsGoOnUnderTheBox()
    {
        ConnectedPanel panel;
        const Form1::Controls &ui = panel.ui();
        QVERIFY(panel.startListening());
        const QString clockBefore = ui.Label12->text();
        const BgrColor heartbeatBefore = ui.Shape1->backColor();
        const QPointer<Form1> form = panel.form.get();
        bool identified = false;
        const QDeadlineTimer deadline(20000);
        BoxCloser closer([&](QMessageBox *) {
            if (panel.socketState() == SocketControl::sckListening)
                panel.peer.connectTo(panel.port(), 1000);
            if (panel.socketState() == SocketControl::sckConnected
                && !std::exchange(identified, true))
                panel.peer.send("STEROWNIK");
            if (ui.Shape2->backColor() == Bgr::Green && ui.Label12->text() != clockBefore
                && ui.Shape1->backColor() != heartbeatBefore)
                panel.form.reset();
            return deadline.hasExpired();
        });
        ui.S[0][2]->click(); // returns once the box is gone with its window
        QVERIFY2(!deadline.hasExpired(), "events stalled under the box");
        QVERIFY(form.isNull());
    }
};

QTEST_MAIN(TestOutputs)
#include "tst_outputs.moc"
