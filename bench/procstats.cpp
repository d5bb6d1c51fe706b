#include "procstats.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>

#include <ctime>

namespace ProcStats {

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').constFirst().toLongLong();
    }
    return -1;
}

qint64 cpuTimeNs()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void reportIdleCpu(int seconds)
{
    const qint64 cpu0 = cpuTimeNs();
    QTimer::singleShot(seconds * 1000, [cpu0, seconds] {
        std::printf("cpu_ns %lld wall_ns %lld\n", static_cast<long long>(cpuTimeNs() - cpu0),
                    static_cast<long long>(seconds) * 1000000000LL);
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
}

} // namespace ProcStats
