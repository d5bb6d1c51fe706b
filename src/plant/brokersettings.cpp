#include "brokersettings.h"

#include <QSysInfo>
#include <QUrl>

std::optional<BrokerSettings::Url> BrokerSettings::parseUrl(const QString &text, QString *why)
{
    const auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return fail(QStringLiteral("not an mqtt://HOST[:PORT] or mqtts://HOST[:PORT] address."));
    Url parsed;
    if (url.scheme() == QLatin1String("mqtt"))
        parsed.port = 1883;
    else if (url.scheme() == QLatin1String("mqtts"))
        parsed = {{}, 8883, true};
    else
        return fail(QStringLiteral("an unknown scheme; mqtt:// or mqtts:// is known."));
    // A user name or password in the address would end up in the history and on a command
    // line: they have keys of their own.
    if (!url.userInfo().isEmpty())
        return fail(QStringLiteral("a user name or password in the address; use the Username "
                                   "and PasswordFile keys."));
    if ((!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery()
        || url.hasFragment())
        return fail(QStringLiteral("a path, query or fragment after the host and port."));
    if (url.port() == 0)
        return fail(QStringLiteral("port 0."));
    if (url.port() > 0)
        parsed.port = quint16(url.port());
    parsed.host = url.host();
    return parsed;
}

QString BrokerSettings::url() const
{
    if (port == 0)
        return QStringLiteral("unix:") + host;
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return (tls ? QStringLiteral("mqtts://") : QStringLiteral("mqtt://")) + shownHost + u':'
        + QString::number(port);
}

QString BrokerSettings::defaultTopic()
{
    return QStringLiteral("korvan/") + QSysInfo::machineHostName().toLower();
}

QString BrokerSettings::defaultClientId()
{
    return QStringLiteral("korvan-") + QSysInfo::machineHostName();
}
