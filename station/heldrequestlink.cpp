#include "station/heldrequestlink.h"

HeldRequestLink::HeldRequestLink(UpdateLink &inner, QObject *parent) : UpdateLink(parent), inner(inner)
{
    connect(&inner, &UpdateLink::replyReceived, this, &UpdateLink::replyReceived);
    connect(&inner, &UpdateLink::replyTimedOut, this, &UpdateLink::replyTimedOut);
    connect(&inner, &UpdateLink::bootEntryDone, this, &UpdateLink::bootEntryDone);
    connect(&inner, &UpdateLink::pauseDone, this, &UpdateLink::pauseDone);
    connect(&inner, &UpdateLink::becameUnavailable, this, &UpdateLink::becameUnavailable);
}

void HeldRequestLink::hold(const QByteArray &splitLenRequest)
{
    held = splitLenRequest;
    bootEntryHeld = true;
    handOverPending = false;
}

void HeldRequestLink::writeFrame(const QByteArray &frame)
{
    // A frame written answers nothing held back any more.
    held.clear();
    bootEntryHeld = false;
    inner.writeFrame(frame);
}

// The device is in its bootloader already: asking it again would only cost a probe interval.
void HeldRequestLink::sendBootEntry()
{
    if (!bootEntryHeld) {
        inner.sendBootEntry();
        return;
    }
    bootEntryHeld = false;
    emit bootEntryDone();
}

void HeldRequestLink::awaitReply(int timeoutMs)
{
    if (held.isEmpty() || bootEntryHeld) {
        inner.awaitReply(timeoutMs);
        return;
    }
    handOverPending = true;
    QMetaObject::invokeMethod(this, &HeldRequestLink::handOver, Qt::QueuedConnection);
}

void HeldRequestLink::handOver()
{
    if (!handOverPending)
        return;
    handOverPending = false;
    const QByteArray reply = held;
    held.clear();
    emit replyReceived(reply);
}

bool HeldRequestLink::usesGateway() const
{
    return inner.usesGateway();
}

QString HeldRequestLink::unavailableReason() const
{
    return inner.unavailableReason();
}

QString HeldRequestLink::whatToCheck() const
{
    return inner.whatToCheck();
}

void HeldRequestLink::pause(qint64 ms)
{
    inner.pause(ms);
}

void HeldRequestLink::cancel()
{
    handOverPending = false;
    held.clear();
    bootEntryHeld = false;
    inner.cancel();
}
