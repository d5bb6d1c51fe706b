#include <QLabel>
#include <QMessageBox>
#include <QTimer>

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
        QTRY_COMPARE_WITH_TIMEOUT(panel.peer.received().size(), 27 * pressed.size(), 10000);
        QTest::qWait(20); // nothing more may follow
        const QList<QByteArray> lines = panel.peer.takeLines();
        QCOMPARE(lines.size(), pressed.size());
        QVERIFY(panel.peer.received().isEmpty());
        QCOMPARE(lines.last(), frame);
        QCOMPARE(panel.ui().Label2->text(), QString::fromLatin1(frame));
        QCOMPARE(panel.ui().Label1->text(), QString::fromLatin1(frame.right(1)));
        for (const int id : AllOutputs)
            QCOMPARE(panel.output(id)->backColor(), pressed.count(id) % 2 ? Bgr::Green : Bgr::Red);
    }

    // A press with no controller fails. While the box is open the timers and the socket
    // keep working: a controller is accepted and identified, the clock and heartbeat go on.
    void failedPress()
    {
        ConnectedPanel panel;
        const Form1::Controls &ui = panel.ui();
        panel.form->show();
        QTest::mouseClick(ui.Command1, Qt::LeftButton);
        QVERIFY(panel.waitForSocketState(SocketControl::sckListening));
        const QString clockBefore = ui.Label12->text();
        const BgrColor heartbeatBefore = ui.Shape1->backColor();
        QString title, text;
        bool identified = false, timedOut = false;
        QTimer closer; // polls from inside the box's own event loop
        connect(&closer, &QTimer::timeout, [&, deadline = QDeadlineTimer(20000)] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (panel.socketState() == SocketControl::sckListening)
                panel.peer.connectTo(quint16(ui.Winsock1->LocalPort()), 1000);
            if (panel.socketState() == SocketControl::sckConnected && !std::exchange(identified, true))
                panel.peer.send("STEROWNIK");
            if (!(ui.Shape2->backColor() == Bgr::Green && ui.Label12->text() != clockBefore
                  && ui.Shape1->backColor() != heartbeatBefore)
                && !(timedOut = deadline.hasExpired()))
                return;
            title = box->windowTitle();
            text = box->text();
            closer.stop();
            box->button(QMessageBox::Ok)->click();
        });
        closer.start(5);
        panel.press(13); // returns once the box is closed

        QCOMPARE(title, QStringLiteral("Korvan"));
        QCOMPARE(text, QStringLiteral("Brak połączenia ze sterownikiem...."));
        QVERIFY2(!timedOut, "events stalled under the box");
        QCOMPARE(panel.output(13)->shape(), qint16(0));
        QCOMPARE(panel.output(13)->backColor(), Bgr::Red);
        QCOMPARE(ui.Label2->text(), QStringLiteral("000001000000000000000000F")); // the failed one
        QTest::qWait(50);
        QCOMPARE(panel.peer.received(), QByteArray()); // the forced switch-off sends nothing
        panel.press(13); // it reads off, so this press switches it on
        QCOMPARE(panel.peer.waitForLine(), QByteArray("000001000000000000000000F"));
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
