#pragma once

#include <QFile>

// A figure of this process in KiB from /proc/self/status ("VmHWM" peak, "VmRSS" resident);
// -1 where not available.
inline qint64 memoryKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line :
         status.open(QIODevice::ReadOnly) ? status.readAll().split('\n') : QByteArrayList()) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Stress runs (KORVAN_STRESS=1) use the full sizes; the everyday suite smaller ones.
inline bool stressRun()
{
    return qEnvironmentVariableIntValue("KORVAN_STRESS") == 1;
}
