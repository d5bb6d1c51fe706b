#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "boxcloser.h"
#include "connectedpanel.h"
#include "historysink.h"

using namespace Qt::StringLiterals;

class TestHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_options = {.path = m_dir->filePath(u"history.log"_s), .warn = {}};
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
        QStringList warnings;
        m_options.warn = [&warnings](const QString &warning) {
            warnings << warning;
        };
        fill(200, 100); // two bursts, each written before the next: one warning for both
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.constFirst().contains(QDir::toNativeSeparators(m_options.path)),
                 qPrintable(warnings.constFirst()));
    }
    // A whole session through the window, with a real controller on loopback sending hostile
    // bytes and a stranger refused: every event one line, every line inert.
    void session()
    {
        auto sink = std::make_unique<HistorySink>(m_options);
        sink->install();
        auto panel = std::make_unique<ConnectedPanel>();
        // Only the controller's address may connect: the stranger is refused, and that is a line.
        panel->ui().Winsock1->setAllowedPeers({*SocketControl::parsePeer(u"127.0.0.1"_s)});
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
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().split('\n')
                                              : QByteArrayList();
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
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
