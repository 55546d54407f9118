#include "update/queuedreplylink.h"

#include <climits>

QueuedReplyLink::QueuedReplyLink(QObject *parent) : UpdateLink(parent)
{
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, this, &QueuedReplyLink::onDeadline);
}

void QueuedReplyLink::awaitReply(int timeoutMs)
{
    waitingForReply = true;
    traceWaitStart();
    // A negative time-out is no time at all, never a wait for ever.
    const qint64 waitMs = msUntilSent() + qMax(0, timeoutMs);
    deadline.start(int(qMin<qint64>(waitMs, INT_MAX)));
    // Input that is already here is taken from the event loop, not from inside this call.
    if (hasInput() && !deliveryScheduled) {
        deliveryScheduled = true;
        QMetaObject::invokeMethod(this, &QueuedReplyLink::deliverQueuedInput, Qt::QueuedConnection);
    }
}

void QueuedReplyLink::cancel()
{
    waitingForReply = false;
    deadline.stop();
    UpdateLink::cancel();
}

void QueuedReplyLink::inputArrived()
{
    if (waitingForReply)
        takeQueuedReply();
}

void QueuedReplyLink::deliverQueuedInput()
{
    deliveryScheduled = false;
    if (waitingForReply)
        takeQueuedReply();
}

// True when a reply ended the wait.
bool QueuedReplyLink::takeQueuedReply()
{
    while (hasInput()) {
        const QByteArray reply = takeReply();
        if (reply.isEmpty())
            continue;
        waitingForReply = false;
        deadline.stop();
        traceWaitEnd(true);
        emit replyReceived(reply);
        return true;
    }
    return false;
}

void QueuedReplyLink::onDeadline()
{
    // What arrived in the same moment still counts.
    if (!waitingForReply || takeQueuedReply())
        return;
    waitingForReply = false;
    traceWaitEnd(false);
    replyWaitTimedOut();
    emit replyTimedOut();
}
