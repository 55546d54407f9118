#include "core/eventwait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <climits>

namespace EventWait {

namespace {

// A timer counts in int milliseconds; a longer wait re-arms it when it fires.
int timerMs(qint64 ms)
{
    return int(qMin<qint64>(ms, INT_MAX));
}

} // namespace

void delayMs(qint64 ms, const std::function<bool()> &stop)
{
    waitUntil([&stop] { return stop && stop(); }, ms);
}

bool waitUntil(const std::function<bool()> &done, qint64 timeoutMs, QEventLoop::ProcessEventsFlags flags)
{
    QElapsedTimer clock;
    clock.start();
    if (done())
        return true;
    if (timeoutMs <= 0 || !QCoreApplication::instance())
        return false;

    // The timer only exists to wake the dispatcher at the deadline.
    QTimer wakeUp;
    wakeUp.setSingleShot(true);
    wakeUp.setTimerType(Qt::PreciseTimer);
    wakeUp.start(timerMs(timeoutMs));
    while (clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(flags | QEventLoop::WaitForMoreEvents);
        if (done())
            return true;
        if (!wakeUp.isActive() && clock.elapsed() < timeoutMs)
            wakeUp.start(timerMs(timeoutMs - clock.elapsed()));
    }
    return done();
}

} // namespace EventWait
