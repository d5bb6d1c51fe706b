#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <optional>

#include "socketcontrol.h"

#include "brokersettings.h"

class CommandLine;

// Who may connect and where the history goes: from the system-wide settings file, then the
// user's file, then the command line, each winning over the one before it key by key.
// Any fault refuses the whole configuration: the panel never listens half-configured.
struct PanelSettings
{
    QHostAddress listenAddress = QHostAddress::Any;
    // Empty: anyone may connect, as the panel always allowed.
    QList<SocketControl::Subnet> allowedPeers;
    int idleSeconds = 10;
    int unacknowledgedSeconds = 5;
    // Empty: the default place.
    QString logFile;
    // Set by a [Broker] section or --broker; without either, nothing is published.
    std::optional<BrokerSettings> broker;

    // The settings files' paths for this user and machine.
    static QString systemFile();
    static QString userFile();

    struct Fault
    {
        // Names the file or the option, the key and the value.
        QString message;
        bool inCommandLine = false;
    };

    // A file that is certainly not there counts as empty; one that cannot be read is a
    // fault. On a fault, returns nothing and fills *fault.
    static std::optional<PanelSettings> load(const QString &systemPath, const QString &userPath,
                                             const CommandLine &commandLine, Fault *fault);

    // "ADDRESS" or "ADDRESS/PREFIX", IPv4 or IPv6; a single address gets the full prefix.
    static std::optional<SocketControl::Subnet> parsePeer(const QString &text);

    // Where the socket listens, whom it lets in, and when it gives a silent controller up.
    SocketControl::Settings link() const;
};
