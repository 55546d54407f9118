#include "links/gatewayupdatelink.h"

#include "core/debugtrace.h"
#include "links/brokersession.h"
#include "protocol/gatewaymessages.h"

#define WAIT_TRACE() MAIN_TRACE_AS(lcUpdate, "waitRecvData")

namespace {

constexpr int kConsoleMessageBytes = 64;

} // namespace

GatewayUpdateLink::GatewayUpdateLink(BrokerSession &session, const QString &gatewayId, TargetKind target,
                                     QObject *parent)
    : QueuedReplyLink(parent), session(session), id(gatewayId), target(target)
{
    session.attach(this, id);
    connect(&client(), &MqttConnection::disconnected, this, &GatewayUpdateLink::becameUnavailable);
    // A device that stays silent may stand for a broker that does.
    connect(this, &UpdateLink::replyTimedOut, &session, &BrokerSession::checkAnswering);
}

GatewayUpdateLink::~GatewayUpdateLink()
{
    session.detach(this, id);
}

MqttConnection &GatewayUpdateLink::client() const
{
    return session.connection();
}

void GatewayUpdateLink::setGatewayId(const QString &gatewayId)
{
    if (gatewayId == id)
        return;
    session.detach(this, id);
    id = gatewayId;
    session.attach(this, id);
    forgetReceived();
}

void GatewayUpdateLink::take(const QByteArray &message)
{
    if (message.size() > kMaxAnswerMessageBytes) {
        WAIT_TRACE() << "mqtt message of" << message.size() << "bytes from" << id << "is no answer, dropped";
        return;
    }
    while (!received.isEmpty() &&
           (received.size() >= kMaxQueuedMessages || receivedBytes + message.size() > kMaxQueuedBytes))
        receivedBytes -= received.dequeue().size();
    received.enqueue(message);
    receivedBytes += message.size();
    inputArrived();
}

void GatewayUpdateLink::forgetReceived()
{
    received.clear();
    receivedBytes = 0;
}

// What came before a frame answers nothing that follows it.
void GatewayUpdateLink::writeFrame(const QByteArray &frame)
{
    forgetReceived();
    sinceFrame.start();
    client().publish(GatewayMessages::firmwarePushTopic(id), GatewayMessages::firmwarePushMessage(id, frame));
}

// A connect attempt starts the exchange: what came before (an earlier session's answers, a
// demo board's old request) answers nothing, also when nothing is published now.
void GatewayUpdateLink::sendBootEntry()
{
    forgetReceived();
    if (target == TargetKind::Gateway)
        client().publish(GatewayMessages::bootTopic(id), GatewayMessages::bootMessage());
    emit bootEntryDone();
}

QByteArray GatewayUpdateLink::takeReply()
{
    while (!received.isEmpty()) {
        const QByteArray message = received.dequeue();
        receivedBytes -= message.size();
        const QByteArray reply = replyIn(message);
        if (reply.isEmpty())
            continue;
        if (sinceFrame.isValid())
            lastRoundTrip = double(sinceFrame.nsecsElapsed()) / 1e6;
        return reply;
    }
    return QByteArray();
}

QByteArray GatewayUpdateLink::replyIn(const QByteArray &message)
{
    const GatewayMessages::Packet packet = GatewayMessages::readPacket(message);
    if (!packet.found) {
        if (packet.isJson && console)
            session.showChatter(id, consoleText(message), console);
        return QByteArray();
    }
    if (console)
        console(consoleText(message));
    WAIT_TRACE() << "get mqtt pacekt: " << packet.text;
    return packet.frame;
}

QString GatewayUpdateLink::consoleText(const QByteArray &message)
{
    if (message.size() <= kConsoleMessageBytes)
        return QString::fromUtf8(message);
    return QStringLiteral("%1... (%2 bytes)")
        .arg(QString::fromUtf8(message.left(kConsoleMessageBytes)))
        .arg(message.size());
}

void GatewayUpdateLink::traceWaitStart() const
{
    WAIT_TRACE() << "get mqtt message start------------\n";
}

void GatewayUpdateLink::traceWaitEnd(bool answered) const
{
    Q_UNUSED(answered)
    WAIT_TRACE() << "get mqtt message end------------\n";
}

QString GatewayUpdateLink::unavailableReason() const
{
    const QString problem = GatewayMessages::gatewayIdProblem(id);
    return problem.isEmpty() ? brokerProblem() : problem;
}

QString GatewayUpdateLink::brokerProblem() const
{
    if (client().state() == MqttConnection::Connected)
        return QString();
    const QString why = client().errorString();
    return why.isEmpty() ? QStringLiteral("the MQTT broker is not connected")
                         : QStringLiteral("the MQTT broker is not connected: ") + why;
}

QString GatewayUpdateLink::whatToCheck() const
{
    return QStringLiteral(
               "check the target kind (%1), that %2 is the gateway's id, that the gateway is online "
               "and that the device is powered")
        .arg(TargetKindText::name(target), id);
}
