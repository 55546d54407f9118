#pragma once

#include "links/gatewayupdatelink.h"
#include "links/serialupdatelink.h"
#include "protocol/targetkind.h"
#include "update/updatelink.h"

#include <functional>

class BrokerSession;
class SerialChannel;

// The window's link: it owns a serial and a gateway link and, on every call, takes the one
// the window's link check box chooses at that moment, so the choice can change between two
// frames. The target kind and the gateway id are read afresh too.
class WindowUpdateLink : public UpdateLink
{
    Q_OBJECT
public:
    // What the window decides, asked on every call.
    struct Choice
    {
        std::function<bool()> throughGateway;
        std::function<TargetKind()> target;
        std::function<QString()> gatewayId;
        // Called when a reply wait through the gateway starts.
        std::function<void()> gatewayWaitStarted;
        // Why the chosen gateway cannot answer (its topics are not subscribed); empty when it can.
        std::function<QString()> gatewayProblem;
    };

    WindowUpdateLink(SerialChannel &channel, BrokerSession &session, Choice choice,
                     QObject *parent = nullptr);

    GatewayUpdateLink &gatewayLink() { return gateway; }
    SerialUpdateLink &serialLink() { return serial; }

    void writeFrame(const QByteArray &frame) override;
    // Module commands always take the serial port; a gateway target asks through the broker
    // while the check box is set.
    void sendBootEntry() override;
    void awaitReply(int timeoutMs) override;
    bool usesGateway() const override;
    QString unavailableReason() const override;
    QString whatToCheck() const override;
    void cancel() override;

private:
    QueuedReplyLink &chosen();
    const QueuedReplyLink &chosen() const;
    void forward(QueuedReplyLink &link);
    void refreshChoice();

    Choice choice;
    SerialUpdateLink serial;
    GatewayUpdateLink gateway;
};
