#include "serialupdatelink.h"

#include "eventwait.h"
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
    return channel.getRecv(timeoutMs);
}

void SerialUpdateLink::sendBootEntry()
{
    performBootEntry(target, *this, false);
}

void SerialUpdateLink::delayMs(uint ms)
{
    EventWait::delayMs(ms);
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
