#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

// Runs the event loop until the condition holds or the time is up. Unlike QTest's
// qWaitFor it wakes on every event instead of sleeping 10 ms between looks, which makes
// thousands of short network cycles affordable.
template<typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 5000)
{
    if (condition())
        return true;
    QDeadlineTimer deadline(timeoutMs);
    QTimer guard; // wakes the loop even when nothing else happens
    guard.start(5);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
