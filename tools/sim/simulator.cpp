#include "simulator.h"

#include <QNetworkProxy>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>

#include "logtext.h"

namespace {

using Inbound::InputCount;

constexpr int RetryMs = 200;
// A line this long without LF is no frame; report it rather than buffer for ever.
constexpr qsizetype LongestLine = 4096;

QString describeInputs(const std::array<bool, InputCount> &inputs)
{
    QStringList on;
    for (int k = 1; k <= InputCount; ++k) {
        if (inputs[size_t(k - 1)])
            on += QString::number(k);
    }
    return on.isEmpty() ? QStringLiteral("all inputs off")
                        : QStringLiteral("inputs on: ") + on.join(QLatin1Char(' '));
}

} // namespace

Simulator::Simulator(const SimOptions &options, QTextStream &out, QTextStream &err, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_out(out)
    , m_err(err)
    , m_socket(new QTcpSocket(this))
    , m_retry(new QTimer(this))
    , m_gap(new QTimer(this))
    , m_sleep(new QTimer(this))
    , m_deadline(new QTimer(this))
{
    m_socket->setProxy(QNetworkProxy::NoProxy);
    for (QTimer *timer : {m_retry, m_gap, m_sleep, m_deadline})
        timer->setSingleShot(true);
    m_retry->setInterval(RetryMs);
    m_gap->setInterval(options.gapMs);

    connect(m_socket, &QTcpSocket::connected, this, &Simulator::onConnected);
    connect(m_socket, &QTcpSocket::disconnected, this,
            [this] { connectionLost(QStringLiteral("the panel closed the connection")); });
    connect(m_socket, &QTcpSocket::errorOccurred, this, &Simulator::onSocketError);
    connect(m_socket, &QTcpSocket::readyRead, this, &Simulator::onReadyRead);
    connect(m_retry, &QTimer::timeout, this, &Simulator::connectToPanel);
    connect(m_gap, &QTimer::timeout, this, &Simulator::runCommands);
    connect(m_sleep, &QTimer::timeout, this, [this] {
        m_sleepDone = true;
        runCommands();
    });
    connect(m_deadline, &QTimer::timeout, this, &Simulator::onTimeout);
}

void Simulator::start()
{
    m_commands.assign(m_options.commands.cbegin(), m_options.commands.cend());
    if (!m_options.readStdin)
        endOfInput();
    if (m_options.timeoutMs > 0)
        m_deadline->start(m_options.timeoutMs);
    status(QStringLiteral("connecting to %1:%2").arg(m_options.host).arg(m_options.port));
    connectToPanel();
    runCommands();
}

void Simulator::addCommand(const SimCommand &command)
{
    m_commands.push_back(command);
    runCommands();
}

void Simulator::endOfInput()
{
    m_inputEnded = true;
    m_commands.insert(m_commands.end(), m_options.afterInput.cbegin(), m_options.afterInput.cend());
    runCommands();
}

void Simulator::connectToPanel()
{
    if (m_phase == Phase::Finished)
        return;
    m_socket->abort();
    m_socket->connectToHost(m_options.host, m_options.port);
}

void Simulator::onConnected()
{
    m_phase = Phase::Connected;
    m_toldWaiting = false;
    // Nothing reaches the panel before this point: what it holds is stale.
    m_received.clear();
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    status(QStringLiteral("connected to %1:%2").arg(m_options.host).arg(m_options.port));
    m_gap->stop();
    // The panel resets its inputs on identification: give it ours again after a reconnect.
    if (m_inputsSent) {
        SimCommand again;
        again.kind = SimCommand::Kind::SetInputs;
        m_commands.push_front(again);
    }
    if (m_options.identify)
        send(Inbound::IdentificationText, QStringLiteral("identification"));
    runCommands();
}

void Simulator::onSocketError()
{
    if (m_phase == Phase::Finished)
        return;
    if (m_phase == Phase::Connected) {
        connectionLost(m_socket->errorString());
        return;
    }
    if (!m_toldWaiting) {
        m_toldWaiting = true;
        status(QStringLiteral("no panel at %1:%2 yet (%3); retrying until it listens. Press "
                              "\"Rozpocznij nasłuch\" on the panel.")
                   .arg(m_options.host)
                   .arg(m_options.port)
                   .arg(m_socket->errorString()));
    }
    m_retry->start();
}

void Simulator::connectionLost(const QString &why)
{
    if (m_phase != Phase::Connected)
        return;
    m_phase = Phase::Reconnecting;
    if (!m_received.isEmpty())
        frameArrived(std::exchange(m_received, {}));
    status(QStringLiteral("%1; reconnecting").arg(why));
    m_retry->start();
}

void Simulator::onReadyRead()
{
    m_received += m_socket->readAll();
    qsizetype end;
    while ((end = m_received.indexOf('\n')) >= 0) {
        const QByteArray line = m_received.left(end + 1);
        m_received.remove(0, end + 1);
        frameArrived(line);
        if (m_phase == Phase::Finished)
            return;
    }
    if (m_received.size() > LongestLine)
        frameArrived(std::exchange(m_received, {}));
}

void Simulator::onTimeout()
{
    if (m_phase == Phase::Finished)
        return;
    if (m_phase != Phase::Connected) {
        alarm(QStringLiteral("could not connect to the panel at %1:%2 within the time limit")
                  .arg(m_options.host)
                  .arg(m_options.port));
        finish(ExitCode::CouldNotConnect);
        return;
    }
    alarm(QStringLiteral("time limit reached after %1 frame(s), still waiting").arg(m_framesTotal));
    finish(ExitCode::Timeout);
}

void Simulator::runCommands()
{
    while (m_phase != Phase::Finished && !m_commands.empty()) {
        if (!runOne(m_commands.front()))
            return;
        if (m_phase != Phase::Finished)
            m_commands.pop_front();
    }
    // A session ends once it has reached the panel: with nothing to do and no panel yet, it
    // keeps trying until the time limit, which then reports that it could not connect.
    const bool reached = m_phase == Phase::Connected || m_phase == Phase::Reconnecting;
    if (reached && m_commands.empty() && m_inputEnded)
        finish(m_verdict);
}

bool Simulator::runOne(const SimCommand &command)
{
    using Kind = SimCommand::Kind;
    const bool sends = command.kind == Kind::SetInputs || command.kind == Kind::SetInput
        || command.kind == Kind::SetAllInputs || command.kind == Kind::Identify
        || command.kind == Kind::Raw;
    if (sends && (m_phase != Phase::Connected || m_gap->isActive()))
        return false;

    switch (command.kind) {
    case Kind::SetInputs:
        // A reconnect's resend carries no text: it repeats the current states.
        for (qsizetype i = 0; i < command.text.size() && i < InputCount; ++i)
            m_inputs[size_t(InputCount - 1 - i)] = command.text.at(i) == '1';
        sendInputs();
        return true;
    case Kind::SetInput:
        m_inputs[size_t(command.number - 1)] = command.on;
        sendInputs();
        return true;
    case Kind::SetAllInputs:
        m_inputs.fill(command.on);
        sendInputs();
        return true;
    case Kind::Identify:
        send(Inbound::IdentificationText, QStringLiteral("identification"));
        return true;
    case Kind::Raw:
        send(command.text, QStringLiteral("raw"));
        return true;
    case Kind::Sleep:
        return sleepOnce(command.number);
    case Kind::WaitFrames:
        return m_framesTotal >= command.number;
    case Kind::Expect:
        return takeExpected(command.text);
    case Kind::Help:
        m_out << commandLanguageHelp();
        m_out.flush();
        return true;
    case Kind::Quit:
        finish(m_verdict);
        return false;
    }
    return true;
}

bool Simulator::sleepOnce(int ms)
{
    if (m_sleepDone) {
        m_sleepDone = false;
        return true;
    }
    if (!m_sleep->isActive())
        m_sleep->start(ms);
    return false;
}

bool Simulator::takeExpected(const QByteArray &expected)
{
    if (m_untaken.empty())
        return false;
    const NumberedFrame frame = m_untaken.front();
    m_untaken.pop_front();
    if (!frame.report.good()) {
        finish(ExitCode::BadFrame);
        return false;
    }
    if (frame.report.line.left(expected.size()) != expected) {
        alarm(QStringLiteral("UNEXPECTED FRAME %1: expected %2, got %3")
                  .arg(frame.number)
                  .arg(QLatin1String(expected), QLatin1String(frame.report.line)));
        finish(ExitCode::UnexpectedFrame);
        return false;
    }
    m_out << QStringLiteral("   frame %1 is the expected one\n").arg(frame.number);
    m_out.flush();
    return true;
}

void Simulator::send(const QByteArray &text, const QString &meaning)
{
    m_socket->write(text);
    m_socket->flush();
    m_out << QStringLiteral(">> %1  (%2)\n")
                 .arg(LogText::escaped(QString::fromLatin1(text)), meaning);
    m_out.flush();
    if (m_options.gapMs > 0)
        m_gap->start();
}

void Simulator::sendInputs()
{
    QByteArray text;
    for (int p = 1; p <= InputCount; ++p)
        text += m_inputs[size_t(InputCount - p)] ? '1' : '0';
    m_inputsSent = true;
    send(text, describeInputs(m_inputs));
}

void Simulator::frameArrived(const QByteArray &lineWithEnd)
{
    FrameReport report = decodeFrame(lineWithEnd);
    const int number = ++m_framesTotal;
    m_out << formatFrameReport(report, number);
    m_out.flush();
    if (!report.good()) {
        m_verdict = ExitCode::BadFrame;
        alarm(QStringLiteral("frame %1: %2").arg(number).arg(report.problem));
    }
    m_untaken.push_back({number, std::move(report)});
    runCommands();
}

void Simulator::finish(ExitCode code)
{
    if (m_phase == Phase::Finished)
        return;
    const bool connected = m_phase == Phase::Connected;
    m_phase = Phase::Finished;
    for (QTimer *timer : {m_retry, m_gap, m_sleep, m_deadline})
        timer->stop();
    if (connected) {
        // What was written must reach the panel before the connection closes.
        if (m_socket->bytesToWrite() > 0)
            m_socket->waitForBytesWritten(1000);
        m_socket->disconnectFromHost();
    } else {
        m_socket->abort();
    }
    const int exitCode = static_cast<int>(code);
    QMetaObject::invokeMethod(
        this, [this, exitCode] { Q_EMIT finished(exitCode); }, Qt::QueuedConnection);
}

void Simulator::status(const QString &message)
{
    m_err << QStringLiteral("-- ") << message << QLatin1Char('\n');
    m_err.flush();
}

void Simulator::alarm(const QString &message)
{
    m_err << QStringLiteral("!!! ") << message << QStringLiteral(" !!!\n");
    m_err.flush();
}
