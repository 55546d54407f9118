#pragma once

#include "bootentry.h"
#include "bootentryport.h"
#include "updatelink.h"

class SerialChannel;

// The update session's way to a device on the serial port: frames and boot entry go to
// the port, replies come from the channel's reply queue.
class SerialUpdateLink : public UpdateLink, public BootEntryPort
{
public:
    SerialUpdateLink(SerialChannel &channel, TargetKind target);

    void writeFrame(const char *data, qint64 len) override;
    QByteArray waitReply(int timeoutMs) override;
    void sendBootEntry() override;
    bool usesGateway() const override { return false; }
    QString unavailableReason() const override;

    void write(const char *data, qint64 len) override;
    void write(const char *text) override;
    bool readWait(int timeoutMs) override;

private:
    SerialChannel &channel;
    TargetKind target;
};
