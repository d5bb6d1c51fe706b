#pragma once

#include <QDeadlineTimer>
#include <QTest>

// Runs the event loop until the condition holds or the time is up. Unlike QTRY_*, it
// checks every millisecond, so tests that loop hundreds of times stay fast.
template<typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 5000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition() && !deadline.hasExpired())
        QTest::qWait(1);
    return condition();
}
