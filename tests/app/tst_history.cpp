#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "controllerpeer.h"
#include "form1.h"
#include "historysink.h"
#include "panelsettings.h"
#include "shapecontrol.h"

namespace {

QByteArrayList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArrayList lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_options = {};
        m_options.path = m_dir->filePath(QStringLiteral("history.log"));
    }
    void rotationKeepsTheCap();
    void floodIsCountedNotQueued();
    void unwritable_data();
    void unwritable();
    void session();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    HistorySink::Options m_options;
};

void TestHistory::rotationKeepsTheCap()
{
    m_options.fileBytes = 1000;
    m_options.oldFiles = 2;
    {
        HistorySink sink(m_options);
        for (int i = 0; i < 200; ++i)
            sink.append(QtInfoMsg, "korvan.test", QStringLiteral("line %1").arg(i, 4));
    }
    // The newest lines survive, in order, across the files; nothing beyond .2 is kept.
    QVERIFY(!QFile::exists(m_options.path + QStringLiteral(".3")));
    QByteArrayList all;
    for (const char *suffix : {".2", ".1", ""}) {
        const QString path = m_options.path + QLatin1String(suffix);
        QVERIFY2(QFile::exists(path) && QFileInfo(path).size() <= 1000, qPrintable(path));
        all += linesOf(path);
    }
    QVERIFY(all.size() > 10);
    for (qsizetype i = 1; i < all.size(); ++i)
        QCOMPARE(all.at(i).right(4).trimmed().toInt(),
                 all.at(i - 1).right(4).trimmed().toInt() + 1);
    QVERIFY(all.constLast().endsWith(" info korvan.test: line  199"));
}

void TestHistory::floodIsCountedNotQueued()
{
    m_options.queueLines = 10;
    m_options.fileBytes = qint64(1) << 30;
    {
        HistorySink sink(m_options);
        for (int i = 0; i < 100000; ++i)
            sink.append(QtInfoMsg, "korvan.test", QStringLiteral("flood"));
    }
    // Whatever was left out is said in the history itself.
    qint64 written = 0, leftOut = 0;
    const QRegularExpression note(QStringLiteral("(\\d+) lines left out"));
    for (const QByteArray &line : linesOf(m_options.path)) {
        if (const auto m = note.match(QString::fromUtf8(line)); m.hasMatch())
            leftOut += m.captured(1).toLongLong();
        else
            ++written;
    }
    QVERIFY(leftOut > 0);
    QCOMPARE(written + leftOut, 100000);
}

void TestHistory::unwritable_data()
{
    QTest::addColumn<QString>("path");
    // A file where the folder should be: no user, root included, can write there.
    QTest::newRow("folder is a file") << QStringLiteral("blocker/history.log");
    if (QFileInfo::exists(QStringLiteral("/dev/full")))
        QTest::newRow("disk full") << QStringLiteral("/dev/full");
}

void TestHistory::unwritable()
{
    QFETCH(QString, path);
    QFile blocker(m_dir->filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m_options.path = QDir(m_dir->path()).absoluteFilePath(path);
    QStringList warnings;
    m_options.warn = [&warnings](const QString &warning) {
        warnings << warning;
    };
    {
        HistorySink sink(m_options);
        // Two bursts, each written before the next: one warning for both.
        for (int burst = 0; burst < 2; ++burst) {
            for (int i = 0; i < 100; ++i)
                sink.append(QtInfoMsg, "korvan.test", QStringLiteral("lost"));
            sink.flush();
        }
    }
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.constFirst().contains(QDir::toNativeSeparators(m_options.path)),
             qPrintable(warnings.constFirst()));
}

