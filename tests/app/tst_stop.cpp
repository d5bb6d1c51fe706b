#include <QElapsedTimer>
#include <QProcess>

#include <csignal>

#include <signal.h> // kill(): the test is Linux-only

#include "controllerpeer.h"
#include "form1layout.h"
#include "panelhome.h"
#include "singleinstance.h"
#include "xvfbdisplay.h"

using namespace Qt::StringLiterals;
namespace L = Form1Layout;

namespace {

// The centre of a control in the window's client area, from the window's own table.
QPoint centre(Twips::Rect inFrame, Twips::Rect frame = {0, 0, 0, 0})
{
    return Twips::toPixels(
               {frame.left + inFrame.left, frame.top + inFrame.top, inFrame.width, inFrame.height})
        .center();
}

} // namespace

// The real panel on a real X display (Xvfb), operated with xdotool's clicks and stopped by
// the system's signals: it ends as its Exit does, its history complete up to the end line.
class TestStop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!m_display.start().isEmpty(), "Xvfb is missing: make test installs it");
    }

    void stopBySignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("controllerConnected");
        const std::pair<int, QString> signals_[]
            = {{SIGTERM, u"SIGTERM"_s}, {SIGINT, u"SIGINT"_s}, {SIGHUP, u"SIGHUP"_s}};
        for (const auto &[number, name] : signals_) {
            QTest::addRow("%s idle", qPrintable(name)) << number << name << false;
            QTest::addRow("%s right after a press", qPrintable(name)) << number << name << true;
        }
    }
    void stopBySignal()
    {
        QFETCH(int, signal);
        QFETCH(QString, name);
        QFETCH(bool, controllerConnected);
        const PanelHome home;
        QVERIFY(home.isValid());
        const QString history = home.filePath(u"history.log"_s);
        QProcess panel;
        QProcessEnvironment env = home.environment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        env.insert(u"DISPLAY"_s, m_display.name());
        panel.setProcessEnvironment(env);
        panel.start(QStringLiteral(KORVAN_EXECUTABLE), {u"--log-file"_s, history});
        const auto historyHas = [&](const QByteArray &text) {
            return waitUntil([&] { return fileBytes(history).contains(text); }, 60000);
        };
        // What the panel said, if it never got as far as its first line.
        QVERIFY2(historyHas("korvan.app: Korvan v1.0 started"),
                 panel.readAllStandardError().right(3000).constData());

        ControllerPeer controller;
        if (controllerConnected) {
            const QString window = m_display.window(u"^Korvan$"_s);
            QVERIFY(!window.isEmpty());
            QVERIFY(click(window, centre(L::Command1, L::Frame2)));
            QVERIFY(historyHas("supervision started"));
            QVERIFY(controller.connectTo(6165, 30000));
            controller.send("STEROWNIK");
            QVERIFY(historyHas("identified"));
            const L::OutputSection &first = L::OutputSections[0];
            QVERIFY(click(window,
                          centre({L::column(L::OutputButtonLeft, 1), first.buttonTop,
                                  L::OutputButtonWidth, L::OutputButtonHeight},
                                 first.rect)));
            QCOMPARE(controller.waitForLine(30000), QByteArray("000000010000000000000000F"));
        }

        QElapsedTimer stopping;
        stopping.start();
        QCOMPARE(::kill(pid_t(panel.processId()), signal), 0);
        QVERIFY2(panel.waitForFinished(60000), "the panel did not end");
        qInfo("%s: ended %lld ms after the signal", qPrintable(name), stopping.elapsed());
        QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
        QVERIFY2(panel.exitCode() == 0, panel.readAllStandardError().right(3000).constData());

        const QList<QByteArray> lines = fileBytes(history).trimmed().split('\n');
        const QByteArray endLine = "korvan.app: Korvan v1.0 ended by " + name.toLatin1();
        QVERIFY2(lines.last().endsWith(endLine), lines.last().constData());
        if (controllerConnected) {
            QVERIFY(controller.waitForDisconnect());
            QVERIFY(fileBytes(history).contains(
                "korvan.panel: output O11 on, frame 000000010000000000000000F sent"));
        }
        SingleInstance lock(home.filePath(u"run"_s));
        QCOMPARE(lock.claim(), SingleInstance::Claim::First);
    }

private:
    // In the window's client area: without a window manager there is no frame.
    bool click(const QString &window, QPoint at) const
    {
        return !m_display
                    .xdotool({u"mousemove"_s, u"--sync"_s, u"--window"_s, window,
                              QString::number(at.x()), QString::number(at.y()), u"click"_s, u"1"_s})
                    .isNull();
    }

    XvfbDisplay m_display;
};

QTEST_GUILESS_MAIN(TestStop)
#include "tst_stop.moc"
