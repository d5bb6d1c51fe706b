// The baseline: a bare Qt window of the panel's size, measured like the panel.
#include <QApplication>
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
        ProcStats::reportIdleCpu(seconds);
    }
    return QApplication::exec();
}
