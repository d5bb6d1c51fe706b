#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include "boxcloser.h"
#include "connectedpanel.h"
#include "historysink.h"
#include "operatorprocess.h"
#include "panelhome.h"
#include "singleinstance.h"

using namespace Qt::StringLiterals;

class TestHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_warnings.clear();
        m_options
            = {.path = m_dir->filePath(u"history.log"_s), .warn = [this](const QString &warning) {
                   m_warnings << warning;
               }};
    }
    void rotationKeepsTheCap()
    {
        m_options.fileBytes = 1000;
        m_options.oldFiles = 2;
        fill(200);
        // The newest lines survive, in order, across the files; nothing beyond .2 is kept.
        QVERIFY(!QFile::exists(m_options.path + u".3"_s));
        QByteArrayList all;
        for (const char *suffix : {".2", ".1", ""}) {
            const QFileInfo file(m_options.path + QLatin1String(suffix));
            QVERIFY2(file.exists() && file.size() <= 1000, qPrintable(file.filePath()));
            all += linesOf(file.filePath());
        }
        QVERIFY(all.size() > 10);
        for (qsizetype i = 0; i < all.size(); ++i)
            QCOMPARE(all.at(i).split(' ').constLast(), QByteArray::number(200 - all.size() + i));
    }
    void floodIsCountedNotQueued()
    {
        m_options.queueLines = 10;
        m_options.fileBytes = qint64(1) << 30;
        fill(100000);
        // Whatever was left out is said in the history itself.
        qint64 written = 0, leftOut = 0;
        const QRegularExpression note(u"(\\d+) lines left out"_s);
        for (const QByteArray &line : linesOf(m_options.path)) {
            const QRegularExpressionMatch match = note.match(QString::fromUtf8(line));
            leftOut += match.captured(1).toLongLong();
            written += !match.hasMatch();
        }
        QVERIFY(leftOut > 0);
        QCOMPARE(written + leftOut, 100000);
    }
    void unwritable_data()
    {
        QTest::addColumn<QString>("path");
        // A file where the folder should be: no user, root included, can write there.
        QTest::newRow("folder is a file") << QCoreApplication::applicationFilePath() + u"/h.log"_s;
        if (QFileInfo::exists(u"/dev/full"_s))
            QTest::newRow("disk full") << u"/dev/full"_s;
    }
    void unwritable()
    {
        QFETCH(QString, path);
        m_options.path = path;
        m_options.retrySeconds = 0; // the second burst tries the file again
        fill(200, 100); // two bursts, each written before the next: one warning for both
        QCOMPARE(m_warnings.size(), 1);
        QVERIFY2(m_warnings.constFirst().contains(QDir::toNativeSeparators(m_options.path)),
                 qPrintable(m_warnings.constFirst()));
    }
    // The next file cannot be made: its name is taken by a folder with something in it, which
    // no rename replaces, root's included. Lines keep coming; rotation is retried at each
    // batch here (every 30 s in the panel).
    void rotationFails_data()
    {
        QTest::addColumn<int>("oldFiles");
        QTest::addColumn<QStringList>("oldSuffixes");
        QTest::addColumn<QString>("folderSuffix");
        QTest::newRow("history.log.1 is a folder") << 1 << QStringList() << u".1"_s;
        QTest::newRow("the oldest of three is a folder")
            << 3 << QStringList {u".1"_s, u".2"_s} << u".3"_s;
    }
    void rotationFails()
    {
        QFETCH(int, oldFiles);
        QFETCH(QStringList, oldSuffixes);
        QFETCH(QString, folderSuffix);
        constexpr qint64 cap = 2000;
        m_options.fileBytes = cap;
        m_options.oldFiles = oldFiles;
        m_options.retrySeconds = 0;
        for (const QString &suffix : oldSuffixes) {
            QFile old(m_options.path + suffix);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("older\n") == 6);
        }
        const QString obstacle = m_options.path + folderSuffix;
        QVERIFY(QDir().mkpath(obstacle + u"/inside"_s));
        auto sink = std::make_unique<HistorySink>(m_options);
        int sent = 0;
        const auto burst = [&] {
            for (int i = 0; i < 10; ++i)
                sink->append(QtInfoMsg, "korvan.test", QString::number(sent++));
            sink->flush();
        };
        // About ten times the cap.
        for (int i = 0; i < 40; ++i)
            burst();
        const qint64 size = QFileInfo(m_options.path).size();
        qInfo("the file stopped at %lld bytes, its cap %lld", size, cap);
        QVERIFY2(size > cap && size <= 2 * cap, qPrintable(QString::number(size)));
        QCOMPARE(m_warnings.size(), 1);
        QVERIFY2(m_warnings.constFirst().contains(u"cannot be rotated"_s),
                 qPrintable(m_warnings.constFirst()));
        // Once the name is free, the next try rotates: the full file becomes .1.
        QVERIFY(QDir(obstacle).removeRecursively());
        burst();
        sink.reset();
        QCOMPARE(m_warnings.size(), 1);
        QVERIFY(QFileInfo(m_options.path + u".1"_s).isFile());
        QVERIFY(QFileInfo(m_options.path).size() < cap);
        // Every line either written, in order, or counted; the failure said once in the file.
        const QRegularExpression lost(u"korvan.history: (\\d+) lines could not be written"_s);
        qint64 expected = 0, counted = 0, notes = 0;
        for (const QString &suffix : {u".1"_s, QString()}) {
            for (const QByteArray &line : linesOf(m_options.path + suffix)) {
                const QRegularExpressionMatch match = lost.match(QString::fromUtf8(line));
                counted += match.captured(1).toLongLong();
                notes += line.contains("korvan.history: the history file")
                    && line.contains("cannot be rotated");
                if (!line.contains("korvan.test: "))
                    continue;
                const qint64 number = line.split(' ').constLast().toLongLong();
                QVERIFY2(number >= expected, line.constData());
                expected = number + 1;
                ++counted;
            }
        }
        QCOMPARE(notes, 1);
        QCOMPARE(counted, sent);
    }
    // A writer stuck on its file (a named pipe nobody reads: opening it waits for a reader)
    // holds up the sink's end only a moment. Left behind, it still owns what it writes from:
    // when a reader comes, after the sink is gone, it writes its line and ends.
    void endsWhileTheWriterIsStuck()
    {
#ifndef Q_OS_UNIX
        QSKIP("a named pipe in the file system is a Unix thing");
#endif
        QCOMPARE(QProcess::execute(u"mkfifo"_s, {m_options.path}), 0);
        QElapsedTimer timer;
        {
            HistorySink sink(m_options);
            sink.append(QtInfoMsg, "korvan.test", u"waits for a reader"_s);
            timer.start();
        }
        qInfo("the sink ended %lld ms after it was asked to, its writer stuck", timer.elapsed());
        QCOMPARE(m_warnings.size(), 1);
        QVERIFY2(m_warnings.constFirst().contains(u"did not take the last lines"_s),
                 qPrintable(m_warnings.constFirst()));
        QFile pipe(m_options.path);
        QVERIFY(pipe.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        const QByteArray taken = pipe.readAll();
        QVERIFY2(taken.contains("korvan.test: waits for a reader\n"), taken.constData());
    }
    // The real panel, its history at the cap and the next file impossible: it says so once
    // and goes on in the file; asked to stop, it ends, and its lock is free. The panel runs
    // as an operator (nobody when the test runs as root) who may write the file, not always
    // the folder.
    void programAtTheCap_data()
    {
        QTest::addColumn<QFile::Permissions>("folderMode");
        QTest::addColumn<QStringList>("folders");
        const QFile::Permissions readOnly = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup
            | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        QTest::newRow("folder read-only") << readOnly << QStringList();
        // Renamed one onto the next, a folder with something in it moves only until it meets
        // the next one: every older name a folder stops them all.
        QTest::newRow("older names are folders")
            << (readOnly | QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther)
            << QStringList {u".1"_s, u".2"_s, u".3"_s, u".4"_s};
    }
    void programAtTheCap()
    {
        QFETCH(QFile::Permissions, folderMode);
        QFETCH(QStringList, folders);
#ifdef Q_OS_WIN
        QSKIP("Folder modes, an unprivileged user and a stop by SIGTERM are Linux things");
#endif
        constexpr qint64 cap = 1024 * 1024;
        const QFile::Permissions all = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
            | QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
            | QFile::WriteOther | QFile::ExeOther;
        // The operator passes the test's folder and writes in "open"; the runtime folder is
        // made by the panel itself, so it is the operator's.
        QVERIFY(
            QFile::setPermissions(m_dir->path(), all & ~(QFile::WriteGroup | QFile::WriteOther)));
        const QString open = m_dir->filePath(u"open"_s);
        const QString folder = m_dir->filePath(u"log"_s);
        const QString runtime = open + u"/run"_s;
        const QString history = folder + u"/history.log"_s;
        QVERIFY(QDir().mkpath(open) && QFile::setPermissions(open, all));
        QVERIFY(QDir().mkpath(folder));
        for (const QString &suffix : folders)
            QVERIFY(QDir().mkpath(history + suffix + u"/inside"_s));
        {
            QFile file(history);
            QByteArray filled(cap - 10, 'x');
            filled.back() = '\n';
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(filled) == filled.size());
        }
        QVERIFY(QFile::setPermissions(
            history, all & ~(QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther)));
        QVERIFY(QFile::setPermissions(folder, folderMode));
        const auto writable = qScopeGuard([&] { QFile::setPermissions(folder, all); });

        QProcess panel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            env.insert(QLatin1String(name), open);
        env.insert(u"XDG_RUNTIME_DIR"_s, runtime);
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        // The start line is what reaches the cap: whatever rules the caller set must not mute it.
        env.remove(u"QT_LOGGING_RULES"_s);
        panel.setProcessEnvironment(env);
        OperatorProcess::start(panel, QStringLiteral(KORVAN_EXECUTABLE),
                               {u"--log-file"_s, history});
        const bool started = QTest::qWaitFor(
            [&] {
                const QByteArrayList lines = linesOf(history);
                return !lines.isEmpty()
                    && lines.constLast().contains("korvan.app: Korvan v1.0 started");
            },
            60000);
        QVERIFY2(started, "no start line at the end of the history");
        QCOMPARE(panel.state(), QProcess::Running);
        QElapsedTimer timer;
        timer.start();
        panel.terminate();
        QVERIFY2(panel.waitForFinished(60000), "the panel did not end");
        qInfo("the panel ended %lld ms after it was asked to stop", timer.elapsed());
        const QByteArray err = panel.readAllStandardError();
        QCOMPARE(err.count("cannot be rotated"), 1);
        const qint64 size = QFileInfo(history).size();
        QVERIFY2(size > cap && size <= 2 * cap, qPrintable(QString::number(size)));
        // A clean stop: its end line written past the cap, its lock given back.
        QCOMPARE(panel.exitCode(), 0);
        QVERIFY(linesOf(history).constLast().contains("korvan.app: Korvan v1.0 ended by SIGTERM"));
        SingleInstance lock(runtime);
        QCOMPARE(lock.claim(), SingleInstance::Claim::First);
    }
    // A whole session through the window, with a real controller on loopback sending hostile
    // bytes and a stranger refused: every event one line, every line inert.
    void session()
    {
        auto sink = std::make_unique<HistorySink>(m_options);
        sink->install();
        auto panel = std::make_unique<ConnectedPanel>();
        // Only the controller's address may connect: the stranger is refused, and that is a line.
        panel->ui().Winsock1->setAllowedPeers({{QHostAddress(QHostAddress::LocalHost), 32}});
        QVERIFY(panel->startListening());
        ControllerPeer stranger;
        stranger.connectTo(panel->port(), 5000, QHostAddress(u"127.0.0.2"_s));
        QVERIFY(stranger.waitForDisconnect());
        QVERIFY(panel->peer.connectTo(panel->port()) && panel->identify(panel->peer));
        panel->peer.send("00000001\x1b[2J\r\n2026-01-01T00:00:00 info x\0\x7f\x85\x9b\xff\xc3"_ba);
        QVERIFY(waitUntil([&] { return panel->ui().I[0]->backColor() == Bgr::Green; }));
        // The same state again is no change and gives no line.
        panel->peer.send("00000001");
        QVERIFY(panel->arrived("00000001"));
        panel->press(11);
        QCOMPARE(panel->peer.waitForLine(), QByteArray("000000010000000000000000F"));
        panel->peer.close();
        QVERIFY(waitUntil([&] { return panel->socketState() != SocketControl::sckConnected; }));
        // The press after the controller left fails; its box is closed from its own loop.
        const BoxCloser closer;
        panel->press(12);
        QCOMPARE(closer.closed, 1);
        panel->ui().Command2->click();
        panel.reset();
        sink.reset();
        const QByteArrayList lines = linesOf(m_options.path);
        const QByteArrayList expected = {
            "korvan.panel: supervision started",
            "korvan.link: listening on",
            "korvan.link: refused connection from 127.0.0.2",
            "korvan.link: connection accepted from 127.0.0.1",
            "korvan.panel: controller 127.0.0.1 identified",
            "korvan.panel: inputs 00000001 from \"00000001\\x1b[2J\\x0d\\x0a2026-01-01T00:00:00 "
            "info x\\x00\\x7f\\x85\\x9b\\xff\\xc3\"",
            "korvan.panel: output O11 on, frame 000000010000000000000000F sent",
            "korvan.link: connection ended:",
            "korvan.panel: output O12: frame 000000110000000000000000D not sent, output goes off",
            "korvan.panel: supervision stopped",
        };
        // Every line one whole timestamped event (none forged), with no C0 or C1 control, no DEL.
        const QRegularExpression inert(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\S* "
                           "[^\\x{0}-\\x{1f}\\x{7f}-\\x{9f}]*$"));
        qsizetype at = 0, inputLines = 0;
        for (const QByteArray &line : lines) {
            QVERIFY2(inert.match(QString::fromUtf8(line)).hasMatch(), line.constData());
            at += at < expected.size() && line.contains(expected.at(at));
            inputLines += line.contains("korvan.panel: inputs");
        }
        const QByteArray missing
            = "missing, in order: " + expected.value(at) + "\nin:\n" + lines.join('\n');
        QVERIFY2(at == expected.size(), missing.constData());
        QCOMPARE(inputLines, 1);
    }

private:
    static QByteArrayList linesOf(const QString &path)
    {
        return fileBytes(path).trimmed().split('\n');
    }
    // Numbered lines through a sink with m_options; each burst written before the next.
    void fill(int count, int burst = 0)
    {
        HistorySink sink(m_options);
        for (int i = 1; i <= count; ++i) {
            sink.append(QtInfoMsg, "korvan.test", QString::number(i - 1));
            if (burst && i % burst == 0)
                sink.flush();
        }
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    HistorySink::Options m_options;
    QStringList m_warnings;
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
