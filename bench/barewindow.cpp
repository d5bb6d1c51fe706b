// The baseline: a bare Qt window of the panel's size, measured like the panel.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

#include "firstshownprobe.h"
#include "procstats.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const bool idle = args.size() >= 3 && args.at(1) == u"idle";
    if (!idle)
        new FirstShownProbe(&app);

    QWidget window;
    window.resize(552, 480);
    window.show();
    if (idle) {
        std::printf("port 0\n");
        std::fflush(stdout);
        const int seconds = args.at(2).toInt();
        const qint64 cpu0 = ProcStats::cpuTimeNs();
        QTimer::singleShot(seconds * 1000, [cpu0, seconds] {
            std::printf("cpu_ns %lld wall_ns %lld\n",
                        static_cast<long long>(ProcStats::cpuTimeNs() - cpu0),
                        static_cast<long long>(seconds) * 1000000000LL);
            std::fflush(stdout);
            QCoreApplication::exit(0);
        });
    }
    return QApplication::exec();
}
