#pragma once

#include "update/updatelink.h"

#include <QByteArray>
#include <QPointer>

// A link that starts a session from a SPLIT LEN request already received: the first boot entry
// is done at once without sending anything, and the first reply wait hands over the held request
// (never before it returns). Everything after that goes to the link underneath. So a device that
// announced itself to a station's probe is updated without being asked into its bootloader again.
class HeldRequestLink : public UpdateLink
{
    Q_OBJECT
public:
    explicit HeldRequestLink(UpdateLink &inner, QObject *parent = nullptr);

    // The next session starts from `splitLenRequest`.
    void hold(const QByteArray &splitLenRequest);

    void writeFrame(const QByteArray &frame) override;
    void sendBootEntry() override;
    void awaitReply(int timeoutMs) override;
    bool usesGateway() const override;
    QString unavailableReason() const override;
    QString whatToCheck() const override;
    void pause(qint64 ms) override;
    void cancel() override;

private:
    void handOver();

    UpdateLink &inner;
    QByteArray held;
    bool bootEntryHeld = false;
    bool handOverPending = false;
};
