#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// One step of a simulator session, as typed on standard input, written in a script file
// or given with --send.
struct SimCommand
{
    enum class Kind {
        SetInputs, // all 8 inputs, text[0] is input 8
        SetInput, // one input: number, on
        SetAllInputs, // every input: on
        Identify, // the identification text
        Raw, // text sent exactly as given
        Sleep, // pause: milliseconds
        Expect, // the next frame must equal text (24 states, optionally its check digit)
        WaitFrames, // wait until number frames have arrived in all
        Help,
        Quit,
    };

    Kind kind = Kind::Help;
    QByteArray text;
    int number = 0;
    bool on = false;
};

// A line of the command language. Nothing for a blank line or a # comment, and nothing
// with the reason in *error for a line that is wrong.
std::optional<SimCommand> parseCommandLine(const QString &line, QString *error);

// A frame as the user may write it: 24 state characters, optionally the check digit,
// spaces allowed for grouping. Empty on error, with the reason in error.
QByteArray normalisedFrame(const QString &frame, QString *error);

// The command language, for --help and the interactive "help" command.
QString commandLanguageHelp();
