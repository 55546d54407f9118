#include "radiohop.h"

namespace {

constexpr qint64 kNsPerMs = 1000000;

} // namespace

RadioHop::RadioHop(int latencyMs, QObject *parent) : QObject(parent), m_latencyNs(latencyMs * kNsPerMs)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    // A coarse timer may fire early by a twentieth of its interval: the hop would be short.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &RadioHop::deliverDue);
}

void RadioHop::send(const QByteArray &bytes)
{
    if (m_latencyNs <= 0) {
        emit delivered(bytes);
        return;
    }
    // Otherwise the timer is armed for an older message already, or deliverDue() is running
    // and arms it for the oldest left when it is done.
    const bool oldest = m_inFlight.isEmpty();
    m_inFlight.enqueue({m_clock.nsecsElapsed() + m_latencyNs, bytes});
    if (oldest)
        armForOldest();
}

// The timer was armed for the oldest message, so that one is due whatever the clock reads;
// the others already due go with it.
void RadioHop::deliverDue()
{
    const qint64 now = m_clock.nsecsElapsed();
    do {
        // A handler may send again; take the message out before it runs.
        const QByteArray bytes = m_inFlight.dequeue().bytes;
        emit delivered(bytes);
    } while (!m_inFlight.isEmpty() && m_inFlight.head().dueNs <= now);
    if (!m_inFlight.isEmpty() && !m_timer.isActive())
        armForOldest();
}

void RadioHop::armForOldest()
{
    const qint64 remainingNs = m_inFlight.head().dueNs - m_clock.nsecsElapsed();
    // Rounded up: a hop is never shorter than asked.
    m_timer.start(int(qMax<qint64>(0, (remainingNs + kNsPerMs - 1) / kNsPerMs)));
}
