#include "serialupdatelink.h"

#include "serialchannel.h"

SerialUpdateLink::SerialUpdateLink(SerialChannel &channel, TargetKind target)
    : channel(channel), target(target)
{
}

void SerialUpdateLink::writeFrame(const char *data, qint64 len)
{
    channel.write(data, len);
}

QByteArray SerialUpdateLink::waitReply(int timeoutMs)
{
    return channel.takeReply(timeoutMs, [this] { return stopRequested(); });
}

void SerialUpdateLink::sendBootEntry()
{
    performBootEntry(target, *this, false);
    // The module answers its two commands; those answers are not the bootloader's request,
    // which may already have come.
    if (target == TargetKind::Module)
        channel.discardAllButFrames(QStringLiteral("in answer to the boot entry"));
}

QString SerialUpdateLink::unavailableReason() const
{
    return channel.unavailableReason();
}

void SerialUpdateLink::write(const char *data, qint64 len)
{
    channel.write(data, len);
}

void SerialUpdateLink::write(const char *text)
{
    channel.write(text);
}

bool SerialUpdateLink::readWait(int timeoutMs)
{
    return channel.readWait(timeoutMs);
}
