#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include "simcommand.h"

// What the command line asked for.
struct SimOptions
{
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 6165;
    bool identify = true;
    int gapMs = 50;
    int timeoutMs = 0; // 0: no limit
    // Run in this order: commands (--send, --script FILE), the lines of standard input when
    // readStdin, then afterInput (--wait-frames, --expect).
    QList<SimCommand> commands;
    bool readStdin = true;
    QList<SimCommand> afterInput;
    bool showHelp = false;
};

// Parses the arguments (argv[0] first). Nothing, with the reason in *error, when they are
// wrong.
std::optional<SimOptions> parseSimOptions(const QStringList &arguments, QString *error);

QString simHelpText();
