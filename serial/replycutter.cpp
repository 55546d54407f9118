#include "replycutter.h"

#include "bootframe.h"
#include "debugtrace.h"
#include "wiretiming.h"

namespace {

// The smallest reply frame: length field, command byte and CRC.
constexpr int kMinimumFrameTotal = 4;

} // namespace

ReplyCutter::ReplyCutter(QObject *parent) : QObject(parent)
{
    silenceTimer.setSingleShot(true);
    // A coarse timer may fire several ms late, which at high rates is many character times.
    silenceTimer.setTimerType(Qt::PreciseTimer);
    connect(&silenceTimer, &QTimer::timeout, this, &ReplyCutter::silenceElapsed);
    setBaudRate(0);
}

void ReplyCutter::setBaudRate(qint32 baudRate)
{
    baud = baudRate;
    silence = WireTiming::silenceMs(baudRate);
}

void ReplyCutter::feed(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    silenceTimer.start(silence);
    if (dropping) {
        droppedBytes += bytes.size();
        return;
    }
    burst.append(bytes);
    if (cutFrameIfComplete())
        emit replyQueued();
}

int ReplyCutter::frameTotalAt(int offset) const
{
    const int total = readLe16(reinterpret_cast<const uint8_t *>(burst.constData()) + offset) + 2;
    return total >= kMinimumFrameTotal && total <= kMaxReplyFrameLength + 2 ? total : 0;
}

// The first offset at which a whole frame with a good CRC stands wins; an offset whose
// frame is not complete yet may still win later.
bool ReplyCutter::cutFrameIfComplete()
{
    if (burst.size() > kMaxScannedBurst)
        return false;
    for (int offset = scanFrom; offset + 2 <= burst.size(); ++offset) {
        const int total = frameTotalAt(offset);
        const bool complete = total > 0 && offset + total <= burst.size();
        const bool frame = complete && checkBootFrame(burst.mid(offset, total));
        if (!frame) {
            // Offsets that can never start a frame need not be looked at again.
            if (offset == scanFrom && (total == 0 || complete))
                ++scanFrom;
            continue;
        }
        if (offset > 0)
            TRACE() << "mySerialPort dropped" << offset
                    << "bytes before a reply frame:" << burst.left(offset).toHex(' ');
        const QByteArray reply = burst.mid(offset, total);
        traceCut(reply);
        dropRestOfBurst(burst.size() - offset - total, QStringLiteral("that trailed a reply frame"));
        enqueue(reply);
        return true;
    }
    return false;
}

void ReplyCutter::silenceElapsed()
{
    // Bytes that came while this thread was held up arrived before the silence was over.
    if (readWaitingBytes && readWaitingBytes())
        return;
    if (dropping) {
        if (droppedBytes > 0)
            TRACE().noquote() << "mySerialPort dropped" << droppedBytes << "received bytes" << dropReason;
    } else if (stale) {
        TRACE().noquote() << "mySerialPort dropped" << burst.size() << "received bytes" << dropReason;
    } else if (!burst.isEmpty()) {
        traceCut(burst);
        enqueue(burst);
        endBurst();
        emit replyQueued();
        return;
    }
    endBurst();
}

void ReplyCutter::traceCut(const QByteArray &reply) const
{
    TRACE() << silence << baud << WireTiming::lineMs(50, baud) << "run uartRecvArray:" << reply.size()
            << reply.toHex(' ');
}

void ReplyCutter::endBurst()
{
    burst.clear();
    scanFrom = 0;
    dropping = false;
    stale = false;
    droppedBytes = 0;
}

void ReplyCutter::dropRestOfBurst(qint64 alreadyDropped, const QString &why)
{
    burst.clear();
    scanFrom = 0;
    dropping = true;
    droppedBytes = alreadyDropped;
    dropReason = why;
}

void ReplyCutter::enqueue(const QByteArray &reply)
{
    if (replies.size() >= kMaxQueuedReplies) {
        const QByteArray oldest = replies.dequeue();
        TRACE() << "mySerialPort reply queue full, dropped the oldest reply:" << oldest.toHex(' ');
    }
    replies.enqueue(reply);
}

void ReplyCutter::discardReceived(const QString &why)
{
    for (const QByteArray &reply : qAsConst(replies))
        TRACE().noquote() << "mySerialPort dropped reply" << reply.toHex(' ') << why;
    replies.clear();
    if (!burst.isEmpty())
        TRACE().noquote() << "mySerialPort dropped" << burst.size() << "received bytes" << why;
    silenceTimer.stop();
    endBurst();
}

void ReplyCutter::discardAllButFrames(const QString &why)
{
    QQueue<QByteArray> frames;
    for (const QByteArray &reply : qAsConst(replies)) {
        if (checkBootFrame(reply))
            frames.enqueue(reply);
        else
            TRACE().noquote() << "mySerialPort dropped reply" << reply.toHex(' ') << why;
    }
    replies = frames;
    if (!burst.isEmpty() && !dropping) {
        stale = true;
        dropReason = why;
    }
}

QByteArray ReplyCutter::takeReply()
{
    return replies.isEmpty() ? QByteArray() : replies.dequeue();
}

QByteArray ReplyCutter::untakenBytes() const
{
    QByteArray bytes;
    for (const QByteArray &reply : replies)
        bytes.append(reply);
    return bytes + burst;
}
