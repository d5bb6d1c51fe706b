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

// Nothing a terminal or an editor would act on: no C0 or C1 control, no DEL.
bool isInert(const QByteArray &line)
{
    const QString text = QString::fromUtf8(line);
    return std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0);
    });
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rotationKeepsTheCap();
    void floodIsCountedNotQueued();
    void unwritable_data();
    void unwritable();
    void session();
};

void TestHistory::rotationKeepsTheCap()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    HistorySink::Options options;
    options.path = dir.filePath(QStringLiteral("history.log"));
    options.fileBytes = 1000;
    options.oldFiles = 2;
    {
        HistorySink sink(options);
        for (int i = 0; i < 200; ++i)
            sink.append(QtInfoMsg, "korvan.test", QStringLiteral("line %1").arg(i, 4));
    }
    // The newest lines survive, in order, across the files; nothing beyond .2 is kept.
    QVERIFY(!QFile::exists(options.path + QStringLiteral(".3")));
    QByteArrayList all;
    for (const QString &suffix : {QStringLiteral(".2"), QStringLiteral(".1"), QString()}) {
        const QString path = options.path + suffix;
        QVERIFY2(QFile::exists(path), qPrintable(path));
        QVERIFY(QFileInfo(path).size() <= options.fileBytes);
        all += linesOf(path);
    }
    QVERIFY(all.size() > 10);
    QVERIFY(all.constLast().endsWith("korvan.test: line  199"));
    for (qsizetype i = 1; i < all.size(); ++i) {
        const int previous = all.at(i - 1).right(4).trimmed().toInt();
        QCOMPARE(all.at(i).right(4).trimmed().toInt(), previous + 1);
    }
    // Timestamp, level, category, message.
    QVERIFY(QRegularExpression(
                QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\S* info "
                               "korvan\\.test: line  199$"))
                .match(QString::fromUtf8(all.constLast()))
                .hasMatch());
}

void TestHistory::floodIsCountedNotQueued()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    HistorySink::Options options;
    options.path = dir.filePath(QStringLiteral("history.log"));
    options.queueLines = 10;
    options.fileBytes = qint64(1) << 30;
    {
        HistorySink sink(options);
        for (int i = 0; i < 100000; ++i)
            sink.append(QtInfoMsg, "korvan.test", QStringLiteral("flood"));
    }
    const QByteArrayList lines = linesOf(options.path);
    QVERIFY(!lines.isEmpty());
    // Whatever was left out is said in the history itself.
    qint64 written = 0, leftOut = 0;
    const QRegularExpression note(QStringLiteral("(\\d+) lines left out"));
    for (const QByteArray &line : lines) {
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
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile blocker(dir.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    HistorySink::Options options;
    options.path = QDir(dir.path()).absoluteFilePath(path);
    QStringList warnings;
    options.warn = [&warnings](const QString &warning) {
        warnings << warning;
    };
    {
        HistorySink sink(options);
        // Two bursts, each written before the next: one warning for both.
        for (int burst = 0; burst < 2; ++burst) {
            for (int i = 0; i < 100; ++i)
                sink.append(QtInfoMsg, "korvan.test", QStringLiteral("lost"));
            sink.flush();
        }
    }
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.constFirst().contains(QDir::toNativeSeparators(options.path)),
             qPrintable(warnings.constFirst()));
}

// A whole session through the window, with a real controller on loopback sending hostile
// bytes and a stranger refused: every event one line, every line inert.
void TestHistory::session()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    HistorySink::Options options;
    options.path = dir.filePath(QStringLiteral("history.log"));
    auto sink = std::make_unique<HistorySink>(options);
    sink->install();

    auto form = std::make_unique<Form1>(0);
    const Form1::Controls &ui = form->controls();
    // Only the controller's address may connect, as a settings file would say.
    PanelSettings settings;
    settings.allowedPeers = {*PanelSettings::parseSubnet(QStringLiteral("127.0.0.1"))};
    settings.applyTo(*ui.Winsock1);
    QSignalSpy refused(ui.Winsock1, &SocketControl::strangerRefused);
    QVERIFY(refused.isValid());
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    ui.Command1->click();
    QVERIFY(QTest::qWaitFor([&] { return ui.Winsock1->State() == SocketControl::sckListening; }));
    QTcpSocket stranger;
    stranger.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2"))));
    stranger.connectToHost(QHostAddress::LocalHost, quint16(ui.Winsock1->LocalPort()));
    QVERIFY(QTest::qWaitFor([&] { return refused.count() == 1; }));
    ControllerPeer peer;
    QVERIFY(peer.connectTo(quint16(ui.Winsock1->LocalPort())));
    QVERIFY(QTest::qWaitFor([&] { return ui.Winsock1->State() == SocketControl::sckConnected; }));
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

    const QByteArrayList lines = linesOf(options.path);
    const QList<QByteArray> expected = {
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
    qsizetype at = 0;
    for (const QByteArray &line : lines) {
        QVERIFY2(isInert(line), line.constData());
        // Every line is one whole event with its timestamp: nothing forged a line start.
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT"))
                     .match(QString::fromUtf8(line))
                     .hasMatch(),
                 line.constData());
        if (at < expected.size() && line.contains(expected.at(at)))
            ++at;
    }
    QVERIFY2(at == expected.size(),
             qPrintable(QStringLiteral("missing, in order: %1\nin:\n%2")
                            .arg(QString::fromUtf8(expected.value(at)),
                                 QString::fromUtf8(lines.join('\n')))));
    const auto inputLines = std::count_if(lines.cbegin(), lines.cend(), [](const QByteArray &l) {
        return l.contains("korvan.panel: inputs");
    });
    QCOMPARE(inputLines, 1);
}

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
