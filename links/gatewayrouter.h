#pragma once

#include <QMultiHash>
#include <QObject>
#include <QString>

class GatewayUpdateLink;
class MqttClient;

// One broker connection serves every gateway: each message a gateway publishes on one of its
// answer topics goes to the links of that gateway only, found by the id in the topic.
class GatewayRouter : public QObject
{
    Q_OBJECT
public:
    explicit GatewayRouter(MqttClient &client, QObject *parent = nullptr);

    MqttClient &mqttClient() const { return client; }

    void attach(GatewayUpdateLink *link, const QString &gatewayId);
    void detach(GatewayUpdateLink *link, const QString &gatewayId);

private:
    void route(const QByteArray &message, const QString &topic);

    MqttClient &client;
    QMultiHash<QString, GatewayUpdateLink *> links;
};
