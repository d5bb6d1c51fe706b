#include "panelrun.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <cstdio>

#include "controllerthread.h"
#include "form1.h"

namespace PanelRun {

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = size_t(p * double(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

double micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

void useRuntimeFolder(const QTemporaryDir &folder)
{
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && folder.isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder.path()));
}

void lookAsThePanel(const QString &filterRules)
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QLoggingCategory::setFilterRules(filterRules);
}

quint16 startPanel(Form1 &form)
{
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        qFatal("the panel's window was not exposed");
    QTest::mouseClick(form.controls().Command1, Qt::LeftButton);
    QElapsedTimer waited;
    waited.start();
    while (form.controls().Winsock1->LocalPort() == 0 && waited.elapsed() < 5000)
        QTest::qWait(5);
    return quint16(form.controls().Winsock1->LocalPort());
}

void waitConnected(Form1 &form)
{
    QElapsedTimer waited;
    waited.start();
    while (form.controls().Winsock1->State() != SocketControl::sckConnected
           && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

std::unique_ptr<ControllerThread> letControllerIn(Form1 &form, ControllerThread::Mode mode)
{
    auto controller = std::make_unique<ControllerThread>(startPanel(form), mode);
    if (!controller->waitConnected(5000))
        qFatal("the controller could not connect");
    waitConnected(form);
    return controller;
}

Clock::time_point timePress(ControllerThread &controller, const std::function<void()> &press,
                            std::vector<double> *taken)
{
    const auto pressed = Clock::now();
    press();
    Clock::time_point arrived;
    if (!controller.takeFrame(5000, &arrived))
        qFatal("no frame for a press");
    if (taken)
        taken->push_back(micros(arrived - pressed));
    return pressed;
}

std::vector<double> timePresses(ControllerThread &controller, int warmUp, int presses,
                                const std::function<void(int)> &press,
                                const std::function<void(int, Clock::time_point)> &afterPress)
{
    std::vector<double> latencies;
    for (int i = 0; i < warmUp + presses; ++i) {
        const auto pressed = timePress(
            controller, [&press, i] { press(i); }, i >= warmUp ? &latencies : nullptr);
        afterPress(i, pressed);
    }
    return latencies;
}

} // namespace PanelRun
