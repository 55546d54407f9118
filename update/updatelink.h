#pragma once

#include <QByteArray>
#include <QtGlobal>

// What the update session needs from the way to the device. The window implements it by
// reading its link check box afresh on every call; the command-line flasher and the
// tests use a fixed link.
class UpdateLink
{
public:
    virtual ~UpdateLink() = default;

    // Sends one bootloader frame, unchanged.
    virtual void writeFrame(const char *data, qint64 len) = 0;
    // The next reply frame, or an empty array when none came within the time-out.
    virtual QByteArray waitReply(int timeoutMs) = 0;
    // Asks the device to enter its bootloader (nothing for a demo board).
    virtual void sendBootEntry() = 0;
    // True when the frames travel through a gateway, which needs longer waits.
    virtual bool usesGateway() const = 0;
    // Pauses while the caller's events keep running.
    virtual void delayMs(uint ms) = 0;
};
