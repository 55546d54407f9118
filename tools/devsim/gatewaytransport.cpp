#include "tools/devsim/gatewaytransport.h"

#include "core/jsontext.h"
#include "mqtt/mqttclient.h"
#include "protocol/gatewaymessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QByteArray message(const QString &method, const QJsonObject &param)
{
    const QJsonObject envelope{
        {QStringLiteral("method"), method},
        {QStringLiteral("sys"),
         QJsonObject{{QStringLiteral("src"), QStringLiteral("ext")}, {QStringLiteral("ack"), 0}}},
        {QStringLiteral("params"), QJsonArray{param}}};
    return QJsonDocument(envelope).toJson(QJsonDocument::Compact);
}

bool asksForBoot(const QByteArray &text)
{
    for (const QJsonValue param :
         QJsonDocument::fromJson(text).object().value(QStringLiteral("params")).toArray()) {
        if (param.toObject().value(QStringLiteral("boot")).toInt() == 1)
            return true;
    }
    return false;
}

} // namespace

GatewayTransport::GatewayTransport(const QString &gatewayId, MqttClient *client, QObject *parent)
    : DeviceTransport(parent), ownGatewayId(gatewayId), mqttClient(client),
      answerTopic(topic(QStringLiteral("sv"), QStringLiteral("firmware/push"))),
      // What message() makes of an answer, around the packet: a hundred gateways answer
      // thousands of times a second, and only the packet changes.
      answerHead(QStringLiteral(R"({"method":"%1","params":[{"packet":")")
                     .arg(JsonText::escaped(answerTopic))
                     .toUtf8()),
      answerTail(R"("}],"sys":{"ack":0,"src":"ext"}})")
{
    connect(&chatterTimer, &QTimer::timeout, this, &GatewayTransport::publishChatter);
}

void GatewayTransport::setChatter(int intervalMs, bool beforeReplies)
{
    chatterBeforeReplies = beforeReplies;
    if (intervalMs > 0)
        chatterTimer.start(intervalMs);
}

// Spelled out here rather than taken from the tool's topic builders: as the tool's
// counterpart, the gateway must catch a topic the tool gets wrong.
QString GatewayTransport::topic(const QString &direction, const QString &name) const
{
    return QStringLiteral("thing/%1/%2/%3").arg(ownGatewayId, direction, name);
}

QStringList GatewayTransport::listenTopics() const
{
    return {topic(QStringLiteral("gw"), QStringLiteral("firmware/push")),
            topic(QStringLiteral("gw"), QStringLiteral("config/set"))};
}

void GatewayTransport::takeMessage(const QByteArray &text, const QString &messageTopic)
{
    if (messageTopic.endsWith(QLatin1String("/gw/config/set"))) {
        if (asksForBoot(text))
            emit bootRequested();
        else
            emit logLine(QStringLiteral("configuration without boot request ignored: ") +
                         QString::fromUtf8(text));
        return;
    }
    const GatewayMessages::Packet packet = GatewayMessages::readPacket(text);
    if (packet.found)
        emit received(packet.frame);
    else
        emit logLine(QStringLiteral("firmware push without packet ignored: ") + QString::fromUtf8(text));
}

void GatewayTransport::write(const QByteArray &bytes)
{
    if (chatterBeforeReplies)
        publishChatter();
    mqttClient->publish(answerTopic, answerHead + bytes.toHex().toUpper() + answerTail);
}

// Unrelated traffic as a real gateway sends it: it must never pass for an answer.
void GatewayTransport::publishChatter()
{
    static const QStringList kinds{QStringLiteral("login"), QStringLiteral("ping"),
                                   QStringLiteral("property/push")};
    const QString kind = kinds.at(chatterCount % kinds.size());
    ++chatterCount;
    mqttClient->publish(topic(QStringLiteral("sv"), kind),
                        message(QStringLiteral("thing/sv/") + kind, {{QStringLiteral("seq"), chatterCount}}));
}
