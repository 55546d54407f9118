#pragma once

#include "mqtt/mqttclient.h"

#include <QHash>
#include <QObject>
#include <QStringList>

class GatewayTransport;

// The one broker connection that every simulated gateway shares, as a site's gateways
// share a broker. It subscribes each gateway's topics and hands every message to the
// gateway its topic names, looked up by the whole topic, so that a message costs the same
// however many gateways there are and an id may hold any character a topic may.
class GatewayConnection : public QObject
{
    Q_OBJECT
public:
    explicit GatewayConnection(const QString &clientId, QObject *parent = nullptr);

    MqttClient *client() { return &mqttClient; }
    // Before start().
    void addGateway(GatewayTransport *gateway);
    // Connects and subscribes; ready() follows once the broker has confirmed every topic.
    void start(const QString &host, quint16 port);

signals:
    void ready();
    // The broker could not be reached, went away or refused a subscription.
    void failed(const QString &reason);

private:
    void subscribeAll();
    void onSubscribed(const QString &topicFilter, bool granted);
    void onMessage(const QByteArray &message, const QString &topic);

    MqttClient mqttClient;
    QStringList topicsOfGateway;
    QHash<QString, GatewayTransport *> routes;
    int unconfirmedTopics = 0;
};
