#pragma once

#include <QFile>

// A memory figure of this process in KiB from /proc/self/status ("VmHWM" is the peak,
// "VmRSS" the resident size); -1 where not available.
inline qint64 memoryKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
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
