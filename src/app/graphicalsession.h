#pragma once

#include <QApplication>

#include <memory>

class HistorySink;

// The application object, made only when a window system can be reached. Without one
// Qt ends the program with a text about reinstalling it; the operator is told instead
// that the panel needs a graphical session.
class GraphicalSession
{
public:
    // On failure: the message on standard error and in the history (when there is one),
    // and the process ends with ExitStatus::NoGraphicalSession.
    static std::unique_ptr<QApplication> start(int &argc, char **argv, HistorySink *history);

    // Polish first, then English; names the display that was tried.
    static QString message();
};
