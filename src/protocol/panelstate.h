#pragma once

#include <QString>

#include <array>
#include <optional>

#include "inboundtext.h"

// The values the handlers share for the whole run. The output states are not here:
// they live in the output indicators themselves.
struct PanelState
{
    QString ReceivedText;
    QString InputChar;
    // InputState[k - 1] is input k's last state; states 0..9 are stored.
    std::array<quint8, Inbound::InputCount> InputState {};
    // No value until start-up reads the socket's local port.
    std::optional<qint32> ListenPort;
    QString FrameText;
    QString CheckInput;
    QString CheckDigitValue;
};
