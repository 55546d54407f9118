#include "links/gatewayrouter.h"

#include "links/gatewayupdatelink.h"
#include "mqtt/mqttclient.h"
#include "protocol/gatewaymessages.h"

GatewayRouter::GatewayRouter(MqttClient &client, QObject *parent) : QObject(parent), client(client)
{
    connect(&client, &MqttClient::messageReceived, this, &GatewayRouter::route);
}

void GatewayRouter::attach(GatewayUpdateLink *link, const QString &gatewayId)
{
    links.insert(gatewayId, link);
}

void GatewayRouter::detach(GatewayUpdateLink *link, const QString &gatewayId)
{
    links.remove(gatewayId, link);
}

// The answer topics end in a fixed tail ("/sv/login" ...), so an id is read off unambiguously even
// when it holds a slash. Every message passes here: the tails are made once.
QString GatewayRouter::gatewayOfAnswerTopic(const QString &topic)
{
    static const QString head = QStringLiteral("thing/");
    static const QStringList tails = [] {
        QStringList list;
        for (const QString &topicTemplate : GatewayMessages::subscribeTopicTemplates())
            list << topicTemplate.mid(head.size() - 1);
        return list;
    }();
    if (!topic.startsWith(head))
        return QString();
    for (const QString &tail : tails) {
        if (topic.size() > head.size() + tail.size() && topic.endsWith(tail))
            return topic.mid(head.size(), topic.size() - head.size() - tail.size());
    }
    return QString();
}

void GatewayRouter::route(const QByteArray &message, const QString &topic)
{
    const QString gatewayId = gatewayOfAnswerTopic(topic);
    if (gatewayId.isEmpty())
        return;
    // A link may detach itself while it takes the message.
    const QList<GatewayUpdateLink *> receivers = links.values(gatewayId);
    for (GatewayUpdateLink *link : receivers)
        link->take(message);
}
