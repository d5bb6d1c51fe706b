#include <QMessageBox>
#include <QTimer>

#include "boxcloser.h"
#include "connectedpanel.h"

using Ids = QList<int>;

static const Ids AllOutputs {11, 12, 13, 14, 15, 16, 17, 18, 21, 22, 23, 24,
                             25, 26, 27, 28, 31, 32, 33, 34, 35, 36, 37, 38};

class TestOutputs : public QObject
{
    Q_OBJECT

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
        for (const int id : AllOutputs)
            QCOMPARE(panel.output(id)->backColor(), pressed.count(id) % 2 ? Bgr::Green : Bgr::Red);
        // Nothing more went out: the next press's frame is the next line.
        QByteArray next = frame.left(24);
        next[16] = next[16] == '1' ? '0' : '1'; // S38's place
        panel.press(38);
        QCOMPARE(panel.peer.waitForLine().left(24), next);
    }

    // A press whose frame cannot go out: the critical box with one OK button while the
    // output shows what the press made of it, then that output alone forced off. The failed
    // frame stays on the labels; nothing goes out for the forced off.
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

    void failedPress()
    {
        QFETCH(Ids, before);
        QFETCH(QString, failedFrame);
        ConnectedPanel panel;
        const Form1::Controls &ui = panel.ui();
        QVERIFY(panel.startConnected());
        for (const int id : before)
            panel.press(id);
        QCOMPARE(panel.peer.waitForLines(before.size()).size(), before.size());
        panel.peer.close();
        QVERIFY(panel.waitForSocketState(SocketControl::sckListening));

        const auto othersAsBefore = [&] {
            for (const int id : AllOutputs) {
                const bool on = before.count(id) % 2;
                if (id != 13
                    && (panel.output(id)->shape() != on
                        || panel.output(id)->backColor() != (on ? Bgr::Green : Bgr::Red)))
                    return false;
            }
            return true;
        };
        QString seen;
        BoxCloser closer([&](QMessageBox *box) {
            seen = QStringLiteral("%1 %2 %3 %4 S13:%5 others:%6")
                       .arg(box->icon())
                       .arg(box->standardButtons().toInt())
                       .arg(box->windowTitle(), box->text())
                       .arg(panel.output(13)->shape())
                       .arg(othersAsBefore());
            return true;
        });
        panel.press(13); // returns once the box is closed
        QCOMPARE(closer.closed, 1);
        // S13 shows the press (1 is on) while the box is open, and is forced off after it.
        QCOMPARE(seen,
                 QStringLiteral("%1 %2 Korvan Brak połączenia ze sterownikiem.... S13:%3 "
                                "others:1")
                     .arg(QMessageBox::Critical)
                     .arg(QMessageBox::Ok)
                     .arg(before.count(13) % 2 ? 0 : 1));
        QCOMPARE(panel.output(13)->shape(), qint16(0));
        QCOMPARE(panel.output(13)->backColor(), Bgr::Red);
        QVERIFY(othersAsBefore());
        QCOMPARE(ui.Label2->text(), failedFrame);
        QCOMPARE(ui.Label1->text(), failedFrame.right(1));

        // The next controller's first line is the next press's frame: the forced switch-off
        // sent nothing. S13 reads off, so this press switches it on.
        ControllerPeer next;
        QVERIFY(next.connectTo(panel.port(), 10000));
        QVERIFY(panel.waitForSocketState(SocketControl::sckConnected));
        panel.press(13);
        QString expected = failedFrame.left(24);
        expected[5] = u'1';
        QCOMPARE(QString::fromLatin1(next.waitForLine().left(24)), expected);
    }

    // Under the box the timers and the socket keep working: a controller is accepted and
    // identified, the clock and heartbeat go on.
    void eventsGoOnUnderTheBox()
    {
        ConnectedPanel panel;
        const Form1::Controls &ui = panel.ui();
        QVERIFY(panel.startListening());
        const QString clockBefore = ui.Label12->text();
        const BgrColor heartbeatBefore = ui.Shape1->backColor();
        bool identified = false;
        const QDeadlineTimer deadline(20000);
        BoxCloser closer([&](QMessageBox *) {
            if (panel.socketState() == SocketControl::sckListening)
                panel.peer.connectTo(panel.port(), 1000);
            if (panel.socketState() == SocketControl::sckConnected
                && !std::exchange(identified, true))
                panel.peer.send("STEROWNIK");
            return (ui.Shape2->backColor() == Bgr::Green && ui.Label12->text() != clockBefore
                    && ui.Shape1->backColor() != heartbeatBefore)
                || deadline.hasExpired();
        });
        panel.press(13);
        QVERIFY2(!deadline.hasExpired(), "events stalled under the box");
        QCOMPARE(closer.closed, 1);
    }

    // The window may be destroyed while its failure box waits for the operator.
    void windowGoneUnderBox()
    {
        QPointer<Form1> form = new Form1(0);
        form->show();
        QTimer::singleShot(100, [form] { delete form; });
        form->controls().S[0][0]->click(); // returns once the box is gone with its window
        QVERIFY(form.isNull());
    }
};

QTEST_MAIN(TestOutputs)
#include "tst_outputs.moc"
