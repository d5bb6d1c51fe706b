#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "controllerthread.h"

class Form1;
class QTemporaryDir;

// What the benchmarks do alike: set the run up, start a panel, let a controller in, and
// time presses to their frames.
namespace PanelRun {

using Clock = std::chrono::steady_clock;

// Press -> frame: presses timed, after warm-up ones left out.
constexpr int Presses = 2000;
constexpr int WarmUpPresses = 100;
// The figures are the panel's without its history unless a figure says otherwise: no line
// is even formatted.
inline const QString WithoutHistory = QStringLiteral("korvan.*=false");

double percentile(std::vector<double> values, double p);
double micros(Clock::duration d);
// Progress on standard error, so that the figures on standard output stay a table.
void say(const QString &text);

// Qt warns on every start without a runtime folder: this run and its children use folder
// when none is set. Before the application object.
void useRuntimeFolder(const QTemporaryDir &folder);
// The panel's style, with the logging rules the run measures under.
void lookAsThePanel(const QString &filterRules);

// A shown panel listening on a system-picked port, supervision started by a click.
quint16 startPanel(Form1 &form);
void waitConnected(Form1 &form);
// startPanel(), and a controller in mode connected to it and accepted.
std::unique_ptr<ControllerThread> letControllerIn(Form1 &form, ControllerThread::Mode mode);

// press(), then waits for its frame at the controller; adds press -> frame in microseconds
// to taken unless it is null. Returns when the press began.
Clock::time_point timePress(ControllerThread &controller, const std::function<void()> &press,
                            std::vector<double> *taken);

// Press -> frame in microseconds: press(i) until the controller has the frame's last byte,
// the first warmUp presses left out. afterPress(i, pressed) is the rest of the turn.
std::vector<double> timePresses(ControllerThread &controller, int warmUp, int presses,
                                const std::function<void(int)> &press,
                                const std::function<void(int, Clock::time_point)> &afterPress);

} // namespace PanelRun
