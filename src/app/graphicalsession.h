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
    // The panel's. On failure: the message on standard error and in the history (when there
    // is one), and the process ends with ExitStatus::NoGraphicalSession. Qt's messages are
    // held from here until release().
    static std::unique_ptr<QApplication> start(int &argc, char **argv, HistorySink *history);
    // Whether they belong in the history is known only once this start is known to be the
    // one panel: into the history, which is installed now, or else on standard error.
    static void release(HistorySink *history);

    // For a message box whose text is on standard output or error already: without a
    // window system the process ends with status, saying nothing more.
    static std::unique_ptr<QApplication> startForBox(int &argc, char **argv, int status);
    // A window on this platform is seen by someone (not "offscreen" or "minimal").
    static bool showsWindows();

    // Polish first, then English; names the display that was tried.
    static QString message();
};
