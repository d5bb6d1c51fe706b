#include <QTest>

#include "checkdigit.h"
#include "inboundtext.h"
#include "outputframe.h"

using Ids = QList<int>;
using OptionalColour = std::optional<BgrColor>;

Q_DECLARE_METATYPE(OptionalColour)

namespace {

OutputShapes shapesWithOn(const Ids &on)
{
    OutputShapes shapes {};
    for (const int id : on)
        shapes[size_t(Output::sectionOf(id) - 1)][size_t(Output::numberOf(id) - 1)] = 1;
    return shapes;
}

// The frame without its line end, as the panel builds it.
QString frameOf(const OutputShapes &shapes)
{
    const QString states = frameStateText(shapes);
    return states + CalculateHexCheckDigit(states);
}

Ids allOutputs()
{
    Ids ids;
    for (int s = 1; s <= Output::Sections; ++s) {
        for (int n = 1; n <= Output::PerSection; ++n)
            ids.append(Output::designId(s, n));
    }
    return ids;
}

} // namespace

class TestOutputFrame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void frames_data();
    void frames();
    void framePosition_data();
    void framePosition();
    void stateCharacterIsTheShapeInDecimal();
    void toggle_data();
    void toggle();
    void inboundText_data();
    void inboundText();
    void indicatorColour_data();
    void indicatorColour();
};

void TestOutputFrame::frames_data()
{
    QTest::addColumn<Ids>("on");
    QTest::addColumn<QString>("frame");

    QTest::newRow("000000000000000000000000 0")
        << Ids {} << QStringLiteral("0000000000000000000000000");
    QTest::newRow("000000010000000000000000 F")
        << Ids {11} << QStringLiteral("000000010000000000000000F");
    QTest::newRow("100000000000000000000000 E")
        << Ids {18} << QStringLiteral("100000000000000000000000E");
    QTest::newRow("010000000000000000000000 F")
        << Ids {17} << QStringLiteral("010000000000000000000000F");
    QTest::newRow("000001000000000000000000 F")
        << Ids {13} << QStringLiteral("000001000000000000000000F");
    QTest::newRow("000000000000000100000000 F")
        << Ids {21} << QStringLiteral("000000000000000100000000F");
    QTest::newRow("000000000000000000000001 F")
        << Ids {31} << QStringLiteral("000000000000000000000001F");
    QTest::newRow("111111111111111111111111 C")
        << allOutputs() << QStringLiteral("111111111111111111111111C");
    // Outputs 8 of every section sit at odd positions and are doubled: 3 x 2 = 6.
    QTest::newRow("100000001000000010000000 A")
        << Ids {18, 28, 38} << QStringLiteral("100000001000000010000000A");
}

void TestOutputFrame::frames()
{
    QFETCH(Ids, on);
    QFETCH(QString, frame);

    const QString built = frameOf(shapesWithOn(on));
    QCOMPARE(built, frame);

    const QByteArray wire = wireFrame(built);
    QCOMPARE(int(wire.size()), 27);
    QCOMPARE(wire, frame.toLatin1() + "\r\n");
}

void TestOutputFrame::framePosition_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("position");

    QTest::newRow("O11") << 11 << 8;
    QTest::newRow("O18") << 18 << 1;
    QTest::newRow("O13") << 13 << 6;
    QTest::newRow("O21") << 21 << 16;
    QTest::newRow("O28") << 28 << 9;
    QTest::newRow("O31") << 31 << 24;
    QTest::newRow("O38") << 38 << 17;
}

// The table position, and the one "1" of a frame with only that output on stands there.
void TestOutputFrame::framePosition()
{
    QFETCH(int, id);
    QFETCH(int, position);

    QCOMPARE(Output::framePosition(Output::sectionOf(id), Output::numberOf(id)), position);
    const QString states = frameStateText(shapesWithOn({id}));
    QCOMPARE(int(states.indexOf(QLatin1Char('1'))) + 1, position);
    QCOMPARE(int(states.count(QLatin1Char('1'))), 1);
}

void TestOutputFrame::stateCharacterIsTheShapeInDecimal()
{
    // Shapes other than 0 and 1 never occur after start-up; their text still goes in as is.
    OutputShapes shapes {};
    shapes[0][7] = 4;
    shapes[2][0] = -1;
    QCOMPARE(frameStateText(shapes),
             QStringLiteral("4") + QString(22, QLatin1Char('0')) + QStringLiteral("-1"));
}

