// The panel as its program starts it, plus what the benchmark needs to see from outside:
// when the window is first shown, and the CPU it uses while idle with a controller.
#include <QAbstractButton>
#include <QApplication>
#include <QStyleFactory>
#include <QTimer>
#include <QToolButton>

#include <cstdio>

#include "firstshownprobe.h"
#include "form1.h"
#include "procstats.h"
#include "shapecontrol.h"
#include "version.h"

namespace {

void measureIdle(Form1 *form, int seconds)
{
    const Form1::Controls &ui = form->controls();
    ui.Command1->click();
    auto *poll = new QTimer(form);
    QObject::connect(poll, &QTimer::timeout, form, [poll, &ui] {
        if (ui.Winsock1->LocalPort() == 0)
            return;
        poll->stop();
        std::printf("port %d\n", ui.Winsock1->LocalPort());
        std::fflush(stdout);
    });
    poll->start(5);
    QObject::connect(ui.Shape2, &ShapeControl::backColorChanged, form, [seconds] {
        static bool started = false;
        if (std::exchange(started, true))
            return;
        ProcStats::reportIdleCpu(seconds);
    });
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvan"));
    QApplication::setApplicationVersion(QStringLiteral(KORVAN_VERSION_TEXT));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    const QStringList args = QCoreApplication::arguments();
    const bool idle = args.size() >= 3 && args.at(1) == u"idle";
    if (!idle)
        new FirstShownProbe(&app);

    auto *form = idle ? new Form1(0) : new Form1;
    form->show();
    if (idle)
        measureIdle(form, args.at(2).toInt());
    return QApplication::exec();
}
