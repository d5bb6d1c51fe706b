#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

#include <signal.h> // kill(): the test is Linux-only

#include "controllerpeer.h"
#include "form1layout.h"
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
        QTemporaryDir home;
        QVERIFY(home.isValid() && QDir(home.path()).mkpath(u"run"_s));
        QVERIFY(QFile::setPermissions(home.filePath(u"run"_s),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString history = home.filePath(u"history.log"_s);
        QProcess panel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_s, home.path());
        env.insert(u"XDG_CONFIG_HOME"_s, home.filePath(u"config"_s));
        env.insert(u"XDG_CONFIG_DIRS"_s, home.filePath(u"etc"_s));
        env.insert(u"XDG_RUNTIME_DIR"_s, home.filePath(u"run"_s));
        env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        env.insert(u"DISPLAY"_s, m_display.name());
        env.remove(u"QT_LOGGING_RULES"_s);
        panel.setProcessEnvironment(env);
        panel.start(QStringLiteral(KORVAN_EXECUTABLE), {u"--log-file"_s, history});
        const auto historyHas = [&](const QByteArray &text) {
            return waitUntil([&] { return read(history).contains(text); }, 60000);
        };
        QVERIFY(historyHas("korvan.app: Korvan v1.0 started"));

        ControllerPeer controller;
        if (controllerConnected) {
            const QString window = xdotool({u"search"_s, u"--sync"_s, u"--onlyvisible"_s,
                                            u"--name"_s, u"^Korvan$"_s})
                                       .section(u'\n', 0, 0);
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

        const QList<QByteArray> lines = read(history).trimmed().split('\n');
        const QByteArray endLine = "korvan.app: Korvan v1.0 ended by " + name.toLatin1();
        QVERIFY2(lines.last().endsWith(endLine), lines.last().constData());
        if (controllerConnected) {
            QVERIFY(controller.waitForDisconnect());
            QVERIFY(read(history).contains(
                "korvan.panel: output O11 on, frame 000000010000000000000000F sent"));
        }
        SingleInstance lock(home.filePath(u"run"_s));
        QCOMPARE(lock.claim(), SingleInstance::Claim::First);
    }

private:
    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // What xdotool printed; null when it failed.
    QString xdotool(const QStringList &arguments) const
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DISPLAY"_s, m_display.name());
        process.setProcessEnvironment(env);
        process.start(u"xdotool"_s, arguments);
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            return {};
        return QString::fromLatin1(process.readAllStandardOutput()) + u' ';
    }
    // In the window's client area: without a window manager there is no frame.
    bool click(const QString &window, QPoint at) const
    {
        return !xdotool({u"mousemove"_s, u"--sync"_s, u"--window"_s, window,
                         QString::number(at.x()), QString::number(at.y()), u"click"_s, u"1"_s})
                    .isNull();
    }

    XvfbDisplay m_display;
};

QTEST_GUILESS_MAIN(TestStop)
#include "tst_stop.moc"
