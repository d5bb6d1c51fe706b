#pragma once

#include <QProcess>
#include <QString>

#include "waituntil.h"

// A real X display of the test's own (Xvfb picks a free one and says which on standard
// output); it ends with the test.
class XvfbDisplay
{
public:
    // The display's name (":N"); empty when Xvfb is missing or did not come up.
    QString start()
    {
        m_xvfb.start(QStringLiteral("Xvfb"),
                     {QStringLiteral("-displayfd"), QStringLiteral("1"),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                      QStringLiteral("0"), QStringLiteral("1024x768x24")});
        if (!m_xvfb.waitForStarted() || !waitUntil([&] { return m_xvfb.canReadLine(); }, 60000))
            return {};
        m_name = QLatin1Char(':') + QString::fromLatin1(m_xvfb.readLine().trimmed());
        return m_name;
    }
    QString name() const { return m_name; }
    // What xdotool printed on this display; null when it failed (a search that found nothing
    // fails).
    QString xdotool(const QStringList &arguments) const
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_name);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral("xdotool"), arguments);
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            return {};
        return QString::fromLatin1(process.readAllStandardOutput()) + QLatin1Char(' ');
    }
    // The first shown window of that title, once there is one; empty if none came.
    QString window(const QString &title) const
    {
        return xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                        QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title})
            .section(QLatin1Char('\n'), 0, 0);
    }
    ~XvfbDisplay()
    {
        m_xvfb.terminate();
        m_xvfb.waitForFinished();
    }

private:
    QProcess m_xvfb;
    QString m_name;
};
