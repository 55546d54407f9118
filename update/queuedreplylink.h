#pragma once

#include "update/updatelink.h"

#include <QTimer>

// A link whose transport queues what arrives: a reply wait takes the first reply that is or
// comes into the queue, or times out at its deadline. The serial and the gateway link are such
// links; they only say what is queued and call inputArrived() when something comes.
class QueuedReplyLink : public UpdateLink
{
    Q_OBJECT
public:
    explicit QueuedReplyLink(QObject *parent = nullptr);

    void awaitReply(int timeoutMs) override;
    void cancel() override;
    bool isWaitingForReply() const { return waitingForReply; }

protected:
    // The next reply that arrived since the last frame, or an empty array. May consume input
    // that turns out to be no reply.
    virtual QByteArray takeReply() = 0;
    // Whether takeReply() may have something.
    virtual bool hasInput() const = 0;
    // Time until the last written frame has left the line.
    virtual qint64 msUntilSent() const { return 0; }
    // Traces around one reply wait, as each link words them.
    virtual void traceWaitStart() const {}
    virtual void traceWaitEnd(bool answered) const { Q_UNUSED(answered) }
    // A wait ended without a reply, right before replyTimedOut: the frame's answer may still come.
    virtual void replyWaitTimedOut() {}

    // Called when input arrived: a running wait takes it.
    void inputArrived();

private:
    bool takeQueuedReply();
    void deliverQueuedInput();
    void onDeadline();

    QTimer deadline;
    bool waitingForReply = false;
    bool deliveryScheduled = false;
};
