#pragma once

#include <QByteArray>
#include <QString>

#include <array>

#include "outputframe.h"

// One line received from the panel, checked and decoded.
struct FrameReport
{
    QByteArray line; // as received, without the LF (and without the CR when there is one)
    bool wellFormed = false; // 24 states, one upper-case hex digit, CR LF
    bool checkDigitOk = false;
    char receivedDigit = 0;
    char expectedDigit = 0;
    QString problem; // why the line is not a good frame; empty when it is
    // on[s - 1][n - 1] for output n of section s.
    std::array<std::array<bool, Output::PerSection>, Output::Sections> on {};

    bool good() const { return wellFormed && checkDigitOk; }
};

// The check digit of 24 state characters ("0" or "1"), as the controller computes it. The
// simulator's own reckoning, not the panel's, so a fault in either shows up against the
// other.
char frameCheckDigit(const QByteArray &states);

// Decodes one line the panel sent; lineWithEnd includes its LF (and CR).
FrameReport decodeFrame(const QByteArray &lineWithEnd);

// The report as the simulator prints it: a header line, then one line per section.
QString formatFrameReport(const FrameReport &report, int frameNumber);
