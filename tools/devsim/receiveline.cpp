#include "receiveline.h"

#include "wiretiming.h"

namespace {

constexpr qint64 kNsPerMs = 1000000;

} // namespace

ReceiveLine::ReceiveLine(QObject *parent) : QObject(parent)
{
    m_clock.start();
    connect(&m_arrivalTimer, &NanoTimer::timeout, this, &ReceiveLine::releaseArrived);
}

void ReceiveLine::push(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_baudRate <= 0) {
        emit arrived(bytes);
        return;
    }
    // An idle line starts the first byte now; a busy one queues it behind the others.
    if (m_onLine.isEmpty())
        m_lineFreeNs = qMax(m_lineFreeNs, m_clock.nsecsElapsed());
    m_onLine.append(bytes);
    scheduleNextArrival();
}

qint64 ReceiveLine::lineTimeNs(qint64 byteCount) const
{
    return WireTiming::lineNs(byteCount, m_baudRate);
}

qint64 ReceiveLine::bytesArrivedBy(qint64 nowNs) const
{
    if (nowNs >= m_lineFreeNs + lineTimeNs(m_onLine.size()))
        return m_onLine.size();
    if (nowNs <= m_lineFreeNs)
        return 0;
    return WireTiming::charactersIn(nowNs - m_lineFreeNs, m_baudRate);
}

void ReceiveLine::releaseArrived()
{
    const qint64 count = bytesArrivedBy(m_clock.nsecsElapsed());
    if (count > 0) {
        const QByteArray bytes = m_onLine.left(int(count));
        m_onLine.remove(0, int(count));
        m_lineFreeNs += lineTimeNs(count);
        m_releaseLatenessNs = qMax<qint64>(0, m_clock.nsecsElapsed() - m_lineFreeNs);
        emit arrived(bytes);
        m_releaseLatenessNs = 0;
    }
    scheduleNextArrival();
}

void ReceiveLine::scheduleNextArrival()
{
    if (m_onLine.isEmpty() || m_arrivalTimer.isActive())
        return;
    // Bytes are released in chunks of about a millisecond, but the last one exactly when it
    // has arrived: the device answers a frame only once its last byte is in.
    const qint64 now = m_clock.nsecsElapsed();
    const qint64 nextByteNs = m_lineFreeNs + lineTimeNs(1) - now;
    const qint64 allArrivedNs = m_lineFreeNs + lineTimeNs(m_onLine.size()) - now;
    m_arrivalTimer.start(qMin(allArrivedNs, qMax(nextByteNs, kNsPerMs)));
}
