#include "tools/devsim/receiveline.h"

#include "protocol/wiretiming.h"

namespace {

constexpr qint64 kNsPerMs = 1000000;

} // namespace

ReceiveLine::ReceiveLine(QObject *parent) : QObject(parent)
{
    clock.start();
    connect(&arrivalTimer, &NanoTimer::timeout, this, &ReceiveLine::releaseArrived);
}

void ReceiveLine::push(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (lineRate <= 0) {
        emit arrived(bytes);
        return;
    }
    // An idle line starts the first byte now; a busy one queues it behind the others.
    if (onLine.isEmpty())
        lineFreeNs = qMax(lineFreeNs, clock.nsecsElapsed());
    onLine.append(bytes);
    scheduleNextArrival();
}

qint64 ReceiveLine::lineTimeNs(qint64 byteCount) const
{
    return WireTiming::lineNs(byteCount, lineRate);
}

qint64 ReceiveLine::bytesArrivedBy(qint64 nowNs) const
{
    if (nowNs >= lineFreeNs + lineTimeNs(onLine.size()))
        return onLine.size();
    if (nowNs <= lineFreeNs)
        return 0;
    return WireTiming::charactersIn(nowNs - lineFreeNs, lineRate);
}

void ReceiveLine::releaseArrived()
{
    const qint64 count = bytesArrivedBy(clock.nsecsElapsed());
    if (count > 0) {
        const QByteArray bytes = onLine.left(int(count));
        onLine.remove(0, int(count));
        lineFreeNs += lineTimeNs(count);
        latenessNs = qMax<qint64>(0, clock.nsecsElapsed() - lineFreeNs);
        emit arrived(bytes);
        latenessNs = 0;
    }
    scheduleNextArrival();
}

void ReceiveLine::scheduleNextArrival()
{
    if (onLine.isEmpty() || arrivalTimer.isActive())
        return;
    // Bytes are released in chunks of about a millisecond, but the last one exactly when it
    // has arrived: the device answers a frame only once its last byte is in.
    const qint64 now = clock.nsecsElapsed();
    const qint64 nextByteNs = lineFreeNs + lineTimeNs(1) - now;
    const qint64 allArrivedNs = lineFreeNs + lineTimeNs(onLine.size()) - now;
    arrivalTimer.start(qMin(allArrivedNs, qMax(nextByteNs, kNsPerMs)));
}
