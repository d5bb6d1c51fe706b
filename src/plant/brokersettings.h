#pragma once

#include <QString>

#include <optional>

// Where and as whom the panel publishes its state: the [Broker] settings, checked.
struct BrokerSettings
{
    // A host name or address; with port 0, the path of a local socket (tests only).
    QString host;
    quint16 port = 1883;
    bool tls = false;
    // The base topic, without a trailing slash.
    QString topic;
    QString clientId;
    QString username;
    // The first line of the password file; never written anywhere.
    QString password;
    // Empty: the system's trusted certificates.
    QString caFile;
    QString certFile;
    QString keyFile;
    int keepAliveSeconds = 30;

    static constexpr int MinKeepAlive = 5;
    static constexpr int MaxKeepAlive = 3600;

    struct Url
    {
        QString host;
        quint16 port = 0;
        bool tls = false;
    };
    // mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883); *why says what is wrong.
    static std::optional<Url> parseUrl(const QString &text, QString *why);
    // "mqtt://host:1883", as the history names the broker.
    QString url() const;

    // korvan/ and the PC's host name in lower case; korvan- and the host name.
    static QString defaultTopic();
    static QString defaultClientId();
};
