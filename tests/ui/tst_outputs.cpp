#include <QLabel>
#include <QTest>

#include "connectedpanel.h"
#include "errorreporter.h"

using Ids = QList<int>;

namespace {

const QString FailurePrompt = QStringLiteral("Brak połączenia ze sterownikiem....");

QList<int> allOutputs()
{
    QList<int> ids;
    for (int s = 1; s <= 3; ++s) {
        for (int n = 1; n <= 8; ++n)
            ids.append(10 * s + n);
    }
    return ids;
}

} // namespace

class TestOutputs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupTestCase() { m_panel.reset(); }
    void presses_data();
    void presses();
    void failedSwitchOn();
    void failedSwitchOffWhileEventsGoOn();

private:
    // One connected panel for all press rows; each row starts with every output off.
    std::unique_ptr<ConnectedPanel> m_panel;
};

void TestOutputs::presses_data()
{
    QTest::addColumn<Ids>("pressed");
    QTest::addColumn<QByteArray>("lastFrame");

    QTest::newRow("000001000000000000000000F")
        << Ids {13} << QByteArray("000001000000000000000000F");
    QTest::newRow("100000000000000000000000E")
        << Ids {18} << QByteArray("100000000000000000000000E");
    QTest::newRow("010000000000000000000000F")
        << Ids {17} << QByteArray("010000000000000000000000F");
    QTest::newRow("000000010000000000000000F")
        << Ids {11} << QByteArray("000000010000000000000000F");
    QTest::newRow("000000000000000100000000F")
        << Ids {21} << QByteArray("000000000000000100000000F");
    QTest::newRow("000000000000000000000001F")
        << Ids {31} << QByteArray("000000000000000000000001F");
    QTest::newRow("111111111111111111111111C")
        << allOutputs() << QByteArray("111111111111111111111111C");
    QTest::newRow("0000000000000000000000000 (S11 twice)")
        << Ids {11, 11} << QByteArray("0000000000000000000000000");
    QTest::newRow("100000000000000000000001D (S31, S13, S18, S13)")
        << Ids {31, 13, 18, 13} << QByteArray("100000000000000000000001D");
}

// Every press sends exactly one whole frame with CR LF; the last one carries every
// output's state, and the indicators and labels agree with it.
void TestOutputs::presses()
{
    QFETCH(Ids, pressed);
    QFETCH(QByteArray, lastFrame);

    if (!m_panel) {
        m_panel = std::make_unique<ConnectedPanel>();
        QVERIFY(m_panel->startConnected());
    }
    ConnectedPanel &panel = *m_panel;
    panel.peer.takeLines(); // the previous row's frames
    int switchedOff = 0;
    for (const int id : allOutputs()) {
        if (panel.output(id)->shape() == 1) {
            panel.press(id);
            ++switchedOff;
        }
    }
    QTRY_VERIFY(panel.peer.received().size() >= 27 * switchedOff);
    QCOMPARE(panel.peer.takeLines().size(), switchedOff);
    QCOMPARE(panel.peer.received(), QByteArray());

    for (const int id : pressed)
        panel.press(id);

    const qsizetype expectedBytes = 27 * pressed.size();
    QTRY_VERIFY(panel.peer.received().size() >= expectedBytes);
    QTest::qWait(20); // nothing more may follow
    const QByteArray wire = panel.peer.received();
    QCOMPARE(wire.size(), expectedBytes);
    for (qsizetype at = 0; at < wire.size(); at += 27)
        QCOMPARE(wire.mid(at + 25, 2), QByteArray("\r\n"));
    QCOMPARE(wire.right(27), lastFrame + "\r\n");

    const Form1::Controls &ui = panel.ui();
    const QString frame = QString::fromLatin1(lastFrame);
    QCOMPARE(ui.Label2->text(), frame);
    QCOMPARE(ui.Label1->text(), frame.right(1));
    QCOMPARE(panel.form->state().FrameText, frame);
    QCOMPARE(panel.form->state().CheckInput, frame.left(24));
    QCOMPARE(panel.form->state().CheckDigitValue, frame.right(1));

    for (const int id : allOutputs()) {
        const bool on = pressed.count(id) % 2 == 1;
        QCOMPARE(panel.output(id)->shape(), qint16(on ? 1 : 0));
        QCOMPARE(panel.output(id)->backColor(), on ? Bgr::Green : Bgr::Red);
    }
}

