#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <vector>

class ControllerThread;
class Form1;
class QTemporaryDir;

// What the benchmarks do alike: set the run up, start a panel, let a controller in, and
// time presses to their frames.
namespace PanelRun {

using Clock = std::chrono::steady_clock;

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
