#pragma once

#include <QByteArray>
#include <QObject>
#include <QQueue>
#include <QTimer>
#include <functional>

// Cuts the bytes received on the serial line into replies, on the thread that receives
// them. A bootloader frame is handed over the moment its length field says it is complete
// and its CRC holds. Anything else (a module's answer, a text, noise) ends after a silence
// of 70 character times. Within one burst, bytes before and after a frame (a module's
// answer glued to the bootloader's request, a stray byte) are dropped, so they never pass
// for a reply of their own. Replies wait in a bounded queue and are taken oldest first;
// nothing is overwritten.
class ReplyCutter : public QObject
{
    Q_OBJECT
public:
    // A chattering device must not grow memory: beyond this the oldest reply is dropped.
    static constexpr int kMaxQueuedReplies = 64;
    // Bootloader replies are short; a length field above this (the first bytes of a text or
    // of a module's answer) starts no frame.
    static constexpr int kMaxReplyFrameLength = 1024;
    // A burst longer than this is noise: only its last bytes, which may still start a frame,
    // are kept, and it is no reply of its own.
    static constexpr int kMaxScannedBurst = 4096;

    // How long a lone byte waits for the rest of its frame: an adapter may hand on the first
    // byte of a frame alone (a USB packet's latency, a loaded machine).
    static constexpr int kLoneByteWaitMs = 200;

    explicit ReplyCutter(QObject *parent = nullptr);

    void setBaudRate(qint32 baudRate);
    int silenceMs() const { return silence; }

    // Asked when the silence has passed: reads bytes that are waiting but were not yet
    // taken in (the receiving thread was held up) and returns true when there were any.
    // Those bytes still belong to the burst.
    void setWaitingBytesReader(std::function<bool()> reader) { readWaitingBytes = std::move(reader); }

    void feed(const QByteArray &bytes);
    // What was received so far answers nothing that follows: the queued replies and the
    // burst in progress are dropped, with a trace that says why.
    void discardReceived(const QString &why);
    // Like discardReceived, but bootloader frames stay, also one that is still arriving in
    // the burst in progress: the bootloader may send its request right behind other answers.
    void discardAllButFrames(const QString &why);

    // The silence has passed: the burst in progress ends. The silence timer calls it; whoever
    // drives the cutter without an event loop may call it too.
    void silenceElapsed();

    bool hasReply() const { return !replies.isEmpty(); }
    int queuedReplies() const { return replies.size(); }
    QByteArray takeReply();
    // Everything received and not yet taken: the queued replies, then the burst not yet cut.
    QByteArray untakenBytes() const;

signals:
    // A reply was queued; emitted once the cutter's own state is settled, so a handler may
    // take it, discard what was received or write again.
    void replyQueued();

private:
    // True when a frame was queued.
    bool cutFrames();
    void boundBurst();
    bool awaitsRestOfFrame() const;
    bool holdsLoneByte();
    int frameTotalAt(int offset) const;
    void enqueue(const QByteArray &reply);
    void endBurst();
    void traceCut(const QByteArray &reply) const;

    qint32 baud = 0;
    int silence = 1;
    QTimer silenceTimer;
    QByteArray burst;
    // Offsets of the burst below this start no frame.
    int scanFrom = 0;
    // The burst is no answer unless a frame turns up in it (it follows a frame, was discarded,
    // or grew too long for a reply).
    bool stale = false;
    bool loneByteWaited = false;
    qint64 droppedBytes = 0;
    QString dropReason;
    QQueue<QByteArray> replies;
    std::function<bool()> readWaitingBytes;
};