void TestOutputFrame::toggle_data()
{
    QTest::addColumn<int>("shape");
    QTest::addColumn<bool>("changes");
    QTest::addColumn<int>("newShape");
    QTest::addColumn<BgrColor>("newColour");

    QTest::newRow("off -> on") << 0 << true << 1 << Bgr::Green;
    QTest::newRow("on -> off") << 1 << true << 0 << Bgr::Red;
    QTest::newRow("4 unchanged") << 4 << false << 0 << BgrColor {};
    QTest::newRow("-1 unchanged") << -1 << false << 0 << BgrColor {};
}

void TestOutputFrame::toggle()
{
    QFETCH(int, shape);
    QFETCH(bool, changes);
    QFETCH(int, newShape);
    QFETCH(BgrColor, newColour);

    const auto toggle = toggledOutput(qint16(shape));
    QCOMPARE(toggle.has_value(), changes);
    if (toggle) {
        QCOMPARE(int(toggle->shape), newShape);
        QCOMPARE(toggle->backColor, newColour);
    }
}

void TestOutputFrame::inboundText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("identification");
    // States of inputs 8 down to 1, as the text carries them.
    QTest::addColumn<QByteArray>("states");

    QTest::newRow("STEROWNIK") << QStringLiteral("STEROWNIK") << true << QByteArray("00000000");
    QTest::newRow("STEROWNIK CR LF")
        << QStringLiteral("STEROWNIK\r\n") << false << QByteArray("00000000");
    QTest::newRow("Sterownik") << QStringLiteral("Sterownik") << false << QByteArray("00000000");
    QTest::newRow("STEROWNI") << QStringLiteral("STEROWNI") << false << QByteArray("00000000");
    QTest::newRow("STEROWNIK00000001")
        << QStringLiteral("STEROWNIK00000001") << false << QByteArray("00000000");
    QTest::newRow("10000000") << QStringLiteral("10000000") << false << QByteArray("10000000");
    QTest::newRow("00000001 CR LF")
        << QStringLiteral("00000001\r\n") << false << QByteArray("00000001");
    QTest::newRow("1") << QStringLiteral("1") << false << QByteArray("10000000");
    QTest::newRow("0000001") << QStringLiteral("0000001") << false << QByteArray("00000010");
    // TCP never reports an arrival of nothing, so only this level can see an empty text.
    QTest::newRow("empty") << QString() << false << QByteArray("00000000");
    QTest::newRow("23456789") << QStringLiteral("23456789") << false << QByteArray("23456789");
    QTest::newRow("x, blank, tab")
        << QStringLiteral("x 1\t1-10") << false << QByteArray("00101010");
    QTest::newRow("digits of other scripts")
        << QStringLiteral("\u0661\u00B9\uFF11\u09E7\u00BD1ab") << false << QByteArray("00000100");
}

void TestOutputFrame::inboundText()
{
    QFETCH(QString, text);
    QFETCH(bool, identification);
    QFETCH(QByteArray, states);

    QCOMPARE(Inbound::isIdentification(text), identification);
    QByteArray decoded;
    for (int k = Inbound::InputCount; k >= 1; --k)
        decoded += char('0' + Inbound::stateOf(Inbound::inputChar(text, k)));
    QCOMPARE(decoded, states);
}

void TestOutputFrame::indicatorColour_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<OptionalColour>("colour");

    QTest::newRow("0 red") << 0 << OptionalColour(Bgr::Red);
    QTest::newRow("1 green") << 1 << OptionalColour(Bgr::Green);
    QTest::newRow("2 kept") << 2 << OptionalColour();
    QTest::newRow("9 kept") << 9 << OptionalColour();
    QTest::newRow("255 kept") << 255 << OptionalColour();
}

void TestOutputFrame::indicatorColour()
{
    QFETCH(int, state);
    QFETCH(OptionalColour, colour);
    QCOMPARE(Inbound::indicatorColour(quint8(state)), colour);
}

QTEST_APPLESS_MAIN(TestOutputFrame)
#include "tst_outputframe.moc"