// A whole session through the window, with a real controller on loopback sending hostile
// bytes and a stranger refused: every event one line, every line inert.
void TestHistory::session()
{
    auto sink = std::make_unique<HistorySink>(m_options);
    sink->install();
    auto form = std::make_unique<Form1>(0);
    const Form1::Controls &ui = form->controls();
    const auto reaches = [&](qint16 state) {
        return QTest::qWaitFor([&] { return ui.Winsock1->State() == state; });
    };
    // Only the controller's address may connect, as a settings file would say.
    PanelSettings settings;
    settings.allowedPeers = {*PanelSettings::parseSubnet(QStringLiteral("127.0.0.1"))};
    settings.applyTo(*ui.Winsock1);
    QSignalSpy refused(ui.Winsock1, &SocketControl::strangerRefused);
    QVERIFY(refused.isValid());
    form->show();
    ui.Command1->click();
    QVERIFY(reaches(SocketControl::sckListening));
    QTcpSocket stranger;
    stranger.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2"))));
    stranger.connectToHost(QHostAddress::LocalHost, quint16(ui.Winsock1->LocalPort()));
    QVERIFY(QTest::qWaitFor([&] { return refused.count() == 1; }));
    ControllerPeer peer;
    QVERIFY(peer.connectTo(quint16(ui.Winsock1->LocalPort())));
    QVERIFY(reaches(SocketControl::sckConnected));
    peer.send("STEROWNIK");
    QVERIFY(QTest::qWaitFor([&] { return ui.Shape2->backColor() == Bgr::Green; }));
    static const char hostile[]
        = "00000001\x1b[2J\r\n2026-01-01T00:00:00 info x\0\x7f\x85\x9b\xff\xc3";
    peer.send(QByteArray(hostile, sizeof hostile - 1));
    QVERIFY(QTest::qWaitFor([&] { return ui.I[0]->backColor() == Bgr::Green; }));
    // The same state again is no change and gives no line.
    peer.send("00000001");
    QVERIFY(QTest::qWaitFor([&] { return ui.Label3->text() == QStringLiteral("00000001"); }));
    ui.S[0][0]->click();
    QCOMPARE(peer.waitForLine(), QByteArray("000000010000000000000000F"));
    peer.close();
    QVERIFY(QTest::qWaitFor([&] { return ui.Winsock1->State() != SocketControl::sckConnected; }));
    // The press after the controller left fails; its box is closed from its own loop.
    QTimer closer;
    connect(&closer, &QTimer::timeout, &closer, [&closer] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            closer.stop();
            box->button(QMessageBox::Ok)->click();
        }
    });
    closer.start(5);
    ui.S[0][1]->click();
    QVERIFY(!closer.isActive());
    ui.Command2->click();
    form.reset();
    sink.reset();

    const QByteArrayList lines = linesOf(m_options.path);
    const QByteArrayList expected = {
        "korvan.panel: supervision started",
        "korvan.link: listening on",
        "korvan.link: refused connection from 127.0.0.2",
        "korvan.link: connection accepted from 127.0.0.1",
        "korvan.panel: controller 127.0.0.1 identified",
        "korvan.panel: inputs 00000001 from \"00000001\\x1b[2J\\x0d\\x0a2026-01-01T00:00:00 info "
        "x\\x00\\x7f\\x85\\x9b\\xff\\xc3\"",
        "korvan.panel: output O11 on, frame 000000010000000000000000F sent",
        "korvan.link: connection ended:",
        "korvan.panel: output O12: frame 000000110000000000000000D not sent, output goes off",
        "korvan.panel: supervision stopped",
    };
    // Every line one whole event with its timestamp (nothing forged a line start), with no
    // C0 or C1 control and no DEL.
    const QRegularExpression inert(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\S* "
                       "[^\\x{0}-\\x{1f}\\x{7f}-\\x{9f}]*$"));
    qsizetype at = 0, inputLines = 0;
    for (const QByteArray &line : lines) {
        QVERIFY2(inert.match(QString::fromUtf8(line)).hasMatch(), line.constData());
        at += at < expected.size() && line.contains(expected.at(at));
        inputLines += line.contains("korvan.panel: inputs");
    }
    QVERIFY2(at == expected.size(),
             qPrintable(QStringLiteral("missing, in order: %1\nin:\n%2")
                            .arg(QString::fromUtf8(expected.value(at)),
                                 QString::fromUtf8(lines.join('\n')))));
    QCOMPARE(inputLines, 1);
}

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
