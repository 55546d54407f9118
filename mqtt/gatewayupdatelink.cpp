#include "gatewayupdatelink.h"

#include "debugtrace.h"
#include "eventwait.h"
#include "gatewaymessages.h"
#include "mqttclient.h"

#include <QElapsedTimer>

#define WAIT_TRACE() MAIN_TRACE_AS("waitRecvData")

GatewayUpdateLink::GatewayUpdateLink(MqttClient &client, std::function<QString()> gatewayId,
                                     TargetKind target, QObject *parent)
    : QObject(parent), client(client), gatewayId(std::move(gatewayId)), target(target)
{
    connect(&client, &MqttClient::messageReceived, this, &GatewayUpdateLink::enqueue);
}

// Only the chosen gateway's answers count: the client may still be subscribed to others.
void GatewayUpdateLink::enqueue(const QByteArray &message, const QString &topic)
{
    if (!topic.startsWith(GatewayMessages::gatewayTopic(QStringLiteral("thing/sv/"), gatewayId())))
        return;
    if (received.size() >= kMaxQueuedMessages)
        received.dequeue();
    received.enqueue(message);
}

// What came before a frame answers nothing that follows it.
void GatewayUpdateLink::writeFrame(const char *data, qint64 len)
{
    received.clear();
    const QString id = gatewayId();
    client.publish(GatewayMessages::firmwarePushTopic(id),
                   GatewayMessages::firmwarePushMessage(id, QByteArray(data, int(len))));
}

void GatewayUpdateLink::publishBootRequest()
{
    received.clear();
    client.publish(gatewayBootTopic(gatewayId()), gatewayBootMessage());
}

// A connect attempt starts the exchange: what came before (an earlier session's answers, a
// demo board's old request) answers nothing, also when nothing is published now.
void GatewayUpdateLink::sendBootEntry()
{
    if (target == TargetKind::Gateway)
        publishBootRequest();
    else
        received.clear();
}

QByteArray GatewayUpdateLink::waitReply(int timeoutMs)
{
    WAIT_TRACE() << "get mqtt message start------------\n";
    QElapsedTimer clock;
    clock.start();
    QByteArray reply;
    for (;;) {
        while (reply.isEmpty() && !received.isEmpty())
            reply = replyIn(received.dequeue());
        const qint64 left = timeoutMs - clock.elapsed();
        if (!reply.isEmpty() || interrupted() || left <= 0)
            break;
        EventWait::waitUntil([this] { return !received.isEmpty() || interrupted(); }, left);
    }
    WAIT_TRACE() << "get mqtt message end------------\n";
    return reply;
}

QByteArray GatewayUpdateLink::replyIn(const QByteArray &message)
{
    const GatewayMessages::Packet packet = GatewayMessages::readPacket(message);
    if (packet.isJson && console)
        console(QString::fromUtf8(message));
    if (!packet.found)
        return QByteArray();
    WAIT_TRACE() << "get mqtt pacekt: " << packet.text;
    return packet.frame;
}

bool GatewayUpdateLink::interrupted() const
{
    return stopRequested() || client.state() != MqttClient::Connected;
}

QString GatewayUpdateLink::unavailableReason() const
{
    const QString problem = GatewayMessages::gatewayIdProblem(gatewayId());
    if (!problem.isEmpty())
        return problem;
    if (client.state() == MqttClient::Connected)
        return QString();
    const QString why = client.errorString();
    return why.isEmpty() ? QStringLiteral("the MQTT broker is not connected")
                         : QStringLiteral("the MQTT broker is not connected: ") + why;
}
