#pragma once

#include <QDeadlineTimer>
#include <QTest>

// Runs the event loop until the condition holds or the time is up; polls every millisecond,
// unlike QTRY_*, so tests that loop hundreds of times stay fast.
template<typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 5000)
{
    for (const QDeadlineTimer deadline(timeoutMs); !condition() && !deadline.hasExpired();)
        QTest::qWait(1);
    return condition();
}
