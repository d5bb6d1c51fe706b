#include "firstshownprobe.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>

#include "procstats.h"

FirstShownProbe::FirstShownProbe(QObject *parent)
    : QObject(parent)
{
    QCoreApplication::instance()->installEventFilter(this);
}

bool FirstShownProbe::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_seen && event->type() == QEvent::Expose && watched->isWindowType()
        && static_cast<QWindow *>(watched)->isExposed()) {
        m_seen = true;
        // The expose is handled (and the window painted) before this runs.
        QTimer::singleShot(0, this, &FirstShownProbe::report);
    }
    return false;
}

void FirstShownProbe::report()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    std::printf("shown_ns %lld rss_kb %lld\n",
                static_cast<long long>(std::chrono::nanoseconds(now).count()),
                static_cast<long long>(ProcStats::residentKb()));
    std::fflush(stdout);
    QCoreApplication::exit(0);
}
