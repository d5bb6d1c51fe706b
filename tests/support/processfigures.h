#pragma once

#include <QByteArray>
#include <QFile>
#include <QtGlobal>

// Memory figures of this process in KiB from /proc/self/status; -1 where not available.
inline qint64 processStatusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(prefix)) {
            bool ok = false;
            const qint64 value
                = line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong(&ok);
            return ok ? value : -1;
        }
    }
    return -1;
}

inline qint64 peakMemoryKiB()
{
    return processStatusKiB("VmHWM");
}

inline qint64 residentMemoryKiB()
{
    return processStatusKiB("VmRSS");
}

// Stress runs (KORVAN_STRESS=1) use the full sizes; the everyday suite a smaller one.
inline bool stressRun()
{
    return qEnvironmentVariableIntValue("KORVAN_STRESS") == 1;
}
