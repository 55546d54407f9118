#include "app/windowupdatelink.h"

#include "protocol/gatewaymessages.h"

WindowUpdateLink::WindowUpdateLink(SerialChannel &channel, BrokerSession &session, Choice choice,
                                   QObject *parent)
    : UpdateLink(parent), choice(std::move(choice)), serial(channel, TargetKind::Module),
      gateway(session, QString(), TargetKind::Gateway)
{
    forward(serial);
    forward(gateway);
}

// Only the chosen link's wait runs, so the other never answers; but losing the other link's
// way (the serial port while frames go through the broker) ends nothing.
void WindowUpdateLink::forward(QueuedReplyLink &link)
{
    connect(&link, &UpdateLink::replyReceived, this, &UpdateLink::replyReceived);
    connect(&link, &UpdateLink::replyTimedOut, this, &UpdateLink::replyTimedOut);
    connect(&link, &UpdateLink::bootEntryDone, this, &UpdateLink::bootEntryDone);
    connect(&link, &UpdateLink::becameUnavailable, this, [this, &link] {
        if (&chosen() == &link)
            emit becameUnavailable();
    });
}

void WindowUpdateLink::refreshChoice()
{
    const TargetKind target = choice.target();
    serial.setTarget(target);
    gateway.setTarget(target);
    gateway.setGatewayId(choice.gatewayId());
}

QueuedReplyLink &WindowUpdateLink::chosen()
{
    return usesGateway() ? static_cast<QueuedReplyLink &>(gateway) : serial;
}

const QueuedReplyLink &WindowUpdateLink::chosen() const
{
    return usesGateway() ? static_cast<const QueuedReplyLink &>(gateway) : serial;
}

void WindowUpdateLink::writeFrame(const QByteArray &frame)
{
    refreshChoice();
    chosen().writeFrame(frame);
}

void WindowUpdateLink::sendBootEntry()
{
    refreshChoice();
    if (!usesGateway()) {
        serial.sendBootEntry();
    } else if (choice.target() == TargetKind::Module) {
        // The answer comes through the broker; what the gateway sent before answers nothing.
        gateway.forgetReceived();
        serial.sendBootEntry();
    } else {
        gateway.sendBootEntry();
    }
}

void WindowUpdateLink::awaitReply(int timeoutMs)
{
    refreshChoice();
    if (usesGateway() && choice.gatewayWaitStarted)
        choice.gatewayWaitStarted();
    chosen().awaitReply(timeoutMs);
}

bool WindowUpdateLink::usesGateway() const
{
    return choice.throughGateway();
}

QString WindowUpdateLink::unavailableReason() const
{
    // Frames through the gateway do not need the serial port.
    if (!usesGateway())
        return serial.unavailableReason();
    QString problem = GatewayMessages::gatewayIdProblem(choice.gatewayId());
    if (problem.isEmpty())
        problem = gateway.brokerProblem();
    if (problem.isEmpty() && choice.gatewayProblem)
        problem = choice.gatewayProblem();
    return problem;
}

void WindowUpdateLink::cancel()
{
    serial.cancel();
    gateway.cancel();
    UpdateLink::cancel();
}

QString WindowUpdateLink::whatToCheck() const
{
    return chosen().whatToCheck();
}
