#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTextStream>

#include <array>
#include <deque>

#include "exitcode.h"
#include "framereport.h"
#include "inboundtext.h"
#include "simcommand.h"
#include "simoptions.h"

class QTcpSocket;
class QTimer;

// The simulated controller: one connection to the panel, a queue of commands run in order,
// and every frame from the panel printed as it arrives.
class Simulator : public QObject
{
    Q_OBJECT

public:
    Simulator(const SimOptions &options, QTextStream &out, QTextStream &err,
              QObject *parent = nullptr);

    void start();
    // Commands typed on standard input; endOfInput when it closes.
    void addCommand(const SimCommand &command);
    void endOfInput();

Q_SIGNALS:
    void finished(int exitCode);

private:
    void connectToPanel();
    void onConnected();
    void connectionLost(const QString &why);
    void onSocketError();
    void onReadyRead();
    void onTimeout();
    void runCommands();
    // False while the command must wait (for a connection, the gap, a frame or a pause).
    bool runOne(const SimCommand &command);
    // The pause of a Sleep, once; false until it is over.
    bool sleepOnce(int ms);
    // Compares the oldest frame not yet compared; false while there is none, or on a mismatch
    // (which ends the session).
    bool takeExpected(const QByteArray &expected);
    void send(const QByteArray &text, const QString &meaning);
    void sendInputs();
    void frameArrived(const QByteArray &lineWithEnd);
    void finish(ExitCode code);
    void status(const QString &message);
    void alarm(const QString &message);

    SimOptions m_options;
    QTextStream &m_out;
    QTextStream &m_err;
    QTcpSocket *m_socket = nullptr;
    QTimer *m_retry = nullptr;
    QTimer *m_gap = nullptr;
    QTimer *m_sleep = nullptr;
    QTimer *m_deadline = nullptr;
    std::deque<SimCommand> m_commands;
    // The socket's own state lags behind: it still says connected while it reports the
    // error that ends the connection. The phase is what the session has already acted on.
    enum class Phase {
        Searching, // the panel not reached yet
        Connected,
        Reconnecting, // the panel reached once and the connection gone
        Finished,
    };
    Phase m_phase = Phase::Searching;
    bool m_toldWaiting = false; // "no panel yet" said in this search
    bool m_inputEnded = false;
    bool m_sleepDone = false; // the Sleep at the front has had its pause
    bool m_inputsSent = false;
    ExitCode m_verdict = ExitCode::Ok; // what the session ends with unless something fails
    // m_inputs[k - 1] is input k.
    std::array<bool, Inbound::InputCount> m_inputs {};
    QByteArray m_received;
    int m_framesTotal = 0;
    struct NumberedFrame
    {
        int number;
        FrameReport report;
    };
    std::deque<NumberedFrame> m_untaken; // frames no expect has compared yet
};
