#include "serial/replycutter.h"

#include "core/debugtrace.h"
#include "protocol/bootframe.h"
#include "protocol/wiretiming.h"

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
    loneByteWaited = false;
    burst.append(bytes);
    boundBurst();
    if (cutFrames())
        emit replyQueued();
}

int ReplyCutter::frameTotalAt(int offset) const
{
    const int total = BootFrame::readLe16(reinterpret_cast<const uint8_t *>(burst.constData()) + offset) + 2;
    return total >= kMinimumFrameTotal && total <= kMaxReplyFrameLength + 2 ? total : 0;
}

// A noisy line must not grow the burst: beyond what is searched, only the bytes that could
// still start a frame are kept, and the burst is no answer any more.
void ReplyCutter::boundBurst()
{
    if (burst.size() <= kMaxScannedBurst)
        return;
    const int keep = kMaxReplyFrameLength + 1;
    const int cut = burst.size() - keep;
    droppedBytes += cut;
    burst.remove(0, cut);
    scanFrom = qMax(0, scanFrom - cut);
    if (!stale)
        dropReason = QStringLiteral("in a burst too long for a reply");
    stale = true;
}

// Every whole frame with a good CRC is a reply, also one right behind another (a device that
// restarts its request at once after RETURN FAIL); bytes before a frame are dropped, and what
// follows it is no answer unless it holds a frame of its own.
bool ReplyCutter::cutFrames()
{
    bool queued = false;
    int offset = scanFrom;
    while (offset + 2 <= burst.size()) {
        const int total = frameTotalAt(offset);
        const bool complete = total > 0 && offset + total <= burst.size();
        if (!complete || !BootFrame::checkBootFrame(burst.mid(offset, total))) {
            // Offsets that can never start a frame need not be looked at again.
            if (offset == scanFrom && (total == 0 || complete))
                ++scanFrom;
            ++offset;
            continue;
        }
        if (offset > 0)
            TRACE(lcSerial) << "mySerialPort dropped" << offset
                            << "bytes before a reply frame:" << burst.left(offset).toHex(' ');
        const QByteArray reply = burst.mid(offset, total);
        traceCut(reply);
        enqueue(reply);
        queued = true;
        burst.remove(0, offset + total);
        scanFrom = 0;
        offset = 0;
        stale = true;
        dropReason = QStringLiteral("that trailed a reply frame");
    }
    return queued;
}

// The length field of a reply frame has come, the rest not yet: at high rates a USB adapter
// may leave gaps longer than the silence inside one frame. The burst waits for the rest; if it
// never comes, the reply wait runs out and the next frame written drops it.
bool ReplyCutter::awaitsRestOfFrame() const
{
    if (scanFrom != 0 || burst.size() < 2)
        return false;
    const int total = frameTotalAt(0);
    return total > 0 && burst.size() < total &&
           (burst.size() < 3 || BootFrame::isReplyCommand(uint8_t(burst.at(2))));
}

void ReplyCutter::silenceElapsed()
{
    // Bytes that came while this thread was held up arrived before the silence was over.
    if (readWaitingBytes && readWaitingBytes())
        return;
    if (awaitsRestOfFrame())
        return;
    if (holdsLoneByte())
        return;
    if (stale) {
        if (droppedBytes + burst.size() > 0)
            TRACE(lcSerial).noquote()
                << "mySerialPort dropped" << droppedBytes + burst.size() << "received bytes" << dropReason;
    } else if (!burst.isEmpty()) {
        traceCut(burst);
        enqueue(burst);
        endBurst();
        emit replyQueued();
        return;
    }
    endBurst();
}

// A lone byte is no answer of any kind (a module's is four bytes), but it may be the first half of
// a frame's length field that an adapter sent on ahead: it waits a while for the rest, and is
// noise when nothing follows.
bool ReplyCutter::holdsLoneByte()
{
    if (burst.size() != 1 || scanFrom != 0 || stale)
        return false;
    if (!loneByteWaited) {
        loneByteWaited = true;
        silenceTimer.start(kLoneByteWaitMs);
        return true;
    }
    stale = true;
    dropReason = QStringLiteral("alone: a lone byte is no reply");
    return false;
}

void ReplyCutter::traceCut(const QByteArray &reply) const
{
    TRACE(lcSerial) << silence << baud << WireTiming::lineMs(50, baud) << "run uartRecvArray:" << reply.size()
                    << reply.toHex(' ');
}

void ReplyCutter::endBurst()
{
    burst.clear();
    scanFrom = 0;
    stale = false;
    droppedBytes = 0;
}

void ReplyCutter::enqueue(const QByteArray &reply)
{
    if (replies.size() >= kMaxQueuedReplies) {
        const QByteArray oldest = replies.dequeue();
        TRACE(lcSerial) << "mySerialPort reply queue full, dropped the oldest reply:" << oldest.toHex(' ');
    }
    replies.enqueue(reply);
}

void ReplyCutter::discardReceived(const QString &why)
{
    for (const QByteArray &reply : qAsConst(replies))
        TRACE(lcSerial).noquote() << "mySerialPort dropped reply" << reply.toHex(' ') << why;
    replies.clear();
    if (!burst.isEmpty())
        TRACE(lcSerial).noquote() << "mySerialPort dropped" << burst.size() << "received bytes" << why;
    silenceTimer.stop();
    endBurst();
}

void ReplyCutter::discardAllButFrames(const QString &why)
{
    QQueue<QByteArray> frames;
    for (const QByteArray &reply : qAsConst(replies)) {
        if (BootFrame::checkBootFrame(reply))
            frames.enqueue(reply);
        else
            TRACE(lcSerial).noquote() << "mySerialPort dropped reply" << reply.toHex(' ') << why;
    }
    replies = frames;
    if (!burst.isEmpty() && !stale) {
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
