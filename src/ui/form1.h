#pragma once

#include <QWidget>

#include <array>

#include "errorreporter.h"
#include "historyburst.h"
#include "inboundtext.h"
#include "outputframe.h"
#include "panelstate.h"
#include "socketcontrol.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QToolButton;
class ShapeControl;

// The panel's main window. Its controls carry their design names as object names; its
// handlers keep the design's names and act directly on the controls and shared values.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    struct Controls
    {
        // The banner across the top.
        QLineEdit *Text1 = nullptr;
        // The three output sections, top to bottom (Frame1, Frame3, Frame4), the command
        // column on the right (Frame2) and the input section (Frame5).
        QGroupBox *Frame1 = nullptr, *Frame2 = nullptr, *Frame3 = nullptr, *Frame4 = nullptr,
                  *Frame5 = nullptr;
        // Start supervision, stop it, the About window; Command20 ends the program.
        QToolButton *Command1 = nullptr, *Command2 = nullptr, *Command10 = nullptr;
        QPushButton *Command20 = nullptr;
        // The heartbeat bar under the start button and the link bar under the stop button.
        ShapeControl *Shape1 = nullptr, *Shape2 = nullptr;
        // This computer's name; its address, then the controller's; the listening port.
        QLabel *Host = nullptr, *IP = nullptr, *Port1 = nullptr;
        // Beneath the frames: the check digit, the last frame sent, the last text received
        // or request number.
        QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr;
        // The clock's time and date.
        QLabel *Label12 = nullptr, *Label13 = nullptr;
        // S<s><n> and O<s><n> at [s - 1][n - 1]; I<k> and its number label at [k - 1].
        std::array<std::array<QPushButton *, Output::PerSection>, Output::Sections> S {};
        std::array<std::array<ShapeControl *, Output::PerSection>, Output::Sections> O {};
        std::array<ShapeControl *, Inbound::InputCount> I {};
        std::array<QLabel *, Inbound::InputCount> InputNumbers {};
        // The link watchdog's tick and the clock's.
        QTimer *Timer1 = nullptr, *Timer2 = nullptr;
        SocketControl *Winsock1 = nullptr;
    };

    // listenPort is the socket's design value; tests may pass 0 for a system-picked port.
    explicit Form1(quint16 listenPort = SocketControl::DesignLocalPort, QWidget *parent = nullptr);
    ~Form1() override;

    const Controls &controls() const { return ui; }
    const PanelState &state() const { return m; }
    ErrorReporter *errorReporter() const { return m_errors; }

    QString CalculateHexCheckDigit(const QString &TransponderData) const;

    // Before the window is shown: the integrator's settings for the socket.
    void setLinkSettings(const SocketControl::Settings &settings);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildControls();
    void buildOutputSections();
    void buildInputSection();
    void buildCommandColumn();
    void buildTimers();
    void chainTabOrder();
    void connectHandlers();
    ErrorReporter::Advice adviceAfterFailure() const;

    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void S_Click(int designId);
    void Timer1_Timer();
    void Timer2_Timer();
    void Winsock1_ConnectionRequest(qint32 requestID);
    void Winsock1_DataArrival(qint32 bytesTotal);
    void Winsock1_Error(qint32 number, const QString &description);
    void Winsock1_ConnectionEnded(SocketControl::Ending how);
    void Command10_Click();
    void Command20_Click();

    void buildFrame();

    Controls ui;
    PanelState m;
    ErrorReporter *m_errors = nullptr;
    bool m_firstShow = true;
    // A controller flooding input changes must not wash the history away.
    HistoryBurst m_inputLines;
};