void TestOutputs::failedSwitchOn()
{
    ConnectedPanel panel; // shown, but nothing listens: no controller can be there
    panel.form->show();

    qint16 shapeWhileOpen = -1;
    bool otherButtonReacted = false;
    ModalCloser closer;
    closer.onOpen = [&](QMessageBox *) {
        shapeWhileOpen = panel.output(13)->shape();
        // The box is modal: a click on another output does not reach the window. Should it get
        // through, its own box is closed by the guard below so the test fails instead of hanging.
        QTimer::singleShot(2000, &closer, [] {
            if (auto *nested = QApplication::activeModalWidget())
                nested->close();
        });
        panel.press(11);
        otherButtonReacted = panel.output(11)->shape() != 0;
    };
    panel.press(13); // returns once the box has been closed

    QVERIFY(closer.seen);
    QCOMPARE(closer.objectName, QStringLiteral("SendFailure"));
    QCOMPARE(closer.title, QStringLiteral("Korvan"));
    QCOMPARE(closer.text, FailurePrompt);
    QCOMPARE(closer.icon, QMessageBox::Critical);
    QCOMPARE(closer.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(shapeWhileOpen, qint16(1)); // forced off only after the operator closed it
    QVERIFY(!otherButtonReacted);

    QCOMPARE(panel.output(13)->shape(), qint16(0));
    QCOMPARE(panel.output(13)->backColor(), Bgr::Red);
    // The labels keep the frame whose send failed.
    QCOMPARE(panel.ui().Label2->text(), QStringLiteral("000001000000000000000000F"));
    QCOMPARE(panel.ui().Label1->text(), QStringLiteral("F"));
    QCOMPARE(panel.form->state().FrameText, QStringLiteral("000001000000000000000000F"));
    // A trapped failure, not an unexpected error.
    QCOMPARE(panel.form->errorReporter()->openReports(), 0);
}

// The controller goes away while an output is on; pressing it fails. While the box is
// open the watchdog, the clock and the socket keep working: a new controller is accepted
// and identified. No frame goes out for the forced switch-off.
void TestOutputs::failedSwitchOffWhileEventsGoOn()
{
    ConnectedPanel panel;
    QVERIFY(panel.startConnected());
    panel.press(13);
    QCOMPARE(panel.peer.waitForLine(), QByteArray("000001000000000000000000F"));
    panel.peer.close();
    QVERIFY(QTest::qWaitFor([&] { return panel.socketState() != Winsock::sckConnected; }));

    const Form1::Controls &ui = panel.ui();
    ControllerPeer second;
    QString clockAtOpen;
    BgrColor heartbeatAtOpen = 0;
    qint16 shapeWhileOpen = -1;
    enum { WaitListening, WaitConnected, WaitIdentified } step = WaitListening;
    ModalCloser closer(8000);
    closer.onOpen = [&](QMessageBox *) {
        clockAtOpen = ui.Label12->text();
        heartbeatAtOpen = ui.Shape1->backColor();
        shapeWhileOpen = panel.output(13)->shape();
    };
    closer.ready = [&] {
        switch (step) {
        case WaitListening:
            if (panel.socketState() == Winsock::sckListening
                && second.connectTo(quint16(ui.Winsock1->LocalPort()), 1000))
                step = WaitConnected;
            return false;
        case WaitConnected:
            if (panel.socketState() == Winsock::sckConnected) {
                second.send("STEROWNIK");
                step = WaitIdentified;
            }
            return false;
        case WaitIdentified:
            return ui.Shape2->backColor() == Bgr::Green && ui.Label12->text() != clockAtOpen
                && ui.Shape1->backColor() != heartbeatAtOpen;
        }
        return false;
    };
    panel.press(13);

    QVERIFY(closer.seen);
    QVERIFY2(!closer.timedOut, "timers or socket events stalled while the box was open");
    QCOMPARE(closer.text, FailurePrompt);
    QCOMPARE(shapeWhileOpen, qint16(0));
    QCOMPARE(panel.output(13)->shape(), qint16(0));
    QCOMPARE(panel.output(13)->backColor(), Bgr::Red);
    QCOMPARE(ui.Label2->text(), QStringLiteral("0000000000000000000000000"));
    QCOMPARE(ui.Label1->text(), QStringLiteral("0"));
    QTest::qWait(50);
    QCOMPARE(second.received(), QByteArray());

    // The output reads off, so the next press switches it on and reaches the new peer.
    panel.press(13);
    QCOMPARE(second.waitForLine(), QByteArray("000001000000000000000000F"));
    QCOMPARE(panel.output(13)->backColor(), Bgr::Green);
}

QTEST_MAIN(TestOutputs)
#include "tst_outputs.moc"
