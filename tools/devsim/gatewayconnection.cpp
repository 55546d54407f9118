#include "tools/devsim/gatewayconnection.h"

#include "tools/devsim/gatewaytransport.h"

GatewayConnection::GatewayConnection(const QString &clientId, QObject *parent) : QObject(parent)
{
    mqttClient.setClientId(clientId);
    connect(&mqttClient, &MqttClient::connected, this, &GatewayConnection::subscribeAll);
    connect(&mqttClient, &MqttClient::disconnected, this, [this] { emit failed(mqttClient.errorString()); });
    connect(&mqttClient, &MqttClient::subscribed, this, &GatewayConnection::onSubscribed);
    connect(&mqttClient, &MqttClient::messageReceived, this, &GatewayConnection::onMessage);
}

void GatewayConnection::addGateway(GatewayTransport *gateway)
{
    for (const QString &topic : gateway->listenTopics()) {
        topicsOfGateway.append(topic);
        routes.insert(topic, gateway);
    }
}

void GatewayConnection::start(const QString &host, quint16 port)
{
    mqttClient.setHostname(host);
    mqttClient.setPort(port);
    mqttClient.connectToHost();
}

void GatewayConnection::subscribeAll()
{
    unconfirmedTopics = topicsOfGateway.size();
    for (const QString &topic : qAsConst(topicsOfGateway)) {
        if (!mqttClient.subscribe(topic)) {
            emit failed(QStringLiteral("cannot subscribe %1").arg(topic));
            return;
        }
    }
}

void GatewayConnection::onSubscribed(const QString &topicFilter, bool granted)
{
    if (!granted) {
        emit failed(QStringLiteral("the broker refused the subscription of %1").arg(topicFilter));
        return;
    }
    if (--unconfirmedTopics == 0)
        emit ready();
}

void GatewayConnection::onMessage(const QByteArray &message, const QString &topic)
{
    if (GatewayTransport *gateway = routes.value(topic))
        gateway->takeMessage(message, topic);
}
