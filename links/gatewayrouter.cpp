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

void GatewayRouter::route(const QByteArray &message, const QString &topic)
{
    const QString gatewayId = GatewayMessages::gatewayOfAnswerTopic(topic);
    if (gatewayId.isEmpty())
        return;
    // A link may detach itself while it takes the message.
    const QList<GatewayUpdateLink *> receivers = links.values(gatewayId);
    for (GatewayUpdateLink *link : receivers)
        link->take(message);
}
