// The whole inbound path of the running window: bytes from a controller on loopback TCP
// through the socket control into Winsock1_DataArrival, the received text, the input
// states and the indicators. Before each input every input indicator is painted a colour
// no handler uses for them and the link indicator red, so a change can be seen.
#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>
#include <QToolButton>

#include <cstddef>
#include <cstdint>

#include "form1.h"
#include "fuzzcheck.h"
#include "shapecontrol.h"

namespace {

constexpr BgrColor Untouched = Bgr::Blue;

struct Harness
{
    Form1 *form = nullptr;
    QTcpSocket *controller = nullptr;
    qint64 taken = 0;
    int arrivals = 0;
};
Harness *harness = nullptr;

template<typename Condition>
bool runUntil(Condition condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer guard;
    guard.start(5);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv);
    harness = new Harness;
    harness->form = new Form1(0);
    const Form1::Controls &ui = harness->form->controls();
    QObject::connect(ui.Winsock1, &SocketControl::dataArrival, [](qint32 bytesTotal) {
        harness->taken += bytesTotal;
        ++harness->arrivals;
    });
    ui.Command1->click();
    FUZZ_CHECK(runUntil([&] { return ui.Winsock1->State() == SocketControl::sckListening; }, 5000));
    harness->controller = new QTcpSocket;
    harness->controller->setProxy(QNetworkProxy::NoProxy);
    harness->controller->connectToHost(QHostAddress::LocalHost, quint16(ui.Winsock1->LocalPort()));
    FUZZ_CHECK(runUntil([&] { return ui.Winsock1->State() == SocketControl::sckConnected; }, 5000));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0; // nothing sent, nothing arrives
    const Form1::Controls &ui = harness->form->controls();
    ui.Shape2->setBackColor(Bgr::Red);
    for (ShapeControl *input : ui.I)
        input->setBackColor(Untouched);

    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qint64 expected = harness->taken + bytes.size();
    const int arrivalsBefore = harness->arrivals;
    harness->controller->write(bytes);
    harness->controller->flush();
    FUZZ_CHECK(runUntil([&] { return harness->taken >= expected; }, 5000));
    FUZZ_CHECK(harness->taken == expected);
    FUZZ_CHECK(ui.Winsock1->State() == SocketControl::sckConnected);

    // TCP may split a send; the last arrival is what the window shows.
    const bool whole = harness->arrivals == arrivalsBefore + 1;
    const QString shown = ui.Label3->text();
    if (whole)
        FUZZ_CHECK(shown == QString::fromLatin1(bytes));
    FUZZ_CHECK(bytes.endsWith(shown.toLatin1()));
    FUZZ_CHECK(harness->form->state().ReceivedText == shown);

    const bool identified = ui.Shape2->backColor() == Bgr::Green;
    FUZZ_CHECK(ui.Shape2->backColor() == Bgr::Green || ui.Shape2->backColor() == Bgr::Red);
    if (whole)
        FUZZ_CHECK(identified == (bytes == "STEROWNIK"));
    else if (identified)
        FUZZ_CHECK(bytes.contains("STEROWNIK"));

    for (int k = 1; k <= 8; ++k) {
        const quint8 state = harness->form->state().InputState[size_t(k - 1)];
        FUZZ_CHECK(state <= 9);
        const qsizetype position = 9 - k;
        const QChar c = shown.size() >= position ? shown.at(position - 1) : QChar();
        const char16_t u = c.unicode();
        FUZZ_CHECK(state == (u >= u'0' && u <= u'9' ? u - u'0' : 0));
        const BgrColor colour = ui.I[size_t(k - 1)]->backColor();
        if (state == 0)
            FUZZ_CHECK(colour == Bgr::Red);
        else if (state == 1)
            FUZZ_CHECK(colour == Bgr::Green);
        else if (whole)
            FUZZ_CHECK(colour == Untouched);
    }
    return 0;
}
