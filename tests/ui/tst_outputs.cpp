#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <functional>

#include "connectedpanel.h"

using Ids = QList<int>;

static const Ids AllOutputs {11, 12, 13, 14, 15, 16, 17, 18, 21, 22, 23, 24,
                             25, 26, 27, 28, 31, 32, 33, 34, 35, 36, 37, 38};

// Watches for the application-modal box from inside its own event loop, lets `whileOpen`
// look at the window, then closes it with its OK button.
class BoxCloser
{
public:
    explicit BoxCloser(std::function<bool(QMessageBox *)> whileOpen)
        : m_whileOpen(std::move(whileOpen))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !m_whileOpen(box))
                return;
            m_timer.stop();
            ++m_closed;
            box->button(QMessageBox::Ok)->click();
        });
        m_timer.start(5);
    }
    int closed() const { return m_closed; }

private:
    std::function<bool(QMessageBox *)> m_whileOpen;
    QTimer m_timer;
    int m_closed = 0;
};

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
    // output shows what the press made of it, then the output forced off, and only that
    // output. The failed frame stays on the labels; nothing goes out for the forced off.
    void failedPress_data()
    {
        QTest::addColumn<Ids>("before"); // switched on while the controller was there
        QTest::addColumn<int>("pressed");
        QTest::addColumn<QString>("failedFrame");
        QTest::newRow("switch-on") << Ids {} << 13 << QStringLiteral("000001000000000000000000F");
        QTest::newRow("switch-off")
            << Ids {13} << 13 << QStringLiteral("0000000000000000000000000");
        QTest::newRow("switch-on, others on")
            << Ids {18, 31} << 13 << QStringLiteral("100001000000000000000001C");
        QTest::newRow("switch-off, others on")
            << Ids {18, 13, 31} << 13 << QStringLiteral("100000000000000000000001D");
    }

    void failedPress()
    {
        QFETCH(Ids, before);
        QFETCH(int, pressed);
        QFETCH(QString, failedFrame);
        ConnectedPanel panel;
        const Form1::Controls &ui = panel.ui();
        QVERIFY(panel.startConnected());
        for (const int id : before)
            panel.press(id);
        QCOMPARE(panel.peer.waitForLines(before.size()).size(), before.size());
        panel.peer.close();
        QVERIFY(panel.waitForSocketState(SocketControl::sckListening));

        const bool wasOn = before.count(pressed) % 2;
        int shapeWhileOpen = -1;
        bool othersWhileOpen = false;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QString title, text;
        BoxCloser closer([&](QMessageBox *box) {
            shapeWhileOpen = panel.output(pressed)->shape();
            othersWhileOpen = othersAsBefore(panel, before, pressed);
            icon = box->icon();
            buttons = box->standardButtons();
            title = box->windowTitle();
            text = box->text();
            return true;
        });
        panel.press(pressed); // returns once the box is closed

        QCOMPARE(closer.closed(), 1);
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(title, QStringLiteral("Korvan"));
        QCOMPARE(text, QStringLiteral("Brak połączenia ze sterownikiem...."));
        QCOMPARE(shapeWhileOpen, wasOn ? 0 : 1); // forced off only after the box
        QVERIFY(othersWhileOpen);
        QCOMPARE(panel.output(pressed)->shape(), qint16(0));
        QCOMPARE(panel.output(pressed)->backColor(), Bgr::Red);
        QVERIFY(othersAsBefore(panel, before, pressed));
        QCOMPARE(ui.Label2->text(), failedFrame);
        QCOMPARE(ui.Label1->text(), failedFrame.right(1));

        // The next controller's first line is the next press's frame: the forced switch-off
        // sent nothing. The output reads off, so this press switches it on.
        ControllerPeer next;
        QVERIFY(next.connectTo(quint16(ui.Winsock1->LocalPort()), 10000));
        QVERIFY(panel.waitForSocketState(SocketControl::sckConnected));
        panel.press(pressed);
        QString expected = failedFrame.left(24);
        expected[Output::framePosition(pressed / 10, pressed % 10) - 1] = u'1';
        QCOMPARE(QString::fromLatin1(next.waitForLine().left(24)), expected);
    }

    // While the box is open, the timers and the socket keep working: a controller is
    // accepted and identified, the clock and heartbeat go on.
    void eventsGoOnUnderTheBox()
    {
        ConnectedPanel panel;
        const Form1::Controls &ui = panel.ui();
        panel.form->show();
        QTest::mouseClick(ui.Command1, Qt::LeftButton);
        QVERIFY(panel.waitForSocketState(SocketControl::sckListening));
        const QString clockBefore = ui.Label12->text();
        const BgrColor heartbeatBefore = ui.Shape1->backColor();
        bool identified = false;
        const QDeadlineTimer deadline(20000);
        BoxCloser closer([&](QMessageBox *) {
            if (panel.socketState() == SocketControl::sckListening)
                panel.peer.connectTo(quint16(ui.Winsock1->LocalPort()), 1000);
            if (panel.socketState() == SocketControl::sckConnected
                && !std::exchange(identified, true))
                panel.peer.send("STEROWNIK");
            return (ui.Shape2->backColor() == Bgr::Green && ui.Label12->text() != clockBefore
                    && ui.Shape1->backColor() != heartbeatBefore)
                || deadline.hasExpired();
        });
        panel.press(13);
        QVERIFY2(!deadline.hasExpired(), "events stalled under the box");
        QCOMPARE(closer.closed(), 1);
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

private:
    static bool othersAsBefore(const ConnectedPanel &panel, const Ids &before, int pressed)
    {
        for (const int id : AllOutputs) {
            const bool on = before.count(id) % 2;
            if (id != pressed
                && (panel.output(id)->shape() != on
                    || panel.output(id)->backColor() != (on ? Bgr::Green : Bgr::Red)))
                return false;
        }
        return true;
    }
};

QTEST_MAIN(TestOutputs)
#include "tst_outputs.moc"
