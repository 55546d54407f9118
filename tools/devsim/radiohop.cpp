#include "tools/devsim/radiohop.h"

namespace {

constexpr qint64 kNsPerMs = 1000000;

} // namespace

RadioHop::RadioHop(int latencyMs, QObject *parent) : QObject(parent), latencyNs(latencyMs * kNsPerMs)
{
    hopClock.start();
    dueTimer.setSingleShot(true);
    // A coarse timer may fire early by a twentieth of its interval: the hop would be short.
    dueTimer.setTimerType(Qt::PreciseTimer);
    connect(&dueTimer, &QTimer::timeout, this, &RadioHop::deliverDue);
}

void RadioHop::send(const QByteArray &bytes)
{
    if (latencyNs <= 0) {
        emit delivered(bytes);
        return;
    }
    // Otherwise the timer is armed for an older message already, or deliverDue() is running
    // and arms it for the oldest left when it is done.
    const bool oldest = inFlight.isEmpty();
    inFlight.enqueue({hopClock.nsecsElapsed() + latencyNs, bytes});
    if (oldest)
        armForOldest();
}

// The timer was armed for the oldest message, so that one is due whatever the clock reads;
// the others already due go with it.
void RadioHop::deliverDue()
{
    const qint64 now = hopClock.nsecsElapsed();
    do {
        // A handler may send again; take the message out before it runs.
        const QByteArray bytes = inFlight.dequeue().bytes;
        emit delivered(bytes);
    } while (!inFlight.isEmpty() && inFlight.head().dueNs <= now);
    if (!inFlight.isEmpty() && !dueTimer.isActive())
        armForOldest();
}

void RadioHop::armForOldest()
{
    const qint64 remainingNs = inFlight.head().dueNs - hopClock.nsecsElapsed();
    // Rounded up: a hop is never shorter than asked.
    dueTimer.start(int(qMax<qint64>(0, (remainingNs + kNsPerMs - 1) / kNsPerMs)));
}
