#include <QProcess>

#include <sys/stat.h> // stat(): the journal's stream is named by device and inode; Linux-only

#include "exitstatus.h"
#include "panelhome.h"
#include "waituntil.h"
#include "xvfbdisplay.h"

using namespace Qt::StringLiterals;

// Who reads the panel's standard error.
enum class Reader { Nobody, Journal };
Q_DECLARE_METATYPE(Reader)

// The real program on a real X display (Xvfb) started as a desktop's menu starts it: with
// nobody reading its standard error, what ends the start is shown in a box titled "Korvan"
// as well, and the program ends with its status once the box is closed. With the journal
// reading it, the text is printed only.
class TestMessages : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!m_display.start().isEmpty(), "Xvfb is missing: make test installs it");
    }

    void shown_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("settingsFile");
        QTest::addColumn<Reader>("reader");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        const QByteArray none;
        const QByteArray fault = "[Network]\nAllow=192.168.1.300\n";
        QTest::newRow("bad option") << QStringList {u"--bogus"_s} << none << Reader::Nobody
                                    << ExitStatus::UsageError << u"błędna opcja"_s;
        QTest::newRow("settings fault") << QStringList() << fault << Reader::Nobody
                                        << ExitStatus::SettingsError << u"błąd ustawień"_s;
        QTest::newRow("--help") << QStringList {u"--help"_s} << none << Reader::Nobody
                                << ExitStatus::Ok << u"Usage: korvan"_s;
        QTest::newRow("bad option, the journal reads it")
            << QStringList {u"--bogus"_s} << none << Reader::Journal << ExitStatus::UsageError
            << u"błędna opcja"_s;
        QTest::newRow("settings fault, the journal reads it")
            << QStringList() << fault << Reader::Journal << ExitStatus::SettingsError
            << u"błąd ustawień"_s;
    }
    void shown()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, settingsFile);
        QFETCH(Reader, reader);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        const PanelHome home;
        QVERIFY(home.isValid());
        QVERIFY(settingsFile.isEmpty() || writeFile(home.userSettings(), settingsFile));
        const QString output = home.filePath(u"output.txt"_s);
        const QString errors = home.filePath(u"errors.txt"_s);
        QProcess program;
        QProcessEnvironment env = home.environment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        env.insert(u"DISPLAY"_s, m_display.name());
        env.remove(u"JOURNAL_STREAM"_s);
        if (reader == Reader::Journal) {
            // systemd names the stream it gave as standard error "device:inode".
            QFile(errors).open(QIODevice::WriteOnly);
            struct stat status
            {
            };
            QCOMPARE(::stat(QFile::encodeName(errors).constData(), &status), 0);
            env.insert(u"JOURNAL_STREAM"_s,
                       u"%1:%2"_s.arg(quint64(status.st_dev)).arg(quint64(status.st_ino)));
        }
        program.setProcessEnvironment(env);
        program.setStandardOutputFile(output);
        program.setStandardErrorFile(errors, QIODevice::Append);
        program.start(QStringLiteral(KORVAN_EXECUTABLE), arguments);
        QVERIFY(program.waitForStarted());
        if (reader == Reader::Nobody) {
            const QString box = m_display.window(u"^Korvan$"_s);
            QVERIFY2(!box.isEmpty(), "no box titled Korvan");
            // The box waits for its reader.
            QCOMPARE(program.state(), QProcess::Running);
            QVERIFY(!m_display.xdotool({u"windowfocus"_s, u"--sync"_s, box, u"key"_s, u"Return"_s})
                         .isNull());
        }
        QVERIFY2(program.waitForFinished(60000), "the program did not end");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QFile printed(exitCode == ExitStatus::Ok ? output : errors);
        QVERIFY(printed.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(printed.readAll());
        QVERIFY2(program.exitCode() == exitCode, qPrintable(text.right(3000)));
        QVERIFY2(text.contains(said), qPrintable(text));
        // Nothing else was left waiting for a click.
        QVERIFY(m_display.xdotool({u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^Korvan$"_s})
                    .isNull());
    }

private:
    XvfbDisplay m_display;
};

QTEST_GUILESS_MAIN(TestMessages)
#include "tst_messages.moc"
