#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include "connectedpanel.h"

// Colours of I1 … I8 as the window shows them left to right: G green, R red.
using Colours = QByteArray;
// InputState1 … InputState8, one digit each.
using States = QByteArray;

class TestInbound : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void arrival_data();
    void arrival();

private:
    // Sends one text and waits until the panel has handled it as one arrival.
    bool arrive(const QByteArray &text);
    Colours colours() const;

    std::unique_ptr<ConnectedPanel> m_panel;
    std::unique_ptr<QSignalSpy> m_arrivals;
};

void TestInbound::initTestCase()
{
    m_panel = std::make_unique<ConnectedPanel>();
    QVERIFY(m_panel->startConnected());
    m_arrivals = std::make_unique<QSignalSpy>(m_panel->ui().Winsock1, &Winsock::dataArrival);
    // Until the first arrival the address keeps its start-up prefix.
    QVERIFY(m_panel->ui().IP->text().startsWith(QStringLiteral("IP: ")));
}

void TestInbound::cleanupTestCase()
{
    // KORVAN_SCREENSHOTS=<folder> keeps a picture of a running panel to look at.
    if (const QString folder = qEnvironmentVariable("KORVAN_SCREENSHOTS"); !folder.isEmpty()) {
        m_panel->press(13);
        QVERIFY(m_panel->peer.waitForLine().size() == 25);
        QVERIFY(arrive("STEROWNIK"));
        QVERIFY(arrive("10000101"));
        QVERIFY(m_panel->form->grab().save(folder + QStringLiteral("/korvan-running.png")));
    }
    m_panel.reset();
}

bool TestInbound::arrive(const QByteArray &text)
{
    const qsizetype before = m_arrivals->size();
    m_panel->peer.send(text);
    return QTest::qWaitFor([&] { return m_arrivals->size() > before; }, 5000)
        && m_arrivals->size() == before + 1;
}

Colours TestInbound::colours() const
{
    Colours shown;
    for (const ShapeControl *input : m_panel->ui().I) {
        const BgrColor c = input->backColor();
        shown += c == Bgr::Green ? 'G' : c == Bgr::Red ? 'R' : '?';
    }
    return shown;
}

void TestInbound::arrival_data()
{
    QTest::addColumn<QByteArray>("before"); // sets the colours the row starts from
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("identified");
    QTest::addColumn<States>("states");
    QTest::addColumn<Colours>("shown");

    QTest::newRow("STEROWNIK") << QByteArray("11111111") << QByteArray("STEROWNIK") << true
                               << States("00000000") << Colours("RRRRRRRR");
    QTest::newRow("STEROWNIK CR LF") << QByteArray("11111111") << QByteArray("STEROWNIK\r\n")
                                     << false << States("00000000") << Colours("RRRRRRRR");
    QTest::newRow("sterownik") << QByteArray() << QByteArray("sterownik") << false
                               << States("00000000") << Colours("RRRRRRRR");
    QTest::newRow("STEROWNIK00000001") << QByteArray("11111111") << QByteArray("STEROWNIK00000001")
                                       << false << States("00000000") << Colours("RRRRRRRR");
    QTest::newRow("10000000") << QByteArray("01111111") << QByteArray("10000000") << false
                              << States("00000001") << Colours("RRRRRRRG");
    QTest::newRow("00000001") << QByteArray("11111110") << QByteArray("00000001") << false
                              << States("10000000") << Colours("GRRRRRRR");
    QTest::newRow("00000001 CR LF") << QByteArray("11111110") << QByteArray("00000001\r\n") << false
                                    << States("10000000") << Colours("GRRRRRRR");
    QTest::newRow("1") << QByteArray("01111111") << QByteArray("1") << false << States("00000001")
                       << Colours("RRRRRRRG");
    // Inputs 8 … 5 green, 4 … 1 red beforehand; digits 2 to 9 keep those colours.
    QTest::newRow("23456789") << QByteArray("11110000") << QByteArray("23456789") << false
                              << States("98765432") << Colours("RRRRGGGG");
    QTest::newRow("x, blank, tab, 5, 9") << QByteArray("11111111") << QByteArray("05x 9\t10")
                                         << false << States("01090050") << Colours("RGRGRRGR");
    QTest::newRow("<b>1</b>") << QByteArray("11111111") << QByteArray("<b>1</b>") << false
                              << States("00001000") << Colours("RRRRGRRR");
    // One character per byte: superscript digits, accented letters and NUL are not digits.
    QTest::newRow("bytes 0x80 and up, NUL")
        << QByteArray("11111111") << QByteArray("\xB9\xB2\x31\xE9\x80\xFF\x00\x31", 8) << false
        << States("10000100") << Colours("GRRRRGRR");
    QTest::newRow("long text") << QByteArray("00000000")
                               << QByteArray("00000011") + QByteArray(500, 'x') << false
                               << States("11000000") << Colours("GGRRRRRR");
}

void TestInbound::arrival()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, text);
    QFETCH(bool, identified);
    QFETCH(States, states);
    QFETCH(Colours, shown);

    const Form1::Controls &ui = m_panel->ui();
    // Stopping supervision is what repaints the link indicator red; the connection stays.
    if (ui.Command1->isEnabled())
        QTest::mouseClick(ui.Command1, Qt::LeftButton);
    QTest::mouseClick(ui.Command2, Qt::LeftButton);
    QCOMPARE(ui.Shape2->backColor(), Bgr::Red);
    if (!before.isEmpty())
        QVERIFY(arrive(before));
    ui.IP->setText(QString());

    QVERIFY(arrive(text));

    const QString received = QString::fromLatin1(text);
    QCOMPARE(m_panel->form->state().ReceivedText, received);
    QCOMPARE(ui.Label3->text(), received);
    QCOMPARE(ui.Label3->textFormat(), Qt::PlainText);
    QCOMPARE(ui.IP->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(ui.Shape2->backColor(), identified ? Bgr::Green : Bgr::Red);
    States stored;
    for (const quint8 state : m_panel->form->state().InputState)
        stored += char('0' + state);
    QCOMPARE(stored, states);
    QCOMPARE(colours(), shown);
    QCOMPARE(m_panel->socketState(), Winsock::sckConnected);
}

QTEST_MAIN(TestInbound)
#include "tst_inbound.moc"
