#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include "boxcloser.h"
#include "connectedpanel.h"

class TestOutputs : public QObject
{
    Q_OBJECT

    // The outputs in the frame's order (S18 … S11, S28 … S21, S38 … S31): 1 on and green,
    // 0 off and red, ? anything else.
    static QString shown(const ConnectedPanel &panel)
    {
        QString s;
        for (const auto &section : panel.ui().O)
            for (auto o = section.rbegin(); o != section.rend(); ++o) {
                const bool on = (*o)->backColor() == Bgr::Green;
                s += (*o)->shape() == on && (on || (*o)->backColor() == Bgr::Red) ? u"01"[on]
                                                                                  : u'?';
            }
        return s;
    }

private Q_SLOTS:
    void presses_data()
    {
        QTest::addColumn<QList<int>>("pressed");
        QTest::addColumn<bool>("fails"); // the last press finds no controller
        QTest::addColumn<QString>("frame"); // the last press's
        const auto row
            = [](const char *name, const QList<int> &pressed, bool fails, const char *frame) {
                  QTest::newRow(name) << pressed << fails << QString::fromLatin1(frame);
              };
        row("S13", {13}, false, "000001000000000000000000F");
        row("S18", {18}, false, "100000000000000000000000E");
        row("S17", {17}, false, "010000000000000000000000F");
        row("all", {11, 12, 13, 14, 15, 16, 17, 18, 21, 22, 23, 24,
                    25, 26, 27, 28, 31, 32, 33, 34, 35, 36, 37, 38},
            false, "111111111111111111111111C");
        row("S13 twice", {13, 13}, false, "0000000000000000000000000");
        row("S31 S13 S18 S13", {31, 13, 18, 13}, false, "100000000000000000000001D");
        row("switch-on fails", {13}, true, "000001000000000000000000F");
        row("switch-off fails", {13, 13}, true, "0000000000000000000000000");
        row("switch-on fails, others on", {18, 31, 13}, true, "100001000000000000000001C");
        row("switch-off fails, others on", {18, 13, 31, 13}, true, "100000000000000000000001D");
    }

    // One whole frame per press, the last one on the labels and the indicators. A press
    // whose frame cannot go out: the critical box with one OK button while the outputs show
    // the press, then S13 alone forced off. Either way nothing more goes out: the next
    // press's frame is the next line a controller gets.
    void presses()
    {
        QFETCH(QList<int>, pressed);
        QFETCH(bool, fails);
        QFETCH(QString, frame);
        ConnectedPanel panel;
        QVERIFY(panel.startConnected());
        const qsizetype sent = pressed.size() - fails;
        for (const int id : pressed.first(sent))
            panel.press(id);
        const QList<QByteArray> lines = panel.peer.waitForLines(sent);
        QCOMPARE(lines.size(), sent);
        QString state = frame.left(24), seen;
        ControllerPeer next;
        const Form1::Controls &ui = panel.ui();
        const QDeadlineTimer deadline(20000);
        if (fails) {
            panel.peer.close();
            QVERIFY(panel.waitForSocketState(SocketControl::sckListening));
            // Under the box the timers and the socket go on: the next controller is taken
            // and identified, the clock and the heartbeat move.
            QString clock;
            BgrColor heartbeat {};
            BoxCloser closer([&](QMessageBox *box) {
                if (seen.isEmpty()) {
                    clock = ui.Label12->text();
                    heartbeat = ui.Shape1->backColor();
                    seen = QStringLiteral("%1 %2 %3 %4 %5")
                               .arg(box->icon())
                               .arg(box->standardButtons().toInt())
                               .arg(box->windowTitle(), box->text(), shown(panel));
                    next.connectTo(panel.port(), 10000);
                    next.send("STEROWNIK");
                }
                return (ui.Shape2->backColor() == Bgr::Green && ui.Label12->text() != clock
                        && ui.Shape1->backColor() != heartbeat)
                    || deadline.hasExpired();
            });
            panel.press(13); // returns once the box is closed
            QCOMPARE(seen,
                     QStringLiteral("%1 %2 Korvan Brak połączenia ze sterownikiem.... %3")
                         .arg(QMessageBox::Critical)
                         .arg(QMessageBox::Ok)
                         .arg(state));
            state[5] = u'0'; // S13's place
        } else {
            QCOMPARE(QString::fromLatin1(lines.last()), frame);
        }
        QCOMPARE(shown(panel), state);
        QCOMPARE(ui.Label2->text(), frame);
        QCOMPARE(ui.Label1->text(), frame.right(1));
        QVERIFY2(!deadline.hasExpired(), "events stalled under the box");
        panel.press(38);
        state[16] = state[16] == u'1' ? u'0' : u'1'; // S38's place
        QCOMPARE(QString::fromLatin1((fails ? next : panel.peer).waitForLine().left(24)), state);
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
