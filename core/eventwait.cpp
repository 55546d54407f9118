#include "eventwait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <climits>

namespace EventWait {

void delayMs(qint64 ms)
{
    waitUntil([] { return false; }, int(qBound<qint64>(0, ms, INT_MAX)));
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs, QEventLoop::ProcessEventsFlags flags)
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
    wakeUp.start(timeoutMs);
    while (clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(flags | QEventLoop::WaitForMoreEvents);
        if (done())
            return true;
        if (!wakeUp.isActive() && clock.elapsed() < timeoutMs)
            wakeUp.start(int(timeoutMs - clock.elapsed()));
    }
    return done();
}

} // namespace EventWait
