#pragma once

#include <QMutex>
#include <QStringList>

#include <algorithm>

#include "waituntil.h"

// The korvan.broker lines of the history, from whichever thread wrote them, for the tests
// that run the publisher in their own process.
class BrokerHistory
{
public:
    static void install() { previous() = qInstallMessageHandler(&BrokerHistory::keep); }
    static void clear()
    {
        const QMutexLocker lock(&mutex());
        lines().clear();
    }
    static QString text()
    {
        const QMutexLocker lock(&mutex());
        return lines().join(u'\n');
    }
    static bool says(const QString &text, int timeoutMs = 30000)
    {
        return waitUntil(
            [&] {
                const QMutexLocker lock(&mutex());
                return std::any_of(lines().cbegin(), lines().cend(),
                                   [&](const QString &line) { return line.contains(text); });
            },
            timeoutMs);
    }

private:
    static void keep(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (context.category && QByteArrayView(context.category) == "korvan.broker") {
            const QMutexLocker lock(&mutex());
            lines() << message;
        }
        previous()(type, context, message);
    }
    static QMutex &mutex()
    {
        static QMutex m;
        return m;
    }
    static QStringList &lines()
    {
        static QStringList l;
        return l;
    }
    static QtMessageHandler &previous()
    {
        static QtMessageHandler h = nullptr;
        return h;
    }
};
