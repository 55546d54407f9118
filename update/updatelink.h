#pragma once

#include "eventwait.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <utility>

// What the update session needs from the way to the device. The window implements it by
// reading its link check box afresh on every call; the command-line flasher and the
// tests use a fixed link.
class UpdateLink
{
public:
    virtual ~UpdateLink() = default;

    // Sends one bootloader frame, unchanged.
    virtual void writeFrame(const char *data, qint64 len) = 0;
    // The next reply, or an empty array when none came within the time-out, the link went
    // away or the session asked to stop.
    virtual QByteArray waitReply(int timeoutMs) = 0;
    // Asks the device to enter its bootloader (nothing for a demo board).
    virtual void sendBootEntry() = 0;
    // True when the frames travel through a gateway, which needs longer waits.
    virtual bool usesGateway() const = 0;
    // Pauses while the caller's events keep running; ends early when the session stops.
    virtual void delayMs(uint ms)
    {
        EventWait::delayMs(ms, [this] { return stopRequested(); });
    }
    // Why no frame can travel now (the port is closed or was lost); empty while it can.
    virtual QString unavailableReason() const { return QString(); }

    // Set by the session while it runs: every wait of the link ends early once it holds.
    void setStopCheck(std::function<bool()> check) { stopCheck = std::move(check); }
    bool stopRequested() const { return stopCheck && stopCheck(); }

private:
    std::function<bool()> stopCheck;
};
