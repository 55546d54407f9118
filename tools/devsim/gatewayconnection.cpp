#include "gatewayconnection.h"

#include "gatewaytransport.h"

GatewayConnection::GatewayConnection(const QString &clientId, QObject *parent) : QObject(parent)
{
    m_client.setClientId(clientId);
    connect(&m_client, &MqttClient::connected, this, &GatewayConnection::subscribeAll);
    connect(&m_client, &MqttClient::disconnected, this, [this] { emit failed(m_client.errorString()); });
    connect(&m_client, &MqttClient::subscribed, this, &GatewayConnection::onSubscribed);
    connect(&m_client, &MqttClient::messageReceived, this, &GatewayConnection::onMessage);
}

void GatewayConnection::addGateway(GatewayTransport *gateway)
{
    for (const QString &topic : gateway->listenTopics()) {
        m_topics.append(topic);
        m_routes.insert(topic, gateway);
    }
}

void GatewayConnection::start(const QString &host, quint16 port)
{
    m_client.setHostname(host);
    m_client.setPort(port);
    m_client.connectToHost();
}

void GatewayConnection::subscribeAll()
{
    m_unconfirmedTopics = m_topics.size();
    for (const QString &topic : qAsConst(m_topics)) {
        if (!m_client.subscribe(topic)) {
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
    if (--m_unconfirmedTopics == 0)
        emit ready();
}

void GatewayConnection::onMessage(const QByteArray &message, const QString &topic)
{
    if (GatewayTransport *gateway = m_routes.value(topic))
        gateway->takeMessage(message, topic);
}
