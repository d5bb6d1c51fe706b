#pragma once

#include <QFile>

// A figure of this process in KiB from /proc/self/status ("VmHWM" peak, "VmRSS" resident);
// -1 where not available.
inline qint64 memoryKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray all = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = all.indexOf(QByteArray("\n").append(field).append(':'));
    return at < 0 ? -1 : all.mid(all.indexOf(':', at) + 1).trimmed().split(' ')[0].toLongLong();
}

// Stress runs (KORVAN_STRESS=1) use the full sizes; the everyday suite smaller ones.
inline bool stressRun()
{
    return qEnvironmentVariableIntValue("KORVAN_STRESS") == 1;
}
